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
    void bindAll(const QVariantList &values, int first = 1);
    // Runs the statement on the first call after a reset and moves to its
    // next row; false when there is none.
    virtual bool step() = 0;
    // Ready to run again with the bindings kept; ends a read left unfinished.
    virtual void reset() = 0;
    virtual int columnCount() const = 0;
    virtual QVariant column(int index) const = 0;
    // The rows the last run of an INSERT, UPDATE or DELETE changed.
    virtual qint64 changes() const = 0;
};

class Driver
{
public:
    virtual ~Driver() = default;

    virtual Dialect dialect() const = 0;
    // How a message names the database: the file's path, or host:port/dbname
    // of a server (never a password).
    virtual QString databaseName() const = 0;

    virtual std::unique_ptr<DriverResult> prepare(const QString &sql) = 0;
    // Runs statements whose rows are not needed.
    virtual void exec(const QString &sql) = 0;

    // A transaction, and levels inside it by name.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual void savepoint(const QString &name) = 0;
    virtual void releaseSavepoint(const QString &name) = 0;
    virtual void rollbackToSavepoint(const QString &name) = 0;
    // False also when the back end ended the transaction itself after a
    // failure, so that no ROLLBACK is sent that would hide it.
    virtual bool inTransaction() const = 0;

    // The column that addresses a table's rows (a 64-bit integer): SQLite's
    // rowid, or on a server the integer primary key or a hidden identity key.
    virtual QString rowKeyColumn(const QString &table) const = 0;
    // The row key of the row the last INSERT through this driver added.
    virtual qint64 lastInsertKey() const = 0;

    virtual QVariant toStorage(const QVariant &value, DataType type, bool typeKnown) const = 0;
    virtual QVariant fromStorage(const QVariant &stored, DataType type, bool typeKnown) const = 0;

    // The schema, as the catalog reads and changes it.  Stored queries are
    // kept with their Jet text, which reads back unchanged.
    virtual QStringList tables() const = 0;
    virtual QStringList views() const = 0;
    virtual QList<ColumnDef> columns(const QString &table) const = 0;
    virtual QStringList indexes(const QString &table) const = 0;
    virtual void createTable(const TableDef &table) = 0;
    virtual void appendColumn(const QString &table, const ColumnDef &column) = 0;
    virtual void createIndex(const QString &table, const IndexDef &index) = 0;
    virtual void dropIndex(const QString &table, const QString &index) = 0;
    virtual void setColumnDefault(const QString &table, const QString &column, const QVariant &value) = 0;
    // Creates the view or replaces it in place, so that views built on it keep working.
    virtual void storeView(const QString &name, const QString &jetSql) = 0;
    virtual void dropView(const QString &name) = 0;
    virtual QString viewText(const QString &name) const = 0;

    // Called now and then while a statement runs (nullptr or empty: never).
    virtual void setWorking(const std::function<void()> *working) = 0;
    // Readies the connection for its next user: no transaction, nothing running.
    virtual void resetForReuse() = 0;
};

} // namespace jet
