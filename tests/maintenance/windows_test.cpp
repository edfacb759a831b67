#include "maintenancefixture.h"
#include "support/labels.h"

#include "app/appfixture.h"
#include "app/frmSelector.h"
#include "app/frmSplash.h"
#include "ledger/frmFindPts.h"
#include "maintenance/frmConv.h"
#include "maintenance/frmConv0.h"
#include "maintenance/frmOptimization.h"
#include "report/launch.h"
#include "report/preview.h"
#include "support/testserver.h"
#include "toolkit/datagrid.h"

#include <QAction>
#include <QPushButton>
#include <QTableView>

using namespace testing_support;
using toolkit::Forms;

namespace {

const QString kTo2086 = QStringLiteral("データベースを ver2.086 にコンバートします。");
const QString kTo2112 = QStringLiteral("データベースを ver2.112 にコンバートします。");

class MaintenanceWindows : public ProgramTest
{
protected:
    // A start as the program makes it: the splash window and its first tick.
    void start()
    {
        app::showWindow(app::window::Splash);
        Forms::find<frmSplash>()->timerTicked();
        settle();
    }

    static void press(toolkit::Form *window, const char *button)
    {
        ASSERT_NE(window, nullptr);
        window->findChild<QPushButton *>(QString::fromLatin1(button))->click();
        settle();
    }

    QByteArray bytes() const
    {
        QFile file(databasePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString workFile() const { return QDir(folder.path()).filePath(QStringLiteral("norva_optimization.mdb")); }
    QString backupFile() const { return QDir(folder.path()).filePath(QStringLiteral("norva2000.old.mdb")); }

    // The all-patient ledger, and the compaction window opened from its tool menu.
    frmOptimization *openCompaction()
    {
        app::showWindow(app::window::AllPatientLedger);
        Forms::find<frmFindPts>()->findChild<QAction *>(QStringLiteral("mnuToolOptimization"))->trigger();
        settle();
        return Forms::find<frmOptimization>();
    }

    int ledgerRows() const
    {
        auto *grid = toolkit::DataGrid::of(Forms::find<frmFindPts>(), QStringLiteral("DataGrid1"));
        return grid ? grid->model()->rowCount() : -1;
    }
};

TEST_F(MaintenanceWindows, OldDatabasePassesThroughBothUpgradesToTheStartMenu)
{
    makeDatabase(db::Generation::Old);
    fillWard(databasePath(), 5);
    start();
    frmConv0 *first = Forms::find<frmConv0>();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("データベースコンバータ ver2.086"));
    EXPECT_EQ(labelText(first, "Label1"), QStringLiteral("コンバート前にデータベースのバックアップをとっておくことをお勧めします。"));
    EXPECT_EQ(first->findChild<QPushButton *>(QStringLiteral("cmdConversion"))->text(), QStringLiteral("コンバートする(&C)"));
    EXPECT_EQ(first->findChild<QPushButton *>(QStringLiteral("Command1"))->text(), QStringLiteral("キャンセル(&Q)"));
    EXPECT_NE(first->findChild<QTableView *>(QStringLiteral("DataGrid1")), nullptr);
    press(first, "cmdConversion");
    EXPECT_EQ(Forms::find<frmConv0>(), nullptr);

    ASSERT_NE(Forms::find<frmSplash>(), nullptr) << "the splash window probes again";
    Forms::find<frmSplash>()->timerTicked();
    settle();
    frmConv *second = Forms::find<frmConv>();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->windowTitle(), QStringLiteral("データベースコンバータ ver2.112"));
    EXPECT_NE(second->findChild<QTableView *>(QStringLiteral("DataGrid2")), nullptr);
    press(second, "cmdConversion");

    ASSERT_NE(Forms::find<frmSplash>(), nullptr);
    Forms::find<frmSplash>()->timerTicked();
    passLogin();
    ASSERT_NE(Forms::find<frmSelector>(), nullptr);
    EXPECT_EQ(labelText(Forms::find<frmSelector>(), "Label4"), QStringLiteral("2.112"));
    // The upgraded file has no certificate records yet, and is offered them last.
    const QStringList texts = boxTexts();
    ASSERT_EQ(texts.size(), 3) << texts.join(u" / ").toStdString();
    EXPECT_EQ(texts.mid(0, 2), (QStringList{kTo2086, kTo2112}));
    EXPECT_TRUE(texts.at(2).startsWith(QStringLiteral("このデータベースには、現行の様式の診断書")));
    EXPECT_FALSE(exitStatus.has_value());
}

TEST_F(MaintenanceWindows, CancelEndsTheProgramWithTheFileUntouchedAndTheNextStartOffersTheSameUpgrade)
{
    for (const db::Generation generation : {db::Generation::Old, db::Generation::V2086}) {
        SCOPED_TRACE(int(generation));
        SetUp();
        makeDatabase(generation);
        const QByteArray before = bytes();
        const QString announcement = generation == db::Generation::Old ? kTo2086 : kTo2112;
        start();
        press(Forms::loaded().value(0), "Command1");
        EXPECT_EQ(exitStatus, 0);
        EXPECT_TRUE(Forms::loaded().isEmpty());
        EXPECT_EQ(bytes(), before);
        start();
        EXPECT_EQ(boxTexts(), (QStringList{announcement, announcement}));
        TearDown();
        QFile::remove(databasePath());
    }
}

// The placeholder row of the diagnoses is gone, so the upgrade fails at its
// ninth step: the fatal error box instead of an uncaught error, and nothing
// of the steps before it stays.
TEST_F(MaintenanceWindows, FailedUpgradeShowsTheFatalBoxAndLeavesTheFileForTheSameUpgradeAgain)
{
    makeDatabase(db::Generation::Old);
    fillWard(databasePath(), 3);
    scalar(databasePath(), QStringLiteral("DELETE FROM \"診断名(ICD10)\" WHERE 診断ID = 1"));
    const QString before = fingerprint(databasePath());
    start();
    press(Forms::find<frmConv0>(), "cmdConversion");
    EXPECT_EQ(boxTexts(), (QStringList{kTo2086, kFatalText}));
    EXPECT_EQ(exitStatus, 1);
    EXPECT_EQ(fingerprint(databasePath()), before);
}

// What an older program's run broken off after adding the outpatient flag
// and the out-of-hours column left: the user is told the file was upgraded
// already, the upgrade adds what is missing (the out-of-hours default through
// the engine's own statement), and the program goes on to the start menu,
// never to this upgrade again.
TEST_F(MaintenanceWindows, FileWithSomeOfTheColumnsButNoVersionTableIsCompletedAndReachesTheStartMenu)
{
    makeDatabase(db::Generation::V2086);
    fillWard(databasePath(), 20);
    jet::Catalog catalog;
    catalog.open(db::plainConnectionString(databasePath()));
    for (const db::AddedColumn &added : db::columnsAddedBy2112().mid(0, 2))
        catalog.appendColumn(added.table, added.column);
    catalog.close();
    jet::releasePooledHandles(databasePath());

    start();
    press(Forms::find<frmConv>(), "cmdConversion");
    ASSERT_EQ(platform->boxes().size(), 2);
    EXPECT_EQ(platform->boxes().at(1).request.title, QStringLiteral("エラー"));
    EXPECT_EQ(platform->boxes().at(1).request.text, QStringLiteral("該当データベースはバージョンアップ済みです。"));
    EXPECT_EQ(platform->boxes().at(1).request.icon, toolkit::MessageIcon::Critical);
    ASSERT_NE(Forms::find<frmSplash>(), nullptr);
    Forms::find<frmSplash>()->timerTicked();
    passLogin();
    ASSERT_NE(Forms::find<frmSelector>(), nullptr);
    EXPECT_EQ(labelText(Forms::find<frmSelector>(), "Label4"), QStringLiteral("2.112"));
    EXPECT_FALSE(exitStatus.has_value());

    EXPECT_EQ(scalar(databasePath(), QStringLiteral("SELECT count(*) FROM \"時間外頻度\"")), QStringLiteral("10"));
    EXPECT_EQ(scalar(databasePath(), QStringLiteral("SELECT count(*) FROM \"32条診断書\" WHERE 他の医師 = 0 AND 初診日 IS NULL")),
              QStringLiteral("20"));
    scalar(databasePath(), QStringLiteral("INSERT INTO \"入退院情報\" (カルテID) VALUES (1)"));
    EXPECT_EQ(scalar(databasePath(), QStringLiteral("SELECT group_concat(ifnull(時間外頻度, '-')) FROM \"入退院情報\" WHERE カルテID = 1")),
              QStringLiteral("-,-,1"));
}

TEST_F(MaintenanceWindows, CompactionReplacesTheLedgerAndShowsItAgainWithEveryRow)
{
    makeDatabase(db::Generation::V2112);
    fillWard(databasePath(), 40);
    // A check sheet left open holds its rows on the file until it is closed.
    QPointer<report::Preview> sheet =
        report::showDocument(QStringLiteral("rptAdmPsy1"), {}, QStringLiteral("入院精神療法（４週間以内）"), {}, false);
    ASSERT_FALSE(sheet.isNull());
    frmOptimization *window = openCompaction();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Forms::find<frmFindPts>(), nullptr) << "the ledger closes its connection first";
    EXPECT_EQ(window->windowTitle(), QStringLiteral("データベース最適化"));
    EXPECT_EQ(labelText(window, "Label1"), QStringLiteral("最適化するとデータベースがコンパクトになりアクセスが速くなります。"));
    EXPECT_EQ(window->findChild<QPushButton *>(QStringLiteral("Command1"))->text(), QStringLiteral("最適化する(&O)"));
    EXPECT_EQ(window->findChild<QPushButton *>(QStringLiteral("Command2"))->text(), QStringLiteral("キャンセル(&Q)"));
    EXPECT_EQ(testing_support::narrowLabels(window), QStringList());

    const QString before = fingerprint(databasePath());
    press(window, "Command1");
    EXPECT_EQ(Forms::find<frmOptimization>(), nullptr);
    ASSERT_NE(Forms::find<frmFindPts>(), nullptr);
    EXPECT_EQ(ledgerRows(), 80);
    EXPECT_TRUE(sheet.isNull() || !sheet->isVisible());
    EXPECT_EQ(fingerprint(backupFile()), before);
    EXPECT_FALSE(QFile::exists(workFile()));
    ASSERT_EQ(platform->boxes().size(), 1);
    EXPECT_TRUE(platform->boxes().first().request.text.endsWith(QDir::toNativeSeparators(backupFile())));

    // Cancelling touches no file.
    const QByteArray compacted = bytes();
    press(openCompaction(), "Command2");
    ASSERT_NE(Forms::find<frmFindPts>(), nullptr);
    EXPECT_EQ(bytes(), compacted);
    EXPECT_FALSE(exitStatus.has_value());
}

// An idle shell that has read the file is enough to refuse the compaction;
// the box says why and the program goes on.
TEST_F(MaintenanceWindows, CompactionRefusedWhileAnotherProgramHasTheFileOpenSaysWhyAndTheProgramGoesOn)
{
    makeDatabase(db::Generation::V2112);
    const QString before = fingerprint(databasePath());
    sqlite3 *shell = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(databasePath()).constData(), &shell), SQLITE_OK);
    sqlite3_exec(shell, QStringLiteral("PRAGMA key = '%1'; SELECT count(*) FROM sqlite_master;")
                            .arg(db::databasePassword()).toUtf8().constData(), nullptr, nullptr, nullptr);
    frmOptimization *window = openCompaction();
    press(window, "Command1");
    ASSERT_EQ(platform->boxes().size(), 1);
    const QString text = platform->boxes().first().request.text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("データベースを最適化できませんでした。"))) << text.toStdString();
    EXPECT_TRUE(text.contains(databasePath()) && text.contains(QStringLiteral("ほかのプログラムが開いています")))
        << text.toStdString();
    EXPECT_FALSE(exitStatus.has_value());
    press(window, "Command2");
    ASSERT_NE(Forms::find<frmFindPts>(), nullptr);
    sqlite3_close(shell);
    EXPECT_EQ(fingerprint(databasePath()), before);
    EXPECT_FALSE(QFile::exists(backupFile()));
}

// On a server the same window has the server vacuum and analyse every
// table where it stands; no file is written.
TEST_F(MaintenanceWindows, CompactionOnAServerVacuumsEveryTableAndWritesNoFile)
{
    ServerDatabase server(testServerConninfo());
    db::createDatabase(QString::fromUtf8(server.conninfo()), db::Generation::V2112);
    writeLocationFile(QString::fromUtf8(server.conninfo()) + u'\n');
    press(openCompaction(), "Command1");
    ASSERT_NE(Forms::find<frmFindPts>(), nullptr);
    ASSERT_EQ(platform->boxes().size(), 1);
    EXPECT_EQ(platform->boxes().first().request.text, QStringLiteral("データベースを最適化しました。"));
    EXPECT_EQ(server.value("SELECT count(*) FROM pg_stat_user_tables WHERE relname <> 'jet_queries' "
                           "AND (last_vacuum IS NULL OR last_analyze IS NULL)").toInt(), 0);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("norva.txt")});
}

} // namespace
