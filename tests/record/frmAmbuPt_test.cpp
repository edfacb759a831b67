#include "record/frmAmbuPt.h"
#include "support/labels.h"

#include "db/engine/catalog.h"
#include "db/engine/sqlite/sqlitedriver.h"
#include "db/location.h"
#include "db/schema.h"
#include "ledger/frmAmbuPts.h"
#include "recordfixture.h"
#include "toolkit/help.h"
#include "toolkit/platform.h"
#include "toolkit/widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

#include <algorithm>
#include <sqlite3.h>

namespace {


class OutpatientRecordTest : public testing_support::RecordWindowTest
{
protected:
    explicit OutpatientRecordTest(testing_support::Backend backend = testing_support::Backend::File) : RecordWindowTest(backend) {}

    void SetUp() override
    {
        RecordWindowTest::SetUp();
        registerWindow<frmAmbuPts>(app::window::OutpatientLedger);
        registerWindow<frmAmbuPt>(app::window::OutpatientRecord);
    }

    frmAmbuPt *open(int episode) { return RecordWindowTest::open<frmAmbuPt>(app::window::OutpatientLedger, episode); }

    static QString labelOf(frmAmbuPt *window, QWidget *box)
    {
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (label->buddy() == box)
                return label->text();
        }
        return {};
    }

    // Latin text is typed key by key; Japanese text arrives as the input
    // method commits it.
    static void retype(QWidget *box, const QString &text)
    {
        box->setFocus();
        if (auto *line = qobject_cast<QLineEdit *>(box))
            line->selectAll();
        else
            qobject_cast<QPlainTextEdit *>(box)->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; })) {
            QTest::keyClicks(box, text);
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(text);
            QCoreApplication::sendEvent(box, &commit);
        }
    }

    QVariant episodeValue(const QString &column, int episode)
    {
        return stored(QStringLiteral("SELECT %1 FROM 入退院情報 WHERE 入退院ID = ?").arg(column), {episode});
    }
    QVariant patientValue(const QString &column, int chart)
    {
        return stored(QStringLiteral("SELECT %1 FROM 患者情報 WHERE カルテID = ?").arg(column), {chart});
    }

    static toolkit::MessageBoxRequest warning(const QString &first, const QString &refused)
    {
        toolkit::MessageBoxRequest box;
        box.text = first + QStringLiteral("\r「%1」は保存されませんでした。ほかの項目は保存されました。").arg(refused);
        box.icon = toolkit::MessageIcon::Exclamation;
        return box;
    }

    static void expectBoxes(const QList<toolkit::MessageBoxRequest> &shown,
                            const QList<toolkit::MessageBoxRequest> &expected)
    {
        ASSERT_EQ(shown.size(), expected.size());
        for (qsizetype i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i].text, expected[i].text);
            EXPECT_EQ(shown[i].title, QStringLiteral("ネモリア"));
            EXPECT_EQ(shown[i].icon, expected[i].icon);
        }
    }
};

using OutpatientRecord = testing_support::OnBothBackends<OutpatientRecordTest>;
INSTANTIATE_TEST_SUITE_P(Ward, OutpatientRecord,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(OutpatientRecord, ShowsTheCourseOnSixTabsWithTheAfterHoursAndPrecautions)
{
    frmAmbuPt *window = open(5);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(testing_support::narrowLabels(window), QStringList());
    EXPECT_EQ(app::findWindow(app::window::OutpatientLedger), nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("伊達政子 - ネモリア （外来通院中の患者）"));

    auto *tabs = field<QTabWidget>(window, "SSTab1");
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i)
        captions << tabs->tabText(i);
    EXPECT_EQ(captions, (QStringList{"外来基本", "患者基本", "患者備考", "外来経過", "検査結果", "注意事項"}));

    EXPECT_EQ(field(window, "Text1")->text(), QStringLiteral("5"));
    EXPECT_EQ(field(window, "Text3")->text(), QStringLiteral("1004"));
    EXPECT_EQ(field(window, "Text4")->text(), QStringLiteral("だてまさこ"));
    EXPECT_EQ(field(window, "Text5")->text(), QStringLiteral("1985/01/01"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo2")->currentText(), QStringLiteral("女性"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo5")->currentText(), QStringLiteral("山田"));
    EXPECT_EQ(field(window, "Text8")->text(), QStringLiteral("不安"));
    EXPECT_EQ(field<QPlainTextEdit>(window, "Text9")->toPlainText(), QStringLiteral("不安の経過"));
    EXPECT_EQ(field<QPlainTextEdit>(window, "Text36")->toPlainText(), QStringLiteral("不安の治療"));
    EXPECT_EQ(field<QPlainTextEdit>(window, "Text23")->toPlainText(), QStringLiteral("脳波5"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo10")->currentText(), QStringLiteral("要介護1"));
    EXPECT_FALSE(field<QComboBox>(window, "DataCombo10")->isEnabled()) << "介護保険申請 is not checked";

    // DataCombo1 and Text6 are the after-hours visits and the precautions here.
    auto *afterHours = field<QComboBox>(window, "DataCombo1");
    EXPECT_EQ(afterHours->currentText(), QStringLiteral("ほとんどない"));
    EXPECT_EQ(afterHours->count(), db::outOfHoursRows().size());
    EXPECT_EQ(labelOf(window, afterHours), QStringLiteral("夜間や休日の時間外に来院する頻度"));
    auto *precautions = field<QPlainTextEdit>(window, "Text6");
    EXPECT_EQ(precautions->toPlainText(), QStringLiteral("不安に注意"));
    EXPECT_EQ(labelOf(window, precautions), QStringLiteral("患者固有の注意事項（指示、対応、禁忌など）"));

    EXPECT_EQ(qobject_cast<QGroupBox *>(field<QPlainTextEdit>(window, "Text9")->parentWidget())->title(),
              QStringLiteral("これまでの経過（現病歴）"));
    EXPECT_EQ(labelOf(window, field<QPlainTextEdit>(window, "Text36")), QStringLiteral("外来治療の経過／現在の治療"));
    EXPECT_EQ(window->focusWidget(), field(window, "Text4"));
    EXPECT_EQ(toolkit::programHelpFile(), QDir(folder.path()).filePath(QStringLiteral("index.chm")));
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_F(OutpatientRecordTest, LeavesOutEverythingOfAnAdmission)
{
    frmAmbuPt *window = open(7);
    ASSERT_NE(window, nullptr);
    for (const char *name : {"Text7", "DataCombo3", "DataCombo4", "DataCombo12", "DataCombo13", "Check5", "Check6",
                             "Check7", "Text31", "Text32", "Text33", "Text34", "Text35", "Text39", "Text40",
                             "Text41", "Text42", "Text43"})
        EXPECT_EQ(window->findChild<QWidget *>(QString::fromLatin1(name)), nullptr) << name;
    const QStringList admission{"入院日", "退院日", "入院形態", "部屋番号", "ベッド番号"};
    for (QLabel *label : window->findChildren<QLabel *>())
        EXPECT_FALSE(admission.contains(label->text())) << qPrintable(label->text());
    // Episode 7 has past admission dates; nothing of the window shows them.
    for (QLineEdit *box : window->findChildren<QLineEdit *>())
        EXPECT_NE(box->text(), QStringLiteral("2002/05/01")) << qPrintable(box->objectName());

    // Only the contact fields say which document needs them.
    EXPECT_TRUE(field(window, "Text2")->toolTip().isEmpty());
    EXPECT_TRUE(field(window, "Text3")->toolTip().isEmpty());
    EXPECT_TRUE(field(window, "Text8")->toolTip().isEmpty());
    EXPECT_TRUE(field<QPlainTextEdit>(window, "Text19")->toolTip().isEmpty());
    EXPECT_EQ(field(window, "Text11")->toolTip(), QStringLiteral("通院医療費公費負担診断書の印刷に必須"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo7")->toolTip(), QStringLiteral("病名の追加はオプションで可能"));
    EXPECT_EQ(field<QComboBox>(window, "DataCombo1")->toolTip(), QStringLiteral("オプションで編集可能"));

    auto *save = window->findChild<QAction *>(QStringLiteral("mnuFileSave"));
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->text(), QStringLiteral("上書き保存(&S)"));
    EXPECT_EQ(save->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
}

// The first tab's fields in the order of the paper chart, the kana name
// before the name, the chart ID never reached.
TEST_F(OutpatientRecordTest, TabMovesThroughTheFirstTabInItsOrder)
{
    frmAmbuPt *window = open(5);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(field(window, "Text3")->isEnabled());
    QStringList reached;
    for (int step = 0; step < 8; ++step) {
        QWidget *focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        while (focused->parentWidget() && !focused->objectName().startsWith(QStringLiteral("Text"))
               && !focused->objectName().startsWith(QStringLiteral("DataCombo")))
            focused = focused->parentWidget();
        reached << focused->objectName();
        if (focused->objectName() == QStringLiteral("Text5")) {
            EXPECT_EQ(window->statusPanels()->text(0), record::kBirthDateHint);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(reached, (QStringList{"Text4", "Text2", "Text5", "DataCombo2", "DataCombo5", "DataCombo6", "Text8",
                                    "Text9"}));
    EXPECT_TRUE(window->statusPanels()->text(0).isEmpty());
}

TEST_P(OutpatientRecord, ClosingStoresTheEditsAndTheOutpatientLedgerListsThem)
{
    frmAmbuPt *window = open(7);
    ASSERT_NE(window, nullptr);
    retype(field(window, "Text8"), QStringLiteral("断酒継続"));
    field<QComboBox>(window, "DataCombo1")->setCurrentIndex(8);
    retype(field<QPlainTextEdit>(window, "Text6"), QStringLiteral("飲酒時は受診させない"));
    retype(field<QPlainTextEdit>(window, "Text36"), QStringLiteral("抗酒剤"));
    window->close();

    EXPECT_EQ(toolkit::Forms::find<frmAmbuPt>(), nullptr);
    EXPECT_TRUE(boxes().isEmpty());
    EXPECT_EQ(episodeValue(QStringLiteral("一時診断名"), 7).toString(), QStringLiteral("断酒継続"));
    EXPECT_EQ(episodeValue(QStringLiteral("時間外頻度"), 7).toInt(), 9);
    EXPECT_EQ(episodeValue(QStringLiteral("個別注意事項"), 7).toString(), QStringLiteral("飲酒時は受診させない"));
    EXPECT_EQ(episodeValue(QStringLiteral("入院後経過"), 7).toString(), QStringLiteral("抗酒剤"));
    EXPECT_EQ(episodeValue(QStringLiteral("入院日"), 7).toDate(), QDate(2002, 5, 1)) << "columns not shown stay";

    auto *ledger = static_cast<frmAmbuPts *>(app::findWindow(app::window::OutpatientLedger));
    ASSERT_NE(ledger, nullptr);
    EXPECT_TRUE(ledger->isVisible());
    toolkit::DataGrid *grid = toolkit::DataGrid::of(ledger, QStringLiteral("DataGrid1"));
    EXPECT_EQ(grid->value(0, QStringLiteral("一時診断名")).toString(), QStringLiteral("断酒継続"));
    EXPECT_TRUE(program.statuses.isEmpty());
}

// Each application box governs its own field, and unchecking keeps the
// field's value.
TEST_P(OutpatientRecord, ApplicationBoxesEnableTheirOwnFields)
{
    frmAmbuPt *window = open(5);
    ASSERT_NE(window, nullptr);
    auto *grade = field<QComboBox>(window, "DataCombo11");
    auto *care = field<QComboBox>(window, "DataCombo10");
    auto *disease = field(window, "Text20");
    field<QCheckBox>(window, "Check3")->click();
    EXPECT_TRUE(grade->isEnabled());
    EXPECT_FALSE(care->isEnabled());
    EXPECT_FALSE(disease->isEnabled());
    grade->setCurrentIndex(1);
    field<QCheckBox>(window, "Check4")->click();
    EXPECT_TRUE(disease->isEnabled());
    EXPECT_FALSE(care->isEnabled());
    field<QCheckBox>(window, "Check3")->click();
    EXPECT_FALSE(grade->isEnabled());
    EXPECT_EQ(grade->currentText(), QStringLiteral("2級"));
    window->close();

    EXPECT_EQ(patientValue(QStringLiteral("障害者手帳申請"), 1004).toInt(), 0);
    EXPECT_EQ(patientValue(QStringLiteral("障害者等級"), 1004).toInt(), 2);
    EXPECT_NE(patientValue(QStringLiteral("特定疾患申請"), 1004).toInt(), 0);
}

TEST_P(OutpatientRecord, InsuranceRefusesThe63rdCharacter)
{
    frmAmbuPt *window = open(5);
    ASSERT_NE(window, nullptr);
    auto *insurance = field<QPlainTextEdit>(window, "Text19");
    const QString full(62, QLatin1Char('7'));
    retype(insurance, full);
    const int beeps = program.services->beeps();
    QTest::keyClicks(insurance, QStringLiteral("8"));
    EXPECT_EQ(insurance->toPlainText(), full);
    EXPECT_EQ(program.services->beeps(), beeps + 1);

    window->close();
    EXPECT_EQ(patientValue(QStringLiteral("保険"), 1004).toString(), full);
}

// A refused value is answered and left out; the rest of the row is stored and
// the window carries on, saving with the window open, closing to the ledger.
TEST_P(OutpatientRecord, AnImpossibleBirthDateIsRefusedAndTheOtherEditsStored)
{
    frmAmbuPt *window = open(5);
    ASSERT_NE(window, nullptr);
    retype(field(window, "Text5"), QStringLiteral("1985/13/1"));
    retype(field(window, "Text8"), QStringLiteral("不安発作"));
    window->findChild<QAction *>(QStringLiteral("mnuFileSave"))->trigger();

    expectBoxes(boxes(), {warning(QStringLiteral("正しくデータを入力されていないようです。"), QStringLiteral("生年月日"))});
    EXPECT_EQ(toolkit::Forms::find<frmAmbuPt>(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(field(window, "Text5")->text(), QStringLiteral("1985/01/01"));
    EXPECT_EQ(patientValue(QStringLiteral("生年月日"), 1004).toDate(), QDate(1985, 1, 1));
    EXPECT_EQ(episodeValue(QStringLiteral("一時診断名"), 5).toString(), QStringLiteral("不安発作"));

    field<QComboBox>(window, "DataCombo1")->setEditText(QStringLiteral("たまに"));
    retype(field<QPlainTextEdit>(window, "Text6"), QStringLiteral("単独で来院させない"));
    window->close();

    expectBoxes(boxes(), {warning(QStringLiteral("正しくデータを入力されていないようです。"), QStringLiteral("生年月日")),
                          warning(QStringLiteral("コンボボックスのエラーが発生しました。"), QStringLiteral("時間外頻度"))});
    EXPECT_EQ(toolkit::Forms::find<frmAmbuPt>(), nullptr);
    EXPECT_NE(app::findWindow(app::window::OutpatientLedger), nullptr);
    EXPECT_EQ(episodeValue(QStringLiteral("時間外頻度"), 5).toInt(), 3);
    EXPECT_EQ(episodeValue(QStringLiteral("個別注意事項"), 5).toString(), QStringLiteral("単独で来院させない"));
    EXPECT_TRUE(program.statuses.isEmpty());
}

// A row that cannot be written (a full disk, a lock, a read-only file) is
// stored not at all: the user learns why, the window stays with the user's
// text, and saving once the cause is gone stores every edit.
TEST_F(OutpatientRecordTest, ARowThatCannotBeWrittenKeepsTheWindowAndItsText)
{
    frmAmbuPt *window = open(5);
    ASSERT_NE(window, nullptr);
    const QString name = patientValue(QStringLiteral("氏名"), 1004).toString();
    auto refuse = [&](const char *sql) { ASSERT_EQ(sqlite3_exec(jet::sqliteHandle(ward.connection()), sql, nullptr, nullptr, nullptr), SQLITE_OK); };
    refuse("CREATE TRIGGER 書込失敗 BEFORE UPDATE ON 入退院情報 BEGIN SELECT RAISE(ABORT, '空き容量なし'); END;");
    retype(field(window, "Text2"), QStringLiteral("山本花子"));
    retype(field(window, "Text8"), QStringLiteral("不安発作"));
    window->findChild<QAction *>(QStringLiteral("mnuFileSave"))->trigger();
    window->close();

    ASSERT_EQ(boxes().size(), 2);
    for (const toolkit::MessageBoxRequest &box : boxes()) {
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("データを保存できませんでした。\r"))) << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QStringLiteral("空き容量なし")));
        EXPECT_EQ(box.icon, toolkit::MessageIcon::Exclamation);
    }
    EXPECT_EQ(toolkit::Forms::find<frmAmbuPt>(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(field(window, "Text2")->text(), QStringLiteral("山本花子"));
    EXPECT_EQ(patientValue(QStringLiteral("氏名"), 1004).toString(), name) << "half the row was stored";
    EXPECT_TRUE(program.statuses.isEmpty());

    refuse("DROP TRIGGER 書込失敗;");
    window->close();
    EXPECT_EQ(boxes().size(), 2);
    EXPECT_EQ(toolkit::Forms::find<frmAmbuPt>(), nullptr);
    EXPECT_EQ(patientValue(QStringLiteral("氏名"), 1004).toString(), QStringLiteral("山本花子"));
    EXPECT_EQ(episodeValue(QStringLiteral("一時診断名"), 5).toString(), QStringLiteral("不安発作"));
}

// A database of the generation before the precautions: everything else the
// window binds is there, and the out-patient ledger lists its courses.
TEST_F(OutpatientRecordTest, ADatabaseWithoutThePrecautionsAsksForAConversion)
{
    writeLocation(databaseWithout(QStringLiteral("個別注意事項"), true));

    EXPECT_EQ(open(1), nullptr);
    expectBoxes(boxes(), {{.text = QStringLiteral("データベースが古いため表示できません。コンバートしてください。"),
                           .icon = toolkit::MessageIcon::Critical}});
    EXPECT_EQ(program.statuses, QList<int>{1});
    EXPECT_EQ(app::findWindow(app::window::OutpatientLedger), nullptr);
}

} // namespace
