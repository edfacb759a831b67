// The maintenance benchmark: both upgrades of an old demo hospital and the
// compaction of a current one, on copies of cached demo files, with the
// outpatient list timed on the upgraded file against a new one.
//
//   norva-bench-maintenance [--patients N] [--cache DIR]

#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "maintenance/compaction.h"
#include "maintenance/upgrades.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <functional>
#include <stdexcept>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

double seconds(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e9;
}

// A demo file of the generation, built once by norva-db and kept in the cache.
QString demoFile(const QString &cache, int patients, const QString &generation)
{
    const QString folder = QStringLiteral("%1/maintenance-%2").arg(cache).arg(patients);
    QDir().mkpath(folder);
    const QString path = QStringLiteral("%1/%2.mdb").arg(folder, generation);
    if (!QFileInfo::exists(path)) {
        const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/norva-db");
        out() << "building " << path << " ..." << Qt::endl;
        if (QProcess::execute(tool, {QStringLiteral("demo"), path, QStringLiteral("--patients"), QString::number(patients),
                                     QStringLiteral("--seed"), QStringLiteral("1"), QStringLiteral("--generation"),
                                     generation})
            != 0)
            throw std::runtime_error("norva-db demo failed");
    }
    return path;
}

QString copyOf(const QString &from, const QString &folder, const QString &name)
{
    const QString to = QDir(folder).filePath(name);
    if (!QFile::copy(from, to))
        throw std::runtime_error("cannot copy a demo file");
    return to;
}

// The outpatient ledger's list: its rows counted and the first 40 read.
double outpatientListMs(const QString &path)
{
    jet::Connection connection;
    connection.setProvider(db::shapingProvider());
    connection.open(db::shapedConnectionString(path));
    QElapsedTimer timer;
    timer.start();
    jet::Recordset list;
    list.open(QStringLiteral("SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 "
                             "WHERE 患者情報.カルテID = 入退院情報.カルテID AND 外入の別 = -1 "
                             "ORDER BY 入退院情報.入退院ID DESC;"),
              &connection);
    list.recordCount();
    for (int row = 0; row < 40 && !list.eof(); ++row, list.moveNext())
        list.value(0);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    list.close();
    connection.close();
    jet::releasePooledHandles(path);
    return ms;
}

QString megabytes(const QString &path)
{
    return QString::number(double(QFileInfo(path).size()) / (1024.0 * 1024.0), 'f', 0) + QStringLiteral(" MB");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    int patients = 100000;
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/norva-bench");
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--patients"))
            patients = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--cache"))
            cache = args[i + 1];
    }
    try {
        const QString oldDemo = demoFile(cache, patients, QStringLiteral("old"));
        const QString currentDemo = demoFile(cache, patients, QStringLiteral("2.112"));
        QTemporaryDir work;
        const QString upgraded = copyOf(oldDemo, work.path(), QStringLiteral("upgraded.mdb"));
        const double to2086 = seconds([&] { maintenance::upgradeTo2086(upgraded); });
        const double to2112 = seconds([&] { maintenance::upgradeTo2112(upgraded); });
        jet::releasePooledHandles(upgraded);

        const QString current = copyOf(currentDemo, work.path(), QStringLiteral("norva2000.mdb"));
        const QString before = megabytes(current);
        const double compaction = seconds([&] {
            maintenance::compact(maintenance::compactionFiles(current, work.path()));
        });
        const QString afterFirst = megabytes(current);

        // A hospital that removed half of its episodes.
        {
            jet::Connection connection;
            connection.open(db::plainConnectionString(current));
            connection.execute(QStringLiteral("DELETE FROM 入退院情報 WHERE 入退院ID > 139000"));
            connection.close();
            jet::releasePooledHandles(current);
        }
        const QString beforeSecond = megabytes(current);
        const double secondCompaction = seconds([&] {
            maintenance::compact(maintenance::compactionFiles(current, work.path()));
        });

        // Each list measured three times on each file; the medians.
        const auto median = [](const QString &path) {
            QList<double> times;
            for (int i = 0; i < 3; ++i)
                times << outpatientListMs(path);
            std::sort(times.begin(), times.end());
            return times[1];
        };
        const double listUpgraded = median(upgraded);
        const double listNew = median(current);

        out() << "\n### " << patients << " patients\n\n| operation | seconds | target |\n|---|---:|---|\n"
              << "| upgrade to 2.086 of the old file (" << megabytes(oldDemo) << ") | " << QString::number(to2086, 'f', 1)
              << " | < 30 s |\n"
              << "| upgrade to 2.112 of that file | " << QString::number(to2112, 'f', 1) << " | < 30 s |\n"
              << "| compaction of the 2.112 file (" << before << " → " << afterFirst << ", backup written) | "
              << QString::number(compaction, 'f', 1) << " | < 60 s |\n"
              << "| compaction after half of the episodes were deleted (" << beforeSecond << " → " << megabytes(current)
              << ") | " << QString::number(secondCompaction, 'f', 1) << " | < 60 s |\n"
              << "\noutpatient list, count + first 40 rows (median of 3, ms): upgraded file "
              << QString::number(listUpgraded, 'f', 1) << ", new file " << QString::number(listNew, 'f', 1) << "\n";
    } catch (const jet::Error &e) {
        out() << "engine error " << e.numberText() << ": " << e.description() << Qt::endl;
        return 1;
    } catch (const std::exception &e) {
        out() << "error: " << e.what() << Qt::endl;
        return 1;
    }
    return 0;
}
