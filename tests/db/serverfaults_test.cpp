#include "db/engine/catalog.h"
#include "db/engine/changewatcher.h"
#include "support/ownserver.h"
#include "support/tempdb.h"
#include "support/testserver.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace testing_support;

namespace {

// The kill harness on a server's database; its last line sums the runs up.
QString crashRuns(const QByteArray &conninfo, const QStringList &arguments)
{
    QProcess harness;
    harness.setProcessChannelMode(QProcess::MergedChannels);
    harness.start(QStringLiteral(NORVA_CRASHTEST), QStringList{u"--location"_s, QString::fromUtf8(conninfo)} + arguments);
    EXPECT_TRUE(harness.waitForFinished(240000));
    const QString output = QString::fromUtf8(harness.readAll());
    EXPECT_EQ(harness.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(harness.exitCode(), 0) << output.toStdString();
    return output;
}

TEST(ServerFaults, AClientKilledDuringItsChangesLeavesEveryCommittedOneWholeAndNoneInPart)
{
    ServerDatabase database(testServerConninfo());
    const QString output = crashRuns(database.conninfo(), {u"--runs"_s, u"10"_s, u"--seed"_s, u"22"_s});
    EXPECT_TRUE(output.contains(u" 0 faults"_s)) << output.toStdString();
    EXPECT_FALSE(output.contains(u" 0 kills inside a change"_s)) << output.toStdString();
}

TEST(ServerFaults, AServerStoppedAtOnceDuringChangesComesBackWithEveryCommittedOneWhole)
{
    OwnServer server;
    ServerDatabase database(server.conninfo());
    // The test server gives up durable commits for speed; a hospital's keeps them.
    database.exec("ALTER DATABASE \"" + database.name() + "\" SET synchronous_commit = on");
    const QString output = crashRuns(database.conninfo(), {u"--runs"_s, u"4"_s, u"--seed"_s, u"22"_s, u"--stop-server"_s,
                                                           server.command(u"crash"_s), u"--start-server"_s,
                                                           server.command(u"restart"_s)});
    EXPECT_TRUE(output.contains(u" 0 faults"_s)) << output.toStdString();
    EXPECT_FALSE(output.contains(u" 0 by a server stop"_s)) << output.toStdString();
}

// What was saved while the server was gone went unheard: once the server is
// back and a window asks, the watch says so and hears the next save again.
TEST(ServerFaults, AChangeWatchComesBackWithItsServer)
{
    OwnServer server;
    ServerDatabase database(server.conninfo());
    database.installJetFunctions();
    database.exec("ALTER DATABASE \"" + database.name() + "\" SET synchronous_commit = on");
    const QString address = u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source= \"%1\";"_s.arg(QString::fromUtf8(database.conninfo()));
    jet::Connection connection;
    connection.open(address);
    jet::Catalog catalog;
    catalog.setActiveConnection(&connection);
    catalog.createTable({u"記録"_s, {jet::ColumnDef{u"名前"_s, jet::DataType::Text, 50}}, {}});
    jet::ChangeWatcher watcher(connection);
    QSignalSpy changed(&watcher, &jet::ChangeWatcher::changed);

    server.crash();
    server.restart();
    QTest::qWait(500);
    EXPECT_EQ(changed.count(), 0);
    watcher.check();
    EXPECT_EQ(changed.count(), 1);
    jet::Connection another;
    another.open(address);
    another.execute(u"INSERT INTO 記録 (名前) VALUES ('山田')"_s);
    EXPECT_TRUE(changed.wait(5000));
}

} // namespace
