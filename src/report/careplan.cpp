#include "report/careplan.h"

using namespace Qt::StringLiterals;

namespace report {

namespace {

constexpr int kWidth = 9000;
constexpr int kHeading = 2600;

} // namespace

CarePlanForm::CarePlanForm(const QString &layoutName, const QString &title)
{
    name = layoutName;
    nameSections(u"Section2"_s, u"Section1"_s, u"Section3"_s);
    documentPerRow = true;
    pageHeader.height = 1000;
    pageHeader.items = {heading(u"Label1"_s, QRect(2000, 0, kWidth - 4000, 700), title, 18)};
    addSheetMarks(pageHeader, QRect(0, 0, 2000, 700), QRect(kWidth - 2000, 0, 2000, 700),
                  Qt::AlignRight | Qt::AlignVCenter);
}

QString CarePlanForm::next(const char *prefix)
{
    return u"%1%2"_s.arg(QLatin1String(prefix)).arg(++m_items + 100);
}

void CarePlanForm::addPatientRows()
{
    // Label4 is today's date and Label6 the department, both written at run time.
    Item today = label(u"Label4"_s, QRect(5400, m_y, 3600, 500), QString());
    today.alignment = Qt::AlignRight | Qt::AlignVCenter;
    detail.items << today;
    m_y += 600;
    Item patient = field(u"Field1"_s, QRect(kHeading + 150, m_y, 4400, 600), u"氏名"_s);
    patient.points = 14;
    Item honorific = label(next("Label"), QRect(kHeading + 4600, m_y, 600, 600), u"様"_s);
    Item heading = label(next("Label"), QRect(0, m_y, kHeading, 600), u"患者氏名"_s);
    heading.alignment = Qt::AlignCenter;
    detail.items << box(next("Shape"), QRect(0, m_y, kWidth, 600)) << line(next("Line"), QRect(kHeading, m_y, 0, 600))
                 << heading << patient << honorific;
    m_y += 600;

    Item ward = label(next("Label"), QRect(0, m_y, kHeading, 600), u"病　　　 棟 (病室)"_s);
    ward.alignment = Qt::AlignCenter;
    Item department = label(u"Label6"_s, QRect(kHeading + 150, m_y, 3000, 600), QString());
    Item room = label(next("Label"), QRect(kHeading + 3300, m_y, 900, 600), u"病室"_s);
    // The room's number keeps the cells' inner margin from the frame's right edge.
    const QRect roomNumber(kHeading + 4300, m_y, kWidth - kHeading - 4300 - 150, 600);
    detail.items << box(next("Shape"), QRect(0, m_y, kWidth, 600)) << line(next("Line"), QRect(kHeading, m_y, 0, 600))
                 << ward << department << room
                 << field(u"Field2"_s, roomNumber, u"サブ病室番号"_s);
    m_y += 600;
}

void CarePlanForm::addRow(const QString &heading, const QString &second, int height, const QString &column,
                          const QString &fixed, const QString &format)
{
    detail.items << box(next("Shape"), QRect(0, m_y, kWidth, height))
                 << line(next("Line"), QRect(kHeading, m_y, 0, height));
    Item caption = label(next("Label"), QRect(150, m_y + 100, kHeading - 300, (second.isEmpty() ? height : height / 2) - 100),
                         heading);
    caption.grows = true; // a long heading takes lines of its cell
    caption.points = 9;
    detail.items << caption;
    if (!second.isEmpty()) {
        Item more = label(next("Label"), QRect(150, m_y + height / 2, kHeading - 300, height / 2 - 100), second);
        more.grows = true;
        more.points = 8;
        detail.items << more;
    }
    const QRect content(kHeading + 150, m_y + 100, kWidth - kHeading - 300, height - 200);
    if (!column.isEmpty()) {
        Item value = field(u"Field_"_s + column, content, column, format);
        value.grows = format.isEmpty();
        value.alignment = Qt::AlignLeft | Qt::AlignTop;
        detail.items << value;
    } else if (!fixed.isEmpty()) {
        detail.items << label(next("Label"), content, fixed);
    }
    m_y += height;
}

void CarePlanForm::addNote(const QString &text)
{
    Item note = label(next("Label"), QRect(0, m_y + 60, kWidth, 400), text);
    note.points = 9;
    detail.items << note;
    m_y += 460;
}

void CarePlanForm::addSignatures(bool institution, bool nurse)
{
    m_y += 300;
    if (institution) {
        // Three lines of the legible type: the longest name the options window allows.
        detail.items << label(u"Label20"_s, QRect(4000, m_y, 5000, 540), QString());
        m_y += 540;
    }
    detail.items << label(next("Label"), QRect(4000, m_y, 1600, 500), u"主治医氏名"_s)
                 << line(next("Line"), QRect(5600, m_y + 480, 3000, 0))
                 << label(next("Label"), QRect(8600, m_y, 400, 500), u"印"_s);
    m_y += 600;
    if (nurse) {
        detail.items << label(next("Label"), QRect(4000, m_y, 1600, 500), u"看護師氏名"_s)
                     << line(next("Line"), QRect(5600, m_y + 480, 3400, 0));
        m_y += 600;
    }
    detail.height = m_y;
}

} // namespace report
