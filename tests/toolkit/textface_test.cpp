#include "toolkit/textface.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRawFont>

using namespace Qt::StringLiterals;

// The derived face draws the text with the installed face's glyphs but has
// no radical to name them after; a damaged file gives no face at all rather
// than a crash or a broken one.
TEST(TextFace, KeepsTheGlyphsOfTheTextLeavesOutTheRadicalsAndRefusesADamagedFile)
{
    QProcess match;
    match.start(u"fc-match"_s, {u"-f"_s, u"%{file}"_s, u"IPAexMincho"_s});
    ASSERT_TRUE(match.waitForFinished(30000));
    QFile file(QString::fromLocal8Bit(match.readAllStandardOutput()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray installed = file.readAll();
    const QByteArray derived = toolkit::withTextCharacterMap(installed, u"Test Mincho"_s);
    const QRawFont before(installed, 12), after(derived, 12);
    ASSERT_TRUE(after.isValid());
    EXPECT_EQ(after.familyName(), u"Test Mincho"_s);
    const QString text = u"入院日 月　人。ア〜Ｆ𠮷"_s;
    EXPECT_EQ(after.glyphIndexesForString(text), before.glyphIndexesForString(text));
    EXPECT_TRUE(before.supportsCharacter(U'\u2F0A'));
    EXPECT_FALSE(after.supportsCharacter(U'\u2F0A'));
    for (const qsizetype cut : {installed.size() / 2, qsizetype(300), qsizetype(11)})
        EXPECT_TRUE(toolkit::withTextCharacterMap(installed.left(cut), u"Test Mincho"_s).isEmpty()) << cut;
}
