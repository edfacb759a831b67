#include "ledger/frmPts.h"
#include "support/labels.h"

#include "app/navigation.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "db/schema.h"
#include "options/frmOptions.h"
#include "report/preview.h"
#include "support/fixture.h"
#include "support/otherprocess.h"
#include "support/scripted.h"
#include "toolkit/datagrid.h"
#include "toolkit/form.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QHeaderView>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <optional>

namespace {

// Stands in for the record window: what it saw of the ledger while loading.
class RecordWindow : public toolkit::Form
{
public:
    RecordWindow() { new QLineEdit(this); findChild<QLineEdit *>()->setObjectName(QStringLiteral("Text1")); }
    static inline std::optional<QString> keySeen;

protected:
    void onLoad() override
    {
        auto *ledger = static_cast<frmPts *>(app::findWindow(app::window::InpatientLedger));
        keySeen = ledger ? std::optional<QString>(ledger->currentEpisodeKey()) : std::nullopt;
    }
};
class OutpatientLedger : public toolkit::Form {};
class AllPatientLedger : public toolkit::Form {};

class InpatientLedgerTest : public ::testing::Test
{
protected:
    explicit InpatientLedgerTest(testing_support::Backend backend = testing_support::Backend::File) : ward(backend) {}

    void SetUp() override
    {
        program.services->setProgramFolder(folder.path());
        writeLocation(ward.path());
        app::registerWindow<frmPts>(app::window::InpatientLedger);
        app::registerWindow<RecordWindow>(app::window::InpatientRecord);
        app::registerWindow<OutpatientLedger>(app::window::OutpatientLedger);
        app::registerWindow<AllPatientLedger>(app::window::AllPatientLedger);
        RecordWindow::keySeen.reset();
    }

    void TearDown() override
    {
        for (const QString &name : {app::window::InpatientLedger, app::window::InpatientRecord, app::window::OutpatientLedger,
                                    app::window::AllPatientLedger})
            app::unregisterWindow(name);
    }

    void writeLocation(const QString &databasePath)
    {
        QFile file(QDir(folder.path()).filePath(QStringLiteral("norva.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(databasePath.toUtf8() + "\r\n");
    }

    static frmPts &shown()
    {
        app::showWindow(app::window::InpatientLedger);
        return *static_cast<frmPts *>(app::findWindow(app::window::InpatientLedger));
    }

    static QList<int> episodes(frmPts &ledger)
    {
        QList<int> ids;
        toolkit::DataGrid *grid = ledger.DataGrid1();
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            ids << grid->value(row, QStringLiteral("入退院ID")).toInt();
        return ids;
    }

    static QAction *item(frmPts &ledger, const char *name)
    {
        auto *action = ledger.findChild<QAction *>(QString::fromLatin1(name));
        EXPECT_NE(action, nullptr) << name;
        return action;
    }

    static QString label(frmPts &ledger, const char *name)
    {
        return ledger.findChild<QLabel *>(QString::fromLatin1(name))->text();
    }

    static QStringList namesIn(const QMenu *menu)
    {
        QStringList names;
        for (const QAction *action : menu->actions())
            names << (action->menu() ? action->menu()->objectName() : action->objectName());
        return names;
    }

    testing_support::WardDatabase ward;
    testing_support::ScriptedProgram program;
    QTemporaryDir folder;
};

using InpatientLedger = testing_support::OnBothBackends<InpatientLedgerTest>;
INSTANTIATE_TEST_SUITE_P(Ward, InpatientLedger,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

// Today is 1 April 2003: episode 1 came in a week ago, 2 leaves today, 3 left
// yesterday, 4 comes tomorrow, 8 lies on a bed code that names no bed.  Rooms
// "305" (ID 2) and "201" (ID 3) and beds "2" (ID 2) and "1" (ID 3) are numbered
// against their IDs, so only an order by the texts gives 6, 2, 1.
TEST_P(InpatientLedger, ListsTodaysInpatientsByRoomAndBedText)
{
    frmPts &ledger = shown();
    EXPECT_EQ(testing_support::narrowLabels(&ledger), QStringList());
    EXPECT_EQ(episodes(ledger), (QList<int>{6, 2, 1}));
    EXPECT_EQ(ledger.DataGrid1()->value(0, QStringLiteral("病室番号")).toString(), QStringLiteral("201"));
    EXPECT_EQ(label(ledger, "Label1"), QStringLiteral("入院患者数 3人"));

    ward.connection().execute(QStringLiteral("UPDATE 病室番号 SET 病室番号 = '101' WHERE 病室ID = 2"));
    EXPECT_EQ(episodes(ledger), (QList<int>{6, 2, 1})) << "the list is that of the load";
    ledger.unload();
    EXPECT_EQ(episodes(shown()), (QList<int>{1, 6, 2}));
}

// Another workstation moves a patient to another room and discharges one:
// the ledger follows without being asked, on the same patient.
TEST_P(InpatientLedger, ShowsAnotherWorkstationsSaveOnTheSamePatient)
{
    frmPts &ledger = shown();
    ledger.DataGrid1()->setCurrentRow(1);
    ASSERT_EQ(ledger.currentEpisodeKey(), QStringLiteral("2"));

    testing_support::saveInAnotherProcess(ward.path(), QStringLiteral(
        "UPDATE \"病室番号\" SET \"病室番号\" = '101' WHERE \"病室ID\" = 2; DELETE FROM \"入退院情報\" WHERE \"入退院ID\" = 6"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return episodes(ledger) == QList<int>{1, 2}; }, 5000)) << episodes(ledger).size();
    EXPECT_EQ(ledger.currentEpisodeKey(), QStringLiteral("2"));
    EXPECT_EQ(label(ledger, "Label1"), QStringLiteral("入院患者数 2人"));
}

TEST_F(InpatientLedgerTest, GridFrameAndMenusAsDesigned)
{
    frmPts &ledger = shown();
    const QList<toolkit::GridColumn> columns = ledger.DataGrid1()->model()->columns();
    QStringList captions;
    for (const toolkit::GridColumn &column : columns)
        captions << column.caption;
    EXPECT_EQ(captions, (QStringList{"病室", "カルテID", "氏名", "入院日", "一時診断名", "入退院ID"}));
    EXPECT_TRUE(ledger.DataGrid1()->view()->isColumnHidden(5));
    EXPECT_FALSE(ledger.DataGrid1()->view()->isColumnHidden(4));
    EXPECT_EQ(ledger.DataGrid1()->caption(), QStringLiteral("詳細を開きたい患者のところでダブルクリック"));
    EXPECT_EQ(ledger.findChild<QGroupBox *>(QStringLiteral("Frame1"))->title(),
              QStringLiteral("入院中の患者　（病室番号の順）"));

    QStringList bar;
    for (const QAction *action : ledger.menuBar()->actions())
        bar << action->text();
    EXPECT_EQ(bar, (QStringList{"患者(&F)", "表示と印刷(&P)", "ツール(&T)", "移動(&M)", "ヘルプ(&H)"}));
    EXPECT_EQ(namesIn(ledger.findChild<QMenu *>(QStringLiteral("mnuFile"))),
              (QStringList{"mnuFileOpen", "mnuFileNew", "mnuFileStep", "mnuFileLogOff", "mnuFileSwitchUser",
                           "mnuFilePassword", "mnuFileSessionStep", "mnuFileClose"}));
    EXPECT_EQ(namesIn(ledger.findChild<QMenu *>(QStringLiteral("mnuReport"))),
              (QStringList{"mnuReportAdm", "mnuReportAdmPsy", "mnuReportTreatment", "mnuReportStep", "mnuReportAdmSum",
                           "mnuReportAdmissionPlan", "mnuReportDischargePlan", "mnuReportDischargeHis"}));
    EXPECT_EQ(namesIn(ledger.findChild<QMenu *>(QStringLiteral("mnuTool"))),
              (QStringList{"mnuToolDx", "mnuToolDrug", "mnuTool32", "mnuToolStep", "mnuToolData", "frmToolOptions",
                           "mnuToolArrange"}));
    EXPECT_EQ(namesIn(ledger.findChild<QMenu *>(QStringLiteral("mnuMove"))),
              (QStringList{"mnuMoveAdm", "mnuMoveAmbu", "mnuMoveAll"}));
    for (const char *step : {"mnuFileStep", "mnuReportStep", "mnuToolStep", "mnuHelpStep"}) {
        EXPECT_TRUE(item(ledger, step)->isSeparator());
        EXPECT_TRUE(item(ledger, step)->text().isEmpty()) << "no stray text beside the line";
    }
    EXPECT_EQ(item(ledger, "mnuFileNew")->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    EXPECT_EQ(item(ledger, "mnuToolDataEx")->shortcut(), QKeySequence(QStringLiteral("Ctrl+E")));
    EXPECT_EQ(item(ledger, "mnuMoveAll")->shortcut(), QKeySequence(QStringLiteral("Ctrl+A")));
    EXPECT_FALSE(item(ledger, "mnuToolDrug")->isEnabled());
    EXPECT_FALSE(item(ledger, "mnuToolDataIm")->isEnabled());
    EXPECT_FALSE(item(ledger, "mnuTool32")->isVisible());
    EXPECT_TRUE(item(ledger, "mnuMoveAdm")->isChecked());
    EXPECT_FALSE(item(ledger, "mnuMoveAdm")->isEnabled());
    EXPECT_TRUE(item(ledger, "mnuMoveAmbu")->isEnabled());
}

TEST_P(InpatientLedger, EmptyListKeepsTheSummaryCaptions)
{
    ward.connection().execute(QStringLiteral("DELETE FROM 入退院情報"));
    frmPts &ledger = shown();
    EXPECT_TRUE(episodes(ledger).isEmpty());
    EXPECT_EQ(label(ledger, "Label1"), QStringLiteral("入院患者数 0人"));
    EXPECT_EQ(label(ledger, "Label2"), QStringLiteral("平均年齢")) << "the caption stays without a figure";
    EXPECT_EQ(label(ledger, "Label3"), QStringLiteral("平均在院日数"));
    EXPECT_FALSE(item(ledger, "mnuFileOpen")->isEnabled());
    emit ledger.DataGrid1()->clicked();
    EXPECT_TRUE(item(ledger, "mnuFileOpen")->isEnabled());
}

TEST_P(InpatientLedger, TitleIsTheHospitalNameAsAtLoad)
{
    frmPts &ledger = shown();
    EXPECT_EQ(ledger.windowTitle(), QStringLiteral("A病院 - ネモリア （入院中の患者）"));
    frmOptions *options = toolkit::Forms::find<frmOptions>();
    ASSERT_NE(options, nullptr);
    EXPECT_FALSE(options->isVisible());

    ward.connection().execute(QStringLiteral("UPDATE 病院名 SET 病院名 = 'B病院'"));
    EXPECT_EQ(ledger.windowTitle(), QStringLiteral("A病院 - ネモリア （入院中の患者）"));
    ledger.unload();
    EXPECT_EQ(toolkit::Forms::find<frmOptions>(), nullptr);
    EXPECT_EQ(shown().windowTitle(), QStringLiteral("B病院 - ネモリア （入院中の患者）"));
}

TEST_F(InpatientLedgerTest, OpeningARowLoadsTheRecordOverTheLedger)
{
    frmPts &ledger = shown();
    ledger.DataGrid1()->setCurrentRow(1);
    QAbstractItemView *view = ledger.DataGrid1()->view();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 1)).center());
    ASSERT_TRUE(item(ledger, "mnuFileOpen")->isEnabled());
    item(ledger, "mnuFileOpen")->trigger();
    QCoreApplication::processEvents();

    EXPECT_EQ(RecordWindow::keySeen, std::optional<QString>(QStringLiteral("2")));
    EXPECT_EQ(app::findWindow(app::window::InpatientLedger), nullptr);
    toolkit::Form *record = app::findWindow(app::window::InpatientRecord);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->findChild<QLineEdit *>(QStringLiteral("Text1"))->text(), QStringLiteral("2"));
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(InpatientLedgerTest, DoubleClickOpensTheRowClicked)
{
    frmPts &ledger = shown();
    QAbstractItemView *view = ledger.DataGrid1()->view();
    const QPoint cell = view->visualRect(view->model()->index(2, 1)).center();
    // A double click is a click first, as the desktop delivers it.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell);
    QCoreApplication::processEvents();
    EXPECT_EQ(RecordWindow::keySeen, std::optional<QString>(QStringLiteral("1")));
    EXPECT_EQ(app::findWindow(app::window::InpatientLedger), nullptr);
}

TEST_F(InpatientLedgerTest, ClosingEndsTheProgramAndMovingDoesNot)
{
    item(shown(), "mnuMoveAmbu")->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(app::findWindow(app::window::InpatientLedger), nullptr);
    EXPECT_NE(app::findWindow(app::window::OutpatientLedger), nullptr);
    EXPECT_TRUE(program.statuses.isEmpty());
    app::unloadWindow(app::window::OutpatientLedger);
    QCoreApplication::processEvents();
    program.statuses.clear();

    item(shown(), "mnuFileClose")->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(app::findWindow(app::window::InpatientLedger), nullptr);
    EXPECT_EQ(toolkit::Forms::find<frmOptions>(), nullptr);
    EXPECT_EQ(program.statuses, QList<int>{0});
}

TEST_P(InpatientLedger, OpeningUnderAKanaFilterTakesTheFilteredRow)
{
    frmPts &ledger = shown();
    ledger.findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(QStringLiteral("た"));
    ledger.findChild<QPushButton *>(QStringLiteral("cmdFilter"))->click();
    ASSERT_EQ(episodes(ledger), QList<int>{2});
    ledger.DataGrid1()->setCurrentRow(0);
    emit ledger.DataGrid1()->clicked();
    item(ledger, "mnuFileOpen")->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(RecordWindow::keySeen, std::optional<QString>(QStringLiteral("2")));
}

TEST_P(InpatientLedger, NewEpisodeFromTheLedgerLeavesIt)
{
    program.services->answerInput(QStringLiteral("1001"));
    item(shown(), "mnuFileNew")->trigger();
    QCoreApplication::processEvents();
    jet::Recordset rows;
    rows.open(QStringLiteral("SELECT * FROM 入退院情報 WHERE カルテID = 1001"), &ward.connection());
    EXPECT_EQ(rows.recordCount(), 2);
    EXPECT_EQ(app::findWindow(app::window::InpatientLedger), nullptr);
    EXPECT_NE(app::findWindow(app::window::AllPatientLedger), nullptr);
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(InpatientLedgerTest, LoadFailuresEndTheProgram)
{
    const QString path = QDir(folder.path()).filePath(QStringLiteral("missing.mdb"));
    writeLocation(path);
    app::showWindow(app::window::InpatientLedger); // the window is gone again when its load fails
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_EQ(program.services->boxes()[0].request.text,
              QStringLiteral("データベース norva2000.mdb の取得に失敗しました。\rデータベース '%1' を開けません。ファイルが見つかりません。").arg(path));
    EXPECT_EQ(program.statuses, QList<int>{1});
}

TEST_F(InpatientLedgerTest, MissingListQueryGivesTheFatalBox)
{
    jet::Catalog catalog;
    catalog.setActiveConnection(&ward.connection());
    catalog.deleteView(db::kInpatientListQuery.toString());
    app::showWindow(app::window::InpatientLedger);
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_EQ(program.services->boxes()[0].request.text,
              QStringLiteral("問題が発生したため、ネモリアを終了します。\nご不便をおかけして申し訳ありません。"));
    EXPECT_EQ(program.statuses, QList<int>{1});
}

// The title a modal preview shows when the action opens one, closing it.
QString modalPreviewTitle(QAction *action)
{
    QString title;
    QObject call; // a timer that found no preview dies with the call
    QTimer::singleShot(0, &call, [&title] {
        if (auto *preview = qobject_cast<report::Preview *>(QApplication::activeModalWidget())) {
            title = preview->windowTitle();
            preview->reject();
        }
    });
    action->trigger();
    return title;
}

QList<report::Preview *> openPreviews()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QList<report::Preview *> previews;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *preview = qobject_cast<report::Preview *>(window); preview && preview->isVisible())
            previews << preview;
    std::sort(previews.begin(), previews.end(),
              [](const report::Preview *a, const report::Preview *b) { return a->windowTitle() < b->windowTitle(); });
    return previews;
}

TEST_F(InpatientLedgerTest, TheVoucherIsHeadedAndTitledWithTheInstitution)
{
    frmPts &ledger = shown();
    EXPECT_EQ(modalPreviewTitle(item(ledger, "mnuReportTreatment")), QStringLiteral("A病院　精神科　処置伝票"));
    EXPECT_TRUE(program.services->boxes().isEmpty());
    EXPECT_TRUE(program.statuses.isEmpty());
}

// The three sheets stay open beside the ledger, each once however often it
// is asked for; a failed print of the third closes all three, of another
// only tells the user.
TEST_P(InpatientLedger, TheCheckSheetsOpenSideBySideOnceEach)
{
    frmPts &ledger = shown();
    item(ledger, "mnuReportAdmPsy")->trigger();
    item(ledger, "mnuReportAdmPsy")->trigger();
    QList<report::Preview *> sheets = openPreviews();
    ASSERT_EQ(sheets.size(), 3);
    EXPECT_EQ(sheets[0]->windowTitle(), QStringLiteral("入院精神療法（３ヶ月以上）"));
    EXPECT_EQ(sheets[1]->windowTitle(), QStringLiteral("入院精神療法（４週間以内）"));
    EXPECT_EQ(sheets[2]->windowTitle(), QStringLiteral("入院精神療法（５週間から３ヶ月以内）"));
    EXPECT_FALSE(sheets[0]->isModal());
    EXPECT_TRUE(ledger.isEnabled());

    program.services->setPrintFile(QStringLiteral("/nonexistent/folder/sheet.pdf"));
    EXPECT_FALSE(sheets[1]->print());
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_TRUE(program.services->boxes().first().request.text.contains(QStringLiteral("印刷できませんでした")));
    EXPECT_EQ(openPreviews().size(), 3);
    EXPECT_FALSE(sheets[0]->print());
    EXPECT_TRUE(openPreviews().isEmpty());
    EXPECT_TRUE(program.statuses.isEmpty());
}

// A document the engine cannot lay out (here, a list without the column its
// sheet prints) gives the print-setting box; the launcher stops there and the
// ledger goes on.
TEST_F(InpatientLedgerTest, ADocumentThatCannotBeLaidOutGivesThePrintSettingBox)
{
    jet::Catalog catalog;
    catalog.setActiveConnection(&ward.connection());
    const QString sheet = db::kPsychotherapyFirstQuery.toString();
    catalog.deleteView(sheet);
    catalog.appendView(sheet, QStringLiteral("SELECT 氏名 FROM Q_現在入院者リスト;"));
    frmPts &ledger = shown();
    item(ledger, "mnuReportAdmPsy")->trigger();
    ASSERT_EQ(program.services->boxes().size(), 1);
    const toolkit::MessageBoxRequest &box = program.services->boxes().first().request;
    EXPECT_EQ(box.title, QStringLiteral("印刷設定のエラー"));
    EXPECT_EQ(box.text, QStringLiteral("ODBCを正しく設定してください。"));
    EXPECT_EQ(box.icon, toolkit::MessageIcon::Exclamation);
    EXPECT_TRUE(openPreviews().isEmpty()) << "the later sheets are not shown either";
    EXPECT_TRUE(program.statuses.isEmpty());
    EXPECT_TRUE(ledger.isVisible());
}

TEST_F(InpatientLedgerTest, TheAdmissionRecordsAskFirst)
{
    frmPts &ledger = shown();
    program.services->answerBox(toolkit::MessageResult::No);
    EXPECT_EQ(modalPreviewTitle(item(ledger, "mnuReportAdm1week")), QString());
    ASSERT_EQ(program.services->boxes().size(), 1);
    const toolkit::MessageBoxRequest &question = program.services->boxes().first().request;
    EXPECT_EQ(question.text, QStringLiteral("入退院記録を印刷するには、このコンピュータにプリンタが設定されている必要があります。印刷しますか？"));
    EXPECT_EQ(question.title, QStringLiteral("ネモリア"));
    EXPECT_EQ(question.icon, toolkit::MessageIcon::Exclamation);
    EXPECT_EQ(question.buttons, toolkit::MessageButtons::YesNo);

    program.services->answerBox(toolkit::MessageResult::Yes);
    EXPECT_EQ(modalPreviewTitle(item(ledger, "mnuReportAdm2week")), QStringLiteral("入退院記録（最近２週間分）"));
    EXPECT_TRUE(program.statuses.isEmpty());
}

} // namespace

TEST_F(InpatientLedgerTest, NamesShowWholeAndAWidthTheUserSetsIsKept)
{
    ward.connection().execute(QStringLiteral("UPDATE 患者情報 SET 氏名 = '長谷川　由美子' WHERE カルテID = 1001"));
    ward.connection().execute(QStringLiteral("UPDATE 患者情報 SET 氏名 = 'ヤマモト　ユウタロウ　アレクサンダー' WHERE カルテID <> 1001"));
    QTableView *view = shown().DataGrid1()->view();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    for (int row = 0; row < 3; ++row)
        EXPECT_GE(view->columnWidth(2), view->sizeHintForIndex(view->model()->index(row, 2)).width()) << row;

    view->horizontalHeader()->resizeSection(2, 333); // as a drag on the header's edge does
    shown().unload();
    EXPECT_EQ(shown().DataGrid1()->view()->columnWidth(2), 333);
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("norva"), QStringLiteral("norva")).clear();
}
