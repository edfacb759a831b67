#include "db/engine/clock.h"
#include "db/engine/recordset.h"
#include "support/tempdb.h"

#include <gtest/gtest.h>

using namespace jet;

namespace {

// The date rules the lists compute in SQL, evaluated by the engine with the clock fixed.
class DateRulesTest : public ::testing::Test
{
protected:
    void TearDown() override { Clock::setSystem(); }

    QVariant evaluate(const QString &expression, const QDate &today)
    {
        Clock::setFixed(QDateTime(today, QTime(9, 30)));
        Recordset rs;
        rs.open(QStringLiteral("SELECT %1 AS 値").arg(expression), &db.connection());
        return rs.value(0);
    }

    testing_support::TempDatabase db;
};

} // namespace

TEST_F(DateRulesTest, AgeRoundsTheYearsFromTheDayBeforeBirth)
{
    const QString age = QStringLiteral("ROUND((DateDiff('d', #2000/01/15#-1, Now()) / 365.25), 0)");
    EXPECT_EQ(evaluate(age, QDate(2003, 1, 14)).toInt(), 3);  // 1096 days: 3.0007
    EXPECT_EQ(evaluate(age, QDate(2002, 8, 1)).toInt(), 3);   // 930 days: 2.546
    EXPECT_TRUE(evaluate(QStringLiteral("ROUND((DateDiff('d', Null-1, Now()) / 365.25), 0)"), QDate(2003, 1, 14)).isNull());
}

TEST_F(DateRulesTest, NewMarkCoversTodayAndTheSevenDaysBefore)
{
    const QDate today(2003, 4, 1);
    const auto mark = [&](const QDate &admitted) {
        return evaluate(QStringLiteral("IIf(DateDiff('d', #%1#, Now()) <=7, '新', '')").arg(admitted.toString(QStringLiteral("yyyy/MM/dd"))), today)
            .toString();
    };
    EXPECT_EQ(mark(today.addDays(-7)), QStringLiteral("新"));
    EXPECT_EQ(mark(today.addDays(-8)), QString());
    EXPECT_EQ(mark(today), QStringLiteral("新"));
    EXPECT_EQ(mark(today.addDays(3)), QStringLiteral("新")) << "a future admission counts below 8 days too";
}

TEST_F(DateRulesTest, CurrentInpatientRuleKeepsTodaysDischarge)
{
    const QDate today(2003, 4, 1);
    const auto current = [&](const QString &admitted, const QString &discharged) {
        return evaluate(QStringLiteral("IIf(DateDiff('d', %1, Now()) >= 0 AND (DateDiff('d', %2, Now()) <= 0 OR "
                                       "DateDiff('d', %2, Now()) Is Null), 1, 0)")
                            .arg(admitted, discharged),
                        today)
            .toInt();
    };
    EXPECT_EQ(current(QStringLiteral("#2003/03/01#"), QStringLiteral("#2003/04/01#")), 1);
    EXPECT_EQ(current(QStringLiteral("#2003/03/01#"), QStringLiteral("#2003/03/31#")), 0);
    EXPECT_EQ(current(QStringLiteral("#2003/03/01#"), QStringLiteral("Null")), 1);
    EXPECT_EQ(current(QStringLiteral("#2003/04/02#"), QStringLiteral("Null")), 0);
    EXPECT_EQ(current(QStringLiteral("Null"), QStringLiteral("Null")), 0);
}
