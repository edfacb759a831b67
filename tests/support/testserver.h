#pragma once

// The PostgreSQL server of a test run, over libpq directly.  scripts/test and
// the ctest fixture start one (scripts/test-pg); its libpq keyword string is
// NORVA_TEST_PG and its password is in the file PGPASSFILE names.

#include <libpq-fe.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QVariant>
#include <atomic>
#include <stdexcept>
#include <string>

namespace testing_support {

class ServerError : public std::runtime_error
{
public:
    ServerError(const std::string &message, const QByteArray &sqlState = {})
        : std::runtime_error(message), m_sqlState(sqlState)
    {
    }
    QByteArray sqlState() const { return m_sqlState; }

private:
    QByteArray m_sqlState;
};

// The server's keyword string.  Without NORVA_TEST_PG it comes from the state
// file of the ctest fixture (scripts/test-pg start BUILD/test-server.env starts
// that server by hand); a missing server is an error, never a silent skip.
inline QByteArray testServerConninfo()
{
    if (!qEnvironmentVariableIsEmpty("NORVA_TEST_PG"))
        return qgetenv("NORVA_TEST_PG");
#ifdef NORVA_TEST_SERVER_STATE
    const QString statePath = QStringLiteral(NORVA_TEST_SERVER_STATE);
#else
    const QString statePath;
#endif
    QFile state(statePath);
    if (statePath.isEmpty() || !state.open(QIODevice::ReadOnly))
        throw ServerError("no test server: NORVA_TEST_PG is not set and no state file " + statePath.toStdString()
                          + " was written (see scripts/test-pg)");
    // Lines of the form export NAME='value'; the server's own values carry no quote.
    while (!state.atEnd()) {
        QByteArray line = state.readLine().trimmed();
        if (!line.startsWith("export "))
            continue;
        line = line.mid(7);
        const qsizetype equals = line.indexOf('=');
        qputenv(line.left(equals).constData(), line.mid(equals + 1).replace('\'', QByteArray()));
    }
    if (qEnvironmentVariableIsEmpty("NORVA_TEST_PG"))
        throw ServerError("no test server: " + statePath.toStdString() + " names none");
    return qgetenv("NORVA_TEST_PG");
}

// conninfo with dbname replaced; conninfo may be a keyword string or a URI.
inline QByteArray withDatabase(const QByteArray &conninfo, const QByteArray &dbname)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.constData(), &error);
    if (!options) {
        const std::string message = error ? error : "out of memory";
        PQfreemem(error);
        throw ServerError("unreadable NORVA_TEST_PG: " + message);
    }
    QByteArray result;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
        const QByteArray value = qstrcmp(o->keyword, "dbname") == 0 ? dbname : QByteArray(o->val);
        if (value.isEmpty())
            continue;
        QByteArray quoted = value;
        quoted.replace('\\', "\\\\").replace('\'', "\\'");
        result += QByteArray(o->keyword) + "='" + quoted + "' ";
    }
    PQconninfoFree(options);
    return result;
}

// A fresh database on the test server, made for one test or suite and
// dropped when this object goes, also after a failed assertion; with one
// connection open on it.
class ServerDatabase
{
public:
    // createOptions: further clauses of CREATE DATABASE, such as a locale;
    // copyOf: the database this one starts as a copy of, which nobody may be
    // connected to.
    explicit ServerDatabase(const QByteArray &serverConninfo, const QByteArray &createOptions = {},
                            const QByteArray &copyOf = "template0")
        : m_server(serverConninfo)
    {
        static std::atomic<int> counter{0};
        m_name = QByteArray("norva_test_") + QByteArray::number(QCoreApplication::applicationPid()) + '_'
                 + QByteArray::number(++counter) + '_' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        adminExec("CREATE DATABASE \"" + m_name + "\" ENCODING 'UTF8' TEMPLATE \"" + copyOf + "\" " + createOptions);
        m_connection = PQconnectdb(conninfo().constData());
        if (PQstatus(m_connection) != CONNECTION_OK) {
            const std::string message = PQerrorMessage(m_connection);
            drop();
            throw ServerError("cannot connect to the test database: " + message);
        }
    }
    ~ServerDatabase() { drop(); }
    ServerDatabase(const ServerDatabase &) = delete;
    ServerDatabase &operator=(const ServerDatabase &) = delete;

    QByteArray name() const { return m_name; }
    // Closes this object's own connection, so that the database may be copied.
    void disconnect()
    {
        PQfinish(m_connection);
        m_connection = nullptr;
    }
    // Renames the database and leaves it on the server when this object goes,
    // for the test programs after this one. False where another program kept
    // one of that name first: this one is then dropped as usual.
    bool keepAs(const QByteArray &name)
    {
        disconnect();
        try {
            adminExec("ALTER DATABASE \"" + m_name + "\" RENAME TO \"" + name + "\"");
        } catch (const ServerError &e) {
            if (e.sqlState() != "42P04") // duplicate_database
                throw;
            return false;
        }
        m_name = name;
        m_kept = true;
        return true;
    }
    static bool exists(const QByteArray &serverConninfo, const QByteArray &name)
    {
        PGconn *admin = connectAdmin(serverConninfo);
        const char *values[] = {name.constData()};
        PGresult *result = PQexecParams(admin, "SELECT 1 FROM pg_database WHERE datname = $1", 1, nullptr, values,
                                        nullptr, nullptr, 0);
        const bool found = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
        PQclear(result);
        PQfinish(admin);
        return found;
    }
    QByteArray conninfo() const { return withDatabase(m_server, m_name); }
    PGconn *connection() const { return m_connection; }

    // Runs statements; an error is thrown with the server's message and SQLSTATE.
    void exec(const QByteArray &sql) const { PQclear(run(m_connection, sql)); }

    // The Jet functions a ledger's database is created with.
    void installJetFunctions() const
    {
        QFile functions(QStringLiteral(":/db/engine/postgres/jetfunctions.sql"));
        if (!functions.open(QIODevice::ReadOnly))
            throw ServerError("the engine carries no server functions");
        exec(functions.readAll());
    }

    // The first column of the first row, typed by the column's server type;
    // timestamps come back as QDateTime, booleans as bool.
    QVariant value(const QByteArray &sql) const
    {
        PGresult *result = run(m_connection, sql);
        const QVariant value = PQntuples(result) > 0 ? cell(result, 0, 0) : QVariant();
        PQclear(result);
        return value;
    }

    static QVariant cell(const PGresult *result, int row, int column)
    {
        if (PQgetisnull(result, row, column))
            return {};
        const QString text = QString::fromUtf8(PQgetvalue(result, row, column));
        switch (PQftype(result, column)) {
        case 16: // boolean
            return text == QLatin1String("t");
        case 20: case 21: case 23: // bigint, smallint, integer
            return text.toLongLong();
        case 700: case 701: case 1700: // real, double precision, numeric
            return text.toDouble();
        case 1114: { // timestamp, with up to six digits of a second
            const QDateTime whole = QDateTime::fromString(text.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            return whole.addMSecs(qRound64(text.mid(19).prepend(QLatin1Char('0')).toDouble() * 1000));
        }
        default:
            return text;
        }
    }

private:
    static PGresult *run(PGconn *connection, const QByteArray &sql)
    {
        PGresult *result = PQexec(connection, sql.constData());
        const ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return result;
        const char *primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
        const std::string message = primary ? primary : PQerrorMessage(connection);
        const QByteArray state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
        PQclear(result);
        throw ServerError(message, state);
    }

    static PGconn *connectAdmin(const QByteArray &serverConninfo)
    {
        PGconn *admin = PQconnectdb(serverConninfo.constData());
        if (PQstatus(admin) != CONNECTION_OK) {
            const std::string message = PQerrorMessage(admin);
            PQfinish(admin);
            throw ServerError("cannot reach the test server: " + message);
        }
        return admin;
    }

    void adminExec(const QByteArray &sql) const
    {
        PGconn *admin = connectAdmin(m_server);
        try {
            exec(admin, sql);
        } catch (...) {
            PQfinish(admin);
            throw;
        }
        PQfinish(admin);
    }
    static void exec(PGconn *connection, const QByteArray &sql) { PQclear(run(connection, sql)); }

    // FORCE ends connections the code under test left open.
    void drop() noexcept
    {
        if (m_connection)
            PQfinish(m_connection);
        m_connection = nullptr;
        if (m_kept)
            return;
        try {
            adminExec("DROP DATABASE IF EXISTS \"" + m_name + "\" WITH (FORCE)");
        } catch (const ServerError &e) {
            qWarning("test database %s left on the server: %s", m_name.constData(), e.what());
        }
    }

    QByteArray m_server;
    QByteArray m_name;
    PGconn *m_connection = nullptr;
    bool m_kept = false;
};

} // namespace testing_support
