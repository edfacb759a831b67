#include "db/engine/error.h"
#include "toolkit/format.h"

#include <gtest/gtest.h>

using toolkit::dateFromText;
using toolkit::formatDate;
using toolkit::formatValue;

namespace {

QString q(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

qint32 writeBackError(const QString &text)
{
    try {
        dateFromText(text);
    } catch (const jet::Error &error) {
        return error.number();
    }
    return 0;
}

} // namespace

TEST(EraFormat, DocumentFormats)
{
    const QDate today(2003, 4, 1);
    const QDate born(1985, 1, 1);
    EXPECT_EQ(formatDate(today, q("ggg e 年 m 月 d 日")), q("平成 15 年 4 月 1 日"));
    EXPECT_EQ(formatDate(today, q("ggg e  年 m 月 d 日")), q("平成 15  年 4 月 1 日"));
    EXPECT_EQ(formatDate(today, q("ggge年m月d日")), q("平成15年4月1日"));
    EXPECT_EQ(formatDate(born, q("ggge年m月d日 生まれ")), q("昭和60年1月1日 生まれ"));
    EXPECT_EQ(formatDate(born, q("ggg e 年 m 月 d 日 生")), q("昭和 60 年 1 月 1 日 生"));
}

TEST(EraFormat, BoundariesAndFirstYear)
{
    const QString format = q("ggge年m月d日");
    EXPECT_EQ(formatDate(QDate(2019, 4, 30), format), q("平成31年4月30日"));
    EXPECT_EQ(formatDate(QDate(2019, 5, 1), q("ggg e 年 m 月 d 日")), q("令和 1 年 5 月 1 日"));
    EXPECT_EQ(formatDate(QDate(1989, 1, 7), format), q("昭和64年1月7日"));
    EXPECT_EQ(formatDate(QDate(1989, 1, 8), format), q("平成1年1月8日"));
    EXPECT_EQ(formatDate(QDate(1926, 12, 24), format), q("大正15年12月24日"));
    EXPECT_EQ(formatDate(QDate(1926, 12, 25), format), q("昭和1年12月25日"));
    EXPECT_EQ(formatDate(QDate(1912, 7, 29), format), q("明治45年7月29日"));
    EXPECT_EQ(formatDate(QDate(1912, 7, 30), format), q("大正1年7月30日"));
    EXPECT_EQ(formatDate(QDate(1868, 1, 1), format), q("明治1年1月1日"));
    EXPECT_EQ(formatDate(QDate(1867, 12, 31), format), q("1867年12月31日"));
}

TEST(EraFormat, ShortFormsAndPaddedFields)
{
    const QDate date(2003, 4, 1);
    EXPECT_EQ(formatDate(date, q("g ee gg")), q("H 15 平"));
    EXPECT_EQ(formatDate(QDate(2019, 5, 1), q("gee.mm.dd")), q("R01.05.01"));
    // Letters of other lengths, escapes and quoted text are not fields.
    EXPECT_EQ(formatDate(date, q("ddd \\d \"mm\" gggg")), q("ddd d mm gggg"));
}

TEST(WesternFormat, SlashFormsAndShortDate)
{
    const QDate date(2003, 4, 1);
    EXPECT_EQ(formatDate(date, q("yyyy/MM/dd")), q("2003/04/01"));
    EXPECT_EQ(formatDate(date, q("yy/MM/dd")), q("03/04/01"));
    EXPECT_EQ(formatDate(date, toolkit::shortDateFormat()), q("2003/04/01"));
    EXPECT_EQ(formatDate(date, QString()), q("2003/04/01"));
    EXPECT_EQ(formatDate(QDateTime(date, QTime(13, 5)), q("yyyy/MM/dd")), q("2003/04/01"));
}

TEST(DateFormat, NullGivesEmptyText)
{
    EXPECT_EQ(formatDate(QDate(), q("ggge年m月d日")), QString());
    EXPECT_EQ(formatDate(QDateTime(), q("yyyy/MM/dd")), QString());
    EXPECT_EQ(formatValue(QVariant(), q("ggg e 年 m 月 d 日")), QString());
    EXPECT_EQ(formatValue(QVariant(QDate(2003, 4, 1)), q("ggge年m月d日")), q("平成15年4月1日"));
}

TEST(DateWriteBack, YearMonthDayRoundTrip)
{
    const QVariant stored = dateFromText(q("1985/1/1"));
    ASSERT_EQ(stored.typeId(), QMetaType::QDateTime);
    EXPECT_EQ(stored.toDateTime(), QDateTime(QDate(1985, 1, 1), QTime(0, 0)));
    EXPECT_EQ(formatValue(stored, toolkit::shortDateFormat()), q("1985/01/01"));
    EXPECT_EQ(dateFromText(q("1985/01/01")).toDateTime().date(), QDate(1985, 1, 1));
    EXPECT_EQ(dateFromText(q(" 2000/2/29 ")).toDateTime().date(), QDate(2000, 2, 29));
}

TEST(DateWriteBack, EmptyIsNull)
{
    EXPECT_FALSE(dateFromText(QString()).isValid());
    EXPECT_FALSE(dateFromText(q("   ")).isValid());
    EXPECT_FALSE(dateFromText(q("　")).isValid());
}

TEST(DateWriteBack, InvalidTextCancelsUpdate)
{
    for (const char *text : {"1985/13/1", "1985//1", "1985/2/30", "2001/2/29", "abc", "1985/1/1x",
                             "85/1/1", "1985-01-01", "1985/1", "0000/1/1", "0099/1/1", "１９８５/1/1"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(writeBackError(q(text)), jet::err::UpdateCancelled);
    }
}

TEST(NumberFormat, LabelsWithLiteralText)
{
    EXPECT_EQ(formatValue(0, q("入院患者数 0人")), q("入院患者数 0人"));
    EXPECT_EQ(formatValue(42, q("入院患者数 0人")), q("入院患者数 42人"));
    EXPECT_EQ(formatValue(12.345, q("平均年齢 00.00歳")), q("平均年齢 12.35歳"));
    EXPECT_EQ(formatValue(52.3, q("平均年齢 00.00歳")), q("平均年齢 52.30歳"));
    EXPECT_EQ(formatValue(5.004, q("平均在院日数 00.00日")), q("平均在院日数 05.00日"));
    EXPECT_EQ(formatValue(123.999, q("平均在院日数 00.00日")), q("平均在院日数 124.00日"));
    EXPECT_EQ(formatValue(1234, q("全症例数 0件")), q("全症例数 1234件"));
    EXPECT_EQ(formatValue(31, q("（00 歳）")), q("（31 歳）"));
    EXPECT_EQ(formatValue(3, q("（00 歳）")), q("（03 歳）"));
    EXPECT_EQ(formatValue(12345, q("ＩＤ #")), q("ＩＤ 12345"));
    EXPECT_EQ(formatValue(12345, q("(#)")), q("(12345)"));
}

TEST(NumberFormat, RoundsHalfAwayFromZero)
{
    EXPECT_EQ(formatValue(0.125, q("0.00")), q("0.13"));
    EXPECT_EQ(formatValue(-0.125, q("0.00")), q("-0.13"));
    EXPECT_EQ(formatValue(2.5, q("0")), q("3"));
    EXPECT_EQ(formatValue(9.995, q("0.00")), q("10.00"));
    EXPECT_EQ(formatValue(-0.001, q("0.00")), q("0.00"));
    EXPECT_EQ(formatValue(1.5, q("0.##")), q("1.5"));
    EXPECT_EQ(formatValue(0.5, q(".00")), q(".50"));
    EXPECT_EQ(formatValue(12.5, q(".0")), q("12.5"));
}

TEST(NumberFormat, PlaceholdersAroundLiterals)
{
    EXPECT_EQ(formatValue(1234567, q("000-0000")), q("123-4567"));
    EXPECT_EQ(formatValue(123, q("000-0000")), q("000-0123"));
    EXPECT_EQ(formatValue(12345678, q("000-0000")), q("1234-5678"));
    EXPECT_EQ(formatValue(0, q("#")), QString());
    EXPECT_EQ(formatValue(0, q("（#）")), q("（）"));
    // Date letters are plain text in a number format.
    EXPECT_EQ(formatValue(5, q("0 days")), q("5 days"));
}

TEST(NumberFormat, Sections)
{
    const QString postal = q("000\\-0000;;_");
    EXPECT_EQ(formatValue(1234567, postal), q("123-4567"));
    EXPECT_EQ(formatValue(-1234567, postal), q("-123-4567"));
    EXPECT_EQ(formatValue(0, postal), q("_"));
    EXPECT_EQ(formatValue(QVariant(), postal), QString());
    const QString four = q("0;(0);zero;none");
    EXPECT_EQ(formatValue(-5, four), q("(5)"));
    EXPECT_EQ(formatValue(0, four), q("zero"));
    EXPECT_EQ(formatValue(QVariant(), four), q("none"));
    EXPECT_EQ(formatValue(7, q("0\";\"0")), q("0;7"));
}

TEST(NumberFormat, TextValues)
{
    const QString postal = q("000\\-0000;;_");
    EXPECT_EQ(formatValue(q("123-4567"), postal), q("123-4567"));
    EXPECT_EQ(formatValue(q("1234567"), postal), q("123-4567"));
    EXPECT_EQ(formatValue(q("0600001"), q("000-0000")), q("060-0001"));
    EXPECT_EQ(formatValue(q("F32"), q("（#）")), q("F32"));
    EXPECT_EQ(formatValue(q("2001年3月"), q("# ころ")), q("2001年3月"));
    EXPECT_EQ(formatValue(q("12"), q("# ころ")), q("12 ころ"));
    // A stored text is never shown rounded to another figure.
    EXPECT_EQ(formatValue(q("1998.5"), q("# ころ")), q("1998.5"));
    EXPECT_EQ(formatValue(q("1998.0"), q("# ころ")), q("1998 ころ"));
    EXPECT_EQ(formatValue(q(""), postal), QString());
    EXPECT_EQ(formatValue(q("-"), postal), q("-"));
}

TEST(NumberFormat, BooleansAndEmptyFormat)
{
    EXPECT_EQ(formatValue(true, q("0")), q("-1"));
    EXPECT_EQ(formatValue(12.50, QString()), q("12.5"));
    EXPECT_EQ(formatValue(-3, QString()), q("-3"));
}
