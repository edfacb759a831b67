#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace jet {

class Connection;
class Driver;
class PhysicalConnection;

// A column that a recordset's write changed, with the value it read before.
struct ColumnChange
{
    QString column;
    QVariant before;
    QVariant after;
};

// A row that a recordset's update, insertion or deletion changed: its table,
// the row as stored (every column, by name: after an update or insertion as
// written, a deleted row as it was) and the columns changed.  An inserted
// row's columns are the ones given a value, none of them with a value
// before; a deleted row's are all its columns, none with a value after.
struct RowChange
{
    enum class Kind { Update, Insert, Delete };

    Kind kind = Kind::Update;
    QString table;
    QStringList primaryKey; // the columns of the table's primary key, if it has one
    QVariantMap row;
    QList<ColumnChange> columns;
};

// Told of every row a recordset's update, insertion or deletion writes,
// inside the write's transaction and after it: whatever it writes through
// the connection is kept or undone with the row, and what it throws undoes
// the write.
using RowChangeObserver = std::function<void(Connection &connection, const RowChange &change)>;

// A write about to be made to a table's rows, as a write guard sees it.
struct WriteIntent
{
    enum class Kind { Insert, Update, Delete };
    Kind kind = Kind::Insert;
    QString table;
};

// Asked before every row write through the connection (its statements and
// its recordsets' updates, additions and deletions), before anything of it
// is written: the reason the write is not allowed, or an empty text.  A
// refusal raises Error(err::NoPermission) with that reason and
// Cause::Permission; a recordset keeps its pending edit.
using WriteGuard = std::function<QString(Connection &connection, const WriteIntent &intent)>;

// A connection in ADO's sense: a provider, a connection string naming an
// encrypted database file and its password.  Opening never creates a file.
// Logical connections are cheap: the keyed database handles behind them are
// pooled per file and password, so that every window may open its own.
class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void setProvider(const QString &provider);
    QString provider() const { return m_provider; }
    void setConnectionString(const QString &connectionString);
    QString connectionString() const { return m_connectionString; }

    // Throws Error(err::GeneralFailure) for a missing file, a file that is not a
    // database, a wrong password or a connection string that cannot be read.
    void open();
    void open(const QString &connectionString);
    void close();
    bool isOpen() const { return m_physical != nullptr; }

    // The file the connection string names, as parsed from "Data Source".
    QString dataSource() const { return m_dataSource; }

    // Runs Jet SQL whose result is not read; returns the rows it changed.
    int execute(const QString &jetSql, const QVariantList &parameters = {});

    // Called now and then while a statement runs, until the connection
    // closes, so that the caller can show that long work goes on.
    void setWorking(std::function<void()> working);

    void beginTrans();
    void commitTrans();
    void rollbackTrans();

    // Kept across close and open; none by default.
    void setRowChangeObserver(RowChangeObserver observer);
    const RowChangeObserver &rowChangeObserver() const { return m_rowChangeObserver; }

    // Kept across close and open; none by default, which allows every write.
    void setWriteGuard(WriteGuard guard);
    // Asks the guard; throws its refusal.  For the engine's own classes.
    void checkWrite(const WriteIntent &intent);

    // A server's connection that was lost is replaced by a new one from the
    // pool, outside a transaction, so that the work tried again after the
    // server came back is done; statements and transactions begin it
    // themselves.  Throws the new connection's failure while the server is
    // still gone.  A file's handle is never replaced: the rows read from it
    // may not be the rows of a file put in its place.
    void renewIfLost();

    // For the engine's own classes.  Throws Error(err::ObjectClosed) when closed.
    Driver &driver() const;
    PhysicalConnection *physical() const { return m_physical.get(); }
    std::shared_ptr<PhysicalConnection> sharedPhysical() const { return m_physical; }
    // Expires when the connection object is destroyed, so that a recordset
    // outliving its connection reports it instead of reading freed memory.
    std::weak_ptr<const void> lifetime() const { return m_lifetime; }
    // Counts the opens, so that a recordset can tell a reopened connection from its own.
    quint64 openCount() const { return m_openCount; }

    // For the engine's recordsets, while a SharedCounts lives: the value a
    // statement that reads one value gave with these parameters, if it was
    // read since the connection last wrote.
    std::optional<QVariant> sharedCount(const QString &sql, const QVariantList &parameters) const;
    void keepSharedCount(const QString &sql, const QVariantList &parameters, const QVariant &value) const;

private:
    QString m_provider;
    QString m_connectionString;
    QString m_dataSource;
    std::shared_ptr<PhysicalConnection> m_physical;
    std::shared_ptr<const void> m_lifetime = std::make_shared<int>(0);
    int m_transactionDepth = 0;
    quint64 m_openCount = 0;
    std::function<void()> m_working;
    RowChangeObserver m_rowChangeObserver;
    WriteGuard m_writeGuard;

    friend class SharedCounts;
    struct SharedCount
    {
        QString sql;
        QVariantList parameters;
        QVariant value;
    };
    void forgetSharedCounts() const { m_sharedCounts.clear(); }
    mutable int m_countsShared = 0;
    mutable std::vector<SharedCount> m_sharedCounts;
};

// While it lives, a count that the connection's recordsets read (a statement
// whose result is one value) is read once: the same statement with the same
// parameters asked again is answered with what the first read gave, as when
// a list counts its rows and a summary beside it counts the same rows.  The
// reads inside it are taken as one moment's; a write through the connection
// or a transaction begun or ended forgets what was read.  For the reads of
// one action, such as a window's open or its refresh.
class SharedCounts
{
public:
    explicit SharedCounts(const Connection &connection) : m_connection(connection) { ++m_connection.m_countsShared; }
    ~SharedCounts()
    {
        if (--m_connection.m_countsShared == 0)
            m_connection.forgetSharedCounts();
    }
    SharedCounts(const SharedCounts &) = delete;
    SharedCounts &operator=(const SharedCounts &) = delete;

private:
    const Connection &m_connection;
};

// Holds a connection's row-change observer back while it lives, for work
// that records itself in a way of its own.
class UnobservedRowChanges
{
public:
    explicit UnobservedRowChanges(Connection &connection)
        : m_connection(connection), m_observer(connection.rowChangeObserver())
    {
        m_connection.setRowChangeObserver({});
    }
    ~UnobservedRowChanges() { m_connection.setRowChangeObserver(std::move(m_observer)); }
    UnobservedRowChanges(const UnobservedRowChanges &) = delete;
    UnobservedRowChanges &operator=(const UnobservedRowChanges &) = delete;

private:
    Connection &m_connection;
    RowChangeObserver m_observer;
};

// Parsed parts of a connection string.
struct ConnectionSettings
{
    QString provider;     // "Provider" (or the connection's own provider setting)
    QString dataProvider; // "Data Provider", under the data-shaping provider
    QString dataSource;
    QString password;     // "Jet OLEDB:Database Password"
};

// Reads "key=value;" pairs; a value may stand between single or double quotes,
// blanks around it are skipped.  Throws Error(err::GeneralFailure) for text
// after a quoted value or an unterminated quote.
ConnectionSettings parseConnectionString(const QString &connectionString);

// Asked for the password when a database server wants one that none of its
// client's own means (~/.pgpass, PGPASSFILE, a service file) gives; `server`
// names the database as messages do (host:port/dbname).  Nothing, or no
// prompt installed, opens nothing.  A password that the server accepts is
// kept in this process's memory for later connections to the same address,
// and nowhere else.
using PasswordPrompt = std::function<std::optional<QString>(const QString &server)>;
void setPasswordPrompt(PasswordPrompt prompt);

// Drops the pooled handles of a file, so that it can be replaced on disk.
void releasePooledHandles(const QString &path);

// Closes every handle of the program on the file, so that SQLite folds its
// journal into it and removes the journal.  Throws Error(err::GeneralFailure)
// when a connection of the program is still open on it.
void closeDatabaseFile(const QString &path);

// Makes a new, empty database at a data source, for a ledger to be built
// into with one transaction that begins with prepareNewDatabase().  A file is
// created, encrypted and keyed by the password, with the access
// restrictNewFile() gives before anything is written to it; throws
// Error(err::GeneralFailure) when it exists already or cannot be made.  A
// server's database is its administrator's to make: nothing is made here,
// and opening it says when it is missing.
void createDatabase(const QString &dataSource, const QString &password);

// A data source as a message names it: a file by its path, a server as
// describeServer() names it, never with a password.
QString describeDataSource(const QString &dataSource);

// Readies the database of a new ledger, inside the transaction that fills it.
// A new file needs nothing.  A server's database is refused with a message
// naming the server when its schema public holds anything already, and
// receives the Jet functions that translated SQL calls.
void prepareNewDatabase(Connection &connection);

// Brings a server's database made or last updated by another version of the
// program up to date with this one, in one transaction: the Jet functions
// that translated SQL calls, and every table announcing its committed changes
// to the change watchers on the other workstations (see ChangeWatcher).  A
// file needs nothing: its functions are the program's own and its watchers
// ask SQLite.
void updateServerSide(Connection &connection);

// Undoes createDatabase() after building the ledger failed: a new file is
// removed; on a server the rolled-back transaction left nothing to remove.
void discardNewDatabase(const QString &dataSource);

// What SELECT ... INTO [connect].[name] does; the spreadsheet export installs one.
// Returns the number of rows written.
class Recordset;
using SelectIntoHandler = std::function<int(Connection &connection, const QString &connect, const QString &name,
                                            Recordset &rows)>;
void setSelectIntoHandler(SelectIntoHandler handler);

} // namespace jet
