#include "ledger/frmArrange.h"
#include "db/episodes.h"
#include "support/labels.h"
#include "ledger/frmPts.h"

#include "app/navigation.h"
#include "db/accounts/accounts.h"
#include "db/accounts/extension.h"
#include "db/accounts/serverroles.h"
#include "db/audit.h"
#include "db/engine/postgres/server.h"
#include "db/session.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/schema.h"
#include "support/fixture.h"
#include "support/scripted.h"
#include "support/testserver.h"
#include "toolkit/datagrid.h"
#include "toolkit/form.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class ListOrderTest : public ::testing::Test
{
protected:
    explicit ListOrderTest(testing_support::Backend backend = testing_support::Backend::File) : ward(backend) {}

    void SetUp() override
    {
        program.services->setProgramFolder(folder.path());
        writeLocation(ward.path());
        app::registerWindow<frmPts>(app::window::InpatientLedger);
        app::registerWindow<frmArrange>(app::window::ListOrder);
    }

    void TearDown() override
    {
        app::unregisterWindow(app::window::InpatientLedger);
        app::unregisterWindow(app::window::ListOrder);
    }

    void writeLocation(const QString &databasePath)
    {
        QFile file(QDir(folder.path()).filePath(QStringLiteral("norva.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(databasePath.toUtf8() + "\r\n");
    }

    static frmPts *ledger() { return static_cast<frmPts *>(app::findWindow(app::window::InpatientLedger)); }
    static toolkit::Form *orderWindow() { return app::findWindow(app::window::ListOrder); }

    // From the ledger's tool menu, as the user gets there.
    toolkit::Form &openFromLedger()
    {
        app::showWindow(app::window::InpatientLedger);
        ledger()->findChild<QAction *>(QStringLiteral("mnuToolArrange"))->trigger();
        QCoreApplication::processEvents();
        return *orderWindow();
    }

    static void press(toolkit::Form &window, const char *button)
    {
        window.findChild<QPushButton *>(QString::fromLatin1(button))->click();
        QCoreApplication::processEvents();
    }

    static QList<int> episodes()
    {
        QList<int> ids;
        toolkit::DataGrid *grid = ledger()->DataGrid1();
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            ids << grid->value(row, QStringLiteral("入退院ID")).toInt();
        return ids;
    }

    QString storedText()
    {
        jet::Catalog catalog;
        catalog.setActiveConnection(&ward.connection());
        return catalog.viewText(db::kInpatientListQuery.toString());
    }

    testing_support::WardDatabase ward;
    testing_support::ScriptedProgram program;
    QTemporaryDir folder;
};

TEST_F(ListOrderTest, DescendingHoldsAfterARestart)
{
    toolkit::Form &window = openFromLedger();
    EXPECT_EQ(ledger(), nullptr) << "the ledger leaves while the list is rewritten";
    EXPECT_EQ(window.windowTitle(), QStringLiteral("入院患者の表示切替"));

    press(window, "Command2");
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_EQ(program.services->boxes()[0].request.text, QStringLiteral("台帳のデータ並びを降順にしました。"));
    EXPECT_EQ(program.services->boxes()[0].request.icon, toolkit::MessageIcon::Information);
    EXPECT_EQ(orderWindow(), nullptr);
    ASSERT_NE(ledger(), nullptr);
    // Rooms fall, beds within a room still rise.
    EXPECT_EQ(episodes(), (QList<int>{1, 6, 2}));
    EXPECT_EQ(storedText(), db::inpatientListSql(db::RoomOrder::Descending));

    // A restart: every window gone, the ledger loaded afresh from the file.
    ledger()->unload();
    toolkit::resetProgramState();
    QCoreApplication::processEvents();
    app::showWindow(app::window::InpatientLedger);
    EXPECT_EQ(episodes(), (QList<int>{1, 6, 2}));
    EXPECT_EQ(ledger()->findChild<QLabel *>(QStringLiteral("Label1"))->text(), QStringLiteral("入院患者数 3人"))
        << "the summaries read the rewritten list";
}

TEST_F(ListOrderTest, AscendingRewritesEvenWhenAlreadyAscending)
{
    press(openFromLedger(), "Command2");
    program.services->answerBox(toolkit::MessageResult::Ok);
    press(openFromLedger(), "Command1");
    EXPECT_EQ(program.services->boxes().last().request.text, QStringLiteral("台帳のデータ並びを昇順にしました。"));
    EXPECT_EQ(episodes(), (QList<int>{6, 2, 1}));

    press(openFromLedger(), "Command1");
    EXPECT_EQ(program.services->boxes().last().request.text, QStringLiteral("台帳のデータ並びを昇順にしました。"));
    EXPECT_EQ(storedText(), db::inpatientListSql(db::RoomOrder::Ascending));
}

TEST_F(ListOrderTest, CancelAndEscapeChangeNothing)
{
    const QString before = storedText();
    EXPECT_EQ(testing_support::narrowLabels(&openFromLedger()), QStringList());
    press(openFromLedger(), "Command3");
    EXPECT_EQ(orderWindow(), nullptr);
    ASSERT_NE(ledger(), nullptr);

    toolkit::Form &window = openFromLedger();
    QTest::keyClick(&window, Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(orderWindow(), nullptr);
    ASSERT_NE(ledger(), nullptr);
    EXPECT_EQ(storedText(), before);
    EXPECT_TRUE(program.services->boxes().isEmpty());
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(ListOrderTest, MissingDatabaseEndsTheProgram)
{
    toolkit::Form &window = openFromLedger();
    writeLocation(QDir(folder.path()).filePath(QStringLiteral("missing.mdb")));
    press(window, "Command2");
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_EQ(program.services->boxes()[0].request.title, QStringLiteral("エラー"));
    EXPECT_EQ(program.services->boxes()[0].request.text, QStringLiteral("データベースが見つかりません。"));
    EXPECT_EQ(program.statuses, QList<int>{1});
}

// Another writer holds the file: the rewrite fails half-way, and the list
// must still be there, unchanged, with the window open for cancelling.
TEST_F(ListOrderTest, AFailedRewriteKeepsTheStoredList)
{
    const QString before = storedText();
    toolkit::Form &window = openFromLedger();
    ward.connection().beginTrans();
    ward.connection().execute(QStringLiteral("UPDATE 病院名 SET 病院名 = 'B病院'"));
    press(window, "Command2");
    ward.connection().rollbackTrans();

    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_NE(program.services->boxes()[0].request.text, QStringLiteral("台帳のデータ並びを降順にしました。"));
    EXPECT_TRUE(program.statuses.isEmpty());
    EXPECT_EQ(orderWindow(), &window);
    EXPECT_EQ(storedText(), before);

    press(window, "Command3");
    ASSERT_NE(ledger(), nullptr);
    EXPECT_EQ(episodes(), (QList<int>{6, 2, 1}));
}

class ListOrderOnServer : public ListOrderTest
{
protected:
    ListOrderOnServer() : ListOrderTest(testing_support::Backend::Server) {}
};

// A staff account on a server may not replace a stored query: the window
// says who may and what they run, and keeps the order and itself.
TEST_F(ListOrderOnServer, TheStaffAreToldTheOwnersCommand)
{
    db::audit::extendDatabase(ward.connection());
    accounts::extendDatabase(ward.connection());
    accounts::ServerLogins logins;
    const QString password = QStringLiteral("Shiken-Pass-2026");
    accounts::StaffAccounts(ward.connection(), logins).createFirstAdministrator(QStringLiteral("kanri"), QStringLiteral("管理"), password);
    const auto loggedOff = qScopeGuard([] { jet::setServerLogin({}, {}); db::clearSessionAccount(); });
    jet::setServerLogin(accounts::serverRole(ward.connection(), QStringLiteral("kanri")), password);
    db::setSessionAccount(QStringLiteral("kanri"));
    const QString before = storedText();

    toolkit::Form &window = openFromLedger();
    press(window, "Command2");
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_TRUE(program.services->boxes()[0].request.text.contains(QStringLiteral("norva-db order データベースのアドレス descending")));
    EXPECT_EQ(program.services->boxes()[0].request.icon, toolkit::MessageIcon::Information);
    EXPECT_EQ(orderWindow(), &window);
    EXPECT_EQ(storedText(), before);
}

// The summaries are stored queries over the list: the list is replaced in
// place, on a server as on a file, and they go on reading it.
TEST(ListOrder, IsReplacedInPlaceOnAFileAndOnAServer)
{
    QTemporaryDir folder;
    testing_support::ServerDatabase server(testing_support::testServerConninfo());
    for (const QString &location : {QDir(folder.path()).filePath(QStringLiteral("ward.mdb")), QString::fromUtf8(server.conninfo())}) {
        db::createDatabase(location, db::Generation::V2112);
        db::storeListOrder(location, db::RoomOrder::Descending);
        jet::Connection connection;
        connection.open(db::plainConnectionString(location));
        jet::Catalog catalog;
        catalog.setActiveConnection(&connection);
        EXPECT_EQ(catalog.viewText(db::kInpatientListQuery.toString()), db::inpatientListSql(db::RoomOrder::Descending));
        jet::Recordset summary;
        EXPECT_NO_THROW(summary.open(db::kInpatientCountQuery.toString(), &connection)) << location.toStdString();
    }
}

} // namespace
