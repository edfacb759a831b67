#include "report/catalogue.h"
#include "report/engine.h"
#include "support/fixture.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class DocumentTest : public ::testing::Test
{
protected:
    QList<report::Page> print(const QString &name, int key)
    {
        report::Document doc = report::document(name, source.institution(), testing_support::WardDatabase::today());
        EXPECT_TRUE(doc.layout) << name.toStdString();
        source.setKey(doc.command, key);
        const QList<report::Page> pages =
            report::layOut(*doc.layout, report::RecordsetRows(source.result(doc.command)),
                           testing_support::WardDatabase::today());
        source.close(doc.command); // as the report does when it ends
        return pages;
    }

    static QString textOf(const report::Page &page, const QString &item)
    {
        const QList<report::TextRun> runs = page.runsOf(item);
        return runs.isEmpty() ? QString() : runs.first().text;
    }

    testing_support::WardDatabase ward;
    report::DataSource source{QString(), ward.path()};
};

// Each launch runs the command again with its own key.
TEST_F(DocumentTest, TheAdmissionSummaryOfTwoPatientsInTurn)
{
    QList<report::Page> pages = print(u"rptAdmSum"_s, 1);
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(textOf(pages[0], u"Label11"_s), u"精神科"_s);
    EXPECT_EQ(textOf(pages[0], u"Label1"_s), u"入院時サマリー"_s);
    EXPECT_EQ(textOf(pages[0], u"Field1"_s), u"ＩＤ 1001"_s);
    EXPECT_EQ(textOf(pages[0], u"Field3"_s), u"山田太郎"_s);
    EXPECT_EQ(textOf(pages[0], u"Field4"_s), u"昭和35年4月2日 生まれ"_s);
    EXPECT_EQ(textOf(pages[0], u"Field5"_s), u"平成15年3月25日"_s);
    EXPECT_EQ(textOf(pages[0], u"Field6"_s), u"任意入院"_s);
    EXPECT_EQ(textOf(pages[0], u"Field7"_s), u"岡部"_s);
    EXPECT_EQ(textOf(pages[0], u"Label10"_s), u"2003年4月1日 10:00:00"_s);

    pages = print(u"rptAdmSum"_s, 2);
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(textOf(pages[0], u"Field3"_s), u"田中花子"_s);
    EXPECT_EQ(textOf(pages[0], u"Field1"_s), u"ＩＤ 1002"_s);
}

// The title line carries the institution; two long texts side by side grow
// their row once, by the longer, and push the next row below both.
TEST_F(DocumentTest, TheDischargeHistoryMarksEventsAndGrowsItsTextsAsOneRow)
{
    ward.connection().execute(u"UPDATE 入退院情報 SET 退院時処方 = ?, 入院後経過 = '落ち着いた', 入院中の自殺企図 = -1, "
                              u"入院中の保護室使用 = 0 WHERE 入退院ID = 1"_s,
                              {QString(u"リスペリドン2mg 分2。"_s).repeated(40)});
    const QList<report::Page> pages = print(u"rptDischargeHis"_s, 1);
    ASSERT_FALSE(pages.isEmpty());
    const report::Page &page = pages.first();
    EXPECT_EQ(textOf(page, u"Label1"_s), u"A病院 精神科 退院病歴"_s);
    EXPECT_EQ(textOf(page, u"Event1"_s), u"あり"_s);
    EXPECT_EQ(textOf(page, u"Event2"_s), u"なし"_s);
    EXPECT_EQ(textOf(page, u"Diagnosis1"_s), u"統合失調症"_s);
    EXPECT_EQ(textOf(page, u"Code2"_s), u"F32"_s);
    EXPECT_EQ(textOf(page, u"Value_サブ主治医①"_s), u"岡部"_s);

    const QList<report::TextRun> prescription = page.runsOf(u"Text_退院時処方"_s);
    const QList<report::TextRun> history = page.runsOf(u"Text_現病歴"_s);
    const QList<report::TextRun> course = page.runsOf(u"Text_入院後経過"_s);
    ASSERT_GT(prescription.size(), 3);
    ASSERT_FALSE(history.isEmpty());
    ASSERT_EQ(course.size(), 1);
    EXPECT_EQ(history.first().rect.top(), prescription.first().rect.top()) << "side by side";
    EXPECT_GT(course.first().rect.top(), prescription.last().rect.bottom()) << "pushed below the longer text";
    EXPECT_LT(course.first().rect.top() - prescription.last().rect.bottom(), 1500) << "pushed once, not twice";
}

// On 1 April 2003 the admission plan dates itself with two blanks before
// 年, the discharge plan with one; both carry the department and the room.
TEST_F(DocumentTest, TheCarePlansDateThemselvesInTheEraAndPrintTheirRows)
{
    const QList<report::Page> admission = print(u"rptAdmissionPlan"_s, 1);
    ASSERT_EQ(admission.size(), 1);
    EXPECT_EQ(textOf(admission[0], u"Label4"_s), u"平成 15  年 4 月 1 日"_s);
    EXPECT_EQ(textOf(admission[0], u"Label6"_s), u"精神科"_s);
    EXPECT_EQ(textOf(admission[0], u"Label20"_s), u"A病院"_s);
    EXPECT_EQ(textOf(admission[0], u"Field1"_s), u"山田太郎"_s);
    EXPECT_EQ(textOf(admission[0], u"Field2"_s), u"305"_s);
    EXPECT_TRUE(admission[0].plainText().contains(u"なし"_s)) << "no operation";

    const QList<report::Page> discharge = print(u"rptDischargePlan"_s, 2);
    ASSERT_EQ(discharge.size(), 1);
    EXPECT_EQ(textOf(discharge[0], u"Label4"_s), u"平成 15 年 4 月 1 日"_s);
    EXPECT_EQ(textOf(discharge[0], u"Field_退院日"_s), u"平成15年4月1日"_s);
    EXPECT_FALSE(discharge[0].plainText().contains(u"看護師氏名"_s));
}

} // namespace
