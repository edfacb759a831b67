#include "report/rptTreatment.h"

using namespace Qt::StringLiterals;
using report::Item;

namespace {

constexpr int kWidth = 9000;
// A line holds two lines of a name in its own type (10.5 pt Mincho is 251
// twips a line) with air above and below: a name of up to twenty characters
// prints whole at full size, a longer one in two smaller lines.
constexpr int kLine = 540;
// The title holds the longest institution and department the options window
// allows in three lines of the legible type; the date keeps the rest.
constexpr int kTitle = 7500;

// The columns' left edges, the last one running to the right margin.
constexpr int kRoom = 0;
constexpr int kName = 900;
constexpr int kChart = 3300;
constexpr int kFirst = 4400;
constexpr int kSecond = 4900;
constexpr int kContent = 5400;

Item centred(Item item)
{
    item.alignment = Qt::AlignCenter;
    return item;
}

// A column's heading, between the column's edges.
Item columnHeading(const QString &name, int left, int right, int top, const QString &text)
{
    return report::Layout::heading(name, QRect(left, top, right - left, 360), text);
}

} // namespace

rptTreatment::rptTreatment()
{
    name = u"rptTreatment"_s;
    nameSections(u"Section2"_s, u"Section1"_s, u"Section3"_s);

    // Label1 is the title line, written at run time.
    Item title = label(u"Label1"_s, QRect(0, 0, kTitle, 560), QString());
    title.points = 14;
    title.gothic = true;
    Item today = label(u"Label2"_s, QRect(kTitle, 0, kWidth - kTitle, 560), u"%d"_s);
    today.alignment = Qt::AlignRight | Qt::AlignVCenter;

    const int group = 700;   // "入院精神療法" over the two therapy columns
    const int columns = 1060; // the column headings
    pageHeader.height = columns + 360;
    pageHeader.items = {
        title,
        today,
        heading(u"Label3"_s, QRect(kFirst - 200, group - 20, kContent - kFirst + 400, 360), u"入院精神療法"_s, 9),
        columnHeading(u"Label4"_s, kRoom, kName, columns, u"部屋"_s),
        columnHeading(u"Label5"_s, kName, kChart, columns, u"名前"_s),
        columnHeading(u"Label6"_s, kChart, kFirst, columns, u"ID"_s),
        columnHeading(u"Label7"_s, kFirst, kSecond, columns, u"Ⅰ"_s),
        columnHeading(u"Label8"_s, kSecond, kContent, columns, u"Ⅱ"_s),
        columnHeading(u"Label9"_s, kContent, kWidth, columns, u"処置の内容"_s),
        line(u"Line1"_s, QRect(0, pageHeader.height - 20, kWidth, 0)),
    };

    Item chart = field(u"Field3"_s, QRect(kChart + 60, 0, kFirst - kChart - 120, kLine), u"カルテID"_s, u"(#)"_s);
    chart.alignment = Qt::AlignRight | Qt::AlignVCenter;
    detail.height = kLine;
    detail.items = {
        centred(field(u"Field1"_s, QRect(kRoom, 0, kName - kRoom, kLine), u"病室番号"_s)),
        field(u"Field2"_s, QRect(kName + 60, 0, kChart - kName - 120, kLine), u"氏名"_s),
        chart,
        centred(label(u"Label10"_s, QRect(kFirst, 0, kSecond - kFirst, kLine), u"□"_s)),
        centred(label(u"Label11"_s, QRect(kSecond, 0, kContent - kSecond, kLine), u"□"_s)),
        line(u"Line2"_s, QRect(0, kLine, kWidth, 0)),
    };

    Item page = centred(label(u"Label12"_s, QRect(0, 0, kWidth, 400), u"%p ページ"_s));
    page.points = 9;
    pageFooter.height = 400;
    pageFooter.items = {page};
}
