#include "report/rptAdmSum.h"

using namespace Qt::StringLiterals;
using report::Item;

namespace {

constexpr int kWidth = 9000;
constexpr int kHeading = 1400; // the headings' column at the left of each row

Item growing(const QString &name, int top, const QString &column)
{
    Item item = report::Layout::field(name, QRect(120, top + 80, kWidth - 240, 600), column);
    item.grows = true;
    return item;
}

} // namespace

rptAdmSum::rptAdmSum()
{
    name = u"rptAdmSum"_s;
    nameSections(u"Section2"_s, u"Section1"_s, u"Section3"_s);

    Item title = label(u"Label1"_s, QRect(4500, 0, 4500, 560), u"入院時サマリー"_s);
    title.points = 16;
    title.gothic = true;
    title.alignment = Qt::AlignRight | Qt::AlignVCenter;
    pageHeader.height = 840;
    pageHeader.items = {label(u"Label11"_s, QRect(0, 0, 4500, 560), QString()), title,
                        line(u"Line1"_s, QRect(0, 660, kWidth, 0))};

    Item chart = field(u"Field1"_s, QRect(5000, 0, 4000, 400), u"患者情報.カルテID"_s, u"ＩＤ #"_s);
    chart.alignment = Qt::AlignRight | Qt::AlignVCenter;
    Item kana = field(u"Field2"_s, QRect(kHeading + 120, 480, 4200, 300), u"かな氏名"_s);
    kana.points = 8;
    Item patient = field(u"Field3"_s, QRect(kHeading + 120, 780, 4200, 460), u"氏名"_s);
    patient.points = 14;

    // The form-of-admission heading sits in its own cell, right of the date.
    const Item formHeading = heading(u"Label4"_s, QRect(4600, 1280, 1200, 480), u"形   態"_s);

    QList<Item> items{
        chart,
        box(u"Shape1"_s, QRect(0, 440, kWidth, 840)),
        heading(u"Label2"_s, QRect(0, 440, kHeading, 840), u"氏    名"_s),
        line(u"Line2"_s, QRect(kHeading, 440, 0, 840)),
        kana,
        patient,
        field(u"Field4"_s, QRect(5800, 680, 3100, 400), u"生年月日"_s, u"ggge年m月d日 生まれ"_s),
        box(u"Shape2"_s, QRect(0, 1280, kWidth, 480)),
        heading(u"Label3"_s, QRect(0, 1280, kHeading, 480), u"入院日"_s),
        line(u"Line3"_s, QRect(kHeading, 1280, 0, 480)),
        field(u"Field5"_s, QRect(kHeading + 120, 1280, 3000, 480), u"入院日"_s, u"ggge年m月d日"_s),
        line(u"Line4"_s, QRect(4600, 1280, 0, 480)),
        formHeading,
        field(u"Field6"_s, QRect(5900, 1280, 3000, 480), u"サブ入院形態"_s),
        line(u"Line5"_s, QRect(5800, 1280, 0, 480)),
        box(u"Shape3"_s, QRect(0, 1760, kWidth, 480)),
        heading(u"Label5"_s, QRect(0, 1760, kHeading, 480), u"主治医"_s),
        line(u"Line6"_s, QRect(kHeading, 1760, 0, 480)),
        field(u"Field7"_s, QRect(kHeading + 120, 1760, 4000, 480), u"サブ主治医①"_s),
    };

    // Four free-text rows, each a heading line over a box that grows with its text.
    const QList<std::pair<QString, QString>> texts{{u"主   訴"_s, u"主訴・症状"_s},
                                                   {u"初診名"_s, u"一時診断名"_s},
                                                   {u"現病歴"_s, u"現病歴"_s},
                                                   {u"方  針"_s, u"入院計画"_s}};
    int top = 2400;
    int number = 6;
    for (const auto &[caption, column] : texts) {
        // Inset like the text below it, clear of the box's border.
        Item headingRow = label(u"Label%1"_s.arg(number), QRect(120, top, kWidth - 240, 400), caption);
        headingRow.gothic = true;
        items << box(u"Shape%1"_s.arg(number), QRect(0, top, kWidth, 400)) << headingRow
              << box(u"Shape%1b"_s.arg(number), QRect(0, top + 400, kWidth, 760))
              << growing(u"Field%1"_s.arg(number + 2), top + 400, column);
        top += 1300;
        ++number;
    }
    detail.height = top;
    detail.items = items;

    documentPerRow = true;
    Item stamp = label(u"Label10"_s, QRect(5400, 0, kWidth - 5400, 400), u"%D %T"_s);
    stamp.alignment = Qt::AlignRight | Qt::AlignVCenter;
    stamp.points = 8;
    pageFooter.height = 400;
    pageFooter.items = {stamp};
    addSheetMarks(pageFooter, QRect(0, 0, 3600, 400), QRect(3600, 0, 1800, 400), Qt::AlignCenter);
}
