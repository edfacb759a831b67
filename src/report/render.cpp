#include "report/render.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

namespace report {

void paint(const Page &page, QPainter &painter)
{
    painter.save();
    const double scale = painter.device()->logicalDpiX() / 1440.0;
    painter.scale(scale, painter.device()->logicalDpiY() / 1440.0);
    for (const Frame &frame : page.frames) {
        painter.setPen(QPen(Qt::black, frame.width));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(frame.rect);
    }
    for (const Rule &rule : page.rules) {
        painter.setPen(QPen(Qt::black, rule.width));
        painter.drawLine(rule.line);
    }
    for (const Oval &oval : page.ovals) {
        painter.setPen(QPen(Qt::black, oval.width));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(oval.rect);
    }
    painter.setPen(Qt::black);
    for (const TextRun &run : page.texts) {
        // Fonts are sized in points; at twips a point is twenty units.
        QFont font = run.font;
        font.setPixelSize(qRound(run.font.pointSizeF() * 20));
        painter.setFont(font);
        painter.drawText(run.rect, int(run.alignment) | Qt::TextDontClip, run.text);
    }
    painter.restore();
}

QPageLayout pageLayoutOf(const Page &page)
{
    return QPageLayout(QPageSize(QPageSize::A4),
                       page.paper.width() > page.paper.height() ? QPageLayout::Landscape : QPageLayout::Portrait,
                       QMarginsF());
}

PageStream::PageStream(QPagedPaintDevice &device)
    : m_device(device), m_painter(std::make_unique<QPainter>())
{
}

PageStream::~PageStream()
{
    if (m_painter->isActive())
        m_painter->end();
}

bool PageStream::add(const Page &page)
{
    if (m_failed)
        return false;
    if (m_pages == 0) {
        m_device.setPageLayout(pageLayoutOf(page));
        m_failed = !m_painter->begin(&m_device);
    } else {
        m_failed = !m_device.newPage();
    }
    if (m_failed)
        return false;
    ++m_pages;
    paint(page, *m_painter);
    return true;
}

bool PageStream::finish()
{
    if (!m_painter->isActive())
        return false;
    return m_painter->end() && !m_failed && m_pages > 0;
}

bool paintPages(const QList<Page> &pages, QPagedPaintDevice &device)
{
    PageStream stream(device);
    for (const Page &page : pages)
        stream.add(page);
    return stream.finish();
}

PdfStream::PdfStream(const QString &path, const QString &title)
    : m_writer(std::make_unique<QPdfWriter>(path))
{
    m_writer->setTitle(title);
    m_writer->setCreator(QStringLiteral("ネモリア"));
    m_writer->setResolution(1440);
    m_pages = std::make_unique<PageStream>(*m_writer);
}

PdfStream::~PdfStream() = default;

bool PdfStream::add(const Page &page)
{
    return m_pages->add(page);
}

bool PdfStream::finish()
{
    return m_pages->finish();
}

bool writePdf(const QList<Page> &pages, const QString &path, const QString &title)
{
    PdfStream pdf(path, title);
    for (const Page &page : pages)
        pdf.add(page);
    return pdf.finish();
}

} // namespace report
