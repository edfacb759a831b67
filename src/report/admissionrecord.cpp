#include "report/admissionrecord.h"

using namespace Qt::StringLiterals;

namespace report {

namespace {

constexpr int kWidth = 9000;
// Two lines of a name in its own type, as on the treatment voucher.
constexpr int kLine = 540;

struct Column
{
    QString heading;
    QString field;
    QString format;
    int left;
    int right;
};

const QList<Column> &columns()
{
    static const QList<Column> list{
        {u"病室"_s, u"病室番号"_s, {}, 0, 900},
        {u"氏名"_s, u"氏名"_s, {}, 900, 3300},
        {u"カルテID"_s, u"カルテID"_s, {}, 3300, 4400},
        {u"入院形態"_s, u"入院形態"_s, {}, 4400, 5600},
        {u"入院日"_s, u"入院日"_s, u"yy/MM/dd"_s, 5600, 6700},
        {u"退院日"_s, u"退院日"_s, u"yy/MM/dd"_s, 6700, 7800},
        {u"主治医"_s, u"主治医"_s, {}, 7800, kWidth},
    };
    return list;
}

} // namespace

AdmissionRecordForm::AdmissionRecordForm(const QString &layoutName, const QString &title)
{
    name = layoutName;
    caption = title;
    nameSections(u"Section2"_s, u"Section1"_s, u"Section3"_s);

    Item period = label(u"Label2"_s, QRect(0, 640, kWidth, 400), QString());
    period.alignment = Qt::AlignCenter;
    Item today = label(u"Label3"_s, QRect(0, 1080, kWidth, 360), u"%d 現在"_s);
    today.alignment = Qt::AlignRight | Qt::AlignVCenter;
    today.points = 9;
    pageHeader.items = {heading(u"Label1"_s, QRect(0, 0, kWidth, 600), title, 16), period, today};

    const int top = 1480;
    int number = 4;
    int fieldNumber = 1;
    for (const Column &column : columns()) {
        const QRect cell(column.left, top, column.right - column.left, 400);
        pageHeader.items << heading(u"Label%1"_s.arg(number++), cell, column.heading);

        Item value = field(u"Field%1"_s.arg(fieldNumber++),
                           QRect(column.left + 60, 0, column.right - column.left - 120, kLine), column.field,
                           column.format);
        if (column.field == u"カルテID"_s)
            value.alignment = Qt::AlignRight | Qt::AlignVCenter;
        else if (column.field != u"氏名"_s && column.field != u"主治医"_s)
            value.alignment = Qt::AlignCenter;
        detail.items << value;
    }
    pageHeader.items << line(u"Line1"_s, QRect(0, top, kWidth, 0)) << line(u"Line2"_s, QRect(0, top + 400, kWidth, 0));
    pageHeader.height = top + 400;
    detail.items << line(u"Line3"_s, QRect(0, kLine, kWidth, 0));
    detail.height = kLine;

    Item page = label(u"Label%1"_s.arg(number), QRect(0, 0, kWidth, 400), u"%p ページ"_s);
    page.alignment = Qt::AlignCenter;
    page.points = 9;
    pageFooter.height = 400;
    pageFooter.items = {page};
}

} // namespace report

rptAdmRecord1::rptAdmRecord1()
    : AdmissionRecordForm(u"rptAdmRecord1"_s, u"入退院記録（最近１週間分）"_s)
{
}

rptAdmRecord2::rptAdmRecord2()
    : AdmissionRecordForm(u"rptAdmRecord2"_s, u"入退院記録（最近２週間分）"_s)
{
}
