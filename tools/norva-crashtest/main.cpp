// norva-crashtest: kills a process that registers patients, saves record
// windows' rows, deletes episodes and rewrites the list order, over and over,
// and checks after every kill that the database holds every committed change
// whole and no change in part.
//
//   norva-crashtest [--runs N] [--seed S] [--location LOCATION]
//                   [--stop-server COMMAND --start-server COMMAND]
//   norva-crashtest --save-once LOCATION EPISODE FIELD VALUE
//   norva-crashtest --delete-once LOCATION EPISODE
//   norva-crashtest --certificate-once LOCATION CHART [FIELD VALUE]
//
//   norva-crashtest --register LOCATION FIRST COUNT
//
// The second form registers the charts FIRST … FIRST+COUNT-1 in the ledger
// at LOCATION, one at a time as the ward registers them, and prints each
// chart with the 入退院ID its registration returned; run in several processes
// at once, it shows that every registration gets an episode of its own.
//
// The database is a new file, or the empty server database LOCATION names (a
// libpq URI or keyword string).  On a file half of the kills come at a chosen
// write, sync or truncation of the database's files, half at a random moment;
// on a server all at a random moment.  With the two commands (run by
// /bin/sh) the server is stopped at the random moment instead, the child
// left to find it gone, and started again before the check.  The child
// reports each change before it begins and once it is committed, on a pipe
// that survives the kill.

#include "killswitch.h"

#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/check.h"
#include "db/episodes.h"
#include "db/engine/postgres/server.h"
#include "db/location.h"
#include "db/schema.h"

#include <QCoreApplication>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <cstdio>
#include <unistd.h>

namespace {

const QString kName = QStringLiteral("氏名");
const QString kDiagnosis = QStringLiteral("一時診断名");
const QString kExamination = QStringLiteral("検査内容");
// The child's status when its server went away under it.
constexpr int kServerGone = 3;

void report(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    // Unbuffered, so that what was reported is in the pipe when the kill comes.
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, bytes.constData(), size_t(bytes.size()));
}

QString orderName(db::RoomOrder order)
{
    return order == db::RoomOrder::Ascending ? QStringLiteral("asc") : QStringLiteral("desc");
}

// --- the child: the program's own calls ---

void saveRecord(jet::Connection &connection, int episode, const QString &stamp)
{
    jet::Recordset row;
    row.open(db::kEpisodeSql.toString(), &connection, jet::CursorType::Static, jet::LockType::Optimistic);
    row.setFilter(QStringLiteral("入退院情報.入退院ID = '%1'").arg(episode));
    row.setValue(kName, stamp);
    row.setValue(kDiagnosis, stamp);
    row.setValue(kExamination, stamp);
    row.moveLast();
    row.update();
}

QList<int> episodes(jet::Connection &connection)
{
    QList<int> ids;
    jet::Recordset rs;
    rs.open(QStringLiteral("SELECT 入退院ID FROM 入退院情報"), &connection);
    for (; !rs.eof(); rs.moveNext())
        ids << rs.value(0).toInt();
    return ids;
}

int child(const QString &path, quint32 seed, int firstChart, long killAt)
{
    if (killAt > 0)
        installKillSwitch(killAt);
    QRandomGenerator random(seed);
    jet::Connection connection;
    connection.setProvider(db::shapingProvider());
    connection.open(db::shapedConnectionString(path));
    int chart = firstChart;
    for (int n = 0; n < 400; ++n) {
        const QList<int> ids = episodes(connection);
        const int choice = ids.size() < 5 ? 0 : int(random.bounded(10));
        if (choice < 4) {
            report(QStringLiteral("begin reg %1").arg(chart));
            const qint64 episode = db::registerEpisode(connection, chart);
            report(QStringLiteral("done reg %1 %2").arg(chart++).arg(episode));
        } else if (choice < 8) {
            const int episode = ids.at(int(random.bounded(qsizetype(ids.size()))));
            const QString stamp = QStringLiteral("s%1-%2").arg(seed).arg(n);
            report(QStringLiteral("begin save %1 %2").arg(episode).arg(stamp));
            saveRecord(connection, episode, stamp);
            report(QStringLiteral("done save %1 %2").arg(episode).arg(stamp));
        } else if (choice < 9) {
            const int episode = ids.at(int(random.bounded(qsizetype(ids.size()))));
            report(QStringLiteral("begin del %1").arg(episode));
            db::deleteEpisode(connection, episode);
            report(QStringLiteral("done del %1").arg(episode));
        } else {
            const db::RoomOrder order = random.bounded(2) ? db::RoomOrder::Ascending : db::RoomOrder::Descending;
            report(QStringLiteral("begin order %1").arg(orderName(order)));
            db::storeListOrder(path, order);
            report(QStringLiteral("done order %1").arg(orderName(order)));
        }
    }
    connection.close();
    return 0;
}

// One save of one field of a record window's row, or one deletion of an
// episode, as another workstation makes it, for the tests of several
// processes on one ledger.  Prints the engine's error number, 0 once stored.
int once(const QStringList &args)
{
    const QString &location = args.at(2);
    const int episode = args.at(3).toInt();
    jet::Connection connection;
    connection.setProvider(db::shapingProvider());
    connection.open(db::shapedConnectionString(location));
    qint32 number = 0;
    try {
        if (args.at(1) == QLatin1String("--save-once")) {
            jet::Recordset row;
            row.open(db::kEpisodeSql.toString(), &connection, jet::CursorType::Static, jet::LockType::Optimistic);
            row.setFilter(QStringLiteral("入退院情報.入退院ID = '%1'").arg(episode));
            row.setValue(args.at(4), args.at(5));
            row.update();
        } else {
            db::deleteEpisode(connection, episode);
        }
    } catch (const jet::Error &e) {
        number = e.number();
    }
    std::printf("%d\n", number);
    return 0;
}

// The same for the chart's certificate row: one field saved, or without a
// field the row deleted.
int certificateOnce(const QStringList &args)
{
    jet::Connection connection;
    connection.setProvider(db::shapingProvider());
    connection.open(db::shapedConnectionString(args.at(2)));
    const int chart = args.at(3).toInt();
    qint32 number = 0;
    try {
        if (args.size() >= 6) {
            jet::Recordset row;
            row.open(QStringLiteral("SELECT * FROM `32条診断書`"), &connection, jet::CursorType::Static,
                     jet::LockType::Optimistic);
            row.setFilter(QStringLiteral("カルテID = %1").arg(chart));
            row.setValue(args.at(4), args.at(5));
            row.update();
        } else {
            connection.execute(QStringLiteral("DELETE FROM `32条診断書` WHERE カルテID = ?"), {chart});
        }
    } catch (const jet::Error &e) {
        number = e.number();
    }
    std::printf("%d\n", number);
    return 0;
}

// --- registrations side by side ---

int registerCharts(const QString &location, int first, int count)
{
    jet::Connection connection;
    connection.open(db::plainConnectionString(location));
    QTextStream out(stdout);
    for (int chart = first; chart < first + count; ++chart)
        out << chart << ' ' << db::registerEpisode(connection, chart) << Qt::endl;
    connection.close();
    return 0;
}

// --- the parent: what must be in the file ---

struct Episode
{
    QString stamp; // the last committed save; empty before the first
};

struct Model
{
    QMap<int, Episode> episodes;
    QSet<int> deleted;
    QString order = QStringLiteral("asc");
};

struct Row
{
    QString name, diagnosis, examination;
};

class Verifier
{
public:
    explicit Verifier(const QString &path) : m_path(path) {}

    // Checks the file against the model and the change the child was in the
    // middle of (its last "begin" without a "done"), then takes that change
    // into the model as the file shows it.  Returns the faults found.  The
    // back end's own check of its pages and indexes is made when asked.
    QStringList check(Model &model, const QStringList &inFlight, bool backEndCheck)
    {
        QStringList faults;
        const QStringList integrity = backEndCheck ? db::checkDatabase(m_path).integrity : QStringList{QStringLiteral("ok")};
        if (integrity != QStringList{QStringLiteral("ok")})
            faults << QStringLiteral("the back end's check failed: ") + integrity.join(QStringLiteral("; "));
        jet::Connection connection;
        connection.open(db::plainConnectionString(m_path));

        QMap<int, Row> rows;
        {
            jet::Recordset rs;
            rs.open(db::kEpisodeSql.toString(), &connection);
            for (; !rs.eof(); rs.moveNext())
                rows.insert(rs.value(QStringLiteral("入退院情報.入退院ID")).toInt(),
                            {rs.value(kName).toString(), rs.value(kDiagnosis).toString(), rs.value(kExamination).toString()});
        }
        const int episodeCount = count(connection, QStringLiteral("SELECT COUNT(*) FROM 入退院情報"));
        if (episodeCount != rows.size())
            faults << QStringLiteral("%1 episodes without their patient or examination row").arg(episodeCount - rows.size());
        for (const char *table : {"検査情報", "診断情報"}) {
            const QString name = QString::fromUtf8(table);
            const int orphans = count(connection, QStringLiteral("SELECT COUNT(*) FROM %1 WHERE 入退院ID NOT IN (SELECT 入退院ID FROM 入退院情報)").arg(name));
            const int missing = count(connection, QStringLiteral("SELECT COUNT(*) FROM 入退院情報 WHERE 入退院ID NOT IN (SELECT 入退院ID FROM %1)").arg(name));
            if (orphans || missing)
                faults << QStringLiteral("%1: %2 rows without their episode, %3 episodes without a row").arg(name).arg(orphans).arg(missing);
        }

        const QStringList begun = inFlight.value(0).split(u' ');
        const QString op = begun.value(1);
        // A registration in flight: whole or absent.
        if (op == QLatin1String("reg")) {
            for (auto it = rows.cbegin(); it != rows.cend(); ++it)
                if (!model.episodes.contains(it.key()) && !model.deleted.contains(it.key()))
                    model.episodes.insert(it.key(), {});
        }
        for (auto it = model.episodes.begin(); it != model.episodes.end();) {
            const int id = it.key();
            const bool deleting = op == QLatin1String("del") && begun.value(2).toInt() == id;
            if (!rows.contains(id)) {
                if (!deleting)
                    faults << QStringLiteral("committed episode %1 lost").arg(id);
                model.deleted.insert(id);
                it = model.episodes.erase(it);
                continue;
            }
            const Row &row = rows.value(id);
            if (row.name != row.diagnosis || row.name != row.examination)
                faults << QStringLiteral("episode %1 written in part: %2 / %3 / %4").arg(id).arg(row.name, row.diagnosis, row.examination);
            const bool saving = op == QLatin1String("save") && begun.value(2).toInt() == id;
            if (row.name != it->stamp && !(saving && row.name == begun.value(3)))
                faults << QStringLiteral("episode %1 holds '%2', committed '%3'").arg(id).arg(row.name, it->stamp);
            it->stamp = row.name;
            ++it;
        }
        for (auto it = rows.cbegin(); it != rows.cend(); ++it)
            if (model.deleted.contains(it.key()))
                faults << QStringLiteral("deleted episode %1 is back").arg(it.key());

        jet::Catalog catalog;
        catalog.setActiveConnection(&connection);
        const QString text = catalog.viewText(db::kInpatientListQuery.toString());
        QString found;
        for (const db::RoomOrder order : {db::RoomOrder::Ascending, db::RoomOrder::Descending})
            if (text == db::inpatientListSql(order))
                found = orderName(order);
        if (found.isEmpty())
            faults << QStringLiteral("the list query is missing or damaged");
        else if (found != model.order && !(op == QLatin1String("order") && found == begun.value(2)))
            faults << QStringLiteral("the list order is %1, committed %2").arg(found, model.order);
        if (!found.isEmpty())
            model.order = found;
        connection.close();
        jet::releasePooledHandles(m_path);
        return faults;
    }

private:
    static int count(jet::Connection &connection, const QString &sql)
    {
        jet::Recordset rs;
        rs.open(sql, &connection);
        return rs.value(0).toInt();
    }

    QString m_path;
};

// Applies the child's report of committed changes to the model; returns the
// change in flight, if any.
QStringList apply(Model &model, const QStringList &lines)
{
    QStringList inFlight;
    for (const QString &line : lines) {
        const QStringList parts = line.split(u' ');
        if (parts.value(0) == QLatin1String("begin")) {
            inFlight = {line};
            continue;
        }
        if (parts.value(0) != QLatin1String("done"))
            continue;
        inFlight.clear();
        if (parts.value(1) == QLatin1String("reg"))
            model.episodes.insert(parts.value(3).toInt(), {});
        else if (parts.value(1) == QLatin1String("save"))
            model.episodes[parts.value(2).toInt()].stamp = parts.value(3);
        else if (parts.value(1) == QLatin1String("del")) {
            model.episodes.remove(parts.value(2).toInt());
            model.deleted.insert(parts.value(2).toInt());
        } else if (parts.value(1) == QLatin1String("order"))
            model.order = parts.value(2);
    }
    return inFlight;
}

// How the harness ends the child's work: by killing it, or by stopping its
// server under it.
struct Crash
{
    QString stopServer, startServer;
    bool stopsServer() const { return !stopServer.isEmpty(); }
};

bool runShell(const QString &command, QTextStream &out)
{
    QProcess shell;
    shell.setProcessChannelMode(QProcess::ForwardedChannels);
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    if (shell.waitForFinished(120000) && shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0)
        return true;
    out << "the command failed: " << command << Qt::endl;
    return false;
}

int parent(int runs, quint32 seed, const QString &location, const Crash &crash)
{
    QTextStream out(stdout);
    QTemporaryDir folder;
    const bool server = jet::isServerAddress(location);
    const QString path = server ? location : folder.filePath(QStringLiteral("norva2000.mdb"));
    db::createDatabase(path, db::Generation::V2112);
    jet::releasePooledHandles(path);
    QRandomGenerator random(seed);
    Model model;
    Verifier verifier(path);
    int faults = 0, atWrite = 0, atMoment = 0, finished = 0, committed = 0, inFlightCount = 0;
    for (int run = 0; run < runs; ++run) {
        // The server's files are not the program's: its kills come at a random moment.
        const bool injected = !server && run % 2 == 0;
        const long killAt = injected ? long(random.bounded(1, 600)) : 0;
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"), path, QString::number(random.generate()),
                     QString::number((run + 1) * 100000), QString::number(killAt)});
        if (!child.waitForStarted())
            return 2;
        if (!injected) {
            // A server's child connects first, which takes longer than the moments chosen.
            if (server)
                child.waitForReadyRead(30000);
            QThread::msleep(random.bounded(20, 400));
            if (!crash.stopsServer())
                child.kill();
            else if (!runShell(crash.stopServer, out))
                return 2;
        }
        child.waitForFinished(60000);
        if (crash.stopsServer() && !runShell(crash.startServer, out))
            return 2;
        // A child that found its server gone ended as one killed.
        const bool killed = child.exitStatus() == QProcess::CrashExit || (crash.stopsServer() && child.exitCode() == kServerGone);
        if (!killed && child.exitCode() != 0) {
            out << "run " << run << ": the child failed: " << QString::fromUtf8(child.readAllStandardError()) << Qt::endl;
            return 2;
        }
        (killed ? (injected ? atWrite : atMoment) : finished) += 1;
        const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        committed += int(lines.filter(QStringLiteral("done ")).size());
        const QStringList inFlight = apply(model, lines);
        inFlightCount += inFlight.isEmpty() ? 0 : 1;
        // A server's check of every index takes seconds: it is made once, at the end.
        const QStringList found = verifier.check(model, inFlight, !server || run == runs - 1);
        for (const QString &fault : found)
            out << "run " << run << ": " << fault << Qt::endl;
        faults += int(found.size());
    }
    out << runs << " runs: " << atWrite << " killed at a file operation, " << atMoment
        << (crash.stopsServer() ? " by a server stop, " : " at a random moment, ") << finished << " finished; "
        << committed << " changes committed, " << inFlightCount << " kills inside a change; "
        << model.episodes.size() << " episodes kept, " << model.deleted.size() << " deleted; " << faults << " faults"
        << Qt::endl;
    return faults == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        if (args.size() >= 6 && args.at(1) == QLatin1String("--save-once"))
            return once(args);
        if (args.size() >= 4 && args.at(1) == QLatin1String("--delete-once"))
            return once(args);
        if (args.size() >= 4 && args.at(1) == QLatin1String("--certificate-once"))
            return certificateOnce(args);
        if (args.value(1) == QLatin1String("--register"))
            return registerCharts(args.value(2), args.value(3).toInt(), args.value(4).toInt());
        if (args.value(1) == QLatin1String("--child"))
            return child(args.value(2), args.value(3).toUInt(), args.value(4).toInt(), args.value(5).toLong());
        int runs = 300;
        quint32 seed = 1;
        QString location;
        Crash crash;
        for (int i = 1; i + 1 < args.size(); i += 2) {
            if (args.at(i) == QLatin1String("--runs"))
                runs = args.at(i + 1).toInt();
            else if (args.at(i) == QLatin1String("--seed"))
                seed = args.at(i + 1).toUInt();
            else if (args.at(i) == QLatin1String("--location"))
                location = args.at(i + 1);
            else if (args.at(i) == QLatin1String("--stop-server"))
                crash.stopServer = args.at(i + 1);
            else if (args.at(i) == QLatin1String("--start-server"))
                crash.startServer = args.at(i + 1);
        }
        if (crash.stopServer.isEmpty() != crash.startServer.isEmpty() || (crash.stopsServer() && !jet::isServerAddress(location))) {
            std::fprintf(stderr, "--stop-server and --start-server go together, with a server's --location\n");
            return 2;
        }
        return parent(runs, seed, location, crash);
    } catch (const jet::Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return e.cause() == jet::Cause::ConnectionLost ? kServerGone : 2;
    }
}
