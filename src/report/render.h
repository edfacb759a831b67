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

// A4 in the page's orientation, without margins: the page is the paper.
QPageLayout pageLayoutOf(const Page &page);

// Paints pages one to a sheet of A4 in the first page's orientation, the
// paper's whole area, as they come: on a printer or a PDF.
class PageStream
{
public:
    explicit PageStream(QPagedPaintDevice &device);
    ~PageStream();
    PageStream(const PageStream &) = delete;
    PageStream &operator=(const PageStream &) = delete;

    // False once the device cannot be painted on.
    bool add(const Page &page);
    // Ends the output; false when it was not painted whole or had no page.
    bool finish();

private:
    QPagedPaintDevice &m_device;
    std::unique_ptr<QPainter> m_painter;
    int m_pages = 0;
    bool m_failed = false;
};

// All the pages at once; false when the device cannot be painted on.
bool paintPages(const QList<Page> &pages, QPagedPaintDevice &device);

// A PDF with its fonts embedded, written a page at a time as the engine hands
// the pages on.
class PdfStream
{
public:
    PdfStream(const QString &path, const QString &title);
    ~PdfStream();

    bool add(const Page &page);
    // False when the file was not written whole or had no page.
    bool finish();

private:
    std::unique_ptr<QPdfWriter> m_writer;
    std::unique_ptr<PageStream> m_pages; // ends before the writer it paints on
};

// Writes the pages as a PDF; false when the file cannot be written.
bool writePdf(const QList<Page> &pages, const QString &path, const QString &title);

} // namespace report
