#include "record/frmFindPt.h"

#include "db/engine/connection.h"
#include "ledger/frmFindPts.h"
#include "db/episodes.h"
#include "recordfixture.h"
#include "support/ownserver.h"
#include "toolkit/form.h"

#include <QAction>
#include <QTest>

using namespace testing_support;

namespace {

// A record window on a server of its own, which is stopped under it and
// started again.
class LostServerTest : public RecordWindowTest
{
};

TEST_F(LostServerTest, WhileTheServerIsGoneASaveKeepsTheWindowAndItsTextAndOnceItIsBackStoresThem)
{
    OwnServer server;
    ServerDatabase database(server.conninfo());
    // The test servers keep commits in memory for speed; this one is stopped at once.
    database.exec("ALTER DATABASE \"" + database.name() + "\" SET synchronous_commit = on");
    // As the location file gives it back, so that every connection is to one address.
    const QString location = QString::fromUtf8(database.conninfo()).trimmed();
    db::createDatabase(location, db::Generation::V2112);
    qint64 episode = 0;
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(location));
        episode = db::registerEpisode(connection, 1001);
    }
    writeLocation(location);
    registerWindow<frmFindPts>(app::window::AllPatientLedger);
    registerWindow<frmFindPt>(app::window::AllPatientRecord);
    frmFindPt *window = open<frmFindPt>(app::window::AllPatientLedger, episode);
    ASSERT_NE(window, nullptr);
    auto *address = field(window, "Text11");
    QTest::keyClicks(address, QStringLiteral("Sapporo 3-1"));

    server.crash();
    window->findChild<QAction *>(QStringLiteral("mnuFileSave"))->trigger();
    const QString port = QString::fromUtf8(database.conninfo()).section(QStringLiteral("port='"), 1).section(u'\'', 0, 0);
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_TRUE(boxes().last().text.startsWith(QStringLiteral("データベースのサーバーに接続できないため、保存できませんでした。")));
    EXPECT_TRUE(boxes().last().text.contains(QStringLiteral("127.0.0.1:") + port)) << boxes().last().text.toStdString();
    // Closing tries again, and keeps the window while the server is still gone.
    EXPECT_FALSE(window->unload());
    EXPECT_EQ(boxes().size(), 2);
    EXPECT_TRUE(boxes().last().text.contains(QStringLiteral("127.0.0.1:") + port)) << boxes().last().text.toStdString();
    EXPECT_FALSE(toolkit::programHasEnded());
    EXPECT_EQ(toolkit::Forms::find<frmFindPt>(), window);
    EXPECT_EQ(address->text(), QStringLiteral("Sapporo 3-1"));

    server.restart();
    window->findChild<QAction *>(QStringLiteral("mnuFileSave"))->trigger();
    EXPECT_EQ(boxes().size(), 2) << boxes().last().text.toStdString();
    jet::Connection reading;
    reading.open(db::plainConnectionString(location));
    jet::Recordset stored;
    stored.open(QStringLiteral("SELECT 住所 FROM 患者情報 WHERE カルテID = 1001"), &reading);
    EXPECT_EQ(stored.value(0).toString(), QStringLiteral("Sapporo 3-1"));
    stored.close();

    // A server that went and came back between two saves is not even noticed.
    server.crash();
    server.restart();
    QTest::keyClick(address, Qt::Key_End);
    QTest::keyClicks(address, QStringLiteral("-2"));
    window->findChild<QAction *>(QStringLiteral("mnuFileSave"))->trigger();
    EXPECT_EQ(boxes().size(), 2);
    stored.open(QStringLiteral("SELECT 住所 FROM 患者情報 WHERE カルテID = 1001"), &reading);
    EXPECT_EQ(stored.value(0).toString(), QStringLiteral("Sapporo 3-1-2"));
    stored.close();
    reading.close();
    EXPECT_TRUE(window->unload());
}

} // namespace
