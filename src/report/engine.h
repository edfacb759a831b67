#pragma once

#include "report/layout.h"
#include "report/page.h"

#include <QDateTime>
#include <QList>
#include <QRectF>
#include <QVariant>
#include <functional>

class QFont;
class QPaintDevice;

namespace jet {
class Recordset;
}

namespace report {

// The rows a layout prints, one detail band each.
class Rows
{
public:
    virtual ~Rows() = default;
    virtual int count() const = 0;
    virtual QVariant value(int row, const QString &column) const = 0;
};

// The rows of an open recordset, read where they stand.
class RecordsetRows : public Rows
{
public:
    explicit RecordsetRows(const jet::Recordset &recordset);
    int count() const override;
    QVariant value(int row, const QString &column) const override;

private:
    const jet::Recordset &m_recordset;
};

// Text is measured at one dot a twip, so that metrics come out in twips.
const QPaintDevice &measuringDevice();

// No text is set smaller than this, in points: a text too long for its box
// at this size takes more lines, and what its box has no room for is cut.
constexpr double kLegiblePoints = 7.0;

// The forms' faces: IPAex Mincho for text, IPAex Gothic for headings.
QFont textFont(double points, bool gothic);

// Where characters of a printed text stand on its page, twips: from the
// run's font, as painted in its box.
QRectF glyphBox(const TextRun &run, qsizetype from, qsizetype length);

// Lays the rows out on A4 pages: the page header at the top of each page,
// the page footer at its bottom and the detail bands between them.  A
// growing field takes the lines its value needs and pushes down what stands
// below it in its band, boxes around it growing with it; a band that does
// not fit goes to the next page, and a growing field taller than what is
// left of a page continues on the next one, where a box whose text would
// keep fewer than two lines on the page goes whole with its heading.  `now`
// fills %d, %D and %T.  A mark follows the label it marks.
QList<Page> layOut(const Layout &layout, const Rows &rows, const QDateTime &now);
// The same, handing each page on as soon as it is whole, so that a long
// document is written without holding more than the page being laid out;
// where a page shows its document's count of pages, the document's pages are
// handed on together once it ends.
using PageSink = std::function<void(const Page &)>;
void layOut(const Layout &layout, const Rows &rows, const QDateTime &now, const PageSink &sink);

} // namespace report
