#include "report/rptRenewals.h"

using namespace Qt::StringLiterals;
using report::Item;

namespace {

constexpr int kWidth = 9000;
// Two lines of a name of the legible type with air above and below.
constexpr int kLine = 480;

// The columns' left edges, the last one running to the right margin; a kind
// is as wide as "自立支援医療" in the detail's type.
constexpr int kEnd = 0;
constexpr int kKind = 1300;
constexpr int kChart = 2700;
constexpr int kName = 3700;
constexpr int kWritten = 6200;
constexpr int kPhysician = 7400;

Item columnHeading(const QString &name, int left, int right, int top, const QString &text)
{
    return report::Layout::heading(name, QRect(left, top, right - left, 360), text);
}

Item cell(const QString &name, int left, int right, const QString &column, const QString &format = {})
{
    Item item = report::Layout::field(name, QRect(left + 60, 0, right - left - 120, kLine), column, format);
    item.alignment = Qt::AlignLeft | Qt::AlignVCenter;
    return item;
}

} // namespace

rptRenewals::rptRenewals()
{
    name = u"rptRenewals"_s;
    caption = u"更新時期の近い診断書"_s;
    nameSections(u"Section2"_s, u"Section1"_s, u"Section3"_s);

    // Label1 is the title with the months it looks ahead, written at run time.
    Item title = label(u"Label1"_s, QRect(0, 0, 7000, 560), caption);
    title.points = 14;
    title.gothic = true;
    Item today = label(u"Label2"_s, QRect(7000, 0, kWidth - 7000, 560), u"%d"_s);
    today.alignment = Qt::AlignRight | Qt::AlignVCenter;

    const int columns = 760;
    pageHeader.height = columns + 380;
    pageHeader.items = {
        title,
        today,
        columnHeading(u"Label3"_s, kEnd, kKind, columns, u"有効期限"_s),
        columnHeading(u"Label4"_s, kKind, kChart, columns, u"種別"_s),
        columnHeading(u"Label5"_s, kChart, kName, columns, u"ID"_s),
        columnHeading(u"Label6"_s, kName, kWritten, columns, u"氏名"_s),
        columnHeading(u"Label7"_s, kWritten, kPhysician, columns, u"記載日"_s),
        columnHeading(u"Label8"_s, kPhysician, kWidth, columns, u"医師"_s),
        line(u"Line1"_s, QRect(0, pageHeader.height - 20, kWidth, 0)),
    };

    detail.height = kLine;
    detail.items = {
        cell(u"Field1"_s, kEnd, kKind, u"有効期限"_s),
        cell(u"Field2"_s, kKind, kChart, u"種別"_s),
        cell(u"Field3"_s, kChart, kName, u"カルテID"_s),
        cell(u"Field4"_s, kName, kWritten, u"氏名"_s),
        cell(u"Field5"_s, kWritten, kPhysician, u"記載日"_s),
        cell(u"Field6"_s, kPhysician, kWidth, u"医師"_s),
        line(u"Line2"_s, QRect(0, kLine, kWidth, 0)),
    };

    Item page = label(u"Label9"_s, QRect(0, 0, kWidth, 400), u"%p ページ"_s);
    page.alignment = Qt::AlignCenter;
    page.points = 9;
    pageFooter.height = 400;
    pageFooter.items = {page};
}
