#pragma once

#include "report/page.h"

#include <QList>
#include <QString>
#include <memory>

class QPageLayout;
class QPagedPaintDevice;
class QPainter;
class QPdfWriter;

namespace report {

// Paints a page with the painter's device taken as the paper: twips scaled
// to the device's resolution.
void paint(const Page &page, QPainter &painter);

// A4 in the first page's orientation, without margins: the pages are the paper.
QPageLayout pageLayoutOf(const QList<Page> &pages);

// Paints the pages one to a sheet of A4 in the first page's orientation,
// the paper's whole area; false when the device cannot be painted on.
bool paintPages(const QList<Page> &pages, QPagedPaintDevice &device);

// Writes the pages as a PDF with its fonts embedded; false when the file
// cannot be written.
bool writePdf(const QList<Page> &pages, const QString &path, const QString &title);

// A PDF written a page at a time as the engine hands the pages on.
class PdfStream
{
public:
    PdfStream(const QString &path, const QString &title);
    ~PdfStream();
    PdfStream(const PdfStream &) = delete;
    PdfStream &operator=(const PdfStream &) = delete;

    // False once the file cannot be written.
    bool add(const Page &page);
    // Ends the file; false when it was not written whole or had no page.
    bool finish();

private:
    std::unique_ptr<QPdfWriter> m_writer;
    std::unique_ptr<QPainter> m_painter;
    int m_pages = 0;
    bool m_failed = false;
};

} // namespace report
