#include "ledger/frmFindPts.h"
#include "report/preview.h"
#include "support/labels.h"

#include "app/navigation.h"
#include "db/engine/recordset.h"
#include "db/schema.h"
#include "support/fixture.h"
#include "support/scripted.h"
#include "toolkit/form.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using testing_support::ScriptedProgram;
using testing_support::WardDatabase;
using toolkit::Forms;
using toolkit::MessageResult;

namespace {

constexpr int kKeyColumn = 6;

class AllPatientLedgerTest : public ::testing::Test
{
protected:
    explicit AllPatientLedgerTest(testing_support::Backend backend = testing_support::Backend::File) : ward(backend) {}

    void SetUp() override
    {
        program.services->setProgramFolder(folder.path());
        writeLocation(ward.path());
        app::registerWindow<frmFindPts>(app::window::AllPatientLedger);
    }

    void TearDown() override
    {
        toolkit::resetProgramState();
        app::unregisterWindow(app::window::AllPatientLedger);
    }

    void writeLocation(const QString &databasePath)
    {
        QFile file(QDir(folder.path()).filePath(QStringLiteral("norva.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(databasePath.toUtf8() + "\r\n");
    }

    frmFindPts *shown()
    {
        app::showWindow(app::window::AllPatientLedger);
        return Forms::find<frmFindPts>();
    }

    static QTableView *grid(QWidget *window) { return window->findChild<QTableView *>(QStringLiteral("DataGrid1")); }

    static QStringList keys(QWidget *window)
    {
        QTableView *view = grid(window);
        QStringList cells;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            cells << view->model()->index(row, kKeyColumn).data().toString();
        return cells;
    }

    // Rows of the episode in each of the three tables.
    QList<int> rowsOf(int episode)
    {
        QList<int> counts;
        for (const char *table : {"入退院情報", "検査情報", "診断情報"}) {
            jet::Recordset rows;
            rows.open(QStringLiteral("SELECT * FROM %1 WHERE 入退院ID = %2").arg(QString::fromUtf8(table)).arg(episode),
                      &ward.connection());
            counts << rows.recordCount();
        }
        return counts;
    }

    void deleteAnswering(frmFindPts *ledger, MessageResult answer)
    {
        program.services->answerBox(answer);
        ledger->findChild<QAction *>(QStringLiteral("mnuFileAdmHisDelete"))->trigger();
        QCoreApplication::processEvents();
    }

    WardDatabase ward;
    QTemporaryDir folder;
    ScriptedProgram program;
};

using AllPatientLedger = testing_support::OnBothBackends<AllPatientLedgerTest>;
INSTANTIATE_TEST_SUITE_P(Ward, AllPatientLedger,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(AllPatientLedger, ListsEveryEpisodeWithAPatientNewestFirst)
{
    frmFindPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    EXPECT_EQ(testing_support::narrowLabels(ledger), QStringList());
    // Episode 9 belongs to a chart without a patient row.
    EXPECT_EQ(keys(ledger), (QStringList{QStringLiteral("8"), QStringLiteral("7"), QStringLiteral("6"), QStringLiteral("5"),
                                         QStringLiteral("4"), QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("1")}));
    QTableView *view = grid(ledger);
    QStringList captions;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        captions << view->model()->headerData(c, Qt::Horizontal).toString();
    EXPECT_EQ(captions, (QStringList{QStringLiteral("カルテID"), QStringLiteral("氏名"), QStringLiteral("入院日"),
                                     QStringLiteral("退院日"), QStringLiteral("かな氏名"), QStringLiteral("一時診断名"),
                                     QStringLiteral("入退院ID")}));
    EXPECT_TRUE(view->isColumnHidden(4));
    EXPECT_TRUE(view->isColumnHidden(kKeyColumn));
    EXPECT_EQ(view->model()->index(0, 0).data().toString(), QStringLiteral("1002"));
    EXPECT_EQ(view->model()->index(0, 2).data().toString(), QStringLiteral("2002/11/01"));

    EXPECT_EQ(ledger->windowTitle(), QStringLiteral("A病院 - ネモリア （すべての患者）"));
    EXPECT_EQ(ledger->findChild<QLabel *>(QStringLiteral("Label1"))->text(), QStringLiteral("全症例数 8件"));

    QAction *own = ledger->findChild<QAction *>(QStringLiteral("mnuMoveAll"));
    EXPECT_TRUE(own->isChecked());
    EXPECT_FALSE(own->isEnabled());
    QStringList titles;
    for (QAction *menu : ledger->menuBar()->actions()) {
        if (menu->isVisible())
            titles << menu->text();
    }
    // No certificate menu here: certificates are the out-patient ledger's.
    EXPECT_EQ(titles, (QStringList{QStringLiteral("患者(&F)"), QStringLiteral("表示と印刷(&P)"), QStringLiteral("ツール(&T)"),
                                   QStringLiteral("移動(&M)"), QStringLiteral("ヘルプ(&H)")}));
}

TEST_F(AllPatientLedgerTest, EmptyLedgerCountsNoCase)
{
    QTemporaryDir empty;
    const QString path = QDir(empty.path()).filePath(QStringLiteral("norva2000.mdb"));
    db::createDatabase(path, db::Generation::V2112);
    writeLocation(path);
    frmFindPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    EXPECT_EQ(keys(ledger), QStringList{});
    EXPECT_EQ(ledger->findChild<QLabel *>(QStringLiteral("Label1"))->text(), QStringLiteral("全症例数 0件"));

    // Nothing to delete: the question is answered and nothing else happens.
    deleteAnswering(ledger, MessageResult::Yes);
    EXPECT_EQ(program.services->boxes().size(), 1);
    // Nor to print: a preview shown would wait here for its closing.
    ledger->findChild<QAction *>(QStringLiteral("mnuReportAdmSum"))->trigger();
    EXPECT_EQ(program.services->boxes().size(), 1);
    EXPECT_TRUE(program.statuses.isEmpty());
}

// Each launch previews its own patient: the ended document closed its result.
TEST_P(AllPatientLedger, TheAdmissionSummaryPreviewsThePatientOfTheRowChosen)
{
    frmFindPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    for (const auto &[row, title] : {std::pair{7, QStringLiteral("山田太郎 - 入院時サマリー")},
                                     std::pair{6, QStringLiteral("田中花子 - 入院時サマリー")}}) {
        grid(ledger)->selectRow(row);
        QString shownTitle;
        int pages = 0;
        QTimer::singleShot(0, ledger, [&] {
            auto *preview = qobject_cast<report::Preview *>(QApplication::activeModalWidget());
            if (!preview)
                return;
            shownTitle = preview->windowTitle();
            pages = preview->pageCount();
            preview->reject();
        });
        ledger->findChild<QAction *>(QStringLiteral("mnuReportAdmSum"))->trigger();
        EXPECT_EQ(shownTitle, title);
        EXPECT_EQ(pages, 1);
    }
    EXPECT_TRUE(program.statuses.isEmpty());
    EXPECT_TRUE(program.services->boxes().isEmpty());
}

TEST_P(AllPatientLedger, ASummaryWithAnOutcomeThatNamesNoCodeSaysSo)
{
    ward.connection().execute(QStringLiteral("UPDATE 入退院情報 SET 転帰 = 999 WHERE カルテID = 1001"));
    frmFindPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    grid(ledger)->selectRow(7);
    QTimer::singleShot(0, ledger, [] {
        if (auto *preview = qobject_cast<report::Preview *>(QApplication::activeModalWidget()))
            preview->reject();
    });
    ledger->findChild<QAction *>(QStringLiteral("mnuReportAdmSum"))->trigger();
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_TRUE(program.services->boxes().first().request.text.endsWith(
        QStringLiteral("入退院情報 の 転帰 が空か、転帰 にないコードを指しています。")));
}

TEST_P(AllPatientLedger, NewEpisodeIsTheFirstRow)
{
    frmFindPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    program.services->answerInput(QStringLiteral("1006"));
    ledger->findChild<QAction *>(QStringLiteral("mnuFileNew"))->trigger();
    QCoreApplication::processEvents();

    // Without the new-patient window the program comes back to this ledger.
    ledger = Forms::find<frmFindPts>();
    ASSERT_NE(ledger, nullptr);
    EXPECT_EQ(keys(ledger).value(0), QStringLiteral("10"));
    EXPECT_EQ(grid(ledger)->model()->index(0, 0).data().toString(), QStringLiteral("1006"));
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(AllPatientLedgerTest, DeletionAsksAndNoChangesNothing)
{
    frmFindPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    deleteAnswering(ledger, MessageResult::No);
    ASSERT_EQ(program.services->boxes().size(), 1);
    const toolkit::MessageBoxRequest &question = program.services->boxes().first().request;
    EXPECT_EQ(question.title, QStringLiteral("入退院データの削除"));
    EXPECT_EQ(question.text, QStringLiteral("この患者の今回の入退院データを削除しますか？"));
    EXPECT_EQ(question.icon, toolkit::MessageIcon::Question);
    EXPECT_EQ(question.buttons, toolkit::MessageButtons::YesNo);
    EXPECT_EQ(rowsOf(8), (QList<int>{1, 1, 1}));
    EXPECT_EQ(keys(ledger).size(), 8);
}

TEST_P(AllPatientLedger, YesDeletesTheEpisodeWithItsCompanionsAndKeepsThePatient)
{
    frmFindPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    deleteAnswering(ledger, MessageResult::Yes);
    EXPECT_EQ(rowsOf(8), (QList<int>{0, 0, 0}));
    EXPECT_EQ(rowsOf(2), (QList<int>{1, 1, 1}));
    EXPECT_EQ(keys(ledger).value(0), QStringLiteral("7"));
    EXPECT_EQ(ledger->findChild<QLabel *>(QStringLiteral("Label1"))->text(), QStringLiteral("全症例数 8件"));

    jet::Recordset patient;
    patient.open(QStringLiteral("SELECT * FROM 患者情報 WHERE カルテID = 1002"), &ward.connection());
    EXPECT_EQ(patient.recordCount(), 1);
    EXPECT_EQ(Forms::find<frmFindPts>(), ledger);
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_P(AllPatientLedger, UnderAKanaFilterTheCurrentFilteredRowIsDeleted)
{
    frmFindPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    ledger->findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(QStringLiteral("たか"));
    ledger->findChild<QPushButton *>(QStringLiteral("cmdFilter"))->click();
    ASSERT_EQ(keys(ledger), (QStringList{QStringLiteral("4"), QStringLiteral("3")}));
    grid(ledger)->selectRow(1);

    deleteAnswering(ledger, MessageResult::Yes);
    EXPECT_EQ(rowsOf(3), (QList<int>{0, 0, 0}));
    EXPECT_EQ(rowsOf(4).value(0), 1);
    EXPECT_EQ(rowsOf(2), (QList<int>{1, 1, 1}));
    EXPECT_EQ(keys(ledger), QStringList{QStringLiteral("4")});

    ledger->findChild<QLineEdit *>(QStringLiteral("Text1"))->setText(QStringLiteral("ゑ"));
    ledger->findChild<QPushButton *>(QStringLiteral("cmdFilter"))->click();
    ASSERT_TRUE(keys(ledger).isEmpty());
    const qsizetype before = program.services->boxes().size();
    deleteAnswering(ledger, MessageResult::Yes);
    ASSERT_EQ(program.services->boxes().size(), before + 1);
    EXPECT_EQ(program.services->boxes().last().request.text, QStringLiteral("削除するデータがありません。"));
    EXPECT_EQ(rowsOf(4).value(0), 1);
}

TEST_P(AllPatientLedger, EpisodeWithoutCompanionRowsIsDeletedAndTheProgramGoesOn)
{
    frmFindPts *ledger = shown();
    ASSERT_NE(ledger, nullptr);
    grid(ledger)->selectRow(4);
    ASSERT_EQ(grid(ledger)->model()->index(4, kKeyColumn).data().toString(), QStringLiteral("4"));

    deleteAnswering(ledger, MessageResult::Yes);
    EXPECT_EQ(rowsOf(4), (QList<int>{0, 0, 0}));
    EXPECT_EQ(program.services->boxes().size(), 1);
    EXPECT_FALSE(keys(ledger).contains(QStringLiteral("4")));
    EXPECT_EQ(Forms::find<frmFindPts>(), ledger);
    EXPECT_TRUE(program.statuses.isEmpty());
}

} // namespace

TEST_F(AllPatientLedgerTest, AtItsNarrowestTheCountAndTheSearchBoxShowWhole)
{
    frmFindPts *ledger = shown();
    ledger->resize(1, 1); // a window is never made smaller than its minimum
    EXPECT_EQ(testing_support::narrowLabels(ledger), QStringList());
    auto *box = ledger->findChild<QLineEdit *>(QStringLiteral("Text1"));
    EXPECT_EQ(box->width(), box->maximumWidth());
}
