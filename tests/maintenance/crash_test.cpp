#include "maintenancefixture.h"

#include "db/engine/error.h"
#include "maintenance/compaction.h"
#include "maintenance/upgrades.h"

#include <QDir>
#include <algorithm>
#include <QProcess>
#include <QTemporaryDir>

using namespace testing_support;

namespace {

// A child process compacts or upgrades and is killed with SIGKILL as the
// chosen step begins, or inside a step at the chosen report of its work;
// afterwards the file must open, pass SQLite's integrity check and hold every
// row it held, and the work must be possible again.
class CrashTest : public ::testing::Test
{
protected:
    // True when the child was killed; false when it finished.
    bool runChild(const QString &operation, const QString &path, int killAtStep, int killAtWork = 0)
    {
        QProcess child;
        child.start(QStringLiteral(NORVA_CRASHCHILD), {operation, path, folder.path(), QString::number(killAtStep),
                                                       QString::number(killAtWork)});
        EXPECT_TRUE(child.waitForFinished(60000));
        if (child.exitStatus() == QProcess::NormalExit) {
            EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
            m_reports = child.readAllStandardOutput().trimmed().toInt();
        }
        return child.exitStatus() == QProcess::CrashExit;
    }

    // The moments to kill at: each step as it begins, then a dozen reports of
    // work spread over the whole run, as counted by a run on a copy.
    static constexpr int kWorkPoints = 4;
    struct KillPoint
    {
        int step = 0;
        int work = 0;
    };
    QList<KillPoint> killPoints(const QString &operation, const QString &path, int steps)
    {
        QList<KillPoint> points;
        for (int step = 1; step <= steps; ++step)
            points.append({step, 0});
        QTemporaryDir trial;
        const QString copy = QDir(trial.path()).filePath(QStringLiteral("norva2000.mdb"));
        EXPECT_TRUE(QFile::copy(path, copy));
        EXPECT_FALSE(runChild(operation, copy, 0));
        QFile::remove(QDir(folder.path()).filePath(QStringLiteral("norva_optimization.mdb")));
        EXPECT_GT(m_reports, 0) << "the run reports its work, so that it can be killed inside its steps";
        int last = 0;
        for (int i = 1; i <= kWorkPoints; ++i) {
            const int work = std::max(1, m_reports * i / (kWorkPoints + 1));
            if (work != last)
                points.append({0, work});
            last = work;
        }
        return points;
    }

    static void expectWhole(const QString &path, const QString &rows)
    {
        EXPECT_EQ(scalar(path, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        EXPECT_EQ(counts(path), rows);
    }

    static QString counts(const QString &path)
    {
        return scalar(path, QStringLiteral("SELECT (SELECT count(*) FROM \"患者情報\") || '/' || (SELECT count(*) FROM "
                                           "\"入退院情報\") || '/' || (SELECT count(*) FROM \"32条診断書\")"));
    }

    QTemporaryDir folder;

private:
    int m_reports = 0;
};

TEST_F(CrashTest, CompactionKilledAtAnyStepLeavesTheOldFileOrTheCompactedOneWhole)
{
    const QString path = QDir(folder.path()).filePath(QStringLiteral("norva2000.mdb"));
    const maintenance::CompactionFiles files = maintenance::compactionFiles(path, folder.path());
    db::createDatabase(path, db::Generation::V2112);
    fillWard(path, 80);
    scalar(path, QStringLiteral("DELETE FROM \"入退院情報\" WHERE カルテID > 40"));
    const QString rows = counts(path);
    for (const KillPoint &point : killPoints(QStringLiteral("compact"), path, maintenance::kCompactionSteps)) {
        SCOPED_TRACE(QStringLiteral("step %1, work report %2").arg(point.step).arg(point.work).toStdString());
        EXPECT_TRUE(runChild(QStringLiteral("compact"), path, point.step, point.work));
        expectWhole(path, rows);
        if (QFile::exists(files.backup))
            expectWhole(files.backup, rows);
        // The next compaction removes what the killed one left and completes.
        maintenance::compact(files);
        expectWhole(path, rows);
        expectWhole(files.backup, rows);
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{QStringLiteral("norva2000.mdb"), QStringLiteral("norva2000.old.mdb")}));
    }
}

TEST_F(CrashTest, UpgradeKilledAtAnyStepLeavesTheFileAsItWasOrUpgradedWhole)
{
    struct Case
    {
        db::Generation generation;
        QString operation;
        int steps;
    };
    for (const Case &c : {Case{db::Generation::Old, QStringLiteral("to2086"), maintenance::kStepsTo2086},
                          Case{db::Generation::V2086, QStringLiteral("to2112"), maintenance::kStepsTo2112}}) {
        const QString path = QDir(folder.path()).filePath(c.operation + QStringLiteral(".mdb"));
        db::createDatabase(path, c.generation);
        fillWard(path, 50);
        const QString before = fingerprint(path);
        const QString rows = counts(path);
        for (const KillPoint &point : killPoints(c.operation, path, c.steps)) {
            SCOPED_TRACE((c.operation + QStringLiteral(" killed at step %1, work report %2").arg(point.step).arg(point.work)).toStdString());
            EXPECT_TRUE(runChild(c.operation, path, point.step, point.work));
            expectWhole(path, rows);
            EXPECT_EQ(fingerprint(path), before);
        }
        EXPECT_FALSE(runChild(c.operation, path, 0));
        expectWhole(path, rows);
        EXPECT_NE(fingerprint(path), before);
    }
}

} // namespace
