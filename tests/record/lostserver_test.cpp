#include "record/frmFindPt.h"

#include "app/frmSelector.h"

#include "db/engine/connection.h"
#include "ledger/frmFindPts.h"
#include "db/episodes.h"
#include "recordfixture.h"
#include "support/ownserver.h"
#include "toolkit/form.h"

#include <QAction>
#include <QPushButton>
#include <QTest>

using namespace testing_support;

namespace {

// The ward's windows on a server of its own, with one episode, which is
// stopped under them and started again.
class LostServerTest : public RecordWindowTest
{
protected:
    void SetUp() override
    {
        RecordWindowTest::SetUp();
        // The test servers keep commits in memory for speed; this one is stopped at once.
        database.exec("ALTER DATABASE \"" + database.name() + "\" SET synchronous_commit = on");
        db::createDatabase(location, db::Generation::V2112);
        jet::Connection connection;
        connection.open(db::plainConnectionString(location));
        episode = db::registerEpisode(connection, 1001);
        writeLocation(location);
        registerWindow<frmFindPts>(app::window::AllPatientLedger);
        registerWindow<frmFindPt>(app::window::AllPatientRecord);
    }

    OwnServer server;
    ServerDatabase database{server.conninfo()};
    // As the location file gives it back, so that every connection is to one address.
    const QString location = QString::fromUtf8(database.conninfo()).trimmed();
    const QString where = QStringLiteral("127.0.0.1:") + location.section(QStringLiteral("port='"), 1).section(u'\'', 0, 0);
    qint64 episode = 0;
};

TEST_F(LostServerTest, WhileTheServerIsGoneASaveKeepsTheWindowAndItsTextAndOnceItIsBackStoresThem)
{
    frmFindPt *window = open<frmFindPt>(app::window::AllPatientLedger, episode);
    ASSERT_NE(window, nullptr);
    auto *address = field(window, "Text11");
    QTest::keyClicks(address, QStringLiteral("Sapporo 3-1"));

    server.crash();
    window->findChild<QAction *>(QStringLiteral("mnuFileSave"))->trigger();
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_TRUE(boxes().last().text.startsWith(QStringLiteral("データベースのサーバーに接続できないため、保存できませんでした。")));
    EXPECT_TRUE(boxes().last().text.contains(where)) << boxes().last().text.toStdString();
    // Closing tries again, and keeps the window while the server is still gone.
    EXPECT_FALSE(window->unload());
    EXPECT_EQ(boxes().size(), 2);
    EXPECT_TRUE(boxes().last().text.contains(where)) << boxes().last().text.toStdString();
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

TEST_F(LostServerTest, AWindowOpenedWhileTheServerIsGoneLeavesTheUserWhereTheyWereAndOpensOnceItIsBack)
{
    registerWindow<frmSelector>(app::window::Selector);
    const auto told = [&](qsizetype count) {
        ASSERT_EQ(boxes().size(), count);
        EXPECT_TRUE(boxes().last().text.contains(QStringLiteral("接続できない"))) << boxes().last().text.toStdString();
        EXPECT_TRUE(boxes().last().text.contains(where)) << boxes().last().text.toStdString();
    };
    ASSERT_TRUE(app::showWindow(app::window::Selector));
    frmSelector *menu = toolkit::Forms::find<frmSelector>();

    server.crash();
    menu->findChild<QPushButton *>(QStringLiteral("Command3"))->click();
    told(1);
    EXPECT_EQ(toolkit::Forms::find<frmSelector>(), menu);
    EXPECT_EQ(toolkit::Forms::find<frmFindPts>(), nullptr);
    server.restart();
    menu->findChild<QPushButton *>(QStringLiteral("Command3"))->click();
    QCoreApplication::processEvents();
    frmFindPts *ledger = toolkit::Forms::find<frmFindPts>();
    ASSERT_NE(ledger, nullptr);

    // The record window, a document and the kana search, each refused in turn.
    toolkit::DataGrid *grid = toolkit::DataGrid::of(ledger, QStringLiteral("DataGrid1"));
    grid->setCurrentRow(0);
    emit grid->clicked();
    server.crash();
    ledger->findChild<QAction *>(QStringLiteral("mnuFileOpen"))->trigger();
    told(2);
    ledger->findChild<QAction *>(QStringLiteral("mnuReportAdmSum"))->trigger();
    told(3);
    field(ledger, "Text1")->setText(QStringLiteral("や"));
    ledger->findChild<QPushButton *>(QStringLiteral("cmdFilter"))->click();
    told(4);
    EXPECT_FALSE(toolkit::programHasEnded());
    EXPECT_EQ(toolkit::Forms::find<frmFindPts>(), ledger);
    EXPECT_EQ(toolkit::Forms::find<frmFindPt>(), nullptr);

    server.restart();
    ledger->findChild<QAction *>(QStringLiteral("mnuFileOpen"))->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes().size(), 4) << boxes().last().text.toStdString();
    frmFindPt *record = toolkit::Forms::find<frmFindPt>();
    ASSERT_NE(record, nullptr);

    // Closing it keeps it while its ledger cannot come back.
    server.crash();
    EXPECT_FALSE(record->unload());
    told(5);
    server.restart();
    EXPECT_TRUE(record->unload());
    EXPECT_NE(toolkit::Forms::find<frmFindPts>(), nullptr);
}

} // namespace
