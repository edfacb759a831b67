#include "report/rptAudit.h"

using namespace Qt::StringLiterals;
using report::Item;

namespace {

// One line of the detail's type with air above and below; account,
// workstation and detail grow to the lines their texts need.
constexpr int kLine = 300;
constexpr double kPoints = 8;

// The columns' left edges; the detail runs to the right margin.
constexpr int kNumber = 0;
constexpr int kTime = 1000;
constexpr int kAccount = 2900;
constexpr int kWorkstation = 5100;
constexpr int kAction = 7100;
constexpr int kChart = 8400;
constexpr int kEpisode = 9400;
constexpr int kDetail = 10400;

Item columnHeading(const QString &name, int left, int right, int top, const QString &text)
{
    return report::Layout::heading(name, QRect(left, top, right - left, 320), text, 9);
}

Item cell(const QString &name, int left, int right, const QString &column, bool grows = false)
{
    Item item = report::Layout::field(name, QRect(left + 40, 0, right - left - 80, kLine), column);
    item.points = kPoints;
    item.grows = grows;
    item.alignment = Qt::AlignLeft | Qt::AlignTop;
    return item;
}

} // namespace

rptAudit::rptAudit()
{
    name = u"rptAudit"_s;
    caption = u"監査記録"_s;
    orientation = QPageLayout::Landscape;
    margin = 850;
    width = paper().width() - 2 * margin;
    nameSections(u"Section2"_s, u"Section1"_s, u"Section3"_s);

    Item title = label(u"Label1"_s, QRect(0, 0, 6000, 480), caption);
    title.points = 14;
    title.gothic = true;
    Item printed = label(u"Label3"_s, QRect(width - 4000, 0, 4000, 480), u"%D 印刷"_s);
    printed.alignment = Qt::AlignRight | Qt::AlignVCenter;
    printed.points = 9;
    Item conditions = label(u"Label2"_s, QRect(0, 500, width, 300), {});
    conditions.points = 9;

    const int columns = 880;
    pageHeader.height = columns + 360;
    pageHeader.items = {
        title,
        printed,
        conditions,
        columnHeading(u"Label4"_s, kNumber, kTime, columns, u"番号"_s),
        columnHeading(u"Label5"_s, kTime, kAccount, columns, u"時刻"_s),
        columnHeading(u"Label6"_s, kAccount, kWorkstation, columns, u"アカウント"_s),
        columnHeading(u"Label7"_s, kWorkstation, kAction, columns, u"端末"_s),
        columnHeading(u"Label8"_s, kAction, kChart, columns, u"操作"_s),
        columnHeading(u"Label9"_s, kChart, kEpisode, columns, u"カルテID"_s),
        columnHeading(u"Label10"_s, kEpisode, kDetail, columns, u"入退院ID"_s),
        columnHeading(u"Label11"_s, kDetail, width, columns, u"詳細"_s),
        line(u"Line1"_s, QRect(0, pageHeader.height - 20, width, 0)),
    };

    detail.height = kLine;
    Item number = cell(u"Field1"_s, kNumber, kTime, u"記録番号"_s);
    number.alignment = Qt::AlignRight | Qt::AlignTop;
    detail.items = {
        number,
        cell(u"Field2"_s, kTime, kAccount, u"時刻"_s),
        cell(u"Field3"_s, kAccount, kWorkstation, u"アカウント"_s, true),
        cell(u"Field4"_s, kWorkstation, kAction, u"端末"_s, true),
        cell(u"Field5"_s, kAction, kChart, u"操作"_s, true),
        cell(u"Field6"_s, kChart, kEpisode, u"カルテID"_s),
        cell(u"Field7"_s, kEpisode, kDetail, u"入退院ID"_s),
        cell(u"Field8"_s, kDetail, width, u"詳細"_s, true),
        line(u"Line2"_s, QRect(0, kLine, width, 0)),
    };

    Item page = label(u"Label12"_s, QRect(0, 0, width, 360), u"%p / %N ページ"_s);
    page.alignment = Qt::AlignCenter;
    page.points = 9;
    pageFooter.height = 360;
    pageFooter.items = {page};
}
