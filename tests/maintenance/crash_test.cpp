#include "maintenancefixture.h"

#include "db/engine/error.h"
#include "maintenance/compaction.h"
#include "maintenance/upgrades.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

using namespace testing_support;

namespace {

// A child process compacts or upgrades and is killed with SIGKILL as the
// chosen step begins; afterwards the file must open, pass SQLite's integrity
// check and hold every row it held, and the work must be possible again.
class CrashTest : public ::testing::Test
{
protected:
    // True when the child was killed; false when it finished.
    bool runChild(const QString &operation, const QString &path, int killAt)
    {
        QProcess child;
        child.start(QStringLiteral(NORVA_CRASHCHILD), {operation, path, folder.path(), QString::number(killAt)});
        EXPECT_TRUE(child.waitForFinished(60000));
        if (child.exitStatus() == QProcess::NormalExit) {
            EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
        }
        return child.exitStatus() == QProcess::CrashExit;
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
};

TEST_F(CrashTest, CompactionKilledAtAnyStepLeavesTheOldFileOrTheCompactedOneWhole)
{
    const QString path = QDir(folder.path()).filePath(QStringLiteral("norva2000.mdb"));
    const maintenance::CompactionFiles files = maintenance::compactionFiles(path, folder.path(), folder.path());
    db::createDatabase(path, db::Generation::V2112);
    fillWard(path, 200);
    scalar(path, QStringLiteral("DELETE FROM \"入退院情報\" WHERE カルテID > 100"));
    const QString rows = counts(path);
    for (int killAt = 1; killAt <= maintenance::kCompactionSteps + 1; ++killAt) {
        SCOPED_TRACE(killAt);
        EXPECT_EQ(runChild(QStringLiteral("compact"), path, killAt), killAt <= maintenance::kCompactionSteps);
        expectWhole(path, rows);
        if (QFile::exists(files.backup))
            expectWhole(files.backup, rows);
        // The next compaction completes, or names the work file left behind;
        // once the user has removed it, it completes.
        try {
            maintenance::compact(files);
        } catch (const jet::Error &e) {
            EXPECT_EQ(e.number(), jet::err::CompactTargetExists);
            EXPECT_GE(killAt, 2) << "a kill during the compaction itself leaves its work file only";
            QFile::remove(files.work);
            maintenance::compact(files);
        }
        expectWhole(path, rows);
        expectWhole(files.backup, rows);
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
        for (int killAt = 1; killAt <= c.steps + 1; ++killAt) {
            SCOPED_TRACE((c.operation + QStringLiteral(" killed at step %1").arg(killAt)).toStdString());
            const bool killed = runChild(c.operation, path, killAt);
            EXPECT_EQ(killed, killAt <= c.steps);
            expectWhole(path, rows);
            if (killed) {
                EXPECT_EQ(fingerprint(path), before);
            }
        }
    }
}

} // namespace
