#pragma once

// The driver of a ledger on a PostgreSQL server, over libpq.  Values travel
// as text; each result reads its rows one at a time, so that a long list is
// never held whole in memory while it is read.

#include "db/engine/driver.h"
#include "db/engine/error.h"
#include "db/engine/jetsql.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>

typedef struct pg_conn PGconn;

namespace jet::postgres {

struct Session;

// Why a role that does not own the database cannot bring it up to date: the
// message names the role and what the hospital's administrator does.
Error notOwner(const QString &server, const QString &role);

class PgDriver final : public Driver
{
public:
    // Takes over a connection that is open; see openServer().
    PgDriver(PGconn *connection, const QString &server);
    ~PgDriver() override;
    PgDriver(const PgDriver &) = delete;
    PgDriver &operator=(const PgDriver &) = delete;

    Dialect dialect() const override { return Dialect::Postgres; }
    QString databaseName() const override;
    bool isUsable() const override;
    void idle() override {}

    std::unique_ptr<DriverResult> prepare(const QString &sql) override;
    void exec(const QString &sql) override;

    void begin() override;
    void beginRead() override;
    void commit() override;
    void rollback() override;
    void savepoint(const QString &name) override;
    void releaseSavepoint(const QString &name) override;
    void rollbackToSavepoint(const QString &name) override;
    // A transaction that a failure aborted counts: it must still be rolled back.
    bool inTransaction() const override;

    QString rowKeyColumn(const QString &table) const override;
    qint64 insert(const QString &table, const QStringList &columns, const QVariantList &values) override;

    QVariant toStorage(const QVariant &value, DataType type, bool typeKnown) const override;
    QVariant fromStorage(const QVariant &stored, DataType type, bool typeKnown) const override;

    std::optional<SchemaObject> findObject(const QString &name) const override;
    QStringList tables() const override;
    QStringList views() const override;
    QList<ColumnDef> columns(const QString &name) const override;
    QList<IndexDef> indexDefinitions(const QString &table) const override;
    void createTable(const TableDef &table) override;
    void appendColumn(const QString &table, const ColumnDef &column) override;
    void createIndex(const QString &table, const IndexDef &index) override;
    void dropIndex(const QString &table, const QString &index) override;
    void setColumnDefault(const QString &table, const QString &column, const QVariant &value) override;
    // The server gathers its own.
    void setIndexStatistics(const QString &, const QString &, const QString &) override {}
    void storeView(const QString &name, const QString &jetSql) override;
    void dropView(const QString &name) override;
    QString viewText(const QString &name) const override;

    void setWorking(const std::function<void()> *working) override;
    void resetForReuse() override;

    // Loads rows into `columns` of the table with one COPY, which costs a
    // round trip for the whole load rather than one a row.  `nextRow` fills
    // the row's values, in the engine's form, and returns false after the
    // last.  An AutoNumber column given values continues after the highest.
    // Returns the rows loaded.
    qint64 copyRows(const QString &table, const QStringList &columns,
                    const std::function<bool(QVariantList &row)> &nextRow);

    // The statements sent to the server since the connection opened, each a
    // round trip; what a window's open costs is read from it.
    qint64 roundTrips() const;
    // The same over every connection of the process, pooled ones included:
    // what opening a window costs, whatever connections it opens.
    static qint64 roundTripsOfProcess();

    // Jet SQL for this server: an ORDER BY on a Yes/No column is told the
    // column's type by the server's catalogue.
    sql::Statement translate(const QString &jetSql) const;

    // Readies an existing database to receive a new ledger, inside the
    // transaction that fills it: refuses one whose schema public holds a
    // table, view or sequence already, naming the server, and installs the
    // Jet functions that translated SQL calls.
    void prepareNewDatabase();
    // Brings what a database made or last updated by another version of the
    // program keeps of the engine up to date, in one transaction: the Jet
    // functions of this program's edition (replaced in place), the index of
    // every date span a stored query tests, and every table of the ledger
    // announcing its changes (kDataChannel).  A table the engine creates
    // announces its changes from the start.
    void updateServerSide();

    // The SCRAM-SHA-256 verifier of a password for a role, computed here by
    // libpq, so that the password itself never reaches the server, its log
    // or its statistics.
    QString passwordVerifier(const QString &password, const QString &role) const;
    // Whether the connection's role owns the database or is a superuser, as
    // changing the database's tables, functions and grants needs.
    bool ownsDatabase() const;
    // The role the connection logged in as.
    QString loginRole() const;

    // For a connection that only listens: asks the server to pass on every
    // notice on the channel, and reads the payloads of those that arrived,
    // without waiting.  The socket becomes readable when one arrives; -1
    // once the connection is lost.  takeNotices() throws Error with
    // Cause::ConnectionLost when the connection broke.
    void listen(const QString &channel);
    int socket() const;
    QStringList takeNotices(const QString &channel);

    // Reclaims the space of deleted rows of every table of the ledger and
    // renews the planner's statistics of them.
    bool compactInPlace() override;

    // Checks every B-tree index of the ledger against its table's rows with
    // the amcheck extension, one line per damaged index.  Where the database
    // lacks the extension it is created for the check alone and rolled back
    // with it; where the role may not create it, no index is checked.
    QStringList checkIntegrity(QString *skipped) override;
    void gatherStatistics() override;

private:
    static QString functionsScript();
    void requireTable(const QString &table) const;
    // Runs DDL so that it is whole or not at all, also inside a transaction
    // that must go on after a refusal.
    void runAtomically(const QStringList &statements);
    bool canAnnounceChanges() const;
    // Whether the table of the stored queries' Jet text is there yet.
    bool hasQueryTable() const;
    // CREATE INDEX for each span on a table of the ledger that has no index
    // on jet.until yet (sql::DateSpan).  Views and missing tables have none.
    QStringList spanIndexes(const QList<sql::DateSpan> &spans) const;
    // What stores a query as a view of the ledger (storeView).
    QStringList viewStatements(const QString &name, const QString &jetSql, const sql::Statement &statement);

    std::shared_ptr<Session> m_session;
};

} // namespace jet::postgres
