#include "report/catalogue.h"
#include "report/engine.h"
#include "support/fixture.h"

#include "db/engine/recordset.h"
#include <algorithm>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QStringList kPages{u"rpt32New"_s, u"rpt32New2"_s, u"rptWelfare1"_s, u"rptWelfare2"_s};
const QString kOther = u" (　　　　　　　　　　　　　　　　　　　　　　　　　)"_s;

// The fixed texts of each page in print order.
QStringList fixedTexts(const QString &page)
{
    const QStringList opening{
        u"診　 　 断　  　書"_s, page == u"rpt32New"_s ? u"（通院医療費公費負担用）"_s : u"（精神障害者保健福祉手帳用）"_s,
        u"氏　　　　　名"_s, u"住          所"_s,
        u"①　病名　（「ICDカテゴリー」欄には、F00～F99及びG40～G47の範囲のものを記入してください。）"_s,
        u"(1) 主たる精神障害"_s, u"ICDカテゴリー"_s, u"(2) 従たる精神障害"_s, u"ICDカテゴリー"_s, u"(3) 身体合併症"_s,
        u"②　発病から現在までの病歴"_s, u"推定発病年月　："_s, u"ころ"_s};
    const QStringList firstVisit{u"初診年月日　："_s, u"〔"_s,
                                 u"精神障害を主訴として初めて医療機関を受診した日について、診療録で"_s,
                                 u"確認するか、又は本人若しくは家族の申し立てに基づき記入してください。"_s, u"〕"_s};
    const QStringList conditions{
        u"精神科受診歴等"_s, u"③　現在の病状、状態像等　（該当する項目を○で囲んでください。）"_s,
        u"(1) 抑うつ状態"_s, u"1 思考・運動抑制　2 刺激性・興奮　3 憂うつ気分　4 その他"_s + kOther,
        u"(2) そう状態"_s, u"1 行為心迫　2 多弁　3 感情高揚・刺激性　4 その他"_s + kOther,
        u"(3) 幻覚妄想状態"_s, u"1 幻覚　2 妄想　3 その他"_s + kOther,
        u"(4) 精神運動興奮及び昏迷の状態"_s, u"1 興奮　2 昏迷　3 拒絶　4 その他"_s + kOther,
        u"(5) 分裂病等残遺状態"_s, u"1 自閉　2 感情鈍麻　3 意欲の減退　4 その他"_s + kOther,
        u"(6) 情動及び行動の障害"_s, u"1 爆発性　2 暴力・衝動行為　3 多動　4 食行動の異常　5 その他"_s + kOther,
        u"(7) 不安及び不隠"_s, u"1 強度の不安・恐怖感　2 強迫体験　3 その他"_s + kOther,
        u"(8) けいれん及び意識障害"_s, u"1 けいれん　2 意識障害　3 その他"_s + kOther,
        u"(9) 精神作用物質の乱用及び依存"_s, u"1 アルコール　2 覚せい剤　3 有機溶剤　4 その他"_s + kOther,
        u"(10) 知能障害"_s, u"1 知的障害（精神遅滞）　ア 軽度　イ 中等度　ウ 重度"_s, u"2 痴呆"_s};
    const QString welfareServices = u"（社会復帰施設、小規模作業所、グループホーム、ホームヘルプ、訪問指導等）"_s;
    if (page == u"rpt32New"_s)
        return opening + conditions;
    if (page == u"rptWelfare1"_s)
        return opening + firstVisit + conditions + QStringList{u"④　③の病状、状態像等の具体的程度、症状等"_s};
    if (page == u"rpt32New2"_s)
        return {u"④　③の病状、状態像等の具体的程度、症状等"_s,
                u"（該当する項目の□にレ印を付け、空欄に必要事項を記入してください。）"_s,
                u"□ その症状、状態像等が精神病、あるいはそれと同等の病態にあり、持続するか、あるいは消長を繰り返す。"_s,
                u"□ 精神作用物質の乱用又は依存からの脱却のため、通院医療を自ら希望している。"_s,
                u"□ 上記のいずれにも該当しない。"_s, u"⑤　現在の治療内容"_s,
                u"(1) 投薬内容　（通院医療費公費負担の対象となると考えられるものについて記入してください。）"_s,
                u"(2) 精神療法等"_s, u"(3) 訪問看護指示の有無　　　　　　　　　　（　　有　　・　　無　　　）"_s,
                u"⑥　今後の治療方針　（該当する項目の□にレ印を付け、空欄に必要事項を記入してください。）"_s,
                u"□　継続的な通院による精神療法や薬物療法を必要とする。"_s, u"□　上記に該当しない。"_s,
                u"⑦　現在の精神保健福祉サービスの利用状況"_s, welfareServices, u"⑧　備考"_s, u"医療機関所在地"_s,
                u"医師氏名（自署又は記名押印）"_s, u"名          称"_s, u"印"_s, u"電　話　番　号"_s};
    const QString helped = u"自発的にできる　・　自発的にできるが援助が必要　・　援助があればできる　･　できない"_s;
    const QString managed = u"適切にできる　　・　おおむねできるが援助が必要　・　援助があればできる　･　できない"_s;
    return {u"⑤　生活能力の状態"_s,
            u"（保護的環境ではなく、例えばアパート等で単身生活を行った場合を想定して判定する。）"_s,
            u"1 現在の生活環境"_s,
            u"入院・入所（施設名　　　　　　　　　　　　　　）・在宅・その他（　　　　　　　　　  　 　　）"_s,
            u"2 日常の生活能力の判定（該当する項目を一つ○で囲む。）"_s, u"(1) 適切な食事摂取"_s, helped,
            u"(2) 身辺の清潔保持"_s, helped, u"(3) 金銭管理と買物"_s, managed, u"(4) 通院と服薬（要・不要）"_s, managed,
            u"(5) 他人との意思伝達・対人関係"_s, managed, u"(6) 身辺の安全保持・危機対応"_s, managed,
            u"(7) 社会的手続きや公共施設の利用"_s, managed, u"(8) 趣味・娯楽への関心、文化的社会的活動への参加"_s, managed,
            u"3 日常生活能力の程度（該当する項目を一つ○で囲む。）"_s,
            u"(1) 精神障害を認めるが、日常生活及び社会生活は普通にできる。"_s,
            u"(2) 精神障害を認め、日常生活又は社会生活に一定の制限を受ける。"_s,
            u"(3) 精神障害を認め、日常生活に著しい制限を受けており、時に応じて援助を必要とする。"_s,
            u"(4) 精神障害を認め、日常生活に著しい制限を受けており、常時援助を必要とする。"_s,
            u"(5) 精神障害を認め、身の回りのことはほとんどできない。"_s, u"⑥　現在の精神保健福祉サービスの利用状況"_s,
            welfareServices, u"⑦　備考"_s, u"医 師 氏 名（自署又は記名押印）"_s, u"医療機関所在地"_s, u"印"_s,
            u"名          称"_s, u"□ 精神保健指定医"_s, u"電　話　番　号"_s, u"□ 精神障害の診断又は治療に従事する医師"_s,
            u"□ その他の医師"_s, u"（※該当する項目の□にレ印をつける。）"_s};
}

// Where a mark was printed: its text run or its oval.
struct Printed
{
    QRect rect;
    bool found = false;
};

Printed printedMark(const report::Page &page, const QString &item)
{
    for (const report::TextRun &run : page.texts) {
        if (run.item == item)
            return {run.rect, true};
    }
    for (const report::Oval &oval : page.ovals) {
        if (oval.item == item)
            return {oval.rect, true};
    }
    return {};
}

// The characters of a text run that a printed mark covers from side to side.
QString covered(const report::TextRun &run, const QRect &mark)
{
    QString text;
    for (qsizetype i = 0; i < run.text.size(); ++i) {
        const QRectF glyph = report::glyphBox(run, i, 1);
        if (glyph.left() >= mark.left() && glyph.right() <= mark.right() + 1)
            text += run.text.at(i);
    }
    return text.trimmed();
}

class CertificatePagesTest : public ::testing::Test
{
protected:
    struct Printout
    {
        report::Document doc;
        QList<report::Page> pages;
    };

    Printout print(const QString &name, int chart)
    {
        Printout out{report::document(name, source.institution(), testing_support::WardDatabase::today()), {}};
        source.setKey(out.doc.command, chart);
        out.pages = report::layOut(*out.doc.layout, report::RecordsetRows(source.result(out.doc.command)),
                                   testing_support::WardDatabase::today());
        source.close(out.doc.command);
        return out;
    }

    static QList<const report::Item *> marks(const report::Layout &layout)
    {
        QList<const report::Item *> found;
        for (const report::Item &item : layout.detail.items) {
            if (item.kind == report::Item::Kind::Mark)
                found.append(&item);
        }
        return found;
    }

    static const report::TextRun *runOf(const report::Page &page, const QString &item)
    {
        for (const report::TextRun &run : page.texts) {
            if (run.item == item)
                return &run;
        }
        return nullptr;
    }

    // Every Yes/No column of chart 1004's certificate set to one value.
    void setEveryFlag(int value)
    {
        QStringList sets;
        for (const QString &page : kPages) {
            const Printout out = print(page, 1004);
            for (const report::Item *mark : marks(*out.doc.layout))
                sets.append(u"`%1` = %2"_s.arg(mark->text).arg(value));
        }
        ward.connection().execute(u"UPDATE `32条診断書` SET "_s + sets.join(u", "_s) + u" WHERE カルテID = 1004"_s);
    }

    testing_support::WardDatabase ward;
    report::DataSource source{QString(), ward.path()};
};

// Every fixed text, in order, inside the paper's printable width; a patient
// without a certificate row gets the same forms with every field empty.
TEST_F(CertificatePagesTest, EveryFixedTextInOrderOnOnePageEach)
{
    for (const int chart : {1004, 1001}) {
        for (const QString &name : kPages) {
            const Printout out = print(name, chart);
            ASSERT_EQ(out.pages.size(), 1) << name.toStdString();
            // Top to bottom, the page header's texts first.
            report::Page page = out.pages.first();
            std::stable_sort(page.texts.begin(), page.texts.end(),
                             [](const report::TextRun &a, const report::TextRun &b) { return a.rect.top() < b.rect.top(); });
            qsizetype next = 0;
            for (const QString &text : fixedTexts(name)) {
                qsizetype at = next;
                while (at < page.texts.size() && page.texts.at(at).text != text)
                    ++at;
                ASSERT_LT(at, page.texts.size()) << name.toStdString() << ": " << text.toStdString();
                EXPECT_LE(report::glyphBox(page.texts.at(at), 0, text.size()).right(), page.paper.width() - 1440 + 20)
                    << text.toStdString();
                next = at + 1;
            }
            if (chart == 1001) {
                for (const report::TextRun &run : page.texts)
                    EXPECT_FALSE(run.item.startsWith(u"Field"_s)) << name.toStdString() << " prints " << run.text.toStdString();
            }
        }
    }
}

// But for the two questions whose false value is an answer of its own (無,
// 不要), which keep their circle.
TEST_F(CertificatePagesTest, NoFlagSetPrintsNoMark)
{
    setEveryFlag(0);
    for (const QString &name : kPages) {
        const Printout out = print(name, 1004);
        for (const report::Item *mark : marks(*out.doc.layout))
            EXPECT_EQ(printedMark(out.pages.first(), mark->name).found, !mark->no.isEmpty()) << mark->name.toStdString();
    }
}

// Each mark's centre lies on the characters it marks, a "／" over its "□",
// also where a long other text has grown its group and moved the next ones.
TEST_F(CertificatePagesTest, EveryMarkFallsOverItsNumberWordOrBox)
{
    setEveryFlag(-1);
    const QString longOther = QString(u"気分の日内変動、"_s).repeated(8);
    ward.connection().execute(u"UPDATE `32条診断書` SET `その他(抑うつ状態)` = ? WHERE カルテID = 1004"_s, {longOther});
    const QList<int> counts{49, 6, 49, 45};
    for (int p = 0; p < kPages.size(); ++p) {
        const Printout out = print(kPages.at(p), 1004);
        const report::Page &page = out.pages.first();
        const QList<const report::Item *> declared = marks(*out.doc.layout);
        EXPECT_EQ(declared.size(), counts.at(p)) << kPages.at(p).toStdString();
        for (const report::Item *mark : declared) {
            const Printed printed = printedMark(page, mark->name);
            const report::TextRun *anchor = runOf(page, mark->anchor);
            ASSERT_TRUE(printed.found && anchor) << mark->name.toStdString();
            const QRectF glyphs = report::glyphBox(*anchor, mark->yesSpan.from, mark->yesSpan.length);
            EXPECT_TRUE(glyphs.contains(QRectF(printed.rect).center())) << mark->name.toStdString();
            if (mark->yes == u"／"_s) {
                EXPECT_EQ(covered(*anchor, printed.rect), u"□"_s) << mark->name.toStdString();
            }
        }
        if (kPages.at(p) != u"rpt32New"_s)
            continue;
        const report::TextRun *items = nullptr;
        const report::TextRun *nextGroup = nullptr;
        for (const report::TextRun &run : page.texts) {
            if (run.text.startsWith(u"1 思考・運動抑制"_s))
                items = &run;
            if (run.text == u"(2) そう状態"_s)
                nextGroup = &run;
        }
        ASSERT_TRUE(items && nextGroup);
        QList<report::TextRun> grown;
        for (const report::TextRun &run : page.texts) {
            if (longOther.contains(run.text) && run.rect.top() >= items->rect.top())
                grown.append(run);
        }
        ASSERT_GT(grown.size(), 1) << "the other text grows";
        const qsizetype open = items->text.indexOf(u'(');
        for (const report::TextRun &line : grown) {
            EXPECT_GE(line.rect.left(), report::glyphBox(*items, open, 1).right() - 1) << "inside the brackets";
            EXPECT_LT(line.rect.bottom(), nextGroup->rect.top()) << "above the next group";
        }
    }
}

TEST_F(CertificatePagesTest, TheAnswersCircleTheirWords)
{
    const auto circled = [&](const QString &name, const QString &mark) {
        const Printout out = print(name, 1004);
        const report::Page &page = out.pages.first();
        for (const report::Item *item : marks(*out.doc.layout)) {
            if (item->name == mark) {
                const Printed printed = printedMark(page, item->name);
                const report::TextRun *anchor = runOf(page, item->anchor);
                return printed.found && anchor ? covered(*anchor, printed.rect) : QString();
            }
        }
        return QString();
    };
    ward.connection().execute(u"UPDATE `32条診断書` SET 訪問看護指示 = 0, 通院要不要 = 0 WHERE カルテID = 1004"_s);
    EXPECT_EQ(circled(u"rpt32New2"_s, u"Mark_訪問看護指示"_s), u"無"_s);
    EXPECT_EQ(circled(u"rptWelfare2"_s, u"Mark_通院要不要"_s), u"不要"_s);
    ward.connection().execute(u"UPDATE `32条診断書` SET 訪問看護指示 = -1, 通院要不要 = -1 WHERE カルテID = 1004"_s);
    EXPECT_EQ(circled(u"rpt32New2"_s, u"Mark_訪問看護指示"_s), u"有"_s);
    EXPECT_EQ(circled(u"rptWelfare2"_s, u"Mark_通院要不要"_s), u"要"_s);
}

// The longest values the windows allow keep each certificate on one legible
// sheet, and a bare year is followed by the form's one "ころ".
TEST_F(CertificatePagesTest, TheLongestValuesKeepEachCertificateOnOneSheet)
{
    QString sets = u"推定発病時期 = '2018'"_s;
    for (const auto &[column, length] : QList<std::pair<QString, int>>{
             {u"状態の程度0"_s, 288}, {u"投薬内容"_s, 240}, {u"精神療法"_s, 240}, {u"治療方針"_s, 288}, {u"福祉サービス"_s, 288},
             {u"備考0"_s, 288}, {u"病歴および経過など0"_s, 480}, {u"初診日"_s, 12}, {u"生活環境その他名"_s, 12}})
        sets += u", `%1` = '%2'"_s.arg(column, QString(length, u'症'));
    ward.connection().execute(u"UPDATE `32条診断書` SET "_s + sets + u" WHERE カルテID = 1004"_s);
    for (const QString &name : kPages) {
        const QList<report::Page> pages = print(name, 1004).pages;
        ASSERT_EQ(pages.size(), 1) << name.toStdString();
        for (const report::TextRun &run : pages.first().texts)
            EXPECT_GE(run.font.pointSizeF(), 7) << run.text.toStdString();
        EXPECT_EQ(pages.first().plainText().count(u"ころ"_s), name == u"rpt32New2"_s || name == u"rptWelfare2"_s ? 0 : 1);
    }
}

// Chart 1004's secondary diagnosis is the placeholder row; page 2 is dated
// today in the era and carries the institution.
TEST_F(CertificatePagesTest, PlaceholderDiagnosisTodayAndTheInstitution)
{
    jet::Recordset placeholder;
    placeholder.open(u"SELECT ICDコード FROM `診断名(ICD10)` WHERE 診断ID = 1"_s, &ward.connection());
    const QString code = placeholder.value(u"ICDコード"_s).toString();
    const Printout first = print(u"rpt32New"_s, 1004);
    QStringList printed;
    for (const report::TextRun &run : first.pages.first().texts)
        printed.append(run.text);
    const qsizetype secondary = printed.indexOf(u"(2) 従たる精神障害"_s);
    ASSERT_GE(secondary, 0);
    EXPECT_EQ(printed.mid(secondary + 1, 3), (QStringList{u"-"_s, u"ICDカテゴリー"_s, code}));

    for (const QString &name : {u"rpt32New2"_s, u"rptWelfare2"_s}) {
        const report::Page page = print(name, 1004).pages.first();
        EXPECT_EQ(runOf(page, u"Label18"_s)->text, u"平成 15 年 4 月 1 日"_s);
        EXPECT_EQ(runOf(page, u"Label19"_s)->text, u"A病院"_s);
    }
}

// A certificate page left open keeps its result open; the next patient's
// launch reads that patient all the same, and the same patient's second page
// shares the result of the first.
TEST_F(CertificatePagesTest, AnotherChartRunsTheCommandAgain)
{
    const auto command = report::DataSource::Command::Certificate;
    source.setKey(command, 1004);
    jet::Recordset *first = &source.result(command);
    EXPECT_EQ(first->value(u"医師氏名"_s).toString(), u"岡部"_s);
    source.setKey(command, 1004);
    EXPECT_EQ(&source.result(command), first);
    EXPECT_TRUE(first->isOpen());
    source.setKey(command, 1005);
    EXPECT_EQ(source.result(command).value(u"医師氏名"_s).toString(), u"山田"_s);
}

} // namespace
