#include "db/check.h"
#include "db/copy.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "support/testserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

int runTool(const QStringList &arguments, QString *errors = nullptr)
{
    QProcess process;
    process.start(QDir(QCoreApplication::applicationDirPath()).filePath(u"../tools/norva-db"_s), arguments);
    EXPECT_TRUE(process.waitForFinished(120000));
    if (errors)
        *errors = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Each table's rows counted and summed as the copy checks them.  Two demos
// differ in the password hashes alone, which are salted.
QMap<QString, jet::TableSum> sumsOf(const QString &location, bool withPasswords = true)
{
    QMap<QString, jet::TableSum> sums;
    jet::Connection connection;
    connection.open(db::plainConnectionString(location));
    jet::Catalog catalog;
    catalog.setActiveConnection(&connection);
    for (const QString &table : catalog.tables()) {
        QList<jet::ColumnDef> columns = catalog.columns(table);
        if (!withPasswords)
            columns.removeIf([](const jet::ColumnDef &column) { return column.name == u"パスワード"_s; });
        sums.insert(table, jet::sumTable(connection, table, columns));
    }
    return sums;
}

TEST(ServerLedger, TheDemoOfASeedHoldsTheFilesRowsAndASecondCreateIsRefusedWithoutThePassword)
{
    testing_support::ServerDatabase server(testing_support::testServerConninfo());
    QFile passwords(qEnvironmentVariable("PGPASSFILE"));
    ASSERT_TRUE(passwords.open(QIODevice::ReadOnly));
    const QString password = QString::fromUtf8(passwords.readLine().trimmed()).section(u':', 4);
    const QString location = QString::fromUtf8(server.conninfo()) + u" password='%1'"_s.arg(password);
    QTemporaryDir folder;
    const QStringList demo{u"--patients"_s, u"60"_s, u"--seed"_s, u"5"_s, u"--today"_s, u"2026-03-01"_s};
    ASSERT_EQ(runTool(QStringList{u"demo"_s, folder.filePath(u"demo.mdb"_s)} + demo), 0);
    ASSERT_EQ(runTool(QStringList{u"demo"_s, location} + demo), 0);

    const QMap<QString, jet::TableSum> onServer = sumsOf(location);
    EXPECT_TRUE(sumsOf(location, false) == sumsOf(folder.filePath(u"demo.mdb"_s), false));
    EXPECT_TRUE(db::checkDatabase(location).sound());

    // Creating over it would mix a second ledger into the hospital's.
    QString errors;
    EXPECT_EQ(runTool({u"create"_s, location}, &errors), 1);
    EXPECT_TRUE(errors.contains(u"/"_s + QString::fromUtf8(server.name()))) << errors.toStdString();
    EXPECT_FALSE(password.isEmpty() || errors.contains(password));
    EXPECT_TRUE(sumsOf(location) == onServer);
}

TEST(ServerLedger, ACopyToTheServerAndBackHoldsEveryRowAndKeyAndATargetNotEmptyIsLeftAlone)
{
    testing_support::ServerDatabase server(testing_support::testServerConninfo());
    const QString location = QString::fromUtf8(server.conninfo());
    QTemporaryDir folder;
    const QString file = folder.filePath(u"demo.mdb"_s), back = folder.filePath(u"back.mdb"_s);
    ASSERT_EQ(runTool({u"demo"_s, file, u"--patients"_s, u"300"_s, u"--seed"_s, u"3"_s}), 0);
    ASSERT_EQ(runTool({u"copy"_s, file, location}), 0);
    ASSERT_EQ(runTool({u"copy"_s, location, back}), 0);

    const QMap<QString, jet::TableSum> sums = sumsOf(file);
    EXPECT_GT(sums.value(u"入退院情報"_s).rows, 600);
    EXPECT_TRUE(sumsOf(location) == sums);
    EXPECT_TRUE(sumsOf(back) == sums);
    jet::Catalog original, copy;
    original.open(db::plainConnectionString(file));
    copy.open(db::plainConnectionString(back));
    EXPECT_EQ(copy.views(), original.views());
    EXPECT_EQ(copy.viewText(u"Q_現在入院者リスト"_s), original.viewText(u"Q_現在入院者リスト"_s));
    EXPECT_EQ(copy.indexes(u"入退院情報"_s), original.indexes(u"入退院情報"_s));
    EXPECT_TRUE(db::checkDatabase(location).sound());
    EXPECT_TRUE(db::checkDatabase(back).sound());
    // Its first lists are planned with every table's statistics, a code table's too.
    EXPECT_TRUE(server.value("SELECT bool_and(reltuples >= 0) FROM pg_class WHERE relkind = 'r' "
                             "AND relnamespace = 'public'::regnamespace AND relname <> 'jet_queries'").toBool());
    // A new episode on the server is numbered after the copied ones.
    EXPECT_TRUE(server.value("SELECT nextval(pg_get_serial_sequence('public.\"入退院情報\"', '入退院ID')) "
                             "> (SELECT max(\"入退院ID\") FROM \"入退院情報\")").toBool());

    QString errors;
    EXPECT_EQ(runTool({u"copy"_s, file, location}, &errors), 1);
    EXPECT_TRUE(errors.contains(u"/"_s + QString::fromUtf8(server.name()))) << errors.toStdString();
    EXPECT_TRUE(sumsOf(location) == sums);
    EXPECT_EQ(runTool({u"copy"_s, location, back}, &errors), 1);
    EXPECT_TRUE(errors.contains(back)) << errors.toStdString();
    EXPECT_TRUE(sumsOf(back) == sums);
}

TEST(ServerLedger, ACopyBrokenOffLeavesItsTargetAsItWas)
{
    testing_support::ServerDatabase server(testing_support::testServerConninfo());
    QTemporaryDir folder;
    const QString file = folder.filePath(u"demo.mdb"_s), broken = folder.filePath(u"broken.mdb"_s);
    ASSERT_EQ(runTool({u"demo"_s, file, u"--patients"_s, u"400"_s}), 0);
    // Past the first thousand episodes, in the middle of the server's COPY.
    const jet::CopyProgress breakOff = [](const QString &table, qint64 done, qint64) {
        if (table == u"入退院情報"_s && done > 0)
            throw jet::Error(jet::err::GeneralFailure, u"broken off"_s);
    };
    for (const QString &target : {QString::fromUtf8(server.conninfo()), broken})
        EXPECT_THROW(db::copyDatabase(file, target, breakOff), jet::Error);
    EXPECT_EQ(server.value("SELECT count(*) FROM pg_class WHERE relnamespace = 'public'::regnamespace").toInt(), 0);
    EXPECT_FALSE(QFileInfo::exists(broken));
    EXPECT_NO_THROW(db::copyDatabase(file, QString::fromUtf8(server.conninfo())));
}

TEST(ServerLedger, ABackupOfTheServerIsPgDumpsCustomFormatAndReplacesNoFile)
{
    testing_support::ServerDatabase server(testing_support::testServerConninfo());
    const QString location = QString::fromUtf8(server.conninfo());
    QTemporaryDir folder;
    const QString dump = folder.filePath(u"ledger.dump"_s);
    ASSERT_EQ(runTool({u"demo"_s, location, u"--patients"_s, u"20"_s}), 0);
    ASSERT_EQ(runTool({u"backup"_s, location, dump}), 0);
    QProcess list;
    list.start(u"pg_restore"_s, {u"--list"_s, dump});
    ASSERT_TRUE(list.waitForFinished(60000));
    EXPECT_EQ(list.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(list.readAllStandardOutput()).contains(u"TABLE DATA public 入退院情報"_s));

    QFile written(dump);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray before = written.readAll();
    QString errors;
    EXPECT_EQ(runTool({u"backup"_s, location, dump}, &errors), 1);
    EXPECT_TRUE(errors.contains(dump)) << errors.toStdString();
    written.seek(0);
    EXPECT_EQ(written.readAll(), before);
}

} // namespace
