#pragma once

// What the engine needs of a storage back end, in the shape of QSqlDriver and
// QSqlResult: a driver is one open connection to one database, a result is one
// prepared statement on it.  The engine above (connections, recordsets, the
// catalog) speaks only to these classes; SQLite's and libpq's interfaces stay
// inside their drivers.  Every failure is thrown as jet::Error with the
// engine's number and the cause the back end reported.

#include "db/engine/catalog.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

namespace jet {

// The SQL a driver understands; the translator writes one text per dialect.
enum class Dialect { Sqlite, Postgres };

// One prepared statement.  Parameters are 1-based, columns 0-based.  Values
// go in and come out in the driver's stored form; Driver::toStorage() and
// Driver::fromStorage() convert between that and the engine's values.
class DriverResult
{
public:
    virtual ~DriverResult() = default;

    virtual void bind(int index, const QVariant &value) = 0;
    // The highest parameter marker the statement names.
    virtual int parameterCount() const = 0;
    void bindAll(const QVariantList &values, int first = 1)
    {
        for (int i = 0; i < values.size(); ++i)
            bind(first + i, values.at(i));
    }
    // Runs the statement on the first call after a reset and moves to its
    // next row; false when there is none.
    virtual bool step() = 0;
    // Ready to run again; ends a read left unfinished.  Every parameter is
    // unbound (Null) until bound anew, so that a statement kept for reuse
    // never runs with a value of its previous run.
    virtual void reset() = 0;
    virtual int columnCount() const = 0;
    virtual QVariant column(int index) const = 0;
    // The rows the last run of an INSERT, UPDATE or DELETE changed.
    virtual qint64 changes() const = 0;
};

// A table or stored query, with its name as stored.
struct SchemaObject
{
    enum class Kind { Table, View };
    Kind kind = Kind::Table;
    QString name;
};

class Driver
{
public:
    virtual ~Driver() = default;

    virtual Dialect dialect() const = 0;
    // How a message names the database: the file's path, or host:port/dbname
    // of a server (never a password).
    virtual QString databaseName() const = 0;
    // Whether a pooled connection may serve again: false once the database it
    // was opened on is gone from under it (a file replaced on disk, a server
    // connection lost).
    virtual bool isUsable() const = 0;
    // Called when no connection of the program uses the database any more,
    // e.g. so that a file folds its journal in and is complete on its own.
    virtual void idle() = 0;

    virtual std::unique_ptr<DriverResult> prepare(const QString &sql) = 0;
    // Runs statements whose rows are not needed.
    virtual void exec(const QString &sql) = 0;

    // A transaction, and levels inside it by name.
    // A transaction that writes; a back end that locks takes the write lock now.
    virtual void begin() = 0;
    // A transaction that only reads, all of it at one moment.
    virtual void beginRead() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual void savepoint(const QString &name) = 0;
    virtual void releaseSavepoint(const QString &name) = 0;
    // Undoes the level's work and ends the level.
    virtual void rollbackToSavepoint(const QString &name) = 0;
    // False also when the back end ended the transaction itself after a
    // failure, so that no ROLLBACK is sent that would hide it.
    virtual bool inTransaction() const = 0;

    // The column that addresses a table's rows (a 64-bit integer): SQLite's
    // rowid, or on a server the integer primary key or a hidden identity key.
    virtual QString rowKeyColumn(const QString &table) const = 0;
    // Adds a row (values in stored form; no columns: every column its default)
    // and returns its row key.  A server hands the key back with the INSERT.
    virtual qint64 insert(const QString &table, const QStringList &columns, const QVariantList &values) = 0;

    virtual QVariant toStorage(const QVariant &value, DataType type, bool typeKnown) const = 0;
    virtual QVariant fromStorage(const QVariant &stored, DataType type, bool typeKnown) const = 0;

    // The schema, as the catalog reads and changes it.  Stored queries are
    // kept with their Jet text, which reads back unchanged.
    // Finds a table or stored query by its name without regard to case.
    virtual std::optional<SchemaObject> findObject(const QString &name) const = 0;
    virtual QStringList tables() const = 0;
    virtual QStringList views() const = 0;
    // The columns of a table or stored query; a query's column whose type the
    // back end cannot tell (a computed one) has definedSize -1.  Throws
    // Error(err::TableMissing) when there is neither.
    virtual QList<ColumnDef> columns(const QString &name) const = 0;
    // A table's indexes, the primary key first and named "PrimaryKey"; a
    // server's hidden row key is none of them.
    virtual QList<IndexDef> indexDefinitions(const QString &table) const = 0;
    QStringList indexes(const QString &table) const
    {
        QStringList names;
        for (const IndexDef &index : indexDefinitions(table))
            names.append(index.name);
        return names;
    }
    virtual void createTable(const TableDef &table) = 0;
    virtual void appendColumn(const QString &table, const ColumnDef &column) = 0;
    virtual void createIndex(const QString &table, const IndexDef &index) = 0;
    // Throws Error(err::ItemNotFound) when the table has no such index.
    virtual void dropIndex(const QString &table, const QString &index) = 0;
    // A null value removes the default.
    virtual void setColumnDefault(const QString &table, const QString &column, const QVariant &value) = 0;
    // Fixed figures for the planner, in SQLite's sqlite_stat1 form (see
    // Catalog::setIndexStatistics); a back end that gathers its own ignores them.
    virtual void setIndexStatistics(const QString &table, const QString &index, const QString &stat) = 0;
    // Creates the view or replaces it in place, so that views built on it keep working.
    virtual void storeView(const QString &name, const QString &jetSql) = 0;
    virtual void dropView(const QString &name) = 0;
    virtual QString viewText(const QString &name) const = 0;

    // The back end's own structural check of the open database: a file's
    // b-trees, indexes and free pages (at most 100 problems named), a
    // server's indexes against their tables.  {"ok"} when it is sound; what
    // the check could not look at, and why, goes to `skipped`.
    virtual QStringList checkIntegrity(QString *skipped) = 0;
    // Compacts the database where it stands, outside a transaction.  False,
    // and nothing done, where the back end compacts by copying instead: a
    // file is written anew beside itself (ExclusiveDatabase::compactTo).
    virtual bool compactInPlace() = 0;
    // Renews the planner's statistics of every table, also inside the
    // transaction that loaded them, so that a database filled in bulk is not
    // planned as if its tables were empty; a back end with fixed figures keeps them.
    virtual void gatherStatistics() = 0;

    // Called now and then while a statement runs (nullptr or empty: never).
    virtual void setWorking(const std::function<void()> *working) = 0;
    // Readies the connection for its next user: no transaction, nothing running.
    virtual void resetForReuse() = 0;
};

} // namespace jet
