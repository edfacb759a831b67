#include "ledger/frmAmbuPts.h"
#include "support/labels.h"
#include "ledger/frmFindPts.h"

#include "app/navigation.h"
#include "db/schema.h"
#include "support/fixture.h"
#include "support/scripted.h"
#include "report/preview.h"
#include "toolkit/form.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using testing_support::ScriptedProgram;
using testing_support::WardDatabase;
using toolkit::Forms;

namespace {

// Stands in for the out-patient record window: it records the ledger it
// loaded over and keeps the key the ledger gives it.
class RecordStandIn : public toolkit::Form
{
public:
    RecordStandIn()
    {
        keyBox = new QLineEdit(this);
        keyBox->setObjectName(QStringLiteral("Text1"));
        setCentralWidget(keyBox);
    }
    QLineEdit *keyBox;
    static inline bool ledgerStillLoaded = false;

protected:
    void onLoad() override { ledgerStillLoaded = app::findWindow(app::window::OutpatientLedger) != nullptr; }
};

class OutpatientLedgerTest : public ::testing::Test
{
protected:
    explicit OutpatientLedgerTest(testing_support::Backend backend = testing_support::Backend::File) : ward(backend) {}

    void SetUp() override
    {
        program.services->setProgramFolder(folder.path());
        writeLocation(ward.path());
        app::registerWindow<frmAmbuPts>(app::window::OutpatientLedger);
        app::registerWindow<frmFindPts>(app::window::AllPatientLedger);
    }

    void TearDown() override
    {
        toolkit::resetProgramState();
        for (const QString &name : {app::window::OutpatientLedger, app::window::AllPatientLedger,
                                    app::window::OutpatientRecord})
            app::unregisterWindow(name);
    }

    void writeLocation(const QString &databasePath)
    {
        QFile file(QDir(folder.path()).filePath(QStringLiteral("norva.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(databasePath.toUtf8() + "\r\n");
    }

    frmAmbuPts *shown()
    {
        app::showWindow(app::window::OutpatientLedger);
        return Forms::find<frmAmbuPts>();
    }

    static QTableView *grid(QWidget *window) { return window->findChild<QTableView *>(QStringLiteral("DataGrid1")); }

    static QAction *action(QWidget *window, const char *name)
    {
        return window->findChild<QAction *>(QString::fromLatin1(name));
    }

    // The column captions and the cells of one column, top to bottom.
    static QStringList column(QTableView *view, int column)
    {
        QStringList cells;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            cells << view->model()->index(row, column).data().toString();
        return cells;
    }

    static QStringList captions(QTableView *view)
    {
        QStringList texts;
        for (int c = 0; c < view->model()->columnCount(); ++c)
            texts << view->model()->headerData(c, Qt::Horizontal).toString();
        return texts;
    }

    WardDatabase ward;
    QTemporaryDir folder;
    ScriptedProgram program;
};

using OutpatientLedger = testing_support::OnBothBackends<OutpatientLedgerTest>;
INSTANTIATE_TEST_SUITE_P(Ward, OutpatientLedger,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(OutpatientLedger, ListsEveryOutpatientCourseNewestFirstAndNoAdmission)
{
    frmAmbuPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    EXPECT_EQ(testing_support::narrowLabels(ledger), QStringList());
    QTableView *view = grid(ledger);
    EXPECT_EQ(captions(view), (QStringList{QStringLiteral("カルテID"), QStringLiteral("氏名"), QStringLiteral("一時診断名"),
                                           QStringLiteral("入退院ID")}));
    // Episode 7 ended last year and is listed still; episode 9 has no patient
    // row; admissions, even one that starts tomorrow, never show.
    EXPECT_EQ(column(view, 3), (QStringList{QStringLiteral("7"), QStringLiteral("5")}));
    EXPECT_EQ(column(view, 0), (QStringList{QStringLiteral("1005"), QStringLiteral("1004")}));
    EXPECT_EQ(column(view, 2), (QStringList{QStringLiteral("断酒"), QStringLiteral("不安")}));
    EXPECT_TRUE(view->isColumnHidden(3));
    EXPECT_FALSE(view->isColumnHidden(2));

    EXPECT_EQ(ledger->windowTitle(), QStringLiteral("A病院 - ネモリア （外来通院中の患者）"));
    EXPECT_EQ(ledger->findChild<QGroupBox *>(QStringLiteral("Frame1"))->title(),
              QStringLiteral("外来通院中の患者　（台帳に登録された順）"));
}

TEST_F(OutpatientLedgerTest, MenusOfferTheOtherLedgersAndTheCertificates)
{
    frmAmbuPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    QStringList titles;
    for (QAction *menu : ledger->menuBar()->actions())
        titles << menu->text();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("患者(&F)"), QStringLiteral("表示と印刷(&P)"), QStringLiteral("診断書作成(&C)"),
                                   QStringLiteral("ツール(&T)"), QStringLiteral("移動(&M)"), QStringLiteral("ヘルプ(&H)")}));

    QAction *own = action(ledger, "mnuMoveAmbu");
    EXPECT_TRUE(own->isChecked());
    EXPECT_FALSE(own->isEnabled());
    EXPECT_EQ(own->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_TRUE(action(ledger, "mnuMoveAll")->isEnabled());
    EXPECT_EQ(action(ledger, "mnuMoveAdm")->shortcut(), QKeySequence(QStringLiteral("Ctrl+I")));
    EXPECT_EQ(action(ledger, "mnuFileNew")->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
    EXPECT_EQ(action(ledger, "mnuToolDataEx")->shortcut(), QKeySequence(QStringLiteral("Ctrl+E")));
    for (const char *disabled : {"mnuReport32NewList", "mnuReportTechoList", "mnuToolDrug", "mnuToolDataIm"})
        EXPECT_FALSE(action(ledger, disabled)->isEnabled()) << disabled;

    // Without a help file the program's own manual opens, and the ledger stays.
    action(ledger, "mnuHelpIndex")->trigger();
    EXPECT_EQ(program.services->openedDocuments(),
              QStringList{QDir(folder.path()).filePath(QStringLiteral("manual/index.html"))});
    EXPECT_EQ(Forms::find<frmAmbuPts>(), ledger);
}

TEST_F(OutpatientLedgerTest, ClickEnablesOpeningAndTheRecordWindowLoadsOverTheLedger)
{
    app::registerWindow<RecordStandIn>(app::window::OutpatientRecord);
    RecordStandIn::ledgerStillLoaded = false;
    frmAmbuPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    QAction *open = action(ledger, "mnuFileOpen");
    EXPECT_FALSE(open->isEnabled());

    QTableView *view = grid(ledger);
    const QRect cell = view->visualRect(view->model()->index(1, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_TRUE(open->isEnabled());
    open->trigger();
    QCoreApplication::processEvents();

    RecordStandIn *record = Forms::find<RecordStandIn>();
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(RecordStandIn::ledgerStillLoaded);
    EXPECT_EQ(record->keyBox->text(), QStringLiteral("5"));
    EXPECT_EQ(Forms::find<frmAmbuPts>(), nullptr);
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_P(OutpatientLedger, MovingAwayAndBackReadsTheListAgain)
{
    frmAmbuPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    ward.connection().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 外入の別) VALUES (1006, -1)"));
    action(ledger, "mnuMoveAll")->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(Forms::find<frmAmbuPts>(), nullptr);
    frmFindPts *all = Forms::find<frmFindPts>();
    ASSERT_NE(all, nullptr);

    all->findChild<QAction *>(QStringLiteral("mnuMoveAmbu"))->trigger();
    QCoreApplication::processEvents();
    ledger = Forms::find<frmAmbuPts>();
    ASSERT_NE(ledger, nullptr);
    EXPECT_EQ(column(grid(ledger), 0).value(0), QStringLiteral("1006"));
    EXPECT_TRUE(program.statuses.isEmpty());

    action(ledger, "mnuFileClose")->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(Forms::loaded().size(), 0);
    EXPECT_EQ(program.statuses, QList<int>{0});
}

// Both pages of a certificate open at once without waiting, each titled with
// its page, and the ledger goes on: the handbook certificate of the next
// patient opens while the first pages are still open.
TEST_P(OutpatientLedger, ACertificateShowsBothPagesSideBySide)
{
    frmAmbuPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    const auto previews = [] {
        QStringList titles;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            auto *preview = qobject_cast<report::Preview *>(window);
            if (preview && preview->isVisible() && !preview->isModal() && preview->pageCount() == 1)
                titles.append(preview->windowTitle());
        }
        titles.sort();
        return titles;
    };
    grid(ledger)->selectRow(1);
    ledger->findChild<QAction *>(QStringLiteral("mnuReport32New"))->trigger();
    EXPECT_EQ(previews(), (QStringList{QStringLiteral("伊達政子 - 通院医療費公費負担用診断書 1枚目"),
                                       QStringLiteral("伊達政子 - 通院医療費公費負担用診断書 2枚目")}));
    grid(ledger)->selectRow(0);
    ledger->findChild<QAction *>(QStringLiteral("mnuReportTecho"))->trigger();
    EXPECT_EQ(previews().size(), 4);
    EXPECT_TRUE(previews().contains(QStringLiteral("佐藤次郎 - 精神障害者保健福祉手帳用担診断書 1枚目")));
    EXPECT_TRUE(previews().contains(QStringLiteral("佐藤次郎 - 精神障害者保健福祉手帳用診断書 2枚目")));
    EXPECT_TRUE(program.services->boxes().isEmpty());
    EXPECT_TRUE(program.statuses.isEmpty());
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *preview = qobject_cast<report::Preview *>(window))
            preview->close();
    }
}

TEST_F(OutpatientLedgerTest, DatabaseWithoutTheOutpatientFlagIsTooOld)
{
    QTemporaryDir old;
    const QString path = QDir(old.path()).filePath(QStringLiteral("norva2000.mdb"));
    db::createDatabase(path, db::Generation::V2086);
    writeLocation(path);

    EXPECT_EQ(shown(), nullptr);
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_EQ(program.services->boxes().first().request.text,
              QStringLiteral("データベースが古いため表示できません。コンバートしてください。"));
    EXPECT_EQ(program.services->boxes().first().request.icon, toolkit::MessageIcon::Critical);
    EXPECT_EQ(program.statuses, QList<int>{1});
}

} // namespace
