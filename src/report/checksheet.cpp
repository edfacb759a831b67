#include "report/checksheet.h"

using namespace Qt::StringLiterals;

namespace report {

namespace {

constexpr int kName = 2600; // the name column's width
constexpr int kAdmitted = 1200;
constexpr int kLine = 560;    // room for a date and a signature in each cell
constexpr int kGroupTop = 700;
constexpr int kGroupHeight = 640;
constexpr int kColumnHeight = 360;

constexpr double kHeadingPoints = 9;

// "１回目" …, in full-width digits as the paper form numbers its sessions.
QString sessionCaption(int session)
{
    return QString(QChar(char16_t(u'０' + session))) + u"回目"_s;
}

} // namespace

CheckSheetForm::CheckSheetForm(const QString &layoutName, const QString &title, const QList<Group> &groups)
{
    name = layoutName;
    caption = title;
    orientation = QPageLayout::Landscape;
    width = paper().width() - 2 * margin;
    nameSections(u"Section2"_s, u"Section1"_s, u"Section3"_s);

    int sessions = 0;
    for (const Group &group : groups)
        sessions += group.sessions;
    const int left = kName + kAdmitted;
    const int column = (width - left) / sessions;
    const int columnTop = kGroupTop + kGroupHeight;
    const int bottom = columnTop + kColumnHeight;

    Item titleLine = label(u"Label1"_s, QRect(0, 0, width / 2, 560), title);
    titleLine.points = 14;
    titleLine.gothic = true;
    Item today = label(u"Label2"_s, QRect(width / 2, 0, width / 2, 560), u"%d 現在"_s);
    today.alignment = Qt::AlignRight | Qt::AlignVCenter;
    pageHeader.items = {titleLine, today};

    // The header's grid: each group's caption over its sessions' columns.
    int number = 3;
    int x = left;
    for (const Group &group : groups) {
        const int span = column * group.sessions;
        pageHeader.items << box(u"Shape%1"_s.arg(number), QRect(x, kGroupTop, span, kGroupHeight))
                         << heading(u"Label%1"_s.arg(number), QRect(x + 60, kGroupTop, span - 120, kGroupHeight),
                                    group.caption, kHeadingPoints);
        ++number;
        for (int session = 1; session <= group.sessions; ++session) {
            const QRect cell(x + (session - 1) * column, columnTop, column, kColumnHeight);
            pageHeader.items << box(u"Shape%1"_s.arg(number), cell)
                             << heading(u"Label%1"_s.arg(number), cell, sessionCaption(session), kHeadingPoints);
            ++number;
        }
        x += span;
    }
    const QRect nameCell(0, kGroupTop, kName, bottom - kGroupTop);
    const QRect admittedCell(kName, kGroupTop, kAdmitted, bottom - kGroupTop);
    pageHeader.items << box(u"Shape%1"_s.arg(number), nameCell)
                     << heading(u"Label%1"_s.arg(number), nameCell, u"氏名"_s, kHeadingPoints);
    ++number;
    pageHeader.items << box(u"Shape%1"_s.arg(number), admittedCell)
                     << heading(u"Label%1"_s.arg(number), admittedCell, u"入院日"_s, kHeadingPoints);
    pageHeader.height = bottom;

    Item patient = field(u"Field1"_s, QRect(120, 0, kName - 240, kLine), u"氏名"_s);
    Item admitted = field(u"Field2"_s, QRect(kName, 0, kAdmitted, kLine), u"入院日"_s, u"yy/MM/dd"_s);
    admitted.alignment = Qt::AlignCenter;
    detail.height = kLine;
    detail.items = {patient, admitted, box(u"Shape1"_s, QRect(0, 0, width, kLine)),
                    line(u"Line1"_s, QRect(kName, 0, 0, kLine)), line(u"Line2"_s, QRect(left, 0, 0, kLine))};
    for (int session = 1; session < sessions; ++session)
        detail.items << line(u"Line%1"_s.arg(session + 2), QRect(left + session * column, 0, 0, kLine));
}

} // namespace report

rptAdmPsy1::rptAdmPsy1()
    : CheckSheetForm(u"rptAdmPsy1"_s, u"入院精神療法（４週間以内）"_s,
                     {{u"指定医が３０分以上 （入院精神療法Ⅰ）"_s, 3},
                      {u"指定医が３０分未満または非指定医 （入院精神療法Ⅱ）"_s, 2}})
{
}

rptAdmPsy2::rptAdmPsy2()
    : CheckSheetForm(u"rptAdmPsy2"_s, u"入院精神療法（５週間から３ヶ月以内）"_s,
                     {{u"指定医が３０分以上 （入院精神療法Ⅰ）"_s, 3},
                      {u"指定医が３０分未満（入院精神療法Ⅱ）"_s, 2},
                      {u"非指定医 （入院精神療法Ⅱ）"_s, 1}})
{
}

rptAdmPsy3::rptAdmPsy3()
    : CheckSheetForm(u"rptAdmPsy3"_s, u"入院精神療法（３ヶ月以上）"_s,
                     {{u"指定医　　　　　　　　　（入院精神療法Ⅱ）"_s, 2},
                      {u"非指定医　　　　　　 （入院精神療法Ⅱ）"_s, 1}})
{
}
