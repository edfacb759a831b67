#pragma once

// The state one server connection shares between its driver and its
// results, and the helpers that speak libpq for both.  Internal to the driver.

#include "db/engine/driver.h"
#include "db/engine/error.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <libpq-fe.h>
#include <memory>

namespace jet::postgres {

class PgResult;

struct ResultDeleter
{
    void operator()(PGresult *result) const { PQclear(result); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

// Why a connection failed, or a statement on it, and how a message says so.
[[noreturn]] void raiseResult(PGconn *connection, const PGresult *result, const QString &server);
// A failure with no result to read, as libpq reports it on the connection.
[[noreturn]] void raiseConnection(PGconn *connection, const QString &server);
Cause causeOfState(const QByteArray &sqlState);

// A value of a result's column, as the driver hands it out: integers as
// qlonglong, booleans as bool, timestamps as QDateTime, text as QString.
QVariant readValue(const PGresult *result, int row, int column);

// A parameter as libpq takes it: its text and, where the server cannot tell
// the type from the statement alone, its type.
struct Parameter
{
    QByteArray text;
    bool null = true;
    Oid type = 0;
};
Parameter parameter(const QVariant &value);
// The same as an SQL literal, for DDL.
QString literal(const QVariant &value);
// A name quoted for the server.  Unlike the translator's quoting it refuses
// no name for its length: a name the engine makes itself (an index's, as
// table#index) may be longer than the server keeps, and the server cuts it.
QString quoted(const QString &name);

// The channel on which a connection that changed the schema tells every
// other connection to the database, of this or another workstation, when
// the change is committed.
inline constexpr char kSchemaChannel[] = "jet_schema_changed";
// The channel on which every table of a ledger announces a committed change
// of its rows, with the table's name (jet.announce_change()).
inline constexpr char kDataChannel[] = "jet_data_changed";

struct Session
{
    PGconn *connection = nullptr;
    QString server;
    // The result whose rows are still coming in; the connection carries
    // nothing else until they are read.
    PgResult *streaming = nullptr;
    const std::function<void()> *working = nullptr;
    QHash<QByteArray, QByteArray> prepared; // statement text and parameter types → name
    int statementNumber = 0;
    // The schema as this connection last read it, kept until it changes the
    // schema itself: an INSERT or UPDATE asks for its table's columns.
    QHash<QString, SchemaObject> objects; // by the name asked for
    QHash<QString, QList<ColumnDef>> columns;
    QHash<QString, QString> rowKeys;
    // Statements sent to the server, each a round trip; count each with countRoundTrip().
    qint64 roundTrips = 0;
    // How many schema changes of the program's connections to this database
    // the schema as read and the prepared statements have caught up with, and
    // whether the transaction under way has made one that its commit announces.
    quint64 schemaChangesSeen = 0;
    bool schemaChangedInTransaction = false;
    // Another connection's change heard of, not yet caught up with.
    bool schemaChangeHeard = false;
    // The engine's clock as the server's jet.now() last heard of it.
    quint64 clockGeneration = 0;
    bool clockSetInTransaction = false;

    void countRoundTrip();
    // Those of every connection of the process, pooled ones included.
    static qint64 roundTripsOfProcess();

    // Throws Error(err::ObjectClosed) once the driver is gone.
    PGconn *open() const;
    // Frees the connection for another statement: rows still coming to a
    // result are kept by it, to be read later.
    void claim(const PgResult *by = nullptr);
    // The same, throwing away the rows still coming.
    void discardStreaming();
    // Waits for the next result, calling `working` now and then.
    ResultPtr nextResult();
    // Runs statements and reads every result; throws at the first failure
    // once the connection is ready again.  Returns the last statement's result.
    ResultPtr run(const QString &sql);
    // Readies a new connection: names found in public and then
    // among the Jet functions, dates written as the driver reads them.
    void setUp();
    // Drops the prepared statements, whose plans may rest on a table as it
    // was, and the schema as read.
    void forgetPrepared();
    // Drops the schema as read, so that it is read again when next needed.
    void forgetSchema();
    // Before a statement that may change the schema: drops what rests on the
    // schema as it was, here and, once the change is committed, in every other
    // connection of the program to the database, so that a pooled connection
    // opened before an upgrade never keeps the columns of before.  Returns
    // the statement as it must be sent: outside a transaction it carries the
    // announcement to the other workstations, so that it is committed with
    // the change or not at all; inside one the commit announces it.
    QByteArray changeSchema(const QByteArray &statement);
    // After a commit or a rollback of the whole transaction.
    void transactionEnded(bool committed);
    // Drops the schema as read and the prepared statements once another
    // connection committed a change of the schema.
    void catchUpWithSchema();
    // Whether another connection announced a change since this one last
    // looked; reads what has arrived without waiting.
    bool heardOfSchemaChange();
    // Tells the server the engine's clock when it changed since it last did,
    // so that Now() reads the same moment on the server as in the program.
    void syncClock();
    // After a rollback: a clock set inside the transaction went with it, and
    // the schema as read there may have.
    void rolledBack();
    // Runs one statement with parameters and returns its rows.
    QList<QVariantList> query(const QString &sql, const QVariantList &parameters = {});
};

} // namespace jet::postgres
