#include "db/check.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "db/schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(Check, FindsEpisodesWithoutCompanionRowsAndCodeReferencesToMissingRows)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"norva2000.mdb"_s);
    db::createDatabase(path, db::Generation::V2112);
    {
        jet::Connection c;
        c.open(db::plainConnectionString(path));
        c.execute(u"INSERT INTO 患者情報 (カルテID) VALUES (7)"_s);
        for (int episode = 0; episode < 3; ++episode)
            c.execute(u"INSERT INTO 入退院情報 (カルテID) VALUES (7)"_s);
        // The first episode is whole; the second lacks its diagnosis row, the third both rows.
        c.execute(u"INSERT INTO 検査情報 (入退院ID) VALUES (1)"_s);
        c.execute(u"INSERT INTO 診断情報 (入退院ID) VALUES (1)"_s);
        c.execute(u"INSERT INTO 検査情報 (入退院ID) VALUES (2)"_s);
    }
    jet::releasePooledHandles(path);

    db::CheckReport report = db::checkDatabase(path);
    EXPECT_EQ(report.generation, u"2.112"_s);
    EXPECT_EQ(report.integrity, QStringList{u"ok"_s});
    EXPECT_EQ(report.episodesWithoutCompanions, (QList<qint64>{2, 3}));
    EXPECT_TRUE(report.danglingReferences.isEmpty());
    ASSERT_EQ(report.counts.size(), 5);
    EXPECT_EQ(report.counts.at(1).table, u"入退院情報"_s);
    EXPECT_EQ(report.counts.at(1).rows, 3);
    EXPECT_FALSE(report.sound());

    {
        jet::Connection c;
        c.open(db::plainConnectionString(path));
        c.execute(u"DELETE FROM 入退院情報 WHERE 入退院ID > 1"_s);
        c.execute(u"DELETE FROM 検査情報 WHERE 入退院ID > 1"_s);
        c.execute(u"UPDATE 入退院情報 SET 病室番号 = 99 WHERE 入退院ID = 1"_s);
    }
    jet::releasePooledHandles(path);
    report = db::checkDatabase(path);
    EXPECT_TRUE(report.episodesWithoutCompanions.isEmpty());
    ASSERT_EQ(report.danglingReferences.size(), 1);
    const db::CheckReport::DanglingReference &dangling = report.danglingReferences.first();
    EXPECT_EQ(dangling.table + dangling.column, u"入退院情報病室番号"_s);
    EXPECT_EQ(dangling.row, 1);
    EXPECT_EQ(dangling.code, 99);
    EXPECT_FALSE(report.sound());

    {
        jet::Connection c;
        c.open(db::plainConnectionString(path));
        c.execute(u"UPDATE 入退院情報 SET 病室番号 = 1"_s);
    }
    jet::releasePooledHandles(path);
    EXPECT_TRUE(db::checkDatabase(path).sound());
}

TEST(Check, KnowsTheOlderGenerationsAndRefusesAFileItCannotOpen)
{
    QTemporaryDir dir;
    for (auto [generation, name] : {std::pair{db::Generation::Old, u"old"_s}, std::pair{db::Generation::V2086, u"2.086"_s}}) {
        const QString path = dir.filePath(name);
        db::createDatabase(path, generation);
        const db::CheckReport report = db::checkDatabase(path);
        EXPECT_EQ(report.generation, name);
        EXPECT_TRUE(report.sound());
        jet::releasePooledHandles(path);
    }
    EXPECT_THROW(db::checkDatabase(dir.filePath(u"missing.mdb"_s)), jet::Error);
}

// The administrators' cron lines and scripts read the exit status and stderr.
TEST(CheckTool, AnswersWithItsExitStatusAndOneLineOnFailure)
{
    const QString tool = QDir(QCoreApplication::applicationDirPath()).filePath(u"../tools/norva-db"_s);
    if (!QFileInfo::exists(tool))
        GTEST_SKIP() << "norva-db is not built next to the tests";
    QTemporaryDir dir;
    const QString path = dir.filePath(u"norva2000.mdb"_s);
    const QString copy = dir.filePath(u"copy.mdb"_s);
    const auto run = [&](const QStringList &arguments, QString *errors = nullptr) {
        QProcess process;
        process.start(tool, arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        if (errors)
            *errors = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    ASSERT_EQ(run({u"create"_s, path}), 0);
    EXPECT_EQ(run({u"check"_s, path}), 0);
    EXPECT_EQ(run({u"backup"_s, path, copy}), 0);
    QString errors;
    EXPECT_EQ(run({u"backup"_s, path, copy}, &errors), 1);
    EXPECT_EQ(errors.count(u'\n'), 1);
    EXPECT_TRUE(errors.contains(copy));
    EXPECT_EQ(run({u"backup"_s, path, copy, u"--force"_s}), 0);
    {
        jet::Connection c;
        c.open(db::plainConnectionString(copy));
        c.execute(u"INSERT INTO 入退院情報 (カルテID) VALUES (1)"_s);
    }
    jet::releasePooledHandles(copy);
    EXPECT_EQ(run({u"check"_s, copy}), 1);
    EXPECT_EQ(run({u"check"_s, dir.filePath(u"missing.mdb"_s)}, &errors), 1);
    EXPECT_EQ(errors.count(u'\n'), 1);
}

} // namespace
