#pragma once

// Small helpers shared by the engine's classes over SQLite's C interface.

#include "db/engine/catalog.h"
#include "db/engine/error.h"

#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace jet::detail {

// The cause of a failure from SQLite's result code, primary or extended.
Cause causeOf(int code);

// Turns SQLite's state after a failed call into the engine's error.
[[noreturn]] void raise(sqlite3 *db, int code, const QString &context = {});
void check(sqlite3 *db, int code, const QString &context = {});

// A prepared statement that finalizes itself.
class Statement
{
public:
    Statement() = default;
    Statement(sqlite3 *db, const QString &sql);
    ~Statement();
    Statement(Statement &&other) noexcept;
    Statement &operator=(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    sqlite3_stmt *get() const { return m_stmt; }
    explicit operator bool() const { return m_stmt != nullptr; }
    // Steps once; true while a row is available.  Throws on failure.
    bool step();
    void reset();
    void bind(int index, const QVariant &value);
    void bindAll(const QVariantList &values, int first = 1);
    QVariant column(int index) const; // raw SQLite value
    int columnCount() const;

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
};

// Runs statements whose rows are not needed.
void exec(sqlite3 *db, const QString &sql);

// How a declared column type of ours reads back.
struct DeclaredType
{
    DataType type = DataType::Text;
    int size = 0;
    bool known = false;
};
DeclaredType parseDeclaredType(const QString &declared);
QString declaredType(const ColumnDef &column);

// Converts a raw SQLite value to the value the engine hands out for a column
// of the given type (dates as QDateTime, Yes/No and Long as int, …).
QVariant fromStorage(const QVariant &raw, DataType type, bool typeKnown);
// Converts a value handed in for a column of the given type to what is stored.
// Throws Error(err::ConversionFailed... ) for a value that does not fit the type.
QVariant toStorage(const QVariant &value, DataType type, bool typeKnown);

QString sqlLiteral(const QVariant &value);

// The table where the Jet text of every stored query is kept.
inline const char *queryTextTable = "jet_queries";

} // namespace jet::detail
