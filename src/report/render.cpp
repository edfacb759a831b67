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

QPageLayout pageLayoutOf(const QList<Page> &pages)
{
    const QSize paper = pages.isEmpty() ? QSize() : pages.first().paper;
    return QPageLayout(QPageSize(QPageSize::A4),
                       paper.width() > paper.height() ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF());
}

bool paintPages(const QList<Page> &pages, QPagedPaintDevice &device)
{
    if (pages.isEmpty())
        return false;
    device.setPageLayout(pageLayoutOf(pages));
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    for (int i = 0; i < pages.size(); ++i) {
        if (i > 0)
            device.newPage();
        paint(pages.at(i), painter);
    }
    return painter.end();
}

bool writePdf(const QList<Page> &pages, const QString &path, const QString &title)
{
    PdfStream pdf(path, title);
    for (const Page &page : pages)
        pdf.add(page);
    return pdf.finish();
}

PdfStream::PdfStream(const QString &path, const QString &title)
    : m_writer(std::make_unique<QPdfWriter>(path)), m_painter(std::make_unique<QPainter>())
{
    m_writer->setTitle(title);
    m_writer->setCreator(QStringLiteral("ネモリア"));
    m_writer->setResolution(1440);
}

PdfStream::~PdfStream()
{
    if (m_painter->isActive())
        m_painter->end();
}

bool PdfStream::add(const Page &page)
{
    if (m_failed)
        return false;
    if (m_pages == 0) {
        m_writer->setPageLayout(pageLayoutOf({page}));
        m_failed = !m_painter->begin(m_writer.get());
    } else {
        m_failed = !m_writer->newPage();
    }
    if (m_failed)
        return false;
    ++m_pages;
    paint(page, *m_painter);
    return true;
}

bool PdfStream::finish()
{
    if (!m_painter->isActive())
        return false;
    return m_painter->end() && !m_failed && m_pages > 0;
}

} // namespace report
