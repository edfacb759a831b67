#include "db/engine/clock.h"
#include "db/engine/jetdate.h"
#include "db/engine/jetsql.h"
#include "db/engine/sqlite/sqlfunctions.h"
#include "support/sqlitefunctions.h"

#include <gtest/gtest.h>

#include <QVariant>
#include <stdexcept>

namespace {

// Calls the registered functions directly, as translated SQL does.
class SqlFunctionsTest : public ::testing::Test
{
protected:
    void SetUp() override { jet::Clock::setFixed(QDateTime(QDate(2003, 4, 1), QTime(18, 0))); }
    void TearDown() override { jet::Clock::setSystem(); }

    QVariant eval(const QString &expression) const { return m_sqlite.eval(expression); }
    qint64 integer(const QString &expression) { return eval(expression).toLongLong(); }
    double real(const QString &expression) { return eval(expression).toDouble(); }
    std::string text(const QString &expression) { return eval(expression).toString().toStdString(); }
    static QString day(int y, int m, int d, double fraction = 0)
    {
        return QString::number(jet::toDayNumber(QDate(y, m, d)) + fraction, 'g', 17);
    }

    testing_support::SqliteFunctions m_sqlite;
};

} // namespace

TEST_F(SqlFunctionsTest, DateDiffIntervals)
{
    const QString a = day(2002, 12, 31, 0.75); // 18:00
    const QString b = day(2003, 1, 1, 0.25);   // 06:00
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('d', %1, %2)").arg(a, b)), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('y', %1, %2)").arg(a, b)), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('yyyy', %1, %2)").arg(a, b)), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('q', %1, %2)").arg(a, b)), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('M', %1, %2)").arg(a, b)), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('h', %1, %2)").arg(a, b)), 12);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('n', %1, %2)").arg(a, b)), 720);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('s', %1, %2)").arg(a, b)), 43200);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('h', %1, %2)").arg(b, a)), -12);
    // 2003-03-29 is a Saturday: one week boundary (Sunday) to 03-30, none in whole weeks.
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('ww', %1, %2)").arg(day(2003, 3, 29), day(2003, 3, 30))), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('w', %1, %2)").arg(day(2003, 3, 29), day(2003, 3, 30))), 0);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('w', %1, %2)").arg(day(2003, 3, 1), day(2003, 3, 15))), 2);
    EXPECT_THROW(eval(QStringLiteral("jet_datediff('x', 1, 2)")), std::runtime_error);
}

TEST_F(SqlFunctionsTest, DateDiffBeforeTheEpochAndFromText)
{
    // -1.25 is 1899-12-29 06:00, -0.5 would not exist; 1.25 is 1899-12-31 06:00.
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('d', -1.25, 1.25)")), 2);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('h', -1.25, 0)")), 18);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('d', -1.75, -1.25)")), 0);
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('d', '2003/04/01', '2003/04/03')")), 2);
    EXPECT_THROW(eval(QStringLiteral("jet_datediff('d', 'soon', 1)")), std::runtime_error);
    EXPECT_TRUE(eval(QStringLiteral("jet_datediff(NULL, 1, 2)")).isNull());
}

TEST_F(SqlFunctionsTest, DateAddKeepsMonthEnds)
{
    EXPECT_EQ(real(QStringLiteral("jet_dateadd('m', 1, %1)").arg(day(2003, 1, 31))), jet::toDayNumber(QDate(2003, 2, 28)));
    EXPECT_EQ(real(QStringLiteral("jet_dateadd('yyyy', 1, %1)").arg(day(2004, 2, 29))), jet::toDayNumber(QDate(2005, 2, 28)));
    EXPECT_EQ(real(QStringLiteral("jet_dateadd('ww', -4, %1)").arg(day(2003, 4, 29))), jet::toDayNumber(QDate(2003, 4, 1)));
    EXPECT_DOUBLE_EQ(real(QStringLiteral("jet_dateadd('h', 6, %1)").arg(day(2003, 4, 1))), jet::toDayNumber(QDate(2003, 4, 1)) + 0.25);
    EXPECT_THROW(eval(QStringLiteral("jet_dateadd('s', 1e18, 0)")), std::runtime_error);
    EXPECT_THROW(eval(QStringLiteral("jet_dateadd('yyyy', 1e6, 0)")), std::runtime_error);
}

TEST_F(SqlFunctionsTest, NowAndDateFollowTheClock)
{
    EXPECT_DOUBLE_EQ(real(QStringLiteral("jet_now()")), jet::toDayNumber(QDate(2003, 4, 1)) + 0.75);
    EXPECT_EQ(real(QStringLiteral("jet_date()")), jet::toDayNumber(QDate(2003, 4, 1)));
    EXPECT_EQ(integer(QStringLiteral("jet_year(jet_now())")), 2003);
    EXPECT_EQ(integer(QStringLiteral("jet_month(jet_now())")), 4);
    EXPECT_EQ(integer(QStringLiteral("jet_day(jet_now())")), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_hour(jet_now())")), 18);
    EXPECT_EQ(integer(QStringLiteral("jet_minute(jet_now())")), 0);
    EXPECT_EQ(integer(QStringLiteral("jet_year(-1.25)")), 1899);
    EXPECT_EQ(integer(QStringLiteral("jet_hour(-1.25)")), 6);
    EXPECT_TRUE(eval(QStringLiteral("jet_year(NULL)")).isNull());
}

TEST_F(SqlFunctionsTest, TextFunctions)
{
    EXPECT_EQ(text(QStringLiteral("jet_left('ネモリア', 2)")), "ネモ");
    EXPECT_EQ(text(QStringLiteral("jet_right('ネモリア', 9)")), "ネモリア");
    EXPECT_EQ(integer(QStringLiteral("jet_len('ネモリア')")), 4);
    EXPECT_EQ(integer(QStringLiteral("jet_len(12.50)")), 4);
    EXPECT_EQ(text(QStringLiteral("jet_trim('　 山田 　')")), "山田");
    EXPECT_EQ(text(QStringLiteral("jet_ltrim('  a ')")), "a ");
    EXPECT_EQ(text(QStringLiteral("jet_rtrim('  a ')")), "  a");
    EXPECT_EQ(text(QStringLiteral("jet_ucase('abｃ')")), "ABＣ");
    EXPECT_EQ(text(QStringLiteral("jet_lcase('ÄB')")), "äb");
    EXPECT_TRUE(eval(QStringLiteral("jet_left(NULL, 2)")).isNull());
    EXPECT_TRUE(eval(QStringLiteral("jet_trim(NULL)")).isNull());
    EXPECT_THROW(eval(QStringLiteral("jet_left('a', -1)")), std::runtime_error);
}

TEST_F(SqlFunctionsTest, JetPrintsNumbersInText)
{
    EXPECT_EQ(text(QStringLiteral("jet_concat(1.0, '')")), "1");
    EXPECT_EQ(text(QStringLiteral("jet_concat(0.1 + 0.2, '')")), "0.3");
    EXPECT_EQ(text(QStringLiteral("jet_concat(-2.5, 'x')")), "-2.5x");
    EXPECT_EQ(text(QStringLiteral("jet_concat(1e20, '')")), "1E+20");
    EXPECT_EQ(text(QStringLiteral("jet_cstr(365.25)")), "365.25");
}

TEST_F(SqlFunctionsTest, NumericConversions)
{
    EXPECT_EQ(real(QStringLiteral("jet_int(-2.5)")), -3.0);
    EXPECT_EQ(real(QStringLiteral("jet_fix(-2.5)")), -2.0);
    EXPECT_EQ(integer(QStringLiteral("jet_int(7)")), 7);
    EXPECT_EQ(real(QStringLiteral("jet_val('12abc')")), 12.0);
    EXPECT_EQ(real(QStringLiteral("jet_val(' 1 2.5x')")), 12.5);
    EXPECT_EQ(real(QStringLiteral("jet_val('abc')")), 0.0);
    EXPECT_EQ(integer(QStringLiteral("jet_clng(2.5)")), 2);
    EXPECT_EQ(integer(QStringLiteral("jet_clng('3.5')")), 4);
    EXPECT_EQ(real(QStringLiteral("jet_cdbl('1.25')")), 1.25);
    EXPECT_EQ(real(QStringLiteral("jet_cdate('2003/04/01')")), jet::toDayNumber(QDate(2003, 4, 1)));
    EXPECT_THROW(eval(QStringLiteral("jet_clng('many')")), std::runtime_error);
    EXPECT_THROW(eval(QStringLiteral("jet_cstr(NULL)")), std::runtime_error);
    EXPECT_THROW(eval(QStringLiteral("jet_clng(3e9)")), std::runtime_error);
}

TEST_F(SqlFunctionsTest, IntegerDivisionRoundsOperandsFirst)
{
    EXPECT_EQ(integer(QStringLiteral("jet_idiv(7.5, 2)")), 4); // 8 \ 2
    EXPECT_EQ(integer(QStringLiteral("jet_idiv(-7, 2)")), -3);
    EXPECT_EQ(integer(QStringLiteral("jet_mod(6.5, 4)")), 2);  // 6 Mod 4
    EXPECT_EQ(integer(QStringLiteral("jet_mod(-7, 3)")), -1);
    EXPECT_THROW(eval(QStringLiteral("jet_idiv(1, 0.4)")), std::runtime_error);
    EXPECT_TRUE(eval(QStringLiteral("jet_mod(NULL, 3)")).isNull());
}

TEST_F(SqlFunctionsTest, RoundPlaces)
{
    EXPECT_DOUBLE_EQ(real(QStringLiteral("jet_round(2.345, 2)")), 2.34);
    EXPECT_DOUBLE_EQ(real(QStringLiteral("jet_round(2.355, 2)")), 2.36);
    EXPECT_DOUBLE_EQ(real(QStringLiteral("jet_round(1.5)")), 2.0);
    EXPECT_EQ(integer(QStringLiteral("jet_round(7, 0)")), 7);
    EXPECT_THROW(eval(QStringLiteral("jet_round(1.5, -1)")), std::runtime_error);
}

TEST_F(SqlFunctionsTest, LikePatterns)
{
    EXPECT_EQ(integer(QStringLiteral("jet_like('F25.1', 'F2*')")), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_like('f25.1', 'F##.#')")), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_like('Ｆ', 'ｆ')")), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_like('たなか', 'た[なか]か')")), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_like('たなか', '*か')")), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_like('たなか', '*な')")), 0);
    EXPECT_EQ(integer(QStringLiteral("jet_like('', '*')")), 1);
    EXPECT_EQ(integer(QStringLiteral("jet_like('ab', 'a')")), 0);
    EXPECT_EQ(integer(QStringLiteral("jet_like(12, '1?')")), 1);
    EXPECT_THROW(eval(QStringLiteral("jet_like('a', '[a')")), std::runtime_error);
}

TEST_F(SqlFunctionsTest, RegisteringTwiceReplacesTheFunctions)
{
    jet::sql::registerFunctions(m_sqlite.handle());
    EXPECT_EQ(integer(QStringLiteral("jet_datediff('d', 0, 1)")), 1);
}
