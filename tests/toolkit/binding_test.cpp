#include "db/columndefs.h"
#include "db/engine/catalog.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "support/errors.h"
#include "support/tempdb.h"
#include "toolkit/binding.h"
#include "support/scriptedplatform.h"
#include "toolkit/platform.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using jet::DataType;
using testing_support::errorOf;
using testing_support::TempDatabase;
using namespace toolkit;
using db::columns::autoNumber;
using db::columns::column;

namespace {

// Typed key by key; QTest::keyClicks knows only ASCII.
void type(QWidget *widget, const QString &text)
{
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Two patients and a code table of sexes; row 2 names a sex with no code row.
class BindingTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto scripted = std::make_unique<ScriptedPlatform>();
        platformScript = scripted.get();
        setPlatform(std::move(scripted));

        jet::Catalog catalog;
        catalog.setActiveConnection(&db.connection());
        jet::TableDef patients;
        patients.name = QStringLiteral("患者");
        patients.columns = {autoNumber(QStringLiteral("ID")), column(QStringLiteral("氏名"), DataType::Text, 20),
                            column(QStringLiteral("生年月日"), DataType::Date), column(QStringLiteral("点数"), DataType::Long),
                            column(QStringLiteral("申請"), DataType::YesNo), column(QStringLiteral("性別"), DataType::Long),
                            column(QStringLiteral("備考"), DataType::Memo)};
        patients.indexes = {jet::IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("ID")}, true, true}};
        catalog.createTable(patients);
        jet::TableDef sexes;
        sexes.name = QStringLiteral("性別");
        sexes.columns = {autoNumber(QStringLiteral("性別ID")), column(QStringLiteral("性別"), DataType::Text, 10)};
        sexes.indexes = {jet::IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("性別ID")}, true, true}};
        catalog.createTable(sexes);

        for (const char *sex : {"-", "男性", "女性"})
            db.connection().execute(QStringLiteral("INSERT INTO 性別 (性別) VALUES (?)"), {QString::fromUtf8(sex)});
        db.connection().execute(QStringLiteral("INSERT INTO 患者 (氏名, 生年月日, 点数, 申請, 性別, 備考) VALUES (?, ?, ?, ?, ?, ?)"),
                                {QStringLiteral("山田太郎"), QDate(1960, 4, 2), 1234, -1, 2, QStringLiteral("穏やか")});
        db.connection().execute(QStringLiteral("INSERT INTO 患者 (氏名, 生年月日, 点数, 申請, 性別) VALUES (?, ?, ?, ?, ?)"),
                                {QStringLiteral("田中花子"), QVariant(), 7, 0, 9});

        rs.open(QStringLiteral("SELECT 患者.*, 点数 * 2 AS 倍 FROM 患者 ORDER BY ID"), &db.connection());
        binding.setRecordset(&rs);
    }

    void TearDown() override { setPlatform(nullptr); }

    // The stored row, read afresh.
    QVariant stored(int id, const QString &field)
    {
        jet::Recordset check;
        check.open(QStringLiteral("SELECT * FROM 患者 WHERE ID = %1").arg(id), &db.connection());
        return check.value(field);
    }

    static void retype(QLineEdit &box, const QString &text)
    {
        box.selectAll();
        QTest::keyClick(&box, Qt::Key_Delete);
        type(&box, text);
    }

    TempDatabase db;
    ScriptedPlatform *platformScript = nullptr;
    jet::Recordset rs;
    RecordBinding binding;
};

TEST_F(BindingTest, ShowsTheCurrentRowAndFollowsTheRecordset)
{
    QLineEdit name, born, points;
    QLabel formatted;
    QPlainTextEdit note;
    binding.bindText(&name, QStringLiteral("氏名"));
    binding.bindText(&born, QStringLiteral("生年月日"));
    binding.bindText(&points, QStringLiteral("点数"), QStringLiteral("#,##0点"));
    binding.bindLabel(&formatted, QStringLiteral("生年月日"), QStringLiteral("ggge年m月d日"));
    binding.bindText(&note, QStringLiteral("備考"));
    EXPECT_EQ(name.text(), QStringLiteral("山田太郎"));
    EXPECT_EQ(born.text(), QStringLiteral("1960/04/02"));
    EXPECT_EQ(points.text(), QStringLiteral("1,234点"));
    EXPECT_EQ(formatted.text(), QStringLiteral("昭和35年4月2日"));
    EXPECT_EQ(note.toPlainText(), QStringLiteral("穏やか"));

    rs.moveNext();
    EXPECT_EQ(name.text(), QStringLiteral("田中花子"));
    EXPECT_EQ(born.text(), QString());
    EXPECT_EQ(note.toPlainText(), QString());

    rs.moveNext(); // past the end: nothing to show
    EXPECT_EQ(name.text(), QString());

    db.connection().execute(QStringLiteral("UPDATE 患者 SET 氏名 = '山田次郎' WHERE ID = 1"));
    rs.requery();
    EXPECT_EQ(name.text(), QStringLiteral("山田次郎"));
    rs.close();
    EXPECT_EQ(name.text(), QString());
    EXPECT_EQ(points.text(), QString());
}

TEST_F(BindingTest, EditsAreWrittenWhenTheRecordsetMovesAndOnlyChangedWidgets)
{
    qRegisterMetaType<QWidget *>();
    QLineEdit name, doubled;
    QSignalSpy shown(&binding, &RecordBinding::valueShown);
    binding.bindText(&name, QStringLiteral("氏名"));
    // A computed column refuses every write, so writing it unchanged would fail the move.
    binding.bindText(&doubled, QStringLiteral("倍"));
    EXPECT_EQ(shown.count(), 2);
    EXPECT_EQ(doubled.text(), QStringLiteral("2468"));

    retype(name, QStringLiteral("山田一郎"));
    EXPECT_TRUE(binding.hasEdits());
    rs.moveNext();
    EXPECT_FALSE(binding.hasEdits());
    EXPECT_EQ(stored(1, QStringLiteral("氏名")).toString(), QStringLiteral("山田一郎"));
    EXPECT_EQ(stored(1, QStringLiteral("点数")).toInt(), 1234);

    // A change the program makes counts as an edit too; an emptied text box stores Null.
    name.clear();
    rs.moveFirst();
    EXPECT_TRUE(stored(2, QStringLiteral("氏名")).isNull());
    EXPECT_EQ(name.text(), QStringLiteral("山田一郎"));

    doubled.setText(QStringLiteral("1"));
    EXPECT_EQ(errorOf([&] { rs.moveNext(); }), jet::err::NotSupported);
}

TEST_F(BindingTest, DatesAndNumbersConvertOnWriteBack)
{
    QLineEdit born, points;
    binding.bindText(&born, QStringLiteral("生年月日"));
    binding.bindText(&points, QStringLiteral("点数"));

    retype(born, QStringLiteral("1985/1/1"));
    retype(points, QStringLiteral("1,500"));
    rs.moveLast();
    rs.update();
    EXPECT_EQ(stored(1, QStringLiteral("生年月日")).toDate(), QDate(1985, 1, 1));
    EXPECT_EQ(stored(1, QStringLiteral("点数")).toInt(), 1500);
    EXPECT_EQ(rs.currentRow(), 1);

    rs.moveFirst();
    EXPECT_EQ(born.text(), QStringLiteral("1985/01/01"));
    retype(born, QStringLiteral("1985/13/1"));
    EXPECT_EQ(errorOf([&] { rs.moveNext(); }), jet::err::UpdateCancelled);
    EXPECT_EQ(rs.currentRow(), 0);
    EXPECT_EQ(born.text(), QStringLiteral("1985/13/1"));

    retype(born, QString());
    retype(points, QStringLiteral("十"));
    EXPECT_EQ(errorOf([&] { rs.moveNext(); }), jet::err::UpdateCancelled);
    retype(points, QStringLiteral("99999999999"));
    EXPECT_EQ(errorOf([&] { rs.moveNext(); }), jet::err::UpdateCancelled);
    points.clear();
    rs.moveNext();
    EXPECT_TRUE(stored(1, QStringLiteral("生年月日")).isNull());
    EXPECT_TRUE(stored(1, QStringLiteral("点数")).isNull());
}

// No typing or pasting reaches the engine's refusal of a text longer than its column.
TEST_F(BindingTest, ABoxTakesItsTextColumnsSizeAsItsLimit)
{
    QLineEdit name, shortName, points;
    QPlainTextEdit longName, note;
    shortName.setMaxLength(8);
    setMaxLength(&longName, 40);
    binding.bindText(&name, QStringLiteral("氏名"));
    binding.bindText(&shortName, QStringLiteral("氏名"));
    binding.bindText(&points, QStringLiteral("点数"));
    binding.bindText(&longName, QStringLiteral("氏名"));
    binding.bindText(&note, QStringLiteral("備考"));
    EXPECT_EQ(name.maxLength(), 20);
    EXPECT_EQ(shortName.maxLength(), 8);
    EXPECT_EQ(points.maxLength(), 32767);
    EXPECT_EQ(maxLength(&longName), 20);
    EXPECT_EQ(maxLength(&note), 0);
}

TEST_F(BindingTest, AMissingColumnRaises545)
{
    QLineEdit box;
    QCheckBox check;
    QComboBox combo;
    DataCombo data(&combo);
    EXPECT_EQ(errorOf([&] { binding.bindText(&box, QStringLiteral("住所")); }), jet::err::BindingColumnMissing);
    EXPECT_EQ(errorOf([&] { binding.bindCheck(&check, QStringLiteral("住所")); }), jet::err::BindingColumnMissing);
    EXPECT_EQ(errorOf([&] { binding.bindCombo(&data, QStringLiteral("住所")); }), jet::err::BindingColumnMissing);

    jet::Recordset list;
    list.open(QStringLiteral("SELECT * FROM 性別"), &db.connection());
    EXPECT_EQ(errorOf([&] { data.setListSource(&list, QStringLiteral("ID"), QStringLiteral("性別")); }),
              jet::err::BindingColumnMissing);
}

TEST_F(BindingTest, CheckBoxStoresYesNoAndShowingFiresItsChange)
{
    QCheckBox box;
    QSignalSpy toggled(&box, &QCheckBox::toggled);
    binding.bindCheck(&box, QStringLiteral("申請"));
    EXPECT_TRUE(box.isChecked());
    EXPECT_EQ(toggled.count(), 1);

    rs.moveNext();
    EXPECT_FALSE(box.isChecked());
    EXPECT_EQ(toggled.count(), 2);
    binding.refresh(); // the same value again: no change
    EXPECT_EQ(toggled.count(), 2);

    box.click();
    rs.moveFirst();
    EXPECT_EQ(stored(2, QStringLiteral("申請")).toInt(), -1);
    box.click();
    rs.moveNext();
    EXPECT_EQ(stored(1, QStringLiteral("申請")).toInt(), 0);
}

TEST_F(BindingTest, ComboShowsTheListTextOfTheIdAndStoresTheChosenId)
{
    QComboBox box;
    DataCombo combo(&box);
    jet::Recordset list;
    list.open(QStringLiteral("SELECT * FROM 性別"), &db.connection());
    // Bound before its list is attached, as the record windows do it.
    binding.bindCombo(&combo, QStringLiteral("性別"));
    EXPECT_EQ(box.currentText(), QString());
    combo.setListSource(&list, QStringLiteral("性別ID"), QStringLiteral("性別"));
    EXPECT_EQ(box.currentText(), QStringLiteral("男性"));
    EXPECT_EQ(combo.boundValue().toInt(), 2);

    rs.moveNext();
    EXPECT_EQ(box.currentText(), QString()); // ID 9 has no list row
    EXPECT_TRUE(combo.boundValue().isNull());
    rs.moveFirst(); // shown, not chosen: nothing written
    EXPECT_EQ(stored(2, QStringLiteral("性別")).toInt(), 9);

    QSignalSpy changed(&combo, &DataCombo::changed);
    box.setCurrentIndex(2);
    EXPECT_EQ(changed.count(), 1);
    rs.moveNext();
    EXPECT_EQ(stored(1, QStringLiteral("性別")).toInt(), 3);
}

TEST_F(BindingTest, EditableComboRefusesATextThatIsNoEntry)
{
    QComboBox box;
    box.setEditable(true);
    DataCombo combo(&box);
    jet::Recordset list;
    list.open(QStringLiteral("SELECT * FROM 性別"), &db.connection());
    combo.setListSource(&list, QStringLiteral("性別ID"), QStringLiteral("性別"));
    binding.bindCombo(&combo, QStringLiteral("性別"));
    EXPECT_EQ(box.currentText(), QStringLiteral("男性"));

    box.lineEdit()->selectAll();
    type(&box, QStringLiteral("女性"));
    EXPECT_EQ(combo.boundValue().toInt(), 3);
    rs.moveNext();
    EXPECT_EQ(stored(1, QStringLiteral("性別")).toInt(), 3);

    box.lineEdit()->selectAll();
    type(&box, QStringLiteral("不明"));
    EXPECT_FALSE(combo.textIsStorable());
    EXPECT_EQ(errorOf([&] { rs.moveFirst(); }), jet::err::UpdateCancelled);

    box.lineEdit()->clear();
    rs.moveFirst();
    EXPECT_TRUE(stored(2, QStringLiteral("性別")).isNull());

    combo.setRefuseTyping(true);
    const QString before = box.currentText();
    QTest::keyClicks(&box, QStringLiteral("a"));
    QTest::keyClick(&box, Qt::Key_Backspace);
    QTest::keyClick(&box, Qt::Key_Return);
    EXPECT_EQ(box.currentText(), before);
    EXPECT_EQ(platformScript->beeps(), 3);
}

TEST(KeyFilter, OnlyListedCharactersAndBackspacePassWithABeepForOthers)
{
    auto scripted = std::make_unique<ScriptedPlatform>();
    ScriptedPlatform *script = scripted.get();
    setPlatform(std::move(scripted));

    QLineEdit date;
    setKeyFilter(&date, QStringLiteral("0123456789/"));
    QTest::keyClicks(&date, QStringLiteral("1985a/1"));
    EXPECT_EQ(date.text(), QStringLiteral("1985/1"));
    EXPECT_EQ(script->beeps(), 1);
    QTest::keyClick(&date, Qt::Key_Backspace);
    EXPECT_EQ(date.text(), QStringLiteral("1985/"));
    QTest::keyClick(&date, Qt::Key_Left); // types nothing: passes silently
    EXPECT_EQ(script->beeps(), 1);
    // Delete as X11 reports it, with the text DEL.
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
    QApplication::sendEvent(&date, &del);
    EXPECT_EQ(date.text(), QStringLiteral("1985"));
    EXPECT_EQ(script->beeps(), 1);
    date.setText(QStringLiteral("1985/"));

    // Ctrl+C, Ctrl+V and Ctrl+X type control characters and are refused.
    QGuiApplication::clipboard()->setText(QStringLiteral("12ab"));
    date.selectAll();
    for (Qt::Key key : {Qt::Key_C, Qt::Key_V, Qt::Key_X})
        QTest::keyClick(&date, key, Qt::ControlModifier);
    EXPECT_EQ(date.text(), QStringLiteral("1985/"));
    EXPECT_EQ(script->beeps(), 4);

    // The context menu's paste bypasses the filter unless paste filtering is asked for.
    date.clear();
    date.paste();
    EXPECT_EQ(date.text(), QStringLiteral("12ab"));
    QLineEdit phone;
    setKeyFilter(&phone, QStringLiteral("0123456789-"), true);
    QGuiApplication::clipboard()->setText(QStringLiteral("03-12ab34"));
    phone.paste();
    EXPECT_EQ(phone.text(), QStringLiteral("03-1234"));
    EXPECT_EQ(phone.cursorPosition(), 7);
    EXPECT_EQ(script->beeps(), 5);

    // Text an input method commits is filtered like typed keys.
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("5カ6"));
    QApplication::sendEvent(&phone, &commit);
    EXPECT_EQ(phone.text(), QStringLiteral("03-123456"));
    EXPECT_EQ(script->beeps(), 6);

    clearKeyFilter(&phone);
    QTest::keyClicks(&phone, QStringLiteral("x"));
    EXPECT_EQ(phone.text(), QStringLiteral("03-123456x"));
    setPlatform(nullptr);
}

TEST(KeyFilter, MultiLineMaximumLengthCutsTheUsersTextOnly)
{
    auto scripted = std::make_unique<ScriptedPlatform>();
    ScriptedPlatform *script = scripted.get();
    setPlatform(std::move(scripted));

    QPlainTextEdit memo;
    setMaxLength(&memo, 5);
    memo.setPlainText(QStringLiteral("1234567")); // stored text is shown whole
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("1234567"));
    memo.clear();
    QTest::keyClicks(&memo, QStringLiteral("abcdefg"));
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("abcde"));
    EXPECT_EQ(script->beeps(), 2);
    memo.selectAll(); // a paste over the whole text
    memo.insertPlainText(QStringLiteral("0123456789"));
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("01234"));
    setPlatform(nullptr);
}

TEST(InputMethod, DisableAndOffTurnItOffOnAndHiraganaLeaveItOn)
{
    QLineEdit box;
    QComboBox combo;
    combo.setEditable(true);
    setImeMode(&box, ImeMode::Disable);
    EXPECT_FALSE(box.testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_EQ(imeMode(&box), ImeMode::Disable);
    setImeMode(&box, ImeMode::Hiragana);
    EXPECT_TRUE(box.testAttribute(Qt::WA_InputMethodEnabled));
    setImeMode(&combo, ImeMode::Off);
    EXPECT_FALSE(combo.lineEdit()->testAttribute(Qt::WA_InputMethodEnabled));
    EXPECT_EQ(imeMode(&combo), ImeMode::Off);
}

TEST(Metrics, TwipsScaleWithTheLogicalDpi)
{
    QWidget widget;
    const int dpi = widget.logicalDpiX();
    EXPECT_EQ(twipsToPixels(1440, &widget), dpi);
    EXPECT_EQ(twipsToPixels(15 * 96, &widget), dpi);
    EXPECT_EQ(twipsToPixels(0, &widget), 0);
    EXPECT_EQ(japaneseFont().pointSizeF(), 12.0);
    EXPECT_EQ(japaneseFont().families().value(0), QStringLiteral("IPAexGothic"));
}

} // namespace
