#include "db/engine/error.h"
#include "report/engine.h"
#include "report/render.h"
#include "support/errors.h"

#include <QDir>
#include <QFontMetricsF>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

using namespace Qt::StringLiterals;
using report::Item;
using report::Layout;

namespace {

class ListRows : public report::Rows
{
public:
    explicit ListRows(QList<QVariantMap> rows) : m_rows(std::move(rows)) {}
    int count() const override { return int(m_rows.size()); }
    QVariant value(int row, const QString &column) const override { return m_rows.at(row).value(column); }

private:
    QList<QVariantMap> m_rows;
};

const QDateTime kNow(QDate(2003, 4, 1), QTime(9, 5, 7));

// A one-row form: a heading, the chart, a Yes/No mark and a history that grows
// inside its box with a remark below it.
Layout form()
{
    Layout layout;
    layout.name = u"rptTest"_s;
    layout.pageHeader.height = 600;
    layout.pageHeader.items = {Layout::label(u"Label1"_s, QRect(0, 0, 6000, 400), u"退院時サマリー"_s),
                               Layout::label(u"Label2"_s, QRect(6000, 0, 3000, 400), u"%d"_s)};
    layout.pageFooter.height = 400;
    layout.pageFooter.items = {Layout::label(u"Label3"_s, QRect(0, 0, 9000, 400), u"%p ページ　%D %T"_s)};
    Item history = Layout::field(u"Field3"_s, QRect(200, 1000, 8600, 600), u"病歴"_s);
    history.grows = true;
    layout.detail.height = 2600;
    layout.detail.items = {Layout::field(u"Field1"_s, QRect(0, 0, 3000, 400), u"カルテID"_s, u"(#)"_s),
                           Layout::yesNo(u"Field2"_s, QRect(3000, 0, 1000, 400), u"自殺企図"_s, u"あり"_s, u"なし"_s),
                           Layout::box(u"Shape1"_s, QRect(0, 900, 9000, 800)),
                           history,
                           Layout::field(u"Field4"_s, QRect(0, 2000, 9000, 400), u"備考"_s)};
    return layout;
}

TEST(ReportEngine, BandsPlaceholdersFormatsAndYesNoTexts)
{
    const ListRows rows({{{u"カルテID"_s, 1004}, {u"自殺企図"_s, -1}, {u"病歴"_s, u"短い"_s}},
                         {{u"カルテID"_s, 1005}, {u"自殺企図"_s, 0}},
                         {{u"カルテID"_s, 1006}, {u"自殺企図"_s, QVariant()}}});
    const QList<report::Page> pages = report::layOut(form(), rows, kNow);
    ASSERT_EQ(pages.size(), 1);
    const report::Page &page = pages.first();
    EXPECT_EQ(page.paper, QSize(11906, 16838)) << "A4 in twips";
    ASSERT_EQ(page.runsOf(u"Field1"_s).size(), 3);
    EXPECT_EQ(page.runsOf(u"Field1"_s).at(0).text, u"(1004)"_s);
    EXPECT_EQ(page.runsOf(u"Field1"_s).at(0).rect.topLeft(), QPoint(1440, 1440 + 600)) << "inside the margins, below the header";
    EXPECT_EQ(page.runsOf(u"Field1"_s).at(1).rect.top(), 1440 + 600 + 2600) << "one band per row";
    QStringList marks;
    for (const report::TextRun &run : page.runsOf(u"Field2"_s))
        marks << run.text;
    EXPECT_EQ(marks, (QStringList{u"あり"_s, u"なし"_s})) << "an empty value prints nothing";
    EXPECT_EQ(page.runsOf(u"Label2"_s).at(0).text, u"2003/04/01"_s);
    EXPECT_EQ(page.runsOf(u"Label3"_s).at(0).text, u"1 ページ　2003年4月1日 9:05:07"_s);
    const QRect footer = page.runsOf(u"Label3"_s).at(0).rect;
    EXPECT_EQ(footer.top() + footer.height(), 16838 - 1440) << "the footer ends at the bottom margin";
}

TEST(ReportEngine, ALongHistoryGrowsItsBoxPushesTheRestAndContinuesOnTheNextPage)
{
    const QString history = QString(u"幻聴と被害妄想が続き、服薬を中断して再燃した。"_s).repeated(200);
    const ListRows rows({{{u"カルテID"_s, 1}, {u"病歴"_s, history}, {u"備考"_s, u"特記なし"_s}}});
    const QList<report::Page> pages = report::layOut(form(), rows, kNow);
    ASSERT_GE(pages.size(), 2);
    QString printed;
    for (const report::Page &page : pages) {
        EXPECT_EQ(page.runsOf(u"Label1"_s).size(), 1) << "the header on every page";
        for (const report::TextRun &run : page.runsOf(u"Field3"_s)) {
            printed += run.text;
            EXPECT_LE(run.rect.bottom(), 16838 - 1440 - 400) << "nothing over the footer";
        }
    }
    EXPECT_EQ(printed, history) << "every character printed once, in order";
    EXPECT_EQ(pages.last().runsOf(u"Label3"_s).at(0).text.left(5), u"%1 ページ"_s.arg(pages.size()));

    const report::Page &last = pages.last();
    ASSERT_EQ(last.runsOf(u"Field4"_s).size(), 1);
    const QList<report::TextRun> lastLines = last.runsOf(u"Field3"_s);
    ASSERT_FALSE(lastLines.isEmpty());
    EXPECT_GT(last.runsOf(u"Field4"_s).at(0).rect.top(), lastLines.last().rect.bottom()) << "pushed below the history";
    ASSERT_EQ(pages.first().frames.size(), 1);
    const QRect firstPart = pages.first().frames.at(0).rect;
    EXPECT_EQ(firstPart.top() + firstPart.height(), 16838 - 1440 - 400) << "the box runs to the page's end";
    ASSERT_EQ(last.frames.size(), 1);
    EXPECT_EQ(last.frames.at(0).rect.top(), 1440 + 600) << "and continues below the next page's header";
    EXPECT_GE(last.frames.at(0).rect.bottom(), lastLines.last().rect.bottom());
    EXPECT_EQ(lastLines.first().rect.top(), 1440 + 600 + 100) << "clear of the box's edge, as on its first page";
    EXPECT_LE(pages.first().runsOf(u"Field3"_s).last().rect.bottom(), firstPart.bottom() - 100);
}

// Two growing boxes side by side whose left one breaks onto the next page:
// the right one stays where it begins, and both keep every character inside
// the page's body.
TEST(ReportEngine, SideBySideBoxesBreakTogetherAndKeepEveryCharacter)
{
    Layout layout = form();
    Item left = Layout::field(u"Left"_s, QRect(200, 1000, 4200, 600), u"経過"_s);
    Item right = Layout::field(u"Right"_s, QRect(4800, 1000, 4000, 600), u"方針"_s);
    left.grows = right.grows = true;
    layout.detail.items = {Layout::field(u"Field1"_s, QRect(0, 0, 3000, 400), u"カルテID"_s),
                           Layout::box(u"BoxL"_s, QRect(0, 900, 4500, 800)), left,
                           Layout::box(u"BoxR"_s, QRect(4600, 900, 4400, 800)), right};
    const QString course = QString(u"服薬を再開し、幻聴は次第に軽くなった。"_s).repeated(60);
    const QString plan = QString(u"外来で経過を見る。"_s).repeated(40);
    // A first band fills most of the page so that the second one breaks.
    const ListRows rows({{{u"カルテID"_s, 1}, {u"経過"_s, QString(u"短い。"_s).repeated(150)}},
                         {{u"カルテID"_s, 2}, {u"経過"_s, course}, {u"方針"_s, plan}}});
    const QList<report::Page> pages = report::layOut(layout, rows, kNow);
    ASSERT_GE(pages.size(), 2);
    QString printedLeft, printedRight;
    for (const report::Page &page : pages) {
        for (const report::TextRun &run : page.texts) {
            if (run.item != u"Left"_s && run.item != u"Right"_s)
                continue;
            (run.item == u"Left"_s ? printedLeft : printedRight) += run.text;
            EXPECT_GE(run.rect.top(), 1440 + 600) << "nothing in the top margin";
            EXPECT_LE(run.rect.bottom(), 16838 - 1440 - 400) << "nothing below the body";
            bool framed = false;
            for (const report::Frame &frame : page.frames)
                framed = framed || frame.rect.contains(run.rect.adjusted(0, 0, -1, -1));
            EXPECT_TRUE(framed) << "inside its own box";
        }
    }
    EXPECT_TRUE(printedLeft.endsWith(course));
    EXPECT_EQ(printedRight, plan);
}

// A heading box over a growing box with room at the page's end for no line
// of its text, or for one only: heading and box begin the next page with it.
TEST(ReportEngine, AHeadingAndItsBoxMoveWithATextThatGetsTooFewLinesOnThePage)
{
    const int perLine = int(std::ceil(
        QFontMetricsF(report::textFont(10.5, false), &report::measuringDevice()).lineSpacing()));
    Layout layout = form();
    Item filler = Layout::field(u"Filler"_s, QRect(0, 0, 9000, 400), u"経過"_s);
    Item text = Layout::field(u"Text"_s, QRect(100, 1500, 8800, 600), u"検査内容"_s);
    filler.grows = text.grows = true;
    layout.detail.height = 2200;
    layout.detail.items = {filler, Layout::box(u"Head"_s, QRect(0, 1000, 9000, 400)),
                           Layout::label(u"Heading"_s, QRect(0, 1000, 9000, 400), u"検査内容"_s),
                           Layout::box(u"Box"_s, QRect(0, 1400, 9000, 800)), text};
    // The body's height less the header and footer, the box's inner margin
    // and where the text stands below the filler's one-line box.
    const int room = 16838 - 2 * 1440 - 600 - 400 - 100 - 1100;
    for (const int lines : {0, 1}) {
        const QString filled = QStringList(room / perLine - lines, u"あ"_s).join(u'\n');
        const ListRows rows({{{u"経過"_s, filled}, {u"検査内容"_s, QString(u"血液検査、心電図。"_s).repeated(60)}}});
        const QList<report::Page> pages = report::layOut(layout, rows, kNow);
        ASSERT_EQ(pages.size(), 2) << lines;
        EXPECT_TRUE(pages.first().frames.isEmpty()) << lines << ": no box left behind";
        EXPECT_TRUE(pages.first().runsOf(u"Heading"_s).isEmpty()) << lines;
        ASSERT_EQ(pages.last().runsOf(u"Heading"_s).size(), 1) << lines;
        EXPECT_EQ(pages.last().runsOf(u"Heading"_s).at(0).rect.top(), 1440 + 600) << lines;
    }
}

// Each row its own document, as each patient's summary is: its pages are
// counted apart from the next row's, which begins a page of its own, and the
// pages after its first carry its name.  A line break stored in a one-line
// field stays inside the field's box.
TEST(ReportEngine, EachRowsDocumentCountsItsOwnPagesAndNamesItsLaterOnes)
{
    Layout layout = form();
    layout.documentPerRow = true;
    Item name = Layout::field(u"Name"_s, QRect(0, 0, 4000, 400), u"氏名"_s);
    name.printOn = Item::PrintOn::LaterPages;
    Item count = Layout::label(u"Count"_s, QRect(4000, 0, 2000, 400), u"%p / %N"_s);
    count.printOn = Item::PrintOn::SeveralPages;
    layout.pageFooter.items << name << count;
    const QString history = QString(u"幻聴と被害妄想が続き、服薬を中断して再燃した。"_s).repeated(200);
    const ListRows rows({{{u"氏名"_s, u"山田太郎"_s}, {u"病歴"_s, history}, {u"備考"_s, u"一時診断\r\n統合失調症"_s}},
                         {{u"氏名"_s, u"田中花子"_s}, {u"病歴"_s, u"短い"_s}}});
    const QList<report::Page> pages = report::layOut(layout, rows, kNow);
    ASSERT_GE(pages.size(), 3);
    const int first = int(pages.size()) - 1;
    QList<report::TextRun> remarks;
    for (int i = 0; i < first; ++i) {
        ASSERT_EQ(pages[i].runsOf(u"Count"_s).size(), 1);
        EXPECT_EQ(pages[i].runsOf(u"Count"_s).at(0).text, u"%1 / %2"_s.arg(i + 1).arg(first));
        EXPECT_EQ(pages[i].runsOf(u"Name"_s).size(), i == 0 ? 0 : 1) << "the name on the later pages";
        remarks += pages[i].runsOf(u"Field4"_s);
    }
    EXPECT_EQ(pages[1].runsOf(u"Name"_s).value(0).text, u"山田太郎"_s);
    const report::Page &second = pages.last();
    EXPECT_EQ(second.runsOf(u"Field3"_s).value(0).text, u"短い"_s) << "on a page of its own";
    EXPECT_TRUE(second.runsOf(u"Count"_s).isEmpty() && second.runsOf(u"Name"_s).isEmpty()) << "one page, nothing to match";
    EXPECT_TRUE(second.runsOf(u"Label3"_s).value(0).text.startsWith(u"1 ページ"_s));
    ASSERT_EQ(remarks.size(), 1);
    EXPECT_EQ(remarks[0].text, u"一時診断 統合失調症"_s);
}

TEST(ReportEngine, AnUnknownLabelIsAnError)
{
    Layout layout = form();
    layout.setLabel(u"PageHeader"_s, u"Label1"_s, u"A病院　精神科　処置伝票"_s);
    EXPECT_EQ(layout.find(u"PageHeader"_s, u"Label1"_s)->text, u"A病院　精神科　処置伝票"_s);
    EXPECT_EQ(testing_support::errorOf([&] { layout.setLabel(u"PageHeader"_s, u"Label9"_s, u"x"_s); }),
              jet::err::ItemNotFound);
    EXPECT_EQ(testing_support::errorOf([&] { layout.setLabel(u"Detail"_s, u"Field1"_s, u"x"_s); }),
              jet::err::ItemNotFound) << "a field is no label";
}

// A text wider than a box that does not grow never runs over its neighbours
// nor is set below the legible size: a little too wide, it is set smaller;
// far too wide, it takes the lines its box has room for; what still does not
// fit is cut with an ellipsis inside the box.
TEST(ReportEngine, AFixedTextWiderThanItsBoxIsFittedIntoIt)
{
    const QString heading = u"指定医が３０分未満または非指定医 （入院精神療法Ⅱ）"_s;
    Layout layout;
    layout.pageHeader.height = 2000;
    layout.pageHeader.items = {Layout::label(u"Slightly"_s, QRect(0, 0, 1700, 300), u"保険　国民健康保険"_s),
                               Layout::label(u"Wrapped"_s, QRect(0, 400, 3000, 700), heading),
                               Layout::label(u"Shrunk"_s, QRect(0, 1200, 3000, 300), heading),
                               Layout::label(u"Name"_s, QRect(0, 1500, 3200, 500), u"ア"_s.repeated(29))};
    const report::Page page = report::layOut(layout, ListRows({}), kNow).first();
    for (const report::TextRun &run : page.texts) {
        const QFontMetricsF metrics(run.font, &report::measuringDevice());
        EXPECT_LE(metrics.horizontalAdvance(run.text), run.rect.width()) << run.item.toStdString();
        EXPECT_GE(run.font.pointSizeF(), report::kLegiblePoints) << run.item.toStdString();
        EXPECT_LE(run.rect.bottom(), 1440 + 2000) << run.item.toStdString();
    }
    const QList<report::TextRun> slightly = page.runsOf(u"Slightly"_s);
    ASSERT_EQ(slightly.size(), 1);
    EXPECT_LT(slightly[0].font.pointSizeF(), 10.5);
    EXPECT_GE(slightly[0].font.pointSizeF(), 10.5 * 0.8);
    const QList<report::TextRun> wrapped = page.runsOf(u"Wrapped"_s);
    ASSERT_EQ(wrapped.size(), 2);
    EXPECT_EQ(wrapped[0].text + wrapped[1].text, heading);
    EXPECT_EQ(wrapped[0].font.pointSizeF(), 10.5);
    EXPECT_LE(wrapped[1].rect.bottom(), 1440 + 400 + 700);
    const QList<report::TextRun> shrunk = page.runsOf(u"Shrunk"_s);
    ASSERT_EQ(shrunk.size(), 1);
    EXPECT_TRUE(shrunk[0].text.endsWith(u"…"_s));
    EXPECT_TRUE(heading.startsWith(shrunk[0].text.chopped(1)));
    const QList<report::TextRun> name = page.runsOf(u"Name"_s);
    ASSERT_EQ(name.size(), 2) << "a long name takes a second line rather than tiny type";
    EXPECT_EQ(name[0].text + name[1].text, u"ア"_s.repeated(29));
}

// Read back by poppler, a reader that is not ours, character for character:
// the fonts draw 入 and its radical ⼊ from one glyph, and the text must name
// the one written.
TEST(ReportEngine, APdfCarriesTheTextsInEmbeddedJapaneseFonts)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(u"form.pdf"_s);
    const ListRows rows({{{u"カルテID"_s, 1004}, {u"自殺企図"_s, -1}, {u"病歴"_s, u"入院の日から幻聴が続く。"_s}}});
    ASSERT_TRUE(report::writePdf(report::layOut(form(), rows, kNow), path, u"退院時サマリー"_s));

    QProcess text;
    text.start(u"pdftotext"_s, {u"-enc"_s, u"UTF-8"_s, path, u"-"_s});
    ASSERT_TRUE(text.waitForFinished(30000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    for (const QString &expected : {u"退院時サマリー"_s, u"(1004)"_s, u"あり"_s, u"入院の日から幻聴が続く。"_s})
        EXPECT_TRUE(printed.contains(expected)) << expected.toStdString();

    QProcess fonts;
    fonts.start(u"pdffonts"_s, {path});
    ASSERT_TRUE(fonts.waitForFinished(30000));
    const QStringList lines = QString::fromUtf8(fonts.readAllStandardOutput()).split(u'\n');
    bool mincho = false;
    for (const QString &line : lines) {
        if (line.contains(u"IPAexMincho"_s)) {
            mincho = true;
            EXPECT_TRUE(line.contains(u" yes "_s)) << "embedded: " << line.toStdString();
        }
    }
    EXPECT_TRUE(mincho);
}

// A mark stands over the characters it names of its label, measured here
// from the font alone: wherever growth moves the label, at any size and
// alignment, and never over the same character inside a longer word.
TEST(ReportEngine, AMarkFollowsTheCharactersOfItsLabel)
{
    for (const double points : {9.0, 14.0}) {
        Layout layout;
        Item above = Layout::field(u"Field1"_s, QRect(0, 0, 9000, 300), u"経過"_s);
        above.grows = true;
        Item question = Layout::label(u"Label1"_s, QRect(1000, 400, 7000, 500), u"訪問看護指示の有無（　有　・　無　）"_s);
        question.points = points;
        question.alignment = Qt::AlignRight | Qt::AlignVCenter;
        layout.detail.items = {above, question,
                               Layout::mark(u"Mark1"_s, question, u"指示"_s, u"○"_s, u"有"_s, u"　 ○"_s, u"無"_s)};
        const ListRows rows({{{u"経過"_s, QString(u"長い経過。"_s).repeated(60)}, {u"指示"_s, -1}},
                             {{u"経過"_s, u"短い"_s}, {u"指示"_s, 0}}, {{u"経過"_s, u"短い"_s}}});
        const QList<report::Page> pages = report::layOut(layout, rows, kNow);
        ASSERT_EQ(pages.size(), 1);
        const QList<report::TextRun> labels = pages[0].runsOf(u"Label1"_s);
        const QList<report::TextRun> marks = pages[0].runsOf(u"Mark1"_s);
        ASSERT_EQ(labels.size(), 3);
        ASSERT_EQ(marks.size(), 2) << "an empty value marks nothing";
        for (int row = 0; row < 2; ++row) {
            const report::TextRun &label = labels.at(row);
            QFont font = label.font;
            font.setPixelSize(qRound(points * 20));
            const QFontMetricsF metrics(font);
            const QString word = row == 0 ? u"有"_s : u"無"_s;
            const qsizetype at = label.text.lastIndexOf(word);
            const qreal left = label.rect.right() + 1 - metrics.horizontalAdvance(label.text)
                               + metrics.horizontalAdvance(label.text.left(at));
            const QPointF centre = QRectF(marks.at(row).rect).center();
            EXPECT_GT(centre.x(), left) << points;
            EXPECT_LT(centre.x(), left + metrics.horizontalAdvance(word)) << points;
            EXPECT_GT(centre.y(), label.rect.top());
            EXPECT_LT(centre.y(), label.rect.bottom());
            EXPECT_EQ(marks.at(row).text, u"○"_s) << "the blanks that pushed the circle along are not printed";
        }
        EXPECT_GT(labels.at(0).rect.top(), 400 + 1440 + 300) << "the first band's label was pushed down by growth";
    }
}

// A label broken into lines to fit its box keeps its mark over the word, on
// the line the word went to.
TEST(ReportEngine, AMarkFindsItsWordOnTheLineOfAWrappedLabel)
{
    Layout layout;
    Item question = Layout::label(u"Label1"_s, QRect(0, 0, 2600, 1000), u"訪問看護指示の有無（　有　・　無　）"_s);
    question.alignment = Qt::AlignLeft | Qt::AlignTop;
    layout.detail.items = {question, Layout::mark(u"Mark1"_s, question, u"指示"_s, u"○"_s, u"有"_s, u"○"_s, u"無"_s)};
    const report::Page page = report::layOut(layout, ListRows({{{u"指示"_s, 0}}}), kNow).first();
    const QList<report::TextRun> lines = page.runsOf(u"Label1"_s);
    ASSERT_EQ(lines.size(), 2) << "the label was broken, not shrunk";
    const report::TextRun &line = lines.at(1).text.contains(u'無') ? lines.at(1) : lines.at(0);
    QFont font = line.font;
    font.setPixelSize(qRound(line.font.pointSizeF() * 20));
    const QFontMetricsF metrics(font);
    const qreal left = line.rect.left() + metrics.horizontalAdvance(line.text.left(line.text.indexOf(u'無')));
    const QList<report::TextRun> marks = page.runsOf(u"Mark1"_s);
    ASSERT_EQ(marks.size(), 1);
    const QPointF centre = QRectF(marks.first().rect).center();
    EXPECT_GT(centre.x(), left);
    EXPECT_LT(centre.x(), left + metrics.horizontalAdvance(u"無"_s));
    EXPECT_GT(centre.y(), line.rect.top());
    EXPECT_LT(centre.y(), line.rect.bottom());
}

} // namespace
