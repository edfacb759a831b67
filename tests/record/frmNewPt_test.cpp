#include "record/frmNewPt.h"
#include "support/labels.h"

#include "app/navigation.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "db/engine/sqlite/sqlitedriver.h"
#include "db/location.h"
#include "db/schema.h"
#include "ledger/frmAmbuPts.h"
#include "ledger/frmFindPts.h"
#include "ledger/frmPts.h"
#include "recordfixture.h"
#include "toolkit/form.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <sqlite3.h>

using toolkit::Forms;

namespace {

const QString kAdmissionMessage = QStringLiteral("入院処理をします。入院日を必ず記入してください。");

class NewPatientWindowTest : public testing_support::RecordWindowTest
{
protected:
    void SetUp() override
    {
        RecordWindowTest::SetUp();
        registerWindow<frmPts>(app::window::InpatientLedger);
        registerWindow<frmAmbuPts>(app::window::OutpatientLedger);
        registerWindow<frmFindPts>(app::window::AllPatientLedger);
        registerWindow<frmNewPt>(app::window::NewPatient);
    }

    // Registers the chart through the ledger's menu; the new-patient window
    // when registration handed over to it.
    frmNewPt *registerFrom(const QString &ledger, const QString &chart)
    {
        app::showWindow(ledger);
        toolkit::Form *window = app::findWindow(ledger);
        EXPECT_NE(window, nullptr);
        if (!window)
            return nullptr;
        program.services->answerInput(chart);
        window->findChild<QAction *>(QStringLiteral("mnuFileNew"))->trigger();
        QCoreApplication::processEvents();
        return Forms::find<frmNewPt>();
    }
    frmNewPt *registerChart(const QString &chart) { return registerFrom(app::window::AllPatientLedger, chart); }

    template <class T> static T *control(QWidget *window, const char *name)
    {
        T *widget = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    static QLineEdit *text(QWidget *window, const char *name) { return control<QLineEdit>(window, name); }
    static QCheckBox *check(QWidget *window, const char *name) { return control<QCheckBox>(window, name); }

    // Hidden as the switch hides them: each field with its label.
    static QList<bool> admissionFieldsShown(QWidget *window)
    {
        QList<bool> shown;
        for (const char *name : {"Text6", "DataCombo1", "DataCombo3", "DataCombo4"})
            shown << !control<QWidget>(window, name)->isHidden();
        for (const char *caption : {"入院日", "入院形態", "部屋番号", "ベッド番号"}) {
            bool found = false;
            for (QLabel *label : window->findChildren<QLabel *>()) {
                if (label->text() == QString::fromUtf8(caption)) {
                    shown << !label->isHidden();
                    found = true;
                }
            }
            EXPECT_TRUE(found) << caption;
        }
        return shown;
    }

    static void close(frmNewPt *window)
    {
        window->close();
        QCoreApplication::processEvents();
    }

    QVariant storedValue(int episode, const QString &column)
    {
        jet::Recordset rows;
        rows.open(QStringLiteral("SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 WHERE 患者情報.カルテID = "
                                 "入退院情報.カルテID AND 入退院情報.入退院ID = %1")
                      .arg(episode),
                  &ward.connection());
        return rows.value(column);
    }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const auto &box : program.services->boxes())
            texts << box.request.text;
        return texts;
    }
};

// The ward has episodes 1 to 9, so registration creates episode 10.
TEST_F(NewPatientWindowTest, NewChartOpensEmptyAsAnAdmissionWithOneRowOfEachCompanion)
{
    frmNewPt *window = registerChart(QStringLiteral("2001"));
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(testing_support::narrowLabels(window), QStringList());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("新規患者の作成 - ネモリア （新しい患者）"));
    EXPECT_EQ(text(window, "Text1")->text(), QStringLiteral("10"));
    EXPECT_EQ(text(window, "Text3")->text(), QStringLiteral("2001"));
    EXPECT_TRUE(text(window, "Text2")->text().isEmpty());
    EXPECT_TRUE(text(window, "Text4")->text().isEmpty());
    EXPECT_FALSE(check(window, "Check5")->isChecked());
    EXPECT_TRUE(check(window, "Check6")->isChecked());
    EXPECT_EQ(admissionFieldsShown(window), QList<bool>(8, true));
    EXPECT_EQ(window->focusWidget(), text(window, "Text2"));

    EXPECT_TRUE(boxTexts().isEmpty());
    EXPECT_EQ(rowsOf(QStringLiteral("検査情報"), 10), 1);
    EXPECT_EQ(rowsOf(QStringLiteral("診断情報"), 10), 1);
}

// The name comes first; kana, the switch and the dates come last, after the
// other tabs.  Tab leaves the memos instead of typing into them.
TEST_F(NewPatientWindowTest, FocusStartsAtTheNameAndEndsWithTheDates)
{
    frmNewPt *window = registerChart(QStringLiteral("2001"));
    ASSERT_NE(window, nullptr);
    QStringList order;
    QWidget *widget = text(window, "Text2");
    for (int i = 0; i < 32; ++i) {
        order << widget->objectName();
        do
            widget = widget->nextInFocusChain();
        while (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isEnabled() || widget->objectName().isEmpty()
               || widget->objectName().startsWith(QStringLiteral("qt_")));
    }
    EXPECT_EQ(order, (QStringList{"Text2", "DataCombo2", "DataCombo1", "DataCombo3", "DataCombo4", "DataCombo5",
                                  "DataCombo6", "Text8", "Text9", "Text10", "Text11", "Text12", "Text13", "Text14",
                                  "Text15", "Text16", "Text17", "DataCombo7", "DataCombo8", "DataCombo9", "Text18",
                                  "Text19", "Check1", "Check3", "Check2", "Check4", "Text21", "Text4", "Check5",
                                  "Check6", "Text5", "Text6"}))
        << order.join(QLatin1Char(' ')).toStdString();

    QTest::keyClick(control<QWidget>(window, "Text9"), Qt::Key_Tab);
    EXPECT_TRUE(control<QPlainTextEdit>(window, "Text9")->toPlainText().isEmpty());
}

TEST_F(NewPatientWindowTest, FitsAnEightHundredBySixHundredScreenWithEveryFieldReachable)
{
    testing_support::expectFitsEightHundredBySixHundred(registerChart(QStringLiteral("2001")));
}

// An older program registered episodes without their companion rows.
TEST_F(NewPatientWindowTest, EpisodeWithoutCompanionRowsGetsOneOfEachOnce)
{
    ward.connection().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (1001)"));
    for (int round = 0; round < 2; ++round) {
        app::showWindow(app::window::NewPatient, 10);
        frmNewPt *window = Forms::find<frmNewPt>();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(text(window, "Text1")->text(), QStringLiteral("10"));
        close(window);
        EXPECT_EQ(rowsOf(QStringLiteral("検査情報"), 10), 1) << round;
        EXPECT_EQ(rowsOf(QStringLiteral("診断情報"), 10), 1) << round;
    }
    EXPECT_EQ(rowsOf(QStringLiteral("検査情報"), 4), 0) << "only the handed episode is the window's";
}

TEST_F(NewPatientWindowTest, FurtherEpisodeShowsThePatientAsStored)
{
    frmNewPt *window = registerChart(QStringLiteral("1001"));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(text(window, "Text2")->text(), QStringLiteral("山田太郎"));
    EXPECT_EQ(text(window, "Text4")->text(), QStringLiteral("やまだたろう"));
    EXPECT_EQ(text(window, "Text5")->text(), QStringLiteral("1960/04/02"));
    EXPECT_EQ(control<QComboBox>(window, "DataCombo2")->currentText(), QStringLiteral("男性"));
    EXPECT_TRUE(text(window, "Text6")->text().isEmpty());
    EXPECT_TRUE(text(window, "Text8")->text().isEmpty());
}

// Another workstation registers a patient at nearly the same moment: its
// episode, newer than ours, is not the one this registration opens.
TEST_F(NewPatientWindowTest, RegistrationOpensItsOwnEpisodeThoughANewerOneFollows)
{
    ASSERT_EQ(sqlite3_exec(jet::sqliteHandle(ward.connection()),
                           "CREATE TRIGGER elsewhere AFTER INSERT ON 入退院情報 WHEN NEW.カルテID = 1001 "
                           "BEGIN INSERT INTO 入退院情報 (カルテID) VALUES (1006); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    frmNewPt *window = registerChart(QStringLiteral("1001"));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(text(window, "Text1")->text(), QStringLiteral("10"));
    EXPECT_EQ(text(window, "Text2")->text(), QStringLiteral("山田太郎"));
}

// The first episode of the join is an outpatient course: binding on it
// before reaching the new episode would flip the switch twice and announce
// an admission.
TEST_F(NewPatientWindowTest, OpeningAfterAnOlderOutpatientCourseShowsNoMessage)
{
    ward.connection().execute(QStringLiteral("UPDATE 入退院情報 SET 外入の別 = -1, 入院日 = Null WHERE 入退院ID = 1"));
    frmNewPt *window = registerChart(QStringLiteral("2001"));
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(boxTexts().isEmpty());
    EXPECT_TRUE(check(window, "Check6")->isChecked());
}

TEST_F(NewPatientWindowTest, SwitchHidesAndEmptiesTheAdmissionAndAnnouncesOnlyAnAdmission)
{
    frmNewPt *window = registerChart(QStringLiteral("1001"));
    ASSERT_NE(window, nullptr);
    QCheckBox *outpatient = check(window, "Check5");
    QCheckBox *admitted = check(window, "Check6");
    QTest::keyClicks(text(window, "Text6"), QStringLiteral("2003/4/1"));
    window->save();
    ASSERT_EQ(storedValue(10, QStringLiteral("入院日")).toDate(), QDate(2003, 4, 1));

    outpatient->click();
    EXPECT_FALSE(admitted->isChecked());
    EXPECT_TRUE(text(window, "Text6")->text().isEmpty());
    EXPECT_EQ(admissionFieldsShown(window), QList<bool>(8, false));
    EXPECT_TRUE(boxTexts().isEmpty());

    admitted->click();
    EXPECT_FALSE(outpatient->isChecked());
    EXPECT_EQ(admissionFieldsShown(window), QList<bool>(8, true));
    ASSERT_EQ(boxTexts(), QStringList{kAdmissionMessage});
    EXPECT_EQ(program.services->boxes()[0].request.icon, toolkit::MessageIcon::Information);
    EXPECT_EQ(program.services->boxes()[0].request.title, QStringLiteral("ネモリア"));

    admitted->click();
    EXPECT_TRUE(outpatient->isChecked());
    EXPECT_EQ(admissionFieldsShown(window), QList<bool>(8, false));
    outpatient->click();
    EXPECT_TRUE(admitted->isChecked());
    EXPECT_EQ(boxTexts(), (QStringList{kAdmissionMessage, kAdmissionMessage}));

    outpatient->click();
    close(window);
    EXPECT_EQ(storedValue(10, QStringLiteral("外入の別")).toInt(), -1);
    EXPECT_TRUE(storedValue(10, QStringLiteral("入院日")).isNull());
    EXPECT_EQ(boxTexts().size(), 2) << boxTexts().join(QLatin1Char('|')).toStdString();
}

TEST_F(NewPatientWindowTest, ClosingShowsTheAllPatientLedgerWhicheverLedgerRegistered)
{
    frmNewPt *window = registerFrom(app::window::InpatientLedger, QStringLiteral("2001"));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(app::findWindow(app::window::InpatientLedger), nullptr);
    close(window);
    EXPECT_EQ(Forms::find<frmNewPt>(), nullptr);
    EXPECT_EQ(app::findWindow(app::window::InpatientLedger), nullptr);
    toolkit::Form *ledger = app::findWindow(app::window::AllPatientLedger);
    ASSERT_NE(ledger, nullptr);
    EXPECT_TRUE(ledger->isVisible());
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(NewPatientWindowTest, ImpossibleAdmissionDateIsRefusedOnClosingAndTheRestIsStored)
{
    frmNewPt *window = registerChart(QStringLiteral("1001"));
    ASSERT_NE(window, nullptr);
    QTest::keyClicks(text(window, "Text6"), QStringLiteral("2003/13/1"));
    text(window, "Text8")->insert(QStringLiteral("幻聴"));
    close(window);

    ASSERT_EQ(program.services->boxes().size(), 1);
    const toolkit::MessageBoxRequest &box = program.services->boxes()[0].request;
    EXPECT_EQ(box.text, QStringLiteral("「入院日」の日付が正しくありません。\r"
                                       "「入院日」は保存されませんでした。ほかの項目は保存されました。"));
    EXPECT_EQ(box.icon, toolkit::MessageIcon::Exclamation);
    EXPECT_EQ(Forms::find<frmNewPt>(), nullptr);
    EXPECT_NE(app::findWindow(app::window::AllPatientLedger), nullptr);
    EXPECT_TRUE(program.statuses.isEmpty());
    EXPECT_TRUE(storedValue(10, QStringLiteral("入院日")).isNull());
    EXPECT_EQ(storedValue(10, QStringLiteral("一時診断名")).toString(), QStringLiteral("幻聴"));
}

// A database older than the outpatient switch lacks 外入の別, the first
// column bound.
TEST_F(NewPatientWindowTest, DatabaseTooOldForTheSwitchAsksForAConversion)
{
    const QString path = QDir(folder.path()).filePath(QStringLiteral("old.mdb"));
    db::createDatabase(path, db::Generation::V2086);
    {
        jet::Connection connection;
        connection.setProvider(db::shapingProvider());
        connection.open(db::shapedConnectionString(path));
        connection.execute(QStringLiteral("INSERT INTO 患者情報 (カルテID, 氏名) VALUES (1, '山田')"));
        connection.execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (1)"));
        connection.close();
    }
    writeLocation(path);
    app::showWindow(app::window::NewPatient, 1);
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_EQ(program.services->boxes()[0].request.text,
              QStringLiteral("データベースが古いため表示できません。コンバートしてください。"));
    EXPECT_EQ(program.services->boxes()[0].request.icon, toolkit::MessageIcon::Critical);
    EXPECT_EQ(program.statuses, QList<int>{1});
    EXPECT_EQ(Forms::find<frmNewPt>(), nullptr);
}

} // namespace
