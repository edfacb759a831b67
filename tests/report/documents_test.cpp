#include "db/engine/administration.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "db/schema.h"
#include "report/catalogue.h"
#include "report/engine.h"
#include "support/fixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class DocumentTest : public ::testing::Test
{
protected:
    explicit DocumentTest(testing_support::Backend backend) : ward(backend) {}

    QList<report::Page> print(const QString &name, int key)
    {
        report::Document doc = report::document(name, source.institution(), testing_support::WardDatabase::today());
        EXPECT_TRUE(doc.layout) << name.toStdString();
        if (report::DataSource::takesKey(doc.command))
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

    // One detail field's text on every line, top to bottom.
    static QStringList column(const report::Page &page, const QString &item)
    {
        QStringList texts;
        for (const report::TextRun &run : page.runsOf(item))
            texts << run.text;
        return texts;
    }

    testing_support::WardDatabase ward;
    report::DataSource source{QString(), ward.path()};
};

using Documents = testing_support::OnBothBackends<DocumentTest>;
INSTANTIATE_TEST_SUITE_P(Ward, Documents,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

// Each launch runs the command again with its own key.
TEST_P(Documents, TheAdmissionSummaryOfTwoPatientsInTurn)
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
TEST_P(Documents, TheDischargeHistoryMarksEventsAndGrowsItsTextsAsOneRow)
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

    // A long course runs onto a second sheet, which names its patient.
    ward.connection().execute(u"UPDATE 入退院情報 SET 入院後経過 = ? WHERE 入退院ID = 1"_s,
                              {QString(u"服薬を再開し幻聴は次第に軽くなった。"_s).repeated(40)});
    const QList<report::Page> longer = print(u"rptDischargeHis"_s, 1);
    ASSERT_EQ(longer.size(), 2);
    EXPECT_EQ(textOf(longer[0], u"SheetCount"_s) + textOf(longer[1], u"SheetCount"_s), u"1 / 22 / 2"_s);
    EXPECT_EQ(textOf(longer[1], u"SheetName"_s), u"山田太郎"_s);
}

// On 1 April 2003 the admission plan dates itself with two blanks before
// 年, the discharge plan with one; both carry the department and the room.
TEST_P(Documents, TheCarePlansDateThemselvesInTheEraAndPrintTheirRows)
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

// A list, not one patient: the voucher is headed by the institution, and an
// empty 病院名 row leaves the two ideographic blanks before 処置伝票.
TEST_P(Documents, TheTreatmentVoucherListsTheInpatientsUnderTheInstitutionsHeading)
{
    QList<report::Page> pages = print(u"rptTreatment"_s, 0);
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(textOf(pages[0], u"Label1"_s), u"A病院　精神科　処置伝票"_s);
    EXPECT_EQ(textOf(pages[0], u"Label12"_s), u"1 ページ"_s);
    EXPECT_EQ(column(pages[0], u"Field2"_s), (QStringList{u"佐藤次郎"_s, u"田中花子"_s, u"山田太郎"_s}));
    EXPECT_EQ(column(pages[0], u"Field3"_s), (QStringList{u"(1005)"_s, u"(1002)"_s, u"(1001)"_s}));
    EXPECT_EQ(pages[0].runsOf(u"Label10"_s).size(), 3) << "a box to tick on every line";

    ward.connection().execute(u"UPDATE 病院名 SET 病院名 = Null, 診療担当科名 = Null"_s);
    pages = print(u"rptTreatment"_s, 0);
    EXPECT_EQ(textOf(pages[0], u"Label1"_s), u"　　処置伝票"_s);
}

TEST_P(Documents, TheCheckSheetsAreLandscapeListsOfTheirPeriodsPatients)
{
    const QList<report::Page> first = print(u"rptAdmPsy1"_s, 0);
    ASSERT_EQ(first.size(), 1);
    EXPECT_GT(first[0].paper.width(), first[0].paper.height());
    EXPECT_EQ(column(first[0], u"Field1"_s), (QStringList{u"田中花子"_s, u"山田太郎"_s}));
    EXPECT_EQ(column(first[0], u"Field2"_s), (QStringList{u"03/03/24"_s, u"03/03/25"_s}));
    EXPECT_TRUE(first[0].plainText().contains(u"入院精神療法（４週間以内）\n2003/04/01 現在\n指定医が３０分以上 （入院精神療法Ⅰ）\n１回目\n２回目\n３回目\n"_s))
        << first[0].plainText().toStdString();

    EXPECT_EQ(column(print(u"rptAdmPsy2"_s, 0)[0], u"Field1"_s), QStringList{u"佐藤次郎"_s});
    const QList<report::Page> third = print(u"rptAdmPsy3"_s, 0);
    ASSERT_EQ(third.size(), 1) << "nobody: the headings alone";
    EXPECT_TRUE(third[0].plainText().contains(u"指定医　　　　　　　　　（入院精神療法Ⅱ）"_s));
    EXPECT_TRUE(third[0].runsOf(u"Field1"_s).isEmpty());
}

// The last week is today and the six days before it; the records follow the
// room order the in-patient list was last given.
TEST_P(Documents, TheAdmissionRecordsListThePeriodsAdmissionsAndDischargesInTheListsOrder)
{
    const QList<report::Page> week = print(u"rptAdmRecord1"_s, 0);
    ASSERT_EQ(week.size(), 1);
    EXPECT_EQ(textOf(week[0], u"Label1"_s), u"入退院記録（最近１週間分）"_s);
    EXPECT_EQ(textOf(week[0], u"Label2"_s), u"平成15年3月26日 〜 平成15年4月1日"_s);
    EXPECT_EQ(column(week[0], u"Field2"_s), (QStringList{u"田中花子"_s, u"高橋一郎"_s}));
    EXPECT_EQ(column(week[0], u"Field6"_s), (QStringList{u"03/04/01"_s, u"03/03/31"_s}));

    const QList<report::Page> fortnight = print(u"rptAdmRecord2"_s, 0);
    EXPECT_EQ(textOf(fortnight[0], u"Label2"_s), u"平成15年3月19日 〜 平成15年4月1日"_s);
    EXPECT_EQ(column(fortnight[0], u"Field2"_s), (QStringList{u"田中花子"_s, u"山田太郎"_s, u"高橋一郎"_s}));

    jet::replaceStoredQuery(db::plainConnectionString(ward.path()), db::kInpatientListQuery.toString(),
                            db::inpatientListSql(db::RoomOrder::Descending));
    EXPECT_EQ(column(print(u"rptAdmRecord2"_s, 0)[0], u"Field2"_s),
              (QStringList{u"山田太郎"_s, u"高橋一郎"_s, u"田中花子"_s}));
}

// A name too long for one line of its row takes two, in its own type up to
// twenty characters, every character kept; the longest room and institution
// stay whole inside the margins.
TEST_P(Documents, TheLongestNamesRoomsAndInstitutionsPrintWholeInsideTheirRowsAndMargins)
{
    const QString fourteen = u"勅使河原　由紀美子長谷川花子"_s, twenty = fourteen + u"左衛門三郎太"_s;
    const QString kana = u"テシガワラ　ユキミコハセガワハナコ　サエモンサブロウタロウ"_s;
    for (const auto &[chart, name] : {std::pair{1001, fourteen}, {1002, kana}, {1005, twenty}})
        ward.connection().execute(u"UPDATE 患者情報 SET 氏名 = ? WHERE カルテID = ?"_s, {name, chart});
    const QList<std::tuple<QString, QStringList, int>> lists{{u"rptTreatment"_s, {twenty, kana, fourteen}, 4},
                                                            {u"rptAdmRecord2"_s, {kana, fourteen, u"高橋一郎"_s}, 3}};
    for (const auto &[doc, names, fullSize] : lists) {
        const QList<report::TextRun> runs = print(doc, 0).first().runsOf(u"Field2"_s);
        QString printed;
        for (const report::TextRun &run : runs)
            printed += run.text;
        EXPECT_EQ(printed, names.join(QString()));
        EXPECT_EQ(runs.size(), 2 * names.size() - (doc == u"rptAdmRecord2"_s)) << "two lines to each long name";
        EXPECT_EQ(std::count_if(runs.cbegin(), runs.cend(), [](const auto &run) { return run.font.pointSizeF() == 10.5; }),
                  fullSize) << doc.toStdString();
    }

    const QString institution = u"東西南北山川田中村木"_s.repeated(10), department = u"心療内科精神科"_s.repeated(8).left(50);
    ward.connection().execute(u"UPDATE 病院名 SET 病院名 = ?, 診療担当科名 = ?"_s, {institution, department});
    ward.connection().execute(u"UPDATE 病室番号 SET 病室番号 = ?"_s, {institution.left(20)});
    for (const QString &doc : {u"rptAdmissionPlan"_s, u"rptDischargePlan"_s, u"rptTreatment"_s, u"rptDischargeHis"_s}) {
        const report::Page page = print(doc, 1).first();
        for (const report::TextRun &run : page.texts)
            EXPECT_LE(run.rect.right(), page.paper.width() - 1440) << doc.toStdString() << run.item.toStdString();
        const QString text = page.plainText().remove(u'\n');
        EXPECT_TRUE(text.contains(department) && (doc == u"rptDischargePlan"_s || text.contains(institution)))
            << doc.toStdString();
        EXPECT_TRUE(doc != u"rptTreatment"_s || text.contains(department + u"　処置伝票"_s));
    }
}

// The data source holds the file open only while a document is shown, so
// that the database can be compacted once every preview is closed.
TEST(ReportDataSource, LetsGoOfTheFileWhenNoDocumentIsShown)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(u"norva2000.mdb"_s);
    db::createDatabase(path, db::Generation::V2112);
    report::DataSource source(QString(), path);
    source.result(report::DataSource::Command::Treatment);
    EXPECT_THROW(jet::closeDatabaseFile(path), jet::Error);
    source.close(report::DataSource::Command::Treatment);
    EXPECT_NO_THROW(jet::closeDatabaseFile(path));
    source.institution();
    EXPECT_NO_THROW(jet::closeDatabaseFile(path));
}

} // namespace
