#include "stats/frmStat.h"

#include "app/navigation.h"
#include "db/audit.h"
#include "db/schema.h"
#include "ledger/frmAmbuPts.h"
#include "ledger/frmFindPts.h"
#include "ledger/frmPts.h"
#include "support/fixture.h"
#include "support/scripted.h"
#include "toolkit/barchart.h"
#include "toolkit/datagrid.h"
#include "db/engine/recordset.h"

#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGraphicsTextItem>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

using toolkit::Forms;
using Counts = QMap<QString, int>;

namespace {

const QString kDateMessage = QStringLiteral("日付を 1974/07/19 のような型式で入力してください。");

class StatisticsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        program.services->setProgramFolder(folder.path());
        writeLocation(ward.path());
        app::registerWindow<frmStat>(app::window::Statistics);
    }

    void TearDown() override
    {
        toolkit::resetProgramState();
        for (const QString &name : {app::window::Statistics, app::window::InpatientLedger,
                                    app::window::OutpatientLedger, app::window::AllPatientLedger})
            app::unregisterWindow(name);
    }

    void writeLocation(const QString &databasePath)
    {
        QFile file(QDir(folder.path()).filePath(QStringLiteral("norva.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(databasePath.toUtf8() + "\r\n");
    }

    void admit(int chart, const QDate &day, bool outpatient = false)
    {
        ward.connection().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 外入の別, 入院日) VALUES (?, ?, ?)"),
                                  {chart, outpatient ? -1 : 0, day});
    }

    static frmStat &window() { return Forms::get<frmStat>(); }
    static QLineEdit *box(const char *name) { return window().findChild<QLineEdit *>(QLatin1String(name)); }
    static QChartView *chartView() { return window().findChild<QChartView *>(QStringLiteral("MSChart1")); }

    static void press(const char *button)
    {
        window().findChild<QPushButton *>(QLatin1String(button))->click();
        QCoreApplication::processEvents();
    }

    static void period(const QString &from, const QString &to)
    {
        box("Text1")->setText(from);
        box("Text2")->setText(to);
        press("Command1");
    }

    // What the grid shows; the chart must show the same, bar by bar.
    static Counts shown()
    {
        toolkit::DataGrid *grid = window().DataGrid1();
        Counts counts;
        QStringList groups;
        QList<qreal> heights;
        for (int row = 0; row < grid->model()->rowCount(); ++row) {
            const QString group = grid->value(row, QStringLiteral("コード")).toString();
            const int count = grid->value(row, QStringLiteral("ICD-10診断集計")).toInt();
            counts.insert(group, count);
            groups << group;
            heights << count;
        }
        EXPECT_EQ(window().MSChart1()->categories(), groups);
        // Not QList's ==, which hands memcmp null pointers for two empty lists.
        const QList<qreal> drawn = window().MSChart1()->heights();
        EXPECT_TRUE(std::equal(drawn.cbegin(), drawn.cend(), heights.cbegin(), heights.cend()));
        return counts;
    }

    testing_support::WardDatabase ward;
    testing_support::ScriptedProgram program;
    QTemporaryDir folder;
};

TEST_F(StatisticsTest, PeriodCountsEpisodesFromTheFirstDayUpToTheSecond)
{
    EXPECT_EQ(window().windowTitle(), QStringLiteral("ICD-10診断集計"));
    EXPECT_TRUE(chartView()->isHidden());

    admit(1001, QDate(2003, 4, 1));           // F20, the first day
    admit(1001, QDate(2003, 4, 15));          // the same patient again
    admit(1002, QDate(2003, 4, 30));          // F25.1
    admit(1005, QDate(2003, 5, 1));           // F10.2, the second day: left out
    admit(1004, QDate(2003, 4, 10), true);    // an outpatient course by its admission date, placeholder diagnosis
    period(QStringLiteral("2003/04/01"), QStringLiteral("2003/05/01"));
    // Episode 4 of 1003 (F32) was admitted on 2 April.
    EXPECT_EQ(shown(), (Counts{{QStringLiteral("-"), 1}, {QStringLiteral("F2"), 3}, {QStringLiteral("F3"), 1}}));
    EXPECT_FALSE(chartView()->isHidden());

    period(QStringLiteral("2003/05/01"), QStringLiteral("2003/04/01"));
    EXPECT_EQ(shown(), Counts{});
    EXPECT_FALSE(chartView()->isHidden());
    EXPECT_TRUE(program.services->boxes().isEmpty());
}

// Each selection shown leaves its row, with the selection it counted.
TEST_F(StatisticsTest, EachSelectionShownIsRecordedInTheTrail)
{
    db::audit::extendDatabase(ward.connection());
    window();
    period(QStringLiteral("2003/04/01"), QStringLiteral("2003/05/01"));
    jet::Recordset events;
    events.open(QStringLiteral("SELECT 操作, 詳細 FROM 監査記録"), &ward.connection());
    ASSERT_FALSE(events.eof());
    EXPECT_EQ(events.value(0).toString(), QStringLiteral("統計"));
    EXPECT_TRUE(events.value(1).toString().contains(QStringLiteral("2003"))) << events.value(1).toString().toStdString();
    events.moveNext();
    EXPECT_TRUE(events.eof());
    EXPECT_TRUE(db::audit::verify(ward.connection()).sound());
}

TEST_F(StatisticsTest, CurrentInpatientsAndOutpatients)
{
    press("Command2");
    // Episode 8 counts although its bed names no row: only the diagnosis is joined.
    EXPECT_EQ(shown(), (Counts{{QStringLiteral("F1"), 1}, {QStringLiteral("F2"), 3}}));
    press("Command3");
    // Outpatient courses whatever their dates; the chart without a patient row is not counted.
    EXPECT_EQ(shown(), (Counts{{QStringLiteral("-"), 1}, {QStringLiteral("F1"), 1}}));
    EXPECT_TRUE(program.services->boxes().isEmpty());
}

TEST_F(StatisticsTest, DateBoxesTakeDigitsAndSlashesOnly)
{
    QTest::keyClicks(box("Text1"), QStringLiteral("2003/0a4/01"));
    EXPECT_EQ(box("Text1")->text(), QStringLiteral("2003/04/01"));
    EXPECT_EQ(program.services->beeps(), 1);

    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("２００３"));
    QApplication::sendEvent(box("Text2"), &commit);
    EXPECT_EQ(box("Text2")->text(), QString());

    QApplication::clipboard()->setText(QStringLiteral("2003年4月1日#) OR (#"));
    box("Text2")->paste();
    EXPECT_EQ(box("Text2")->text(), QStringLiteral("200341"));
    EXPECT_GE(program.services->beeps(), 3);
}

TEST_F(StatisticsTest, UnreadableDatesGiveTheDateMessage)
{
    const QList<QPair<QString, QString>> periods{
        {QString(), QStringLiteral("2003/05/01")},
        {QStringLiteral("2003/04/01"), QStringLiteral("200341")}, // what the filter leaves of a pasted date
        {QStringLiteral("2003/02/30"), QStringLiteral("2003/05/01")},
        {QStringLiteral("2003/04/01#) OR (#2003/04/01"), QStringLiteral("2003/05/01")}, // set by the program, not typed
    };
    for (const auto &[from, to] : periods) {
        SCOPED_TRACE(qPrintable(from + QLatin1Char(' ') + to));
        press("Command2");
        ASSERT_FALSE(shown().isEmpty());
        const int boxes = program.services->boxes().size();
        period(from, to);
        ASSERT_EQ(program.services->boxes().size(), boxes + 1);
        EXPECT_EQ(program.services->boxes().last().request.text, kDateMessage);
        EXPECT_EQ(program.services->boxes().last().request.icon, toolkit::MessageIcon::Exclamation);
        EXPECT_TRUE(chartView()->isHidden());
        EXPECT_EQ(shown(), Counts{}) << "no earlier result beside the message";
        EXPECT_EQ(Forms::find<frmStat>(), &window());
    }
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(StatisticsTest, OutpatientsOfADatabaseBefore2112)
{
    QTemporaryDir older;
    const QString path = QDir(older.path()).filePath(QStringLiteral("norva2000.mdb"));
    db::createDatabase(path, db::Generation::V2086);
    writeLocation(path);
    press("Command3");
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_EQ(program.services->boxes()[0].request.text,
              QStringLiteral("データベースが古いため表示できません。コンバートしてください。"));
    EXPECT_EQ(program.services->boxes()[0].request.icon, toolkit::MessageIcon::Critical);
    EXPECT_TRUE(chartView()->isHidden());
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(StatisticsTest, EachLedgerShowsItModal)
{
    app::registerWindow<frmPts>(app::window::InpatientLedger);
    app::registerWindow<frmAmbuPts>(app::window::OutpatientLedger);
    app::registerWindow<frmFindPts>(app::window::AllPatientLedger);
    for (const QString &name : {app::window::InpatientLedger, app::window::OutpatientLedger, app::window::AllPatientLedger}) {
        SCOPED_TRACE(qPrintable(name));
        app::showWindow(name);
        toolkit::Form *ledger = app::findWindow(name);
        ASSERT_NE(ledger, nullptr);
        bool modal = false;
        Counts counts;
        QTimer::singleShot(0, qApp, [&] {
            modal = window().isShownModal();
            press("Command3");
            counts = shown();
            window().unload();
        });
        ledger->findChild<QAction *>(QStringLiteral("mnuToolDx"))->trigger();
        EXPECT_TRUE(modal);
        EXPECT_EQ(counts, (Counts{{QStringLiteral("-"), 1}, {QStringLiteral("F1"), 1}}));
        EXPECT_EQ(app::findWindow(name), ledger);
    }
    EXPECT_TRUE(program.services->boxes().isEmpty());
}

} // namespace

// Forty groups, A0 to D9, in a period of their own.
TEST_F(StatisticsTest, EveryGroupLabelReadsWhole)
{
    for (int group = 0; group < 40; ++group) {
        const QString code = QChar(u'A' + group / 10) + QString::number(group % 10);
        ward.connection().execute(QStringLiteral("INSERT INTO `診断名(ICD10)` (診断名, ICDコード) VALUES (?, ?)"), {code, code});
        jet::Recordset last;
        last.open(QStringLiteral("SELECT MAX(診断ID) FROM `診断名(ICD10)`"), &ward.connection());
        ward.connection().execute(QStringLiteral("INSERT INTO 患者情報 (カルテID, 診断名①) VALUES (?, ?)"),
                                  {2000 + group, last.value(0)});
        admit(2000 + group, QDate(1999, 1, 1));
    }
    window().show();
    period(QStringLiteral("1999/01/01"), QStringLiteral("1999/01/02"));
    int whole = 0;
    for (QGraphicsItem *item : chartView()->scene()->items()) {
        auto *text = dynamic_cast<QGraphicsTextItem *>(item);
        whole += text && window().MSChart1()->categories().contains(text->toPlainText());
    }
    EXPECT_EQ(whole, 40) << "a label cut short reads otherwise";
}
