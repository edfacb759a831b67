#include "record/Imecomp.h"

#include "support/scripted.h"

#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

#include <ostream>

using namespace Qt::StringLiterals;

namespace {

// A name field and its kana field, wired as a record window wires them.
class ImecompTest : public ::testing::Test
{
protected:
    ImecompTest()
    {
        auto *layout = new QVBoxLayout(&window);
        name = new QLineEdit(&window);
        kana = new QLineEdit(&window);
        layout->addWidget(name);
        layout->addWidget(kana);
        Imecomp::attach(name, kana);
        Imecomp::setKanaFilter(kana);
        window.show();
    }

    void preedit(const QString &text)
    {
        QInputMethodEvent event(text, {});
        QCoreApplication::sendEvent(name, &event);
    }

    void commit(const QString &text)
    {
        QInputMethodEvent event;
        event.setCommitString(text);
        QCoreApplication::sendEvent(name, &event);
    }

    // What the desktop sends for characters typed on a Japanese keyboard with
    // no input method, which QTest::keyClicks cannot type.
    static void type(QWidget *box, const QString &text)
    {
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(box, &press);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(box, &release);
        }
    }

    // The events a Mozc sends for a word typed in romaji, converted with
    // Space and confirmed with Enter.
    void compose(const QStringList &preedits, const QString &converted)
    {
        for (const QString &text : preedits)
            preedit(text);
        preedit(converted);
        commit(converted);
    }

    void composeYamada()
    {
        compose({u"ｙ"_s, u"や"_s, u"やｍ"_s, u"やま"_s, u"やまｄ"_s, u"やまだ"_s}, u"山田"_s);
    }

    testing_support::ScriptedProgram program;
    QWidget window;
    QLineEdit *name = nullptr;
    QLineEdit *kana = nullptr;
};

TEST_F(ImecompTest, ConvertedNameGivesTheReadingOfItsComposition)
{
    composeYamada();
    EXPECT_EQ(name->text(), u"山田"_s);
    EXPECT_EQ(kana->text(), u"やまだ"_s);

    compose({u"ｔ"_s, u"た"_s, u"たｒ"_s, u"たろ"_s, u"たろう"_s}, u"太郎"_s);
    EXPECT_EQ(name->text(), u"山田太郎"_s);
    EXPECT_EQ(kana->text(), u"やまだたろう"_s);
}

// Typing "yamadata" and picking 山田太郎 from the predictions: the input
// method told only the reading typed so far; the dictionary knows the rest.
TEST_F(ImecompTest, APredictionPickedGetsItsWholeReading)
{
    compose({u"ｙ"_s, u"や"_s, u"やｍ"_s, u"やま"_s, u"やまｄ"_s, u"やまだ"_s, u"やまだｔ"_s, u"やまだた"_s}, u"山田太郎"_s);
    EXPECT_EQ(kana->text(), u"やまだたろう"_s);

    // A reading that is no beginning of the dictionary's stays as typed: 上 as a name read かみ.
    compose({u"かみ"_s}, u"上"_s);
    EXPECT_EQ(kana->text(), u"やまだたろうかみ"_s);
}

TEST_F(ImecompTest, TextConfirmedAtTheStartGoesInFront)
{
    compose({u"たろう"_s}, u"太郎"_s);
    name->setCursorPosition(0);
    compose({u"さとう"_s}, u"佐藤"_s);
    EXPECT_EQ(name->text(), u"佐藤太郎"_s);
    EXPECT_EQ(kana->text(), u"さとうたろう"_s);

    // Anywhere past the start counts as the end.
    name->setCursorPosition(2);
    compose({u"じ"_s}, u"次"_s);
    EXPECT_EQ(kana->text(), u"さとうたろうじ"_s);
}

TEST_F(ImecompTest, KatakanaAndLatinTextIsItsOwnReading)
{
    compose({u"さとう"_s}, u"サトウ"_s);
    EXPECT_EQ(kana->text(), u"さとう"_s);

    // The composition's reading is not taken for text that has its own.
    kana->clear();
    compose({u"じぇいむず"_s}, u"ＪＡＭＥＳ"_s);
    EXPECT_EQ(kana->text(), u"ＪＡＭＥＳ"_s);

    kana->clear();
    commit(u"ｻﾄｳ"_s);
    commit(u"ｶﾞｸ"_s);
    EXPECT_EQ(kana->text(), u"さとうがく"_s);
}

TEST_F(ImecompTest, HiraganaConfirmedUnconvertedIsItsOwnReading)
{
    compose({u"ｓ"_s, u"さ"_s, u"さｋ"_s, u"さく"_s, u"さくら"_s}, u"さくら"_s);
    EXPECT_EQ(kana->text(), u"さくら"_s);

    // Nothing was composed: the commit is all there is.
    commit(u"こ"_s);
    EXPECT_EQ(kana->text(), u"さくらこ"_s);
}

TEST_F(ImecompTest, ReadingIsForgottenOnceConfirmed)
{
    composeYamada();
    // A symbol chosen from the input method's palette has no reading; the
    // previous word's reading must not be written again.
    commit(u"〆"_s);
    EXPECT_EQ(name->text(), u"山田〆"_s);
    EXPECT_EQ(kana->text(), u"やまだ"_s);
}

TEST_F(ImecompTest, TypedCharactersWithoutInputMethodAreAppendedAsTyped)
{
    kana->setText(u"やまだ"_s);
    name->setFocus();
    QTest::keyClicks(name, QStringLiteral("abc"));
    EXPECT_EQ(name->text(), QStringLiteral("abc"));
    EXPECT_EQ(kana->text(), u"やまだabc"_s);

    // Keys that type no character add nothing.
    QTest::keyClick(name, Qt::Key_Left);
    QTest::keyClick(name, Qt::Key_Return);
    QTest::keyClick(name, Qt::Key_Delete);
    QTest::keyClick(name, Qt::Key_X, Qt::AltModifier);
    QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(kana->text(), u"やまだabc"_s);
}

TEST_F(ImecompTest, EmptyingTheNameWithBackspaceOrDeleteEmptiesTheKana)
{
    composeYamada();
    name->setFocus();
    QTest::keyClick(name, Qt::Key_Backspace);
    EXPECT_EQ(name->text(), u"山"_s);
    EXPECT_EQ(kana->text(), u"やまだ"_s);
    QTest::keyClick(name, Qt::Key_Backspace);
    EXPECT_EQ(name->text(), QString());
    EXPECT_EQ(kana->text(), QString());

    composeYamada();
    name->setCursorPosition(0);
    QTest::keyClick(name, Qt::Key_Delete);
    EXPECT_EQ(kana->text(), u"やまだ"_s);
    QTest::keyClick(name, Qt::Key_Delete);
    EXPECT_EQ(kana->text(), QString());
}

TEST_F(ImecompTest, KanaFieldTakesOnlyItsHiragana)
{
    compose({u"らーめん"_s}, u"ラーメン"_s);
    EXPECT_EQ(kana->text(), u"らーめん"_s);

    kana->setFocus();
    kana->end(false);
    type(kana, u"ーアaゔ"_s);
    EXPECT_EQ(kana->text(), u"らーめん"_s);
    EXPECT_EQ(program.services->beeps(), 4);

    type(kana, u"や"_s);
    QTest::keyClick(kana, Qt::Key_Backspace);
    QTest::keyClick(kana, Qt::Key_Backspace);
    EXPECT_EQ(kana->text(), u"らーめ"_s);
    EXPECT_EQ(program.services->beeps(), 4);
    EXPECT_EQ(Imecomp::kKanaCharacters.size(), 82);
}

TEST_F(ImecompTest, CaptureGoesWithTheNameFieldAndIsNotDoubled)
{
    Imecomp::attach(name, kana);
    composeYamada();
    EXPECT_EQ(kana->text(), u"やまだ"_s);

    delete kana;
    kana = nullptr;
    compose({u"たろう"_s}, u"太郎"_s);
    EXPECT_EQ(name->text(), u"山田太郎"_s);
}

TEST(ImecompConversion, WideHiragana)
{
    EXPECT_EQ(Imecomp::toWideHiragana(u"ｻﾄｳ"_s), u"さとう"_s);
    EXPECT_EQ(Imecomp::toWideHiragana(u"ｶﾞ"_s), u"が"_s);
    EXPECT_EQ(Imecomp::toWideHiragana(u"ﾊﾟﾋﾞﾎﾟｳﾞｯｸ"_s), u"ぱびぽゔっく"_s);
    EXPECT_EQ(Imecomp::toWideHiragana(u"ｱﾞﾟﾞ"_s), u"あ゛゜゛"_s);
    EXPECT_EQ(Imecomp::toWideHiragana(u"ｰｰｰ"_s), u"ーーー"_s);
    EXPECT_EQ(Imecomp::toWideHiragana(u"ヴァイオリン・ケース"_s), u"ゔぁいおりん・けーす"_s);
    EXPECT_EQ(Imecomp::toWideHiragana(u"abc 12"_s), u"ａｂｃ　１２"_s);
    EXPECT_EQ(Imecomp::toWideHiragana(u"山田ヤマダ"_s), u"山田やまだ"_s);
}

} // namespace
