// norva-load: a ward under load.  N workstations, each a process of its own
// through the program's engine, episode module, ledger queries and report
// engine, do a ward's mix of work for T seconds on one database: open a
// ledger, search it by kana, open a record, edit and save it, register a
// patient, print a document to PDF.  Then the driver prints each operation's
// latency, the conflicts the workstations were told of, the errors, and what
// a check of every acknowledged save and registration found in the database.
//
//   norva-load --source DATASOURCE [options]     a database file or a server
//                                                address (libpq keyword string
//                                                or URI); it is written to
//   norva-load --patients N [--server ADDRESS] [--cache DIR] [options]
//                                                a copy of the demo hospital of
//                                                N patients (the benchmark's
//                                                cache), on a file or on the
//                                                server, removed afterwards
//   options: --clients N (4)  --seconds T (30)  --think MS (2000, the mean pause
//            between two pieces of work)  --hot H (4 episodes every workstation
//            edits)  --seed S (1)
//
// Exits 1 when a save was lost, a registration went wrong, or any error other
// than a reported conflict happened.

#include "load/check.h"
#include "load/client.h"

#include "db/engine/administration.h"
#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/postgres/server.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "demo/demodatabase.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <memory>
#include <sys/resource.h>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

struct Options
{
    QString source;
    int patients = 0;
    QString server;
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/norva-bench");
    int clients = 4;
    int seconds = 30;
    int thinkMs = 2000;
    int hot = 4;
    quint32 seed = 1;
};

// The machine's busy and total CPU time so far, in clock ticks.
std::pair<qint64, qint64> machineTicks()
{
    QFile file(QStringLiteral("/proc/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return {0, 0};
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    qint64 total = 0;
    for (int i = 1; i < fields.size(); ++i)
        total += fields[i].toLongLong();
    const qint64 idle = fields.value(4).toLongLong() + fields.value(5).toLongLong();
    return {total - idle, total};
}

double childrenCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// The database the run writes to, and whatever it takes to remove it again.
class Target
{
public:
    explicit Target(const Options &options)
    {
        if (!options.source.isEmpty()) {
            m_dataSource = options.source;
            return;
        }
        if (!options.server.isEmpty()) {
            demo::ensureServerDatabase(options.cache, options.server, options.patients);
            // A copy made by the server itself, so that the benchmark's own
            // database stays as it was built.
            m_server = options.server;
            m_database = QStringLiteral("norva_load_%1").arg(QCoreApplication::applicationPid());
            demo::ServerSession session(m_server);
            session.value(QStringLiteral("CREATE DATABASE %1 TEMPLATE norva_bench_%2").arg(m_database).arg(options.patients));
            m_dataSource = demo::databaseOn(m_server, m_database);
        } else {
            const QString cached = demo::ensureDatabase(options.cache, options.patients) + QStringLiteral("/norva2000.mdb");
            m_dataSource = QDir(m_folder.path()).filePath(QStringLiteral("norva2000.mdb"));
            jet::backupDatabase(cached, db::databasePassword(), m_dataSource, false);
        }
    }
    ~Target()
    {
        if (m_database.isEmpty())
            return;
        try {
            // The engine's pool keeps the driver's own session on it.
            demo::ServerSession(m_server).value(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_database));
        } catch (const std::exception &e) {
            out() << "the database " << m_database << " stays on the server: " << e.what() << Qt::endl;
        }
    }
    Target(const Target &) = delete;
    Target &operator=(const Target &) = delete;

    QString dataSource() const { return m_dataSource; }

private:
    QTemporaryDir m_folder;
    QString m_dataSource;
    QString m_server;
    QString m_database;
};

// The episodes the workstations pick from, written for them; returns the
// hot ones, chosen by the seed among those with a record.
QList<qint64> writeEpisodes(jet::Connection &connection, const QString &runFolder, const Options &options)
{
    jet::Recordset rs;
    rs.open(QStringLiteral("SELECT 入退院情報.入退院ID, 入退院情報.カルテID FROM 入退院情報, 検査情報 "
                           "WHERE 入退院情報.入退院ID = 検査情報.入退院ID"),
            &connection, jet::CursorType::ForwardOnly, jet::LockType::ReadOnly);
    QByteArray text;
    QList<qint64> episodes;
    for (; !rs.eof(); rs.moveNext()) {
        episodes.append(rs.value(0).toLongLong());
        text += QByteArray::number(episodes.last()) + ' ' + QByteArray::number(rs.value(1).toInt()) + '\n';
    }
    QFile file(load::episodesFileName(runFolder));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        throw std::runtime_error("the episodes file cannot be written");
    if (episodes.isEmpty())
        throw std::runtime_error("the database has no episode to work on");
    QRandomGenerator random(options.seed);
    QList<qint64> hot;
    for (int i = 0; i < options.hot; ++i)
        hot.append(episodes.at(qsizetype(random.bounded(quint32(episodes.size())))));
    return hot;
}

struct Results
{
    QMap<int, std::vector<double>> latencies; // by operation
    QMap<int, qint64> statements;             // sent to a server, by operation
    QMap<QString, int> conflicts;             // by field
    QStringList errors;
    QList<load::Acknowledged> saves;
    QList<load::Registered> registrations;
};

void readClient(const QByteArray &output, Results &results)
{
    QMap<QString, int> operations;
    for (int i = 0; i < load::kOperations; ++i)
        operations.insert(load::operationName(load::Operation(i)), i);
    for (const QByteArray &line : output.split('\n')) {
        const QStringList f = QString::fromUtf8(line).split(QLatin1Char('\t'));
        if (f.first() == QLatin1String("op") && f.size() == 4) {
            results.latencies[operations.value(f[1])].push_back(f[2].toDouble());
            results.statements[operations.value(f[1])] += f[3].toLongLong();
        }
        else if (f.first() == QLatin1String("conflict") && f.size() == 3)
            ++results.conflicts[f[2]];
        else if (f.first() == QLatin1String("error"))
            results.errors << f.mid(1).join(QLatin1Char(' '));
        else if (f.first() == QLatin1String("ack") && f.size() == 5) {
            bool null = false;
            load::Acknowledged save{f[1].toInt(), f[2], {}, {}};
            const QString before = load::decodeValue(f[3], &null);
            save.before = null ? QVariant() : QVariant(before);
            save.after = load::decodeValue(f[4], &null);
            results.saves.append(save);
        } else if (f.first() == QLatin1String("reg") && f.size() == 3) {
            results.registrations.append({f[1].toInt(), f[2].toLongLong()});
        } else if (!line.isEmpty()) {
            results.errors << QStringLiteral("unreadable line from a workstation: ") + QString::fromUtf8(line);
        }
    }
}

double percentile(const std::vector<double> &sorted, double p)
{
    const std::size_t rank = std::size_t(std::ceil(p * double(sorted.size())));
    return sorted.at(std::max<std::size_t>(rank, 1) - 1);
}

int drive(const Options &options)
{
    const Target target(options);
    QTemporaryDir run;
    jet::Connection connection;
    connection.setProvider(db::shapingProvider());
    connection.open(db::shapedConnectionString(target.dataSource()));
    const QList<qint64> hot = writeEpisodes(connection, run.path(), options);
    QStringList hotText;
    for (qint64 episode : hot)
        hotText << QString::number(episode);
    const QString tag = QString::number(QDateTime::currentMSecsSinceEpoch(), 36);

    out() << "norva-load: " << options.clients << " workstations for " << options.seconds << " s on "
          << jet::describeDataSource(target.dataSource()) << ", a pause of " << options.thinkMs
          << " ms on average between two pieces of work; hot episodes " << hotText.join(QLatin1Char(',')) << Qt::endl;
    const QString loadBefore = loadAverage();
    const auto ticksBefore = machineTicks();
    const double cpuBefore = childrenCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    std::vector<std::unique_ptr<QProcess>> clients;
    for (int i = 0; i < options.clients; ++i) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("--client"), QString::number(i), QStringLiteral("--source"), target.dataSource(),
                        QStringLiteral("--run"), run.path(), QStringLiteral("--tag"), tag, QStringLiteral("--seconds"),
                        QString::number(options.seconds), QStringLiteral("--think"), QString::number(options.thinkMs),
                        QStringLiteral("--seed"), QString::number(options.seed), QStringLiteral("--hot"),
                        hotText.join(QLatin1Char(','))});
        clients.push_back(std::move(process));
    }
    Results results;
    for (int i = 0; i < options.clients; ++i) {
        QProcess &process = *clients[std::size_t(i)];
        // Each workstation stops starting new work at T; the last piece may
        // still run, and starting up on a busy machine takes its while.
        process.waitForFinished((options.seconds + 120) * 1000);
        readClient(process.readAllStandardOutput(), results);
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
            results.errors << QStringLiteral("workstation %1 did not end").arg(i);
        } else if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            results.errors << QStringLiteral("workstation %1 ended with status %2").arg(i).arg(process.exitCode());
        }
    }
    const QString loadAfter = loadAverage();
    const auto ticksAfter = machineTicks();
    const double seconds = double(wall.elapsed()) / 1000;
    const double clientCpu = childrenCpuSeconds() - cpuBefore;
    const double busy = double(ticksAfter.first - ticksBefore.first) / double(std::max<qint64>(ticksAfter.second - ticksBefore.second, 1));

    const load::Findings findings = load::check(connection, results.saves, results.registrations);
    const bool onServer = jet::isServerAddress(target.dataSource());
    connection.close();

    out() << "\nload average before " << loadBefore << ", after " << loadAfter << "; the machine's " << QThread::idealThreadCount()
          << " cores " << QString::number(busy * 100, 'f', 0) << "% busy over the " << QString::number(seconds, 'f', 0)
          << " s, the workstations' processes using " << QString::number(clientCpu, 'f', 1) << " s of CPU ("
          << QString::number(clientCpu / seconds, 'f', 2) << " cores)\n\n| operation | count | p50 ms | p95 ms | max ms |"
          << (onServer ? " statements each |\n|---|---:|---:|---:|---:|---:|\n" : "\n|---|---:|---:|---:|---:|\n");
    for (auto it = results.latencies.begin(); it != results.latencies.end(); ++it) {
        std::vector<double> &times = it.value();
        std::sort(times.begin(), times.end());
        out() << "| " << load::operationName(load::Operation(it.key())) << " | " << times.size() << " | "
              << QString::number(percentile(times, 0.5), 'f', 1) << " | " << QString::number(percentile(times, 0.95), 'f', 1)
              << " | " << QString::number(times.back(), 'f', 1) << " |";
        if (onServer)
            out() << " " << QString::number(double(results.statements.value(it.key())) / double(times.size()), 'f', 1) << " |";
        out() << "\n";
    }
    int conflicts = 0;
    QStringList byField;
    for (auto it = results.conflicts.cbegin(); it != results.conflicts.cend(); ++it) {
        conflicts += it.value();
        byField << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    }
    out() << "\nacknowledged saves: " << results.saves.size() << " over " << findings.fieldsChecked
          << " fields; conflicts reported: " << conflicts
          << (byField.isEmpty() ? QString() : QStringLiteral(" (") + byField.join(QStringLiteral(", ")) + QLatin1Char(')'))
          << "\nlost updates: " << findings.lostUpdates << "\nregistrations: " << findings.registrationsChecked
          << "\nerrors other than conflicts: " << results.errors.size() << "\n";
    for (const QString &fault : findings.faults)
        out() << "  fault: " << fault << "\n";
    for (const QString &error : results.errors.mid(0, 20))
        out() << "  error: " << error << "\n";
    out().flush();
    return findings.faults.isEmpty() && results.errors.isEmpty() ? 0 : 1;
}

int client(const QStringList &args)
{
    load::ClientSettings settings;
    for (int i = 0; i + 1 < args.size(); i += 2) {
        const QString &name = args[i];
        const QString &value = args[i + 1];
        if (name == QLatin1String("--client"))
            settings.client = value.toInt();
        else if (name == QLatin1String("--source"))
            settings.dataSource = value;
        else if (name == QLatin1String("--run"))
            settings.runFolder = value;
        else if (name == QLatin1String("--tag"))
            settings.tag = value;
        else if (name == QLatin1String("--seconds"))
            settings.seconds = value.toInt();
        else if (name == QLatin1String("--think"))
            settings.thinkMs = value.toInt();
        else if (name == QLatin1String("--seed"))
            settings.seed = value.toUInt();
        else if (name == QLatin1String("--hot"))
            for (const QString &episode : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
                settings.hot.append(episode.toLongLong());
    }
    return load::runClient(settings);
}

} // namespace

int main(int argc, char **argv)
{
    // The documents are laid out and written without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    jet::readTimeZoneOnce();
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--client"))
        return client(args);

    Options options;
    bool ok = true;
    for (int i = 0; i < args.size(); ++i) {
        const QString &name = args[i];
        if (i + 1 >= args.size()) {
            ok = false;
            break;
        }
        const QString value = args[++i];
        if (name == QLatin1String("--source"))
            options.source = value;
        else if (name == QLatin1String("--patients"))
            options.patients = value.toInt();
        else if (name == QLatin1String("--server"))
            options.server = value;
        else if (name == QLatin1String("--cache"))
            options.cache = value;
        else if (name == QLatin1String("--clients"))
            options.clients = value.toInt();
        else if (name == QLatin1String("--seconds"))
            options.seconds = value.toInt();
        else if (name == QLatin1String("--think"))
            options.thinkMs = value.toInt();
        else if (name == QLatin1String("--hot"))
            options.hot = value.toInt();
        else if (name == QLatin1String("--seed"))
            options.seed = value.toUInt();
        else
            ok = false;
    }
    if (!ok || options.source.isEmpty() == (options.patients <= 0) || options.clients <= 0 || options.seconds <= 0
        || (!options.source.isEmpty() && !options.server.isEmpty())) {
        out() << "usage: norva-load (--source DATASOURCE | --patients N [--server ADDRESS] [--cache DIR])\n"
                 "                  [--clients N] [--seconds T] [--think MS] [--hot H] [--seed S]"
              << Qt::endl;
        return 2;
    }
    try {
        return drive(options);
    } catch (const jet::Error &e) {
        out() << "engine error " << e.numberText() << ": " << e.description() << Qt::endl;
    } catch (const std::exception &e) {
        out() << "error: " << e.what() << Qt::endl;
    }
    return 1;
}
