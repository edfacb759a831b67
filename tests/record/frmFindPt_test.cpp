#include "record/frmFindPt.h"
#include "support/labels.h"

#include "db/engine/catalog.h"
#include "db/engine/sqlite/sqlitedriver.h"
#include "db/location.h"
#include "db/schema.h"
#include "ledger/frmFindPts.h"
#include "db/episodes.h"
#include "recordfixture.h"
#include "toolkit/binding.h"
#include "toolkit/help.h"
#include "toolkit/platform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QElapsedTimer>
#include <QTest>
#include <sqlite3.h>

namespace {

using toolkit::Forms;

class AllPatientRecordTest : public testing_support::RecordWindowTest
{
protected:
    void SetUp() override
    {
        RecordWindowTest::SetUp();
        registerWindow<frmFindPts>(app::window::AllPatientLedger);
        registerWindow<frmFindPt>(app::window::AllPatientRecord);
    }

    frmFindPt *open(int episode) { return RecordWindowTest::open<frmFindPt>(app::window::AllPatientLedger, episode); }

    static QLabel *labelOf(frmFindPt *window, const QString &caption)
    {
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (label->text() == caption)
                return label;
        }
        ADD_FAILURE() << "no label " << caption.toStdString();
        return nullptr;
    }

    // The admission fields and their labels, each as shown (true) or hidden.
    static QList<bool> admissionShown(frmFindPt *window)
    {
        QList<bool> shown;
        for (const char *name : {"Text6", "Text7", "DataCombo1", "DataCombo3", "DataCombo4"})
            shown << window->findChild<QWidget *>(QString::fromLatin1(name))->isVisibleTo(window);
        for (const char *caption : {"入院日", "入院形態", "部屋番号", "ベッド番号", "退院日"})
            shown << labelOf(window, QString::fromUtf8(caption))->isVisibleTo(window);
        return shown;
    }

    static void retype(QLineEdit *box, const QString &text)
    {
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, text);
    }

    static void trigger(frmFindPt *window, const char *action)
    {
        window->findChild<QAction *>(QString::fromLatin1(action))->trigger();
        QCoreApplication::processEvents();
    }

    QVariant episodeValue(const QString &column, int episode)
    {
        return stored(QStringLiteral("SELECT %1 FROM 入退院情報 WHERE 入退院ID = ?").arg(column), {episode});
    }

    static inline const QList<bool> kShown = QList<bool>(10, true);
    static inline const QList<bool> kHidden = QList<bool>(10, false);
};

TEST_F(AllPatientRecordTest, AnOutpatientCourseOpensWithTheAdmissionFieldsHidden)
{
    frmFindPt *window = open(5);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(app::findWindow(app::window::AllPatientLedger), nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("伊達政子 - ネモリア （すべての患者）"));

    auto *tabs = field<QTabWidget>(window, "SSTab1");
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i)
        captions << tabs->tabText(i);
    EXPECT_EQ(captions,
              (QStringList{"診療基本", "患者基本", "患者備考", "入院計画", "治療経過", "検査結果", "退院計画", "注意事項"}));

    EXPECT_TRUE(field<QCheckBox>(window, "Check8")->isChecked());
    EXPECT_FALSE(field<QCheckBox>(window, "Check9")->isChecked());
    EXPECT_EQ(admissionShown(window), kHidden);

    EXPECT_EQ(field<QComboBox>(window, "DataCombo14")->currentText(), QStringLiteral("ほとんどない"));
    EXPECT_EQ(field<QPlainTextEdit>(window, "Text30")->toPlainText(), QStringLiteral("不安に注意"));
    EXPECT_EQ(field<QPlainTextEdit>(window, "Text36")->toPlainText(), QStringLiteral("不安の治療"));
    EXPECT_NE(labelOf(window, QStringLiteral("入院後の経過（外来治療の経過）／現在の治療")), nullptr);
    EXPECT_EQ(window->findChild<QGroupBox *>(QStringLiteral("Frame1"))->title(),
              QStringLiteral("これまでの経過（現病歴）"));
    EXPECT_EQ(toolkit::programHelpFile(), QDir(folder.path()).filePath(QStringLiteral("index.chm")));
    EXPECT_TRUE(program.statuses.isEmpty());
    EXPECT_EQ(testing_support::narrowLabels(window), QStringList());

    // Showing the admission fields moves nothing else on the tab.
    field<QTabWidget>(window, "SSTab1")->setCurrentIndex(0);
    QCoreApplication::processEvents();
    const QRect diagnosis = field(window, "Text8")->geometry();
    const QRect name = field(window, "Text2")->geometry();
    field<QCheckBox>(window, "Check9")->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(admissionShown(window), kShown);
    EXPECT_EQ(field(window, "Text8")->geometry(), diagnosis);
    EXPECT_EQ(field(window, "Text2")->geometry(), name);
}

TEST_F(AllPatientRecordTest, AnOutpatientCourseKeepsItsStoredDatesThroughLoadingAndClosing)
{
    frmFindPt *window = open(7);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(field<QCheckBox>(window, "Check8")->isChecked());
    EXPECT_EQ(admissionShown(window), kHidden);
    window->close();
    QCoreApplication::processEvents();

    EXPECT_EQ(episodeValue(QStringLiteral("入院日"), 7).toDate(), QDate(2002, 5, 1));
    EXPECT_EQ(episodeValue(QStringLiteral("退院日"), 7).toDate(), QDate(2002, 6, 1));
}

TEST_F(AllPatientRecordTest, AnAdmissionOpensWithItsFieldsShownAndDatesInFullDigits)
{
    frmFindPt *window = open(2);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(field<QCheckBox>(window, "Check8")->isChecked());
    EXPECT_TRUE(field<QCheckBox>(window, "Check9")->isChecked());
    EXPECT_EQ(admissionShown(window), kShown);

    EXPECT_EQ(field(window, "Text6")->text(), QStringLiteral("2003/03/24"));
    EXPECT_EQ(field(window, "Text7")->text(), QStringLiteral("2003/04/01"));
    EXPECT_EQ(toolkit::imeMode(field(window, "Text6")), toolkit::ImeMode::Disable);
    EXPECT_EQ(toolkit::imeMode(field(window, "Text7")), toolkit::ImeMode::Disable);
    EXPECT_EQ(toolkit::imeMode(field(window, "Text5")), toolkit::ImeMode::NoControl);
    EXPECT_EQ(toolkit::imeMode(field<QPlainTextEdit>(window, "Text30")), toolkit::ImeMode::On);
    EXPECT_EQ(field<QComboBox>(window, "DataCombo3")->currentText(), QStringLiteral("201"));

    // Only the combos say where their lists are kept.
    EXPECT_EQ(field<QComboBox>(window, "DataCombo7")->toolTip(), QStringLiteral("病名の追加はオプションで可能"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo14")->toolTip(), QStringLiteral("オプションで編集可能"));
    EXPECT_EQ(field(window, "Text8")->toolTip(), QString());
    EXPECT_EQ(field(window, "Text10")->toolTip(), QString());

    auto *save = window->findChild<QAction *>(QStringLiteral("mnuFileSave"));
    EXPECT_EQ(save->text(), QStringLiteral("上書き保存(&S)"));
    EXPECT_EQ(save->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    EXPECT_EQ(window->focusWidget(), field(window, "Text4"));
}

TEST_F(AllPatientRecordTest, CheckingOutpatientDiscardsBothDatesWhenTheWindowCloses)
{
    frmFindPt *window = open(2);
    ASSERT_NE(window, nullptr);
    field<QCheckBox>(window, "Check8")->click();
    EXPECT_FALSE(field<QCheckBox>(window, "Check9")->isChecked());
    EXPECT_EQ(admissionShown(window), kHidden);

    trigger(window, "mnuFileClose");
    EXPECT_EQ(Forms::find<frmFindPt>(), nullptr);
    EXPECT_NE(Forms::find<frmFindPts>(), nullptr) << "the all-patient ledger comes back";
    EXPECT_TRUE(boxes().isEmpty());
    EXPECT_TRUE(program.statuses.isEmpty());

    EXPECT_FALSE(episodeValue(QStringLiteral("入院日"), 2).isValid());
    EXPECT_FALSE(episodeValue(QStringLiteral("退院日"), 2).isValid());
    EXPECT_EQ(episodeValue(QStringLiteral("外入の別"), 2).toInt(), -1);
    EXPECT_EQ(episodeValue(QStringLiteral("病室番号"), 2).toInt(), 3) << "only the dates are emptied";
}

TEST_F(AllPatientRecordTest, EachSwitchTurnsTheOtherAndSwitchingBackShowsTheDatesEmpty)
{
    frmFindPt *window = open(2);
    ASSERT_NE(window, nullptr);
    auto *outpatient = field<QCheckBox>(window, "Check8");
    auto *inpatient = field<QCheckBox>(window, "Check9");

    outpatient->click();
    outpatient->click();
    EXPECT_TRUE(inpatient->isChecked());
    EXPECT_EQ(admissionShown(window), kShown);
    EXPECT_EQ(field(window, "Text6")->text(), QString());
    EXPECT_EQ(field(window, "Text7")->text(), QString());

    inpatient->click();
    EXPECT_TRUE(outpatient->isChecked());
    EXPECT_EQ(admissionShown(window), kHidden);
    inpatient->click();
    EXPECT_FALSE(outpatient->isChecked());
    EXPECT_EQ(admissionShown(window), kShown);

    // Back to an admission, the new date is stored as typed.
    retype(field(window, "Text6"), QStringLiteral("2003/3/2"));
    trigger(window, "mnuFileSave");
    EXPECT_EQ(Forms::find<frmFindPt>(), window) << "saving leaves the window open";
    EXPECT_EQ(episodeValue(QStringLiteral("入院日"), 2).toDate(), QDate(2003, 3, 2));
    EXPECT_EQ(field(window, "Text6")->text(), QStringLiteral("2003/03/02"));
    EXPECT_FALSE(episodeValue(QStringLiteral("退院日"), 2).isValid());
    EXPECT_EQ(episodeValue(QStringLiteral("外入の別"), 2).toInt(), 0);
    EXPECT_TRUE(program.statuses.isEmpty());
}

// Tab walks the first tab in the order of the form, past the disabled chart ID
// and the hidden key, and on to the outpatient switch.
TEST_F(AllPatientRecordTest, TabWalksTheFirstTabInItsOrder)
{
    frmFindPt *window = open(1);
    ASSERT_NE(window, nullptr);
    QStringList order;
    QWidget *widget = field(window, "Text4");
    for (int i = 0; i < 16; ++i) {
        order << widget->objectName();
        do
            widget = widget->nextInFocusChain();
        while (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isEnabled() || widget->objectName().isEmpty()
               || widget->objectName().startsWith(QStringLiteral("qt_")));
    }
    EXPECT_EQ(order, (QStringList{"Text4", "Text2", "Text5", "Text6", "Text7", "DataCombo2", "DataCombo1", "DataCombo3",
                                  "DataCombo4", "DataCombo5", "DataCombo6", "Text8", "Text9", "Check8", "Check9",
                                  "Text10"}));
}

// The other fields are stored and the window stays; the program goes on.
TEST_F(AllPatientRecordTest, AnImpossibleDateIsRefusedWithTheWarningAndTheRestIsSaved)
{
    frmFindPt *window = open(1);
    ASSERT_NE(window, nullptr);
    retype(field(window, "Text7"), QStringLiteral("2003/13/1"));
    field(window, "Text8")->setText(QStringLiteral("幻視"));
    trigger(window, "mnuFileSave");

    const QList<toolkit::MessageBoxRequest> shown = boxes();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, QStringLiteral("正しくデータを入力されていないようです。\r"
                                                                                        "「退院日」は保存されませんでした。ほかの項目は保存されました。"));
    EXPECT_EQ(shown[0].icon, toolkit::MessageIcon::Exclamation);
    EXPECT_EQ(Forms::find<frmFindPt>(), window);
    EXPECT_TRUE(program.statuses.isEmpty());
    EXPECT_EQ(episodeValue(QStringLiteral("一時診断名"), 1).toString(), QStringLiteral("幻視"));
    EXPECT_FALSE(episodeValue(QStringLiteral("退院日"), 1).isValid());
    EXPECT_EQ(field(window, "Text7")->text(), QString()) << "the refused field shows the stored value again";
}

// The window still closes, and the ledger comes back, with the other edits stored.
TEST_F(AllPatientRecordTest, AComboTextThatIsNoEntryIsRefusedOnClosingAndTheWindowCloses)
{
    frmFindPt *window = open(5);
    ASSERT_NE(window, nullptr);
    field<QComboBox>(window, "DataCombo14")->setEditText(QStringLiteral("たまに"));
    field<QPlainTextEdit>(window, "Text30")->setPlainText(QStringLiteral("夜間に電話あり"));
    window->close();
    QCoreApplication::processEvents();

    const QList<toolkit::MessageBoxRequest> shown = boxes();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, QStringLiteral("コンボボックスのエラーが発生しました。\r"
                                                                                        "「時間外頻度」は保存されませんでした。ほかの項目は保存されました。"));
    EXPECT_EQ(Forms::find<frmFindPt>(), nullptr);
    EXPECT_NE(Forms::find<frmFindPts>(), nullptr);
    EXPECT_TRUE(program.statuses.isEmpty());
    EXPECT_EQ(episodeValue(QStringLiteral("時間外頻度"), 5).toInt(), 3);
    EXPECT_EQ(episodeValue(QStringLiteral("個別注意事項"), 5).toString(), QStringLiteral("夜間に電話あり"));
}

TEST_F(AllPatientRecordTest, AnEpisodeWithoutCompanionRowsGetsOneOfEachAndOpens)
{
    ASSERT_EQ(rowsOf(QStringLiteral("検査情報"), 4), 0);
    frmFindPt *window = open(4);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(field(window, "Text2")->text(), QStringLiteral("高橋一郎"));
    EXPECT_EQ(field(window, "Text6")->text(), QStringLiteral("2003/04/02"));
    field<QPlainTextEdit>(window, "Text25")->insertPlainText(QStringLiteral("異常なし"));
    window->close();
    QCoreApplication::processEvents();
    EXPECT_TRUE(program.statuses.isEmpty());

    ASSERT_NE(open(4), nullptr);
    EXPECT_EQ(rowsOf(QStringLiteral("検査情報"), 4), 1);
    EXPECT_EQ(rowsOf(QStringLiteral("診断情報"), 4), 1);
    EXPECT_EQ(stored(QStringLiteral("SELECT `検査(ＣＴ)` FROM 検査情報 WHERE 入退院ID = 4")).toString(),
              QStringLiteral("異常なし"));
}

TEST_F(AllPatientRecordTest, ADatabaseWithoutThePrecautionsAsksForAConversion)
{
    writeLocation(databaseWithout(QStringLiteral("個別注意事項"), false));

    EXPECT_EQ(open(1), nullptr);
    const QList<toolkit::MessageBoxRequest> shown = boxes();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, QStringLiteral("データベースが古いため表示できません。コンバートしてください。"));
    EXPECT_EQ(shown[0].icon, toolkit::MessageIcon::Critical);
    EXPECT_EQ(program.statuses, QList<int>{1});
    EXPECT_EQ(app::findWindow(app::window::AllPatientLedger), nullptr);
}


// Another workstation deletes the episode shown here and registers a new
// patient, whose keyless 検査情報 row takes the deleted row's rowid.
TEST_F(AllPatientRecordTest, ASaveOfAnEpisodeDeletedElsewhereWritesNothingAndKeepsTheText)
{
    frmFindPt *window = open(8);
    ASSERT_NE(window, nullptr);
    db::deleteEpisode(ward.connection(), 9);
    db::deleteEpisode(ward.connection(), 8);
    ASSERT_EQ(db::registerEpisode(ward.connection(), 3001), 10);

    auto *memo = window->findChild<QPlainTextEdit *>(QStringLiteral("Text25"));
    QTest::keyClicks(memo, QStringLiteral("CT normal"));
    // A refused field does not make the box claim the others were saved.
    retype(field(window, "Text7"), QStringLiteral("2003/13/1"));
    trigger(window, "mnuFileSave");
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_TRUE(boxes()[0].text.startsWith(QStringLiteral("データを保存できませんでした。")));
    EXPECT_EQ(field(window, "Text7")->text(), QStringLiteral("2003/13/1"));
    EXPECT_TRUE(stored(QStringLiteral("SELECT [検査(ＣＴ)] FROM 検査情報 WHERE 入退院ID = 10")).isNull());
    EXPECT_EQ(Forms::find<frmFindPt>(), window);
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("CT normal"));
}

} // namespace

TEST_F(AllPatientRecordTest, TabLeavesEveryMemoFieldWithoutTypingIntoIt)
{
    frmFindPt *window = open(2);
    for (QPlainTextEdit *memo : window->findChildren<QPlainTextEdit *>())
        EXPECT_TRUE(memo->tabChangesFocus()) << memo->objectName().toStdString();
}

TEST_F(AllPatientRecordTest, FitsAnEightHundredBySixHundredScreenWithEveryFieldReachable)
{
    testing_support::expectFitsEightHundredBySixHundred(open(1));
}

// Another workstation holds the file's write lock past the wait: the save
// waits, says so and keeps the window and its text; the next one stores.
TEST_F(AllPatientRecordTest, ASaveOnALockedFileWaitsThenKeepsTheWindowAndItsText)
{
    frmFindPt *window = open(5);
    sqlite3 *other = jet::sqliteHandle(ward.connection());
    sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    retype(field(window, "Text11"), QStringLiteral("Hakodate 2-1"));
    QElapsedTimer waited;
    waited.start();
    trigger(window, "mnuFileSave");
    EXPECT_GE(waited.elapsed(), 2500);
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_TRUE(boxes()[0].text.startsWith(QStringLiteral("ほかの端末がデータベースを使用しているため、保存できませんでした。")));
    EXPECT_FALSE(window->unload());
    EXPECT_FALSE(toolkit::programHasEnded());
    EXPECT_EQ(field(window, "Text11")->text(), QStringLiteral("Hakodate 2-1"));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    EXPECT_TRUE(window->unload());
    EXPECT_EQ(stored(QStringLiteral("SELECT 住所 FROM 患者情報 WHERE カルテID = 1004")).toString(), QStringLiteral("Hakodate 2-1"));
}
