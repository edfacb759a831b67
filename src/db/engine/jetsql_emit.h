#pragma once

// Between the Jet SQL parser and the dialects' emitters; not for the engine's users.

#include "db/engine/driver.h"
#include "db/engine/jetsql.h"
#include "db/engine/jetsql_tree.h"

namespace jet::sql {

// How a Jet function is called.
enum class FunctionKind { Plain, Aggregate, IIf, Nz };

struct FunctionDef
{
    const char *name; // the engine's function without its dialect's prefix (mid: jet_mid, jet.mid)
    int minArgs;
    int maxArgs;
    FunctionKind kind = FunctionKind::Plain;
    bool textFunction = false; // also known with a trailing $ (Mid$)
    bool jetFunction = true;   // false: the back end's own (Count, Abs)
    bool number = false;       // always gives a number (never a date or a text)
};

// Refuses text the engine cannot read, or a tree the dialect cannot express.
[[noreturn]] void syntaxError(const QString &detail);

// The function Jet knows by this name (upper case, without $), or nullptr.
const FunctionDef *findFunction(const QString &name);

// A number as both dialects read it: negative values in parentheses, so that
// "a - -1" can never become "a --1", which starts a comment.
QString numberLiteral(double value);

Statement emitStatement(const tree::Statement &statement, Dialect dialect, const YesNoLookup &yesNo = {});
// A filter's or criterion's tree as a condition.
QString emitCondition(const tree::Expr &condition, Dialect dialect);

} // namespace jet::sql
