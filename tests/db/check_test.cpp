#include "db/check.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/location.h"
#include "db/schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

void execute(const QString &path, const QStringList &statements)
{
    {
        jet::Connection c;
        c.open(db::plainConnectionString(path));
        for (const QString &sql : statements)
            c.execute(sql);
    }
    jet::releasePooledHandles(path);
}

TEST(Check, FindsEpisodesWithoutCompanionRowsAndCodeReferencesToMissingRows)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"norva2000.mdb"_s);
    db::createDatabase(path, db::Generation::V2112);
    // The first episode is whole; the second lacks its diagnosis row, the third both rows.
    execute(path, {u"INSERT INTO 患者情報 (カルテID) VALUES (7)"_s, u"INSERT INTO 入退院情報 (カルテID) VALUES (7)"_s,
                   u"INSERT INTO 入退院情報 (カルテID) VALUES (7)"_s, u"INSERT INTO 入退院情報 (カルテID) VALUES (7)"_s,
                   u"INSERT INTO 検査情報 (入退院ID) VALUES (1)"_s, u"INSERT INTO 診断情報 (入退院ID) VALUES (1)"_s,
                   u"INSERT INTO 検査情報 (入退院ID) VALUES (2)"_s});
    db::CheckReport report = db::checkDatabase(path);
    EXPECT_EQ(report.generation, u"2.112"_s);
    EXPECT_EQ(report.integrity, QStringList{u"ok"_s});
    EXPECT_EQ(report.episodesWithoutCompanions, (QList<qint64>{2, 3}));
    EXPECT_TRUE(report.danglingReferences.isEmpty());
    ASSERT_EQ(report.counts.size(), 5);
    EXPECT_EQ(report.counts.at(1).table + QString::number(report.counts.at(1).rows), u"入退院情報3"_s);
    EXPECT_FALSE(report.sound());

    execute(path, {u"DELETE FROM 入退院情報 WHERE 入退院ID > 1"_s, u"DELETE FROM 検査情報 WHERE 入退院ID > 1"_s,
                   u"UPDATE 入退院情報 SET 病室番号 = 99 WHERE 入退院ID = 1"_s});
    report = db::checkDatabase(path);
    EXPECT_TRUE(report.episodesWithoutCompanions.isEmpty());
    ASSERT_EQ(report.danglingReferences.size(), 1);
    const db::CheckReport::DanglingReference &dangling = report.danglingReferences.first();
    EXPECT_EQ(u"%1.%2 %3 %4"_s.arg(dangling.table, dangling.column).arg(dangling.row).arg(dangling.code),
              u"入退院情報.病室番号 1 99"_s);
    EXPECT_FALSE(report.sound());
}

TEST(Check, NamesWhatAFileLacksOfTheGenerationItClaims)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"norva2000.mdb"_s);
    db::createDatabase(path, db::Generation::V2086);
    {
        jet::Catalog catalog;
        catalog.open(db::plainConnectionString(path));
        catalog.createTable(db::versionTable());
    }
    jet::releasePooledHandles(path);
    const db::CheckReport report = db::checkDatabase(path);
    EXPECT_EQ(report.generation, u"2.112"_s);
    EXPECT_TRUE(report.missing.contains(u"バージョン"_s));
    EXPECT_TRUE(report.missing.contains(u"時間外頻度"_s));
    EXPECT_TRUE(report.missing.contains(u"入退院情報.外入の別"_s));
    EXPECT_FALSE(report.sound());
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
    QString output, errors;
    const auto run = [&](const QStringList &arguments) {
        QProcess process;
        process.start(tool, arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        output = QString::fromUtf8(process.readAllStandardOutput());
        errors = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    ASSERT_EQ(run({u"create"_s, path, u"--generation"_s, u"2.086"_s}), 0);
    EXPECT_EQ(run({u"check"_s, path}), 0);
    EXPECT_TRUE(output.contains(path + u": schema generation 2.086"_s));
    EXPECT_EQ(output.count(u'\n'), output.count(path + u": "_s)) << "every line names the file";
    EXPECT_EQ(run({u"backup"_s, path, copy}), 0);
    execute(copy, {u"INSERT INTO 入退院情報 (カルテID) VALUES (1)"_s});
    for (const QStringList &refused : {QStringList{u"backup"_s, path, copy}, {u"backup"_s, path, path, u"--force"_s},
                                       {u"check"_s, dir.filePath(u"missing.mdb"_s)}}) {
        EXPECT_EQ(run(refused), 1) << refused.join(u' ').toStdString();
        EXPECT_EQ(errors.count(u'\n'), 1) << errors.toStdString();
    }
    EXPECT_EQ(run({u"check"_s, copy}), 1) << "the unsound copy was replaced";
    EXPECT_EQ(run({u"backup"_s, path, copy, u"--force"_s}), 0);
    EXPECT_EQ(run({u"check"_s, copy}), 0);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).filter(u".part"_s), QStringList());

    // A damaged page: the check lists what SQLite finds, a line each, and
    // still reports, rather than stopping at the first unreadable row.
    QStringList rows;
    for (int chart = 1; chart <= 400; ++chart)
        rows << u"INSERT INTO 患者情報 (カルテID, 氏名) VALUES (%1, '%2')"_s.arg(chart).arg(QString(60, u'名'));
    execute(copy, rows);
    QFile file(copy);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(file.size() - 3 * 4096 + 512);
    file.write(QByteArray(16, '\x5a'));
    file.close();
    EXPECT_EQ(run({u"check"_s, copy}), 1) << errors.toStdString();
    EXPECT_TRUE(output.contains(copy + u": integrity_check: "_s)) << output.toStdString();
    EXPECT_TRUE(output.contains(copy + u": NOT sound"_s)) << output.toStdString();
    EXPECT_EQ(output.count(u'\n'), output.count(copy + u": "_s)) << "every line names the file";
}

} // namespace
