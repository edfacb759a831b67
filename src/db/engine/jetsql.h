#pragma once

// Translation of the Jet SQL dialect the program writes, and of ADO's filter
// and find criteria, into the SQL of a storage back end: the text is parsed
// into a tree (jetsql_tree.h) and written by the dialect's emitter.

#include "db/engine/connection.h"
#include "db/engine/driver.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace jet::sql {

enum class TokenType {
    Identifier,       // bare name, keyword or function name (Japanese names, 32条診断書)
    QuotedIdentifier, // `name` or [name]; text holds the name without the quotes
    String,           // '...' or "..."; text holds the value, quotes undone
    Number,
    DateLiteral,      // #...#; text holds what stood between the # signs
    Parameter,        // ?
    Operator,         // = <> < > <= >= + - * / & \ ^
    Punct,            // ( ) , . ;
};

struct Token
{
    TokenType type;
    QString text;
    int position = 0; // offset in the source text
};

// Throws jet::Error(err::SyntaxError) for an unterminated string, name or date.
std::vector<Token> tokenize(const QString &jetSql);

struct TableRef
{
    QString table; // the table or query named in FROM
    QString alias; // the name it is known by in the statement (the table itself when not aliased)
};

// Two date columns of one table that a WHERE tests as a span holding a day:
// the first on or before it, the second on or after it or empty (an
// admission and its discharge).
struct DateSpan
{
    QString table;
    QString begins;
    QString ends;
    friend bool operator==(const DateSpan &, const DateSpan &) = default;
};

struct SelectItem
{
    QString sql;   // the item's expression in the dialect, without its alias
    QString alias; // the name given with or without AS; empty when none
    bool star = false;
    QString starQualifier; // "患者情報" for 患者情報.*; empty for a bare *
    // Set when the item is a plain column reference, qualified or not.
    QString columnQualifier;
    QString columnName;
    int parameters = 0; // ? markers inside the item
};

struct OrderTerm
{
    QString sql; // the term's expression in the dialect
    bool descending = false;
};

struct SelectShape
{
    bool distinct = false;
    QList<SelectItem> items;
    QString from;             // the FROM clause in the dialect, without the keyword
    QList<TableRef> tables;   // every named source of FROM, in order of appearance
    bool simpleFrom = true;   // no subquery among the sources
    QString where;            // each clause in the dialect, without its keyword(s); empty when absent
    QString groupBy;
    QString having;
    QString orderBy;
    QList<OrderTerm> order;   // the terms of orderBy, one by one
    qint64 top = 0;           // SELECT TOP n: the rows wanted at most; 0 for all
    bool aggregate = false;   // an aggregate function in the items, or GROUP BY / HAVING
    int fromParameters = 0;   // ? markers in FROM only
    int whereParameters = 0;  // in WHERE
    int restParameters = 0;   // in GROUP BY, HAVING and ORDER BY
    // The spans the WHERE tests that the dialect wrote as one expression
    // of both columns (a server's planner then sees how few rows hold a day).
    QList<DateSpan> spans;
    // SELECT ... INTO [connect].[name]: the bracketed connect text and the target name.
    QString intoConnect;
    QString intoName;

    // GROUP BY, HAVING, ORDER BY and LIMIT as they follow WHERE: empty, or
    // the clauses each with a space before it.
    QString tail() const;
};

struct Statement
{
    enum class Kind { Select, SelectInto, AlterColumnDefault, DropIndex, Other };
    Kind kind = Kind::Other;
    QString text;        // the whole statement in the dialect (Select, Other)
    SelectShape select;  // Select, SelectInto; Other: an INSERT's SELECT
    qsizetype selectAt = -1; // Other: where an INSERT's SELECT begins in text; it runs to the end
    QString table;       // AlterColumnDefault, DropIndex; Other: an INSERT that names no columns
    QString column;      // AlterColumnDefault
    QString defaultSql;  // AlterColumnDefault: the new default as a literal of the dialect
    QString index;       // DropIndex
    int parameters = 0;  // ? markers in the whole statement
    // Other: the table an INSERT or UPDATE writes, and each ? marker that is
    // a column's whole new value (its place, from 1, and the column).
    QString target;
    std::vector<std::pair<int, QString>> assigned;
    // Other: the rows an INSERT, UPDATE or DELETE writes, for the write guard.
    std::optional<WriteIntent> write;
};

// Throws jet::Error: err::SyntaxError for text that is not Jet SQL the engine
// understands, err::ConversionFailed for an empty or unreadable #date# literal.
//
// The SQL keeps Jet's meaning where the back end's differs: a comparison used
// as a value gives -1/0, "/" divides in floating point (by zero: Null), "&"
// prints numbers as Jet does and takes a Null operand as empty text (Null &
// Null stays Null), Like takes Jet's wildcards without regard to case.  Text
// comparisons with = < > and ORDER BY stay the back end's own, so that indexes
// keep serving them.
//
// On a server the engine's functions are called in schema jet (jet.mid), a
// date literal is a timestamp, + and - go through jet.add and jet.sub unless
// both operands are numbers, and the ? markers become $1, $2 ... numbered
// through the whole statement in the order they stand in the Jet text, also
// in the parts of SelectShape.  What the server cannot be told (a subquery in
// FROM without a name, a name longer than 63 bytes, a NUL in a text) is an
// err::SyntaxError naming it.
//
// Yes/No is boolean on a server, which sorts No first; Jet sorts Yes (-1)
// first.  With yesNo, which tells the Yes/No columns of a table or stored
// query, an ORDER BY term that is such a column is sorted the other way
// round on a server, Nulls first as in Jet,
// and a value an INSERT or UPDATE gives such a column becomes a truth.
using YesNoLookup = std::function<bool(const QString &relation, const QString &column)>;
Statement translate(const QString &jetSql, Dialect dialect = Dialect::Sqlite, const YesNoLookup &yesNo = {});

// Quotes a name as an identifier of the dialect.
QString quoteIdentifier(const QString &name, Dialect dialect = Dialect::Sqlite);
// Writes a text as a string literal of the dialect (on a server with
// standard_conforming_strings, which the server has on by default).
QString quoteString(const QString &text, Dialect dialect = Dialect::Sqlite);
// A condition true when the expression holds the value of the next parameter
// marker, Null included: Null equals Null here, unlike with "=".
QString sameValueAsParameter(const QString &expression, Dialect dialect = Dialect::Sqlite);
// What a SELECT ends with so that the rows it reads stay as read until the
// transaction ends: a server locks them; a file's writing transaction holds
// the whole file already.
QString lockingRead(Dialect dialect = Dialect::Sqlite);

// How a filter or find criterion sees the recordset's fields.
struct FieldInfo
{
    enum class Type { Number, Text, Date, Boolean, Unknown };
    QString sql; // how the field is written in the condition, in the dialect
    Type type = Type::Unknown;
};
using FieldLookup = std::function<std::optional<FieldInfo>(const QString &name)>;

// ADO's filter grammar: comparisons "field op value" joined by AND / OR, with
// parentheses.  Throws jet::Error(err::InvalidArgument) for anything else,
// including a field the lookup does not know.  A blank filter gives an empty
// condition.  The lookup receives a qualified field as written: "table.column".
QString translateFilter(const QString &filter, const FieldLookup &lookup, Dialect dialect = Dialect::Sqlite);
// Find's criterion: one comparison.
QString translateCriterion(const QString &criterion, const FieldLookup &lookup, Dialect dialect = Dialect::Sqlite);

} // namespace jet::sql
