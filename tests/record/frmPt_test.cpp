#include "db/engine/sqlite/sqlitedriver.h"
#include "record/frmPt.h"
#include "support/labels.h"

#include "ledger/frmPts.h"
#include "db/engine/changewatcher.h"
#include "record/recordwindow.h"
#include "recordfixture.h"
#include "support/otherprocess.h"
#include "toolkit/binding.h"
#include "toolkit/platform.h"
#include "toolkit/widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

#include <sqlite3.h>

namespace {

class InpatientRecordTest : public testing_support::RecordWindowTest
{
protected:
    explicit InpatientRecordTest(testing_support::Backend backend = testing_support::Backend::File) : RecordWindowTest(backend) {}

    void SetUp() override
    {
        RecordWindowTest::SetUp();
        registerWindow<frmPts>(app::window::InpatientLedger);
        registerWindow<frmPt>(app::window::InpatientRecord);
    }

    frmPt *open(int episode) { return RecordWindowTest::open<frmPt>(app::window::InpatientLedger, episode); }

    // Typed keys for ASCII text, an input method's commit for Japanese text.
    static void type(QWidget *box, const QString &text)
    {
        bool ascii = true;
        for (QChar c : text)
            ascii &= c.unicode() < 0x80;
        if (ascii) {
            QTest::keyClicks(box, text);
            return;
        }
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QCoreApplication::sendEvent(box, &commit);
    }

    static void retype(QLineEdit *box, const QString &text)
    {
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        type(box, text);
    }

    QVariant episodeValue(const QString &column, int episode = 1)
    {
        return stored(QStringLiteral("SELECT %1 FROM 入退院情報 WHERE 入退院ID = ?").arg(column), {episode});
    }
    QVariant patientValue(const QString &column, int chart = 1001)
    {
        return stored(QStringLiteral("SELECT %1 FROM 患者情報 WHERE カルテID = ?").arg(column), {chart});
    }
};

using InpatientRecord = testing_support::OnBothBackends<InpatientRecordTest>;
INSTANTIATE_TEST_SUITE_P(Ward, InpatientRecord,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(InpatientRecord, ShowsTheLedgersEpisodeOnEveryTab)
{
    frmPt *window = open(1);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(testing_support::narrowLabels(window), QStringList());
    EXPECT_EQ(app::findWindow(app::window::InpatientLedger), nullptr) << "the ledger leaves once the record is there";
    EXPECT_EQ(window->windowTitle(), QStringLiteral("山田太郎 - ネモリア （入院中の患者）"));

    auto *tabs = field<QTabWidget>(window, "SSTab1");
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i)
        captions << tabs->tabText(i);
    EXPECT_EQ(captions, (QStringList{"入院基本", "患者基本", "患者備考", "入院計画", "入院経過", "検査結果", "退院計画"}));

    EXPECT_EQ(field(window, "Text1")->text(), QStringLiteral("1"));
    EXPECT_FALSE(field(window, "Text1")->isVisibleTo(window));
    EXPECT_EQ(field(window, "Text3")->text(), QStringLiteral("1001"));
    EXPECT_FALSE(field(window, "Text3")->isEnabled()) << "the chart ID can be neither focused nor edited";
    EXPECT_EQ(field(window, "Text4")->text(), QStringLiteral("やまだたろう"));
    EXPECT_EQ(field(window, "Text5")->text(), QStringLiteral("1960/04/02"));
    EXPECT_EQ(field(window, "Text6")->text(), QStringLiteral("2003/03/25"));
    EXPECT_EQ(field(window, "Text7")->text(), QString());
    EXPECT_EQ(field<QComboBox>(window, "DataCombo1")->currentText(), QStringLiteral("任意入院"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo2")->currentText(), QStringLiteral("男性"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo3")->currentText(), QStringLiteral("305"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo4")->currentText(), QStringLiteral("1"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo5")->currentText(), QStringLiteral("岡部"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo6")->currentText(), QStringLiteral("山田"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo7")->currentText(), QStringLiteral("F20 統合失調症"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo8")->currentText(), QStringLiteral("F32 うつ病エピソード"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo7")->count(), 5) << "every diagnosis with the placeholder";
    EXPECT_EQ(field<QComboBox>(window, "DataCombo7")->itemText(1), QStringLiteral("F10.2 アルコール依存症"))
        << "sorted by ICD code";
    EXPECT_EQ(field<QComboBox>(window, "DataCombo10")->currentText(), QStringLiteral("要介護1"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo13")->currentText(), QStringLiteral("国保"));
    EXPECT_EQ(field(window, "Text8")->text(), QStringLiteral("幻聴"));
    EXPECT_EQ(field<QPlainTextEdit>(window, "Text9")->toPlainText(), QStringLiteral("幻聴の経過"));
    EXPECT_EQ(field<QPlainTextEdit>(window, "Text23")->toPlainText(), QStringLiteral("脳波1"));
    EXPECT_EQ(field<QPlainTextEdit>(window, "Text36")->toPlainText(), QStringLiteral("幻聴の治療"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo7")->toolTip(),
              QStringLiteral("退院病歴の印刷に必須、病名の追加はオプションで編集可能"));
    EXPECT_EQ(field<QPlainTextEdit>(window, "Text23")->font().pointSize(), 9);
    EXPECT_EQ(window->focusWidget(), field(window, "Text4"));

    toolkit::StatusPanels *status = window->statusPanels();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->count(), 3);
    EXPECT_EQ(status->kind(1), toolkit::StatusPanels::Kind::Time);
    EXPECT_EQ(status->text(2), QStringLiteral("2003/04/01"));
}

TEST_F(InpatientRecordTest, MenusAndTheFocusOrderOfTheFirstTab)
{
    frmPt *window = open(1);
    ASSERT_NE(window, nullptr);
    const auto item = [window](const char *name) { return window->findChild<QAction *>(QString::fromLatin1(name)); };
    EXPECT_EQ(item("mnuFileSave")->text(), QStringLiteral("上書き保存(S)"));
    EXPECT_EQ(item("mnuFileSave")->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    EXPECT_EQ(item("mnuFileClose")->text(), QStringLiteral("閉じる(&Q)"));
    EXPECT_EQ(item("mnuFileClose")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    EXPECT_TRUE(item("mnuHelpStep")->isSeparator());
    EXPECT_EQ(item("mnuHelpNorva")->text(), QStringLiteral("バージョン情報(&V)"));

    QStringList order;
    QWidget *widget = field(window, "Text4");
    for (int i = 0; i < 13; ++i) {
        order << widget->objectName();
        do
            widget = widget->nextInFocusChain();
        while (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isEnabled() || widget->objectName().isEmpty()
               || widget->objectName().startsWith(QStringLiteral("qt_")));
    }
    EXPECT_EQ(order, (QStringList{"Text4", "Text2", "Text5", "Text6", "Text7", "DataCombo2", "DataCombo1", "DataCombo3",
                                  "DataCombo4", "DataCombo5", "DataCombo6", "Text8", "Text9"}));
    EXPECT_EQ(toolkit::imeMode(field(window, "Text4")), toolkit::ImeMode::Hiragana);
    EXPECT_EQ(toolkit::imeMode(field(window, "Text10")), toolkit::ImeMode::Disable);
    EXPECT_EQ(toolkit::imeMode(field(window, "Text5")), toolkit::ImeMode::NoControl);
    EXPECT_EQ(toolkit::imeMode(field<QPlainTextEdit>(window, "Text33")), toolkit::ImeMode::On);
}

// The name typed anew through the input method: emptying the name empties
// the reading, and the reading of the confirmed text is what is stored.
TEST_P(InpatientRecord, TheReadingOfATypedNameIsStoredWithIt)
{
    frmPt *window = open(1);
    ASSERT_NE(window, nullptr);
    QLineEdit *name = field(window, "Text2");
    name->setFocus();
    name->selectAll();
    QTest::keyClick(name, Qt::Key_Backspace);
    EXPECT_EQ(field(window, "Text4")->text(), QString());
    for (const QString &preedit : {QStringLiteral("ｙ"), QStringLiteral("や"), QStringLiteral("やｍ"), QStringLiteral("やま"),
                                   QStringLiteral("やまだ"), QStringLiteral("山田")}) {
        QInputMethodEvent composing(preedit, {});
        QCoreApplication::sendEvent(name, &composing);
    }
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("山田"));
    QCoreApplication::sendEvent(name, &commit);
    EXPECT_EQ(field(window, "Text4")->text(), QStringLiteral("やまだ"));
    window->close();
    EXPECT_EQ(patientValue(QStringLiteral("氏名")).toString(), QStringLiteral("山田"));
    EXPECT_EQ(patientValue(QStringLiteral("かな氏名")).toString(), QStringLiteral("やまだ"));
}

TEST_P(InpatientRecord, ClosingStoresEveryEditAndTheLedgerListsIt)
{
    frmPt *window = open(1);
    ASSERT_NE(window, nullptr);
    retype(field(window, "Text2"), QStringLiteral("Yamada"));
    retype(field(window, "Text5"), QStringLiteral("1985/1/1"));
    retype(field(window, "Text8"), QStringLiteral("F20"));
    field<QCheckBox>(window, "Check5")->click();
    field<QComboBox>(window, "DataCombo3")->setCurrentIndex(2);
    field<QComboBox>(window, "DataCombo6")->lineEdit()->clear(); // "not set" is row 1, never Null
    QTest::keyClicks(field<QPlainTextEdit>(window, "Text22"), QStringLiteral("CRP 0.1"));
    window->close();

    EXPECT_EQ(toolkit::Forms::find<frmPt>(), nullptr);
    EXPECT_EQ(patientValue(QStringLiteral("氏名")).toString(), QStringLiteral("Yamada"));
    EXPECT_EQ(patientValue(QStringLiteral("生年月日")).toDate(), QDate(1985, 1, 1));
    EXPECT_EQ(episodeValue(QStringLiteral("一時診断名")).toString(), QStringLiteral("F20"));
    EXPECT_NE(episodeValue(QStringLiteral("入院中の自殺企図")).toInt(), 0);
    EXPECT_EQ(episodeValue(QStringLiteral("病室番号")).toInt(), 3);
    EXPECT_EQ(episodeValue(QStringLiteral("主治医②")).toInt(), 1);
    EXPECT_EQ(stored(QStringLiteral("SELECT `検査(血液・生化・尿他)` FROM 検査情報 WHERE 入退院ID = 1")).toString(),
              QStringLiteral("CRP 0.1"));

    auto *ledger = static_cast<frmPts *>(app::findWindow(app::window::InpatientLedger));
    ASSERT_NE(ledger, nullptr);
    EXPECT_TRUE(ledger->isVisible());
    bool listed = false;
    for (int row = 0; row < ledger->DataGrid1()->model()->rowCount(); ++row)
        listed |= ledger->DataGrid1()->value(row, QStringLiteral("氏名")).toString() == QStringLiteral("Yamada");
    EXPECT_TRUE(listed) << "the ledger reloads";

    window = open(1);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(field(window, "Text5")->text(), QStringLiteral("1985/01/01"));
    EXPECT_TRUE(program.statuses.isEmpty());
}

// Another workstation changes the patient: the window shows it once the user
// looks at it again, or, with edits of its own, keeps them and says so.
TEST_P(InpatientRecord, FollowsAChangeMadeElsewhereUnlessItWouldLoseEdits)
{
    frmPt *window = open(1);
    ASSERT_NE(window, nullptr);
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    const QString change = QStringLiteral("UPDATE \"入退院情報\" SET \"一時診断名\" = '%1' WHERE \"入退院ID\" = 1");
    testing_support::saveInAnotherProcess(ward.path(), change.arg(QStringLiteral("F31")));
    QTest::qWait(int(jet::ChangeWatcher::kInterval.count()) + 500);
    EXPECT_NE(field(window, "Text8")->text(), QStringLiteral("F31")) << "not under the user's eyes while away";
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return field(window, "Text8")->text() == QStringLiteral("F31"); }, 5000));

    retype(field(window, "Text2"), QStringLiteral("Yamada"));
    testing_support::saveInAnotherProcess(ward.path(), change.arg(QStringLiteral("F32")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->statusPanels()->text(0).isEmpty(); }, 5000));
    EXPECT_EQ(window->statusPanels()->text(0), QStringLiteral("この患者のデータは他の端末で変更されました。"));
    EXPECT_EQ(field(window, "Text8")->text(), QStringLiteral("F31"));
    EXPECT_EQ(field(window, "Text2")->text(), QStringLiteral("Yamada"));
    window->findChild<QAction *>(QStringLiteral("mnuFileSave"))->trigger();
    EXPECT_TRUE(window->statusPanels()->text(0).isEmpty()) << "answered by the save";
}

// The warning of a refused value no longer ends the program and loses the
// window's work: the rest is stored, the refused field shows what is stored.
TEST_P(InpatientRecord, AnImpossibleDateIsRefusedAndTheOtherEditsAreStored)
{
    frmPt *window = open(1);
    ASSERT_NE(window, nullptr);
    retype(field(window, "Text7"), QStringLiteral("1985/13/1"));
    retype(field(window, "Text8"), QStringLiteral("再燃"));
    window->findChild<QAction *>(QStringLiteral("mnuFileSave"))->trigger();

    ASSERT_EQ(boxes().size(), 1);
    EXPECT_EQ(boxes()[0].text, QStringLiteral("正しくデータを入力されていないようです。\r"
                                                                                            "「退院日」は保存されませんでした。ほかの項目は保存されました。"));
    EXPECT_EQ(boxes()[0].icon, toolkit::MessageIcon::Exclamation);
    EXPECT_EQ(boxes()[0].title, QStringLiteral("ネモリア"));
    EXPECT_TRUE(program.statuses.isEmpty());
    ASSERT_EQ(toolkit::Forms::find<frmPt>(), window) << "saving leaves the window open";
    EXPECT_EQ(episodeValue(QStringLiteral("一時診断名")).toString(), QStringLiteral("再燃"));
    EXPECT_TRUE(episodeValue(QStringLiteral("退院日")).isNull());
    EXPECT_EQ(field(window, "Text7")->text(), QString());

    retype(field<QComboBox>(window, "DataCombo5")->lineEdit(), QStringLiteral("誰か"));
    window->close();
    ASSERT_EQ(boxes().size(), 2);
    EXPECT_EQ(boxes()[1].text, QStringLiteral("コンボボックスのエラーが発生しました。\r"
                                                                                            "「主治医①」は保存されませんでした。ほかの項目は保存されました。"));
    EXPECT_EQ(toolkit::Forms::find<frmPt>(), nullptr);
    EXPECT_NE(app::findWindow(app::window::InpatientLedger), nullptr);
    EXPECT_EQ(episodeValue(QStringLiteral("主治医①")).toInt(), 2);
}

TEST_F(InpatientRecordTest, KeyFiltersAndDateHints)
{
    frmPt *window = open(1);
    ASSERT_NE(window, nullptr);
    QLineEdit *postal = field(window, "Text10");
    postal->setFocus();
    QTest::keyClicks(postal, QStringLiteral("1a0-0"));
    EXPECT_EQ(postal->text(), QStringLiteral("10-0"));
    EXPECT_EQ(program.services->beeps(), 1);

    QLineEdit *phone = field(window, "Text12");
    QTest::keyClicks(phone, QStringLiteral("03-x1"));
    EXPECT_EQ(phone->text(), QStringLiteral("03-1"));
    EXPECT_EQ(program.services->beeps(), 2);

    window->activateWindow();
    QLineEdit *birth = field(window, "Text5");
    birth->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->statusPanels()->text(0), record::kBirthDateHint);
    QTest::keyClicks(birth, QStringLiteral("x.-"));
    EXPECT_EQ(birth->text(), QStringLiteral("1960/04/02"));
    EXPECT_EQ(program.services->beeps(), 5);
    field(window, "Text6")->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->statusPanels()->text(0), record::kDateHint);
    field(window, "Text8")->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->statusPanels()->text(0), QString());
}

TEST_P(InpatientRecord, ApplicationBoxesEnableTheirFieldsWithoutClearingThem)
{
    frmPt *window = open(1);
    ASSERT_NE(window, nullptr);
    auto *care = field<QComboBox>(window, "DataCombo10");
    EXPECT_FALSE(care->isEnabled());
    EXPECT_FALSE(field(window, "Text20")->isEnabled());
    field<QCheckBox>(window, "Check2")->click();
    EXPECT_TRUE(care->isEnabled());
    care->setCurrentIndex(0);
    field<QCheckBox>(window, "Check4")->click();
    EXPECT_TRUE(field(window, "Text20")->isEnabled());
    field<QCheckBox>(window, "Check2")->click();
    EXPECT_FALSE(care->isEnabled());
    window->close();

    EXPECT_EQ(patientValue(QStringLiteral("介護保険申請")).toInt(), 0);
    EXPECT_EQ(patientValue(QStringLiteral("介護度")).toInt(), 1) << "the greyed level stays as chosen";
    window = open(1);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(field(window, "Text20")->isEnabled()) << "binding runs the rule";
    EXPECT_FALSE(field<QComboBox>(window, "DataCombo10")->isEnabled());
}

// An episode an older program left without its examination row would drop
// out of the join; it gets its companion rows and opens.
TEST_P(InpatientRecord, AnEpisodeWithoutItsCompanionRowsGetsThemAndOpens)
{
    ward.connection().execute(QStringLiteral("UPDATE 入退院情報 SET 入院日 = #2003/03/31# WHERE 入退院ID = 4"));
    frmPt *window = open(4);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(field(window, "Text8")->text(), QStringLiteral("再入院"));
    EXPECT_EQ(rowsOf(QStringLiteral("検査情報"), 4), 1);
    EXPECT_EQ(rowsOf(QStringLiteral("診断情報"), 4), 1);
    type(field<QPlainTextEdit>(window, "Text24"), QStringLiteral("異常なし"));
    window->close();
    EXPECT_TRUE(program.statuses.isEmpty());
    EXPECT_EQ(stored(QStringLiteral("SELECT `検査(レントゲン)` FROM 検査情報 WHERE 入退院ID = 4")).toString(),
              QStringLiteral("異常なし"));

    open(4)->close();
    EXPECT_EQ(rowsOf(QStringLiteral("検査情報"), 4), 1) << "created once";
}

// A database whose examination table lacks the window's columns: the load
// fails on the first of them (545), which this window answers with the fatal box.
TEST_F(InpatientRecordTest, ALoadFailureEndsTheProgram)
{
    ASSERT_EQ(sqlite3_exec(jet::sqliteHandle(ward.connection()),
                           "ALTER TABLE 検査情報 RENAME TO 検査情報_旧; CREATE TABLE 検査情報 (入退院ID INT); "
                           "INSERT INTO 検査情報 SELECT 入退院ID FROM 検査情報_旧;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(open(1), nullptr);
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_EQ(boxes()[0].text, toolkit::fatalErrorBox().text);
    EXPECT_EQ(program.statuses, QList<int>{1});
    EXPECT_EQ(app::findWindow(app::window::InpatientLedger), nullptr);
}

} // namespace

TEST_F(InpatientRecordTest, TabLeavesEveryMemoFieldWithoutTypingIntoIt)
{
    frmPt *window = open(1);
    for (QPlainTextEdit *memo : window->findChildren<QPlainTextEdit *>())
        EXPECT_TRUE(memo->tabChangesFocus()) << memo->objectName().toStdString();
}
