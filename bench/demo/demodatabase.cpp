#include "demo/demodatabase.h"

#include "db/engine/postgres/server.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTextStream>
#include <stdexcept>

namespace demo {

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QString demoTool()
{
    return QStringLiteral(NORVA_DB_TOOL);
}

QStringList demoArguments(const QString &dataSource, int patients)
{
    return {QStringLiteral("demo"), dataSource, QStringLiteral("--patients"), QString::number(patients), QStringLiteral("--seed"),
            QStringLiteral("1")};
}

void writeLocation(const QString &folder, const QString &dataSource)
{
    QFile location(folder + QStringLiteral("/norva.txt"));
    location.open(QIODevice::WriteOnly | QIODevice::Truncate);
    location.write(dataSource.toUtf8() + "\n");
}

} // namespace

// A raw connection to the server the address names, or the reason there is none.
PGconn *connectTo(const QString &address)
{
    PGconn *conn = PQconnectdb(address.toUtf8().constData());
    if (PQstatus(conn) != CONNECTION_OK) {
        const std::string message = PQerrorMessage(conn);
        PQfinish(conn);
        throw std::runtime_error(message);
    }
    return conn;
}

QString ensureDatabase(const QString &cache, int patients)
{
    const QString folder = QStringLiteral("%1/%2").arg(cache).arg(patients);
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/norva2000.mdb");
    if (!QFileInfo::exists(path)) {
        out() << "building " << path << " ..." << Qt::endl;
        if (QProcess::execute(demoTool(), demoArguments(path, patients)) != 0)
            throw std::runtime_error("norva-db demo failed");
    }
    writeLocation(folder, path);
    return folder;
}

ServerSession::ServerSession(const QString &address) : m_conn(connectTo(address)) {}

ServerSession::~ServerSession()
{
    PQfinish(m_conn);
}

QString ServerSession::value(const QString &sql, const QString &parameter)
{
    const QByteArray text = parameter.toUtf8();
    const char *values[] = {text.constData()};
    PGresult *result = PQexecParams(m_conn, sql.toUtf8().constData(), parameter.isNull() ? 0 : 1, nullptr, values,
                                    nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    QString first;
    if (status == PGRES_TUPLES_OK && PQntuples(result) > 0 && !PQgetisnull(result, 0, 0))
        first = QString::fromUtf8(PQgetvalue(result, 0, 0));
    PQclear(result);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        throw std::runtime_error(PQerrorMessage(m_conn));
    return first;
}

// The address of database `name` on the server `address` names, as a
// keyword string without the password it may hold: it goes into a location file.
QString databaseOn(const QString &address, const QString &name)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(address.toUtf8().constData(), &error);
    if (!options) {
        const std::string message = error ? error : "unreadable server address";
        PQfreemem(error);
        throw std::runtime_error(message);
    }
    QStringList parts;
    for (PQconninfoOption *o = options; o->keyword; ++o) {
        const QByteArray keyword = o->keyword;
        if (!o->val || !*o->val || keyword == "password" || keyword == "dbname")
            continue;
        QString value = QString::fromUtf8(o->val);
        value.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
        parts.append(QString::fromUtf8(keyword) + QStringLiteral("='") + value + QLatin1Char('\''));
    }
    PQconninfoFree(options);
    parts.append(QStringLiteral("dbname=") + name);
    return parts.join(QLatin1Char(' '));
}

// A demo hospital on the server, copied once from the file of the same
// patients into database norva_bench_N (a copy loads a table with one COPY,
// where building it there sends a statement a row) and marked complete by its
// comment; one left unfinished is made again.
QString ensureServerDatabase(const QString &cache, const QString &server, int patients)
{
    const QString name = QStringLiteral("norva_bench_%1").arg(patients);
    const QString mark = QStringLiteral("norva-bench demo, %1 patients, seed 1").arg(patients);
    const QString dataSource = databaseOn(server, name);
    ServerSession session(server);
    const QString comment = session.value(
        QStringLiteral("SELECT coalesce(shobj_description(oid, 'pg_database'), '') FROM pg_database WHERE datname = $1"), name);
    if (comment != mark) {
        if (!session.value(QStringLiteral("SELECT datname FROM pg_database WHERE datname = $1"), name).isEmpty())
            session.value(QStringLiteral("DROP DATABASE %1").arg(name));
        session.value(QStringLiteral("CREATE DATABASE %1").arg(name));
        const QString file = ensureDatabase(cache, patients) + QStringLiteral("/norva2000.mdb");
        out() << "copying " << file << " to " << name << " on " << jet::describeServer(dataSource) << " ..." << Qt::endl;
        QElapsedTimer timer;
        timer.start();
        if (QProcess::execute(demoTool(), {QStringLiteral("copy"), file, dataSource}) != 0)
            throw std::runtime_error("norva-db copy failed");
        out() << "copied in " << QString::number(double(timer.elapsed()) / 1000, 'f', 0) << " s" << Qt::endl;
        session.value(QStringLiteral("COMMENT ON DATABASE %1 IS '%2'").arg(name, mark));
    }
    const QString folder = QStringLiteral("%1/server-%2").arg(cache).arg(patients);
    QDir().mkpath(folder);
    writeLocation(folder, dataSource);
    return folder;
}

} // namespace demo
