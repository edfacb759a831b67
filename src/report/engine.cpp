#include "report/engine.h"

#include "db/engine/error.h"

#include "db/engine/recordset.h"
#include "toolkit/format.h"
#include "toolkit/textface.h"

#include <QFontMetricsF>
#include <QImage>
#include <QRegularExpression>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace report {

namespace {

constexpr int kTwipsPerInch = 1440;

} // namespace

const QPaintDevice &measuringDevice()
{
    static const QImage device = [] {
        QImage image(1, 1, QImage::Format_Mono);
        const int dotsPerMetre = qRound(kTwipsPerInch / 0.0254);
        image.setDotsPerMeterX(dotsPerMetre);
        image.setDotsPerMeterY(dotsPerMetre);
        return image;
    }();
    return device;
}

namespace {

// A mark stands a little larger than the characters it marks, to enclose them.
constexpr double kMarkScale = 1.25;

// The font as painted on the page: sized in twips, a point being twenty.
QFont pixelFont(QFont font)
{
    font.setPixelSize(qRound(font.pointSizeF() * 20));
    return font;
}

// `pages` is the document's count of pages, where it is known.
QString withPlaceholders(QString text, const QDateTime &now, int page, int pages = 0)
{
    text.replace(QLatin1String("%d"), toolkit::formatDate(now, QString()));
    text.replace(QLatin1String("%D"), toolkit::formatDate(now, QStringLiteral("yyyy年m月d日")));
    text.replace(QLatin1String("%T"), now.time().toString(QStringLiteral("H:mm:ss")));
    text.replace(QLatin1String("%p"), QString::number(page));
    if (pages > 0)
        text.replace(QLatin1String("%N"), QString::number(pages));
    return text;
}

// A line break as a user may type or store it.
const QRegularExpression &lineBreak()
{
    static const QRegularExpression breaks(QStringLiteral("\\r\\n|[\\r\\n\\v\\f\\x{2028}\\x{2029}]"));
    return breaks;
}

// A text that does not grow keeps to its box: a line break in it would carry
// the rest across the box's border, so each run of breaks is a blank.
QString asOneParagraph(const QString &text)
{
    return text.contains(lineBreak()) ? text.split(lineBreak(), Qt::SkipEmptyParts).join(QLatin1Char(' ')) : text;
}

bool isNull(const QVariant &value)
{
    return !value.isValid() || value.isNull();
}

// What a field or a Yes/No item shows of a row; nothing where there is no row.
QString valueText(const Item &item, const Rows &rows, int row, bool *yes = nullptr)
{
    if (rows.count() <= row)
        return {};
    const QVariant value = rows.value(row, item.text);
    if (item.kind == Item::Kind::Field)
        return toolkit::formatValue(value, item.format);
    const bool isYes = !isNull(value) && value.toDouble() != 0;
    if (yes)
        *yes = isYes;
    return isNull(value) ? QString() : (isYes ? item.yes : item.no);
}

// The lines a text breaks into at a width: at line feeds, then wherever
// Japanese text may break.
QStringList breakLines(const QString &text, const QFont &font, int width)
{
    QStringList lines;
    const QStringList paragraphs = text.split(lineBreak());
    for (const QString &paragraph : paragraphs) {
        if (paragraph.isEmpty()) {
            lines.append(QString());
            continue;
        }
        QTextLayout layout(paragraph, font, const_cast<QPaintDevice *>(&measuringDevice()));
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            lines.append(paragraph.mid(line.textStart(), line.textLength()));
        }
        layout.endLayout();
    }
    return lines;
}

int lineHeight(const QFont &font)
{
    return int(std::ceil(QFontMetricsF(font, const_cast<QPaintDevice *>(&measuringDevice())).lineSpacing()));
}

// One item of a band with its text, and where it stands once the growing
// fields above it have grown.
struct Placed
{
    const Item *item = nullptr;
    QString text;
    QStringList lines; // a growing field's lines
    double points = 0; // its type, which a long text may have made smaller
    int top = 0;
    int height = 0;
    bool yes = false; // a Yes/No value, true
};

class PageWriter
{
public:
    PageWriter(const Layout &layout, const Rows &rows, const QDateTime &now, const PageSink &sink)
        : m_layout(layout), m_rows(rows), m_now(now), m_paper(layout.paper()), m_sink(sink),
          m_countsPages(countsPages(layout))
    {
        m_bodyTop = layout.margin + layout.pageHeader.height;
        m_bodyBottom = m_paper.height() - layout.margin - layout.pageFooter.height;
        newPage();
    }

    // Pages before the last are whole once a band is done: no later band
    // reaches back to them, so they are handed on and dropped.  A page that
    // counts its document's pages waits for the document's end.
    void handOnDone()
    {
        if (m_countsPages)
            return;
        while (m_pages.size() > 1)
            handOnFirst(0);
    }

    // Ends the document: its pages, counted now, are handed on.
    void finish()
    {
        const int pages = m_handedOn + int(m_pages.size());
        while (!m_pages.isEmpty())
            handOnFirst(pages);
        m_handedOn = 0;
    }

    void band(const Section &section, int row)
    {
        m_row = row;
        if (m_layout.documentPerRow && row > 0) {
            finish();
            newPage();
        }
        QList<Placed> placed = place(section, m_rows, row);
        const int height = bandHeight(section, placed);
        if (m_y + height > m_bodyBottom && m_y > m_bodyTop)
            newPage();
        // Band positions map to the page and the height on it; a growing
        // field that runs past the page's end moves what follows it on.
        // Items beside it that begin above the break stay on the page they
        // begin on, and grow onto the following pages in step with it.
        QList<std::pair<int, int>> breaks; // band position of each break, and the offset after it
        const int bandTop = m_y;
        const int firstPage = int(m_pages.size()) - 1;
        const auto stretchOf = [&breaks](int bandPos) {
            int stretch = 0;
            for (const auto &b : breaks) {
                if (bandPos >= b.first)
                    ++stretch;
            }
            return stretch;
        };
        const auto offsetOf = [&breaks, bandTop](int stretch) {
            return stretch == 0 ? bandTop : breaks.at(stretch - 1).second;
        };
        // The page after `page`, begun if no item has yet reached it.
        const auto nextPage = [&](int page, int bandPos, int inset = 0) {
            if (page + 1 == int(m_pages.size())) {
                newPage();
                breaks.append({bandPos, m_bodyTop + inset - bandPos});
            }
            return page + 1;
        };
        // A block (a box with its heading) whose text would get no line, or
        // too few to read on, at the page's end begins the next page whole
        // rather than leave its heading over an empty box: the band is laid
        // out again with a break where the block begins.
        QList<int> keptWhole;
        const qsizetype pagesBefore = m_pages.size();
        const qsizetype textsBefore = m_pages.at(firstPage).texts.size();
        for (bool again = true; again;) {
            again = false;
            breaks.clear();
            while (m_pages.size() > pagesBefore) {
                m_pages.removeLast();
                m_pageRows.removeLast();
            }
            m_pages[firstPage].texts.resize(textsBefore);
            qsizetype kept = 0;
            for (const Placed &p : placed) {
                for (; kept < keptWhole.size() && keptWhole.at(kept) <= p.top; ++kept)
                    nextPage(firstPage + stretchOf(keptWhole.at(kept)), keptWhole.at(kept));
                if (p.item->kind == Item::Kind::Box || p.item->kind == Item::Kind::Line || p.item->kind == Item::Kind::Mark)
                    continue;
                const int stretch = stretchOf(p.top);
                int page = firstPage + stretch;
                const int top = offsetOf(stretch) + p.top;
                // Broken at a page's end, the text keeps the room it has in its
                // box from the box's edges there, so that no line touches them.
                const auto [above, below] = roomInBox(placed, *p.item);
                if (top + p.height + below > m_bodyBottom && page + 1 == int(m_pages.size())
                    && !breaksWell(p, top, below)) {
                    const int block = blockTop(placed, p);
                    if (stretchOf(block) == stretch && offsetOf(stretch) + block > m_bodyTop
                        && !keptWhole.contains(block)) {
                        keptWhole.append(block);
                        std::sort(keptWhole.begin(), keptWhole.end());
                        again = true;
                        break;
                    }
                }
                if (top + p.height <= m_bodyBottom) {
                    emitText(page, p, top, p.lines.isEmpty() ? p.height : -1, p.lines);
                    continue;
                }
                if (!p.item->grows || p.lines.isEmpty()) {
                    page = nextPage(page, p.top);
                    emitText(page, p, m_bodyTop, p.height, p.lines);
                    continue;
                }
                const int perLine = lineHeight(textFont(p.points, p.item->gothic));
                QStringList rest = p.lines;
                int from = top;
                int bandPos = p.top;
                while (!rest.isEmpty()) {
                    // A page's first line goes on it, however little room there is.
                    const int fit = std::max(from > m_bodyTop + above ? 0 : 1, (m_bodyBottom - below - from) / perLine);
                    const QStringList here = rest.mid(0, fit);
                    rest = rest.mid(fit);
                    if (!here.isEmpty())
                        emitText(page, p, from, -1, here);
                    if (rest.isEmpty())
                        break;
                    bandPos += int(here.size()) * perLine;
                    page = nextPage(page, bandPos, above);
                    from = m_bodyTop + above;
                }
            }
        }
        for (const Placed &p : placed) {
            if (p.item->kind == Item::Kind::Box || p.item->kind == Item::Kind::Line)
                emitFrame(p, bandTop, breaks);
        }
        for (const Placed &p : placed) {
            if (p.item->kind == Item::Kind::Mark)
                emitMark(p);
        }
        m_y = offsetOf(int(breaks.size())) + height;
    }

private:
    QList<Placed> place(const Section &section, const Rows &rows, int row) const
    {
        QList<Placed> placed;
        for (const Item &item : section.items) {
            Placed p;
            p.item = &item;
            p.top = item.rect.top();
            p.height = item.rect.height();
            p.points = item.points;
            switch (item.kind) {
            case Item::Kind::Label:
                p.text = item.text;
                break;
            case Item::Kind::Field:
            case Item::Kind::YesNo:
            case Item::Kind::Mark:
                p.text = valueText(item, rows, row, &p.yes);
                break;
            case Item::Kind::Box:
            case Item::Kind::Line:
                break;
            }
            if (item.grows) {
                QFont font = textFont(p.points, item.gothic);
                p.lines = breakLines(p.text, font, item.rect.width());
                while (item.smallest > 0 && p.points > item.smallest
                       && int(p.lines.size()) * lineHeight(font) > item.rect.height()) {
                    p.points = std::max(item.smallest, p.points - 0.5);
                    font = textFont(p.points, item.gothic);
                    p.lines = breakLines(p.text, font, item.rect.width());
                }
                p.height = std::max(item.rect.height(), int(p.lines.size()) * lineHeight(font));
            }
            placed.append(p);
        }
        // Growing fields side by side grow as one row, by the most any of
        // them needs: the row pushes down what stands below it and stretches
        // what encloses it, rows further down adding their own growth.
        struct Row
        {
            int top;
            int bottom;
            int growth;
        };
        QList<const Placed *> growing;
        for (const Placed &p : placed) {
            if (p.item->grows)
                growing.append(&p);
        }
        std::sort(growing.begin(), growing.end(),
                  [](const Placed *a, const Placed *b) { return a->item->rect.top() < b->item->rect.top(); });
        QList<Row> rows;
        for (const Placed *p : growing) {
            const QRect &r = p->item->rect;
            const int growth = std::max(0, p->height - r.height());
            if (!rows.isEmpty() && r.top() <= rows.last().bottom) {
                rows.last().bottom = std::max(rows.last().bottom, r.bottom());
                rows.last().growth = std::max(rows.last().growth, growth);
            } else {
                rows.append({r.top(), r.bottom(), growth});
            }
        }
        for (const Row &row : rows) {
            if (row.growth == 0)
                continue;
            for (Placed &p : placed) {
                const QRect &r = p.item->rect;
                if (r.top() > row.bottom)
                    p.top += row.growth;
                else if (!p.item->grows && r.top() <= row.top && r.bottom() >= row.bottom)
                    p.height += row.growth;
            }
        }
        std::stable_sort(placed.begin(), placed.end(), [](const Placed &a, const Placed &b) { return a.top < b.top; });
        return placed;
    }

    // The smallest box of its band around an item, if any.
    static const Placed *boxAround(const QList<Placed> &placed, const Item &item)
    {
        const Placed *inner = nullptr;
        for (const Placed &p : placed) {
            const QRect &r = p.item->rect;
            if (p.item->kind == Item::Kind::Box && r.contains(item.rect)
                && (!inner || r.height() < inner->item->rect.height()))
                inner = &p;
        }
        return inner;
    }

    // The room between a field and the edges of the smallest box of its
    // band around it, above and below; none without a box.
    static std::pair<int, int> roomInBox(const QList<Placed> &placed, const Item &field)
    {
        const Placed *inner = boxAround(placed, field);
        if (!inner)
            return {0, 0};
        const QRect &r = inner->item->rect;
        return {field.rect.top() - r.top(), r.bottom() - field.rect.bottom()};
    }

    // Where the block that holds an item begins in its band: the smallest
    // box around it, or the heading standing on that box, a box that holds
    // a single label and nothing else.
    static int blockTop(const QList<Placed> &placed, const Placed &item)
    {
        const Placed *inner = boxAround(placed, *item.item);
        if (!inner)
            return item.top;
        const QRect &r = inner->item->rect;
        const auto within = [](const QRect &outer, const QRect &rect) {
            return rect.left() >= outer.left() && rect.top() >= outer.top()
                && rect.left() + rect.width() <= outer.left() + outer.width()
                && rect.top() + rect.height() <= outer.top() + outer.height();
        };
        for (const Placed &head : placed) {
            const QRect &h = head.item->rect;
            if (head.item->kind != Item::Kind::Box || h.top() + h.height() != r.top() || h.left() < r.left()
                || h.right() > r.right())
                continue;
            int held = 0;
            bool labels = true;
            for (const Placed &p : placed) {
                if (&p != &head && within(h, p.item->rect)) {
                    ++held;
                    labels = labels && p.item->kind == Item::Kind::Label;
                }
            }
            if (held == 1 && labels)
                return head.top;
        }
        return inner->top;
    }

    // Whether a text that does not fit what is left of the page at `top`
    // can break there: a growing one with two lines at least on this page
    // and some for the next.  A text that fits but whose box does not is
    // better moved whole than closed below the page's end.
    bool breaksWell(const Placed &p, int top, int below) const
    {
        if (!p.item->grows || p.lines.isEmpty())
            return false;
        const int fit = (m_bodyBottom - below - top) / lineHeight(textFont(p.points, p.item->gothic));
        return fit >= std::min<qsizetype>(2, p.lines.size()) && fit < p.lines.size();
    }

    static int bandHeight(const Section &section, const QList<Placed> &placed)
    {
        int height = section.height;
        for (const Placed &p : placed)
            height = std::max(height, p.top + p.height);
        return height;
    }

    void newPage()
    {
        Page page;
        page.paper = m_paper;
        m_pages.append(page);
        m_pageRows.append(m_row);
        m_y = m_bodyTop;
    }

    // The page's header and footer, laid out once its number, and its
    // document's count of pages where the layout shows it, are known; they
    // stand before the body in the page's lists, as they stand above it.
    void handOnFirst(int pages)
    {
        Page page;
        page.paper = m_paper;
        const int number = m_handedOn + 1;
        section(page, m_layout.pageHeader, m_layout.margin, number, pages);
        section(page, m_layout.pageFooter, m_paper.height() - m_layout.margin - m_layout.pageFooter.height, number,
                pages);
        const Page &body = m_pages.first();
        page.texts += body.texts;
        page.rules += body.rules;
        page.frames += body.frames;
        page.ovals += body.ovals;
        m_sink(page);
        m_pages.removeFirst();
        m_pageRows.removeFirst();
        ++m_handedOn;
    }

    static bool countsPages(const Layout &layout)
    {
        for (const Section *section : {&layout.pageHeader, &layout.pageFooter}) {
            for (const Item &item : section->items) {
                if (item.printOn == Item::PrintOn::SeveralPages
                    || (item.kind == Item::Kind::Label && item.text.contains(QLatin1String("%N"))))
                    return true;
            }
        }
        return false;
    }

    void emitText(int page, const Placed &p, int top, int height, const QStringList &lines)
    {
        const QFont font = textFont(p.points, p.item->gothic);
        const int left = m_layout.margin + p.item->rect.left();
        if (lines.isEmpty()) {
            if (p.text.isEmpty())
                return;
            fitText(m_pages[page].texts, *p.item, QRect(left, top, p.item->rect.width(), height),
                    withPlaceholders(p.text, m_now, m_handedOn + page + 1), font);
            return;
        }
        const int perLine = lineHeight(font);
        int y = top;
        for (const QString &line : lines) {
            if (!line.isEmpty())
                m_pages[page].texts.append({QRect(left, y, p.item->rect.width(), perLine), line, font,
                                             Qt::AlignLeft | Qt::AlignTop, p.item->name});
            y += perLine;
        }
    }

    // A text that does not grow and is wider than its box: set a little
    // smaller, or else broken into the lines the box has height for, in the
    // largest type that lets it, never below the legible size.  What still
    // does not fit is cut at the box's last line with an ellipsis, so that
    // nothing runs over its neighbours or off the page.
    static void fitText(QList<TextRun> &texts, const Item &item, const QRect &box, const QString &given, QFont font)
    {
        const QString text = asOneParagraph(given);
        const auto width = [&text](const QFont &f) {
            return QFontMetricsF(f, const_cast<QPaintDevice *>(&measuringDevice())).horizontalAdvance(text);
        };
        const double full = font.pointSizeF();
        const double smallest = std::min(full, kLegiblePoints);
        const auto oneLine = [&](double from, double to) {
            for (double points = from; points >= to; points -= 0.25) {
                font.setPointSizeF(points);
                if (width(font) <= box.width()) {
                    texts.append({box, text, font, item.alignment, item.name});
                    return true;
                }
            }
            return false;
        };
        const Qt::Alignment horizontal = item.alignment & Qt::AlignHorizontal_Mask;
        const auto setLines = [&](const QStringList &lines, const QFont &f) {
            const int perLine = lineHeight(f);
            int y = box.top();
            if (item.alignment & Qt::AlignVCenter)
                y += (box.height() - int(lines.size()) * perLine) / 2;
            else if (item.alignment & Qt::AlignBottom)
                y += box.height() - int(lines.size()) * perLine;
            for (const QString &line : lines) {
                texts.append({QRect(box.left(), y, box.width(), perLine), line, f, horizontal | Qt::AlignTop,
                              item.name});
                y += perLine;
            }
        };
        const auto inLines = [&](double points) {
            font.setPointSizeF(points);
            const QStringList lines = breakLines(text, font, box.width());
            if (lines.size() < 2 || int(lines.size()) * lineHeight(font) > box.height())
                return false;
            setLines(lines, font);
            return true;
        };
        if (oneLine(full, std::max(smallest, full * 0.8)) || inLines(full) || oneLine(full * 0.8, smallest))
            return;
        for (double points = full - 0.25; points >= smallest; points -= 0.25) {
            if (inLines(points))
                return;
        }
        font.setPointSizeF(smallest);
        QStringList lines = breakLines(text, font, box.width());
        const int room = std::max(1, box.height() / lineHeight(font));
        if (lines.size() > room) {
            lines = lines.mid(0, room);
            const QFontMetricsF metrics(font, const_cast<QPaintDevice *>(&measuringDevice()));
            lines.last() = metrics.elidedText(lines.last() + QStringLiteral("…"), Qt::ElideRight, box.width());
        }
        if (lines.size() == 1)
            texts.append({box, lines.first(), font, item.alignment, item.name});
        else
            setLines(lines, font);
    }

    // A box or line of the band: its band positions mapped through the
    // breaks to the pages they fall on.
    void emitFrame(const Placed &p, int bandTop, const QList<std::pair<int, int>> &breaks)
    {
        const int pageCount = int(m_pages.size());
        const int firstPage = pageCount - 1 - int(breaks.size());
        const auto pageOf = [&](int bandY) {
            int page = firstPage;
            for (const auto &b : breaks) {
                if (bandY >= b.first)
                    ++page;
            }
            return page;
        };
        const auto offsetOf = [&](int page) {
            return page == firstPage ? bandTop : breaks.at(page - firstPage - 1).second;
        };
        const int left = m_layout.margin + p.item->rect.left();
        const int width = p.item->rect.width();
        const int top = p.top;
        const int bottom = p.top + p.height;
        const int from = pageOf(top);
        const int to = pageOf(std::max(top, bottom - 1));
        for (int page = from; page <= to; ++page) {
            const int y1 = page == from ? offsetOf(page) + top : m_bodyTop;
            const int y2 = page == to ? offsetOf(page) + bottom : m_bodyBottom;
            if (p.item->kind == Item::Kind::Box)
                m_pages[page].frames.append({QRect(left, y1, width, y2 - y1), p.item->lineWidth});
            else if (width >= p.height)
                m_pages[page].rules.append({QLine(left, y1, left + width, y1), p.item->lineWidth});
            else
                m_pages[page].rules.append({QLine(left, y1, left, y2), p.item->lineWidth});
        }
    }

    // A mark over the characters it marks of its label as this band printed
    // it, so that it follows the label wherever growth or a page break took
    // it.  Blanks that pushed a mark along a line in a fixed text do not
    // count: the characters place it.  A word wider than the mark gets an
    // oval round it instead.
    void emitMark(const Placed &p)
    {
        const QString mark = p.text.trimmed();
        const Item::Span span = p.yes ? p.item->yesSpan : p.item->noSpan;
        if (mark.isEmpty() || span.from < 0)
            return;
        for (qsizetype page = m_pages.size() - 1; page >= 0; --page) {
            const QList<TextRun> &runs = m_pages.at(page).texts;
            for (qsizetype i = runs.size() - 1; i >= 0; --i) {
                if (runs.at(i).item != p.item->anchor)
                    continue;
                // A label too wide for its box may have been broken into
                // lines, laid out one below the other: the mark goes on the
                // line that holds its characters.
                qsizetype first = i;
                while (first > 0 && runs.at(first - 1).item == p.item->anchor
                       && runs.at(first - 1).rect.left() == runs.at(i).rect.left()
                       && runs.at(first - 1).rect.bottom() < runs.at(first).rect.top())
                    --first;
                qsizetype line = first;
                qsizetype from = span.from;
                while (line < i && from >= runs.at(line).text.size()) {
                    from -= runs.at(line).text.size();
                    ++line;
                }
                const TextRun &anchor = runs.at(line);
                const QRectF box = glyphBox(anchor, from, span.length);
                QFont font = anchor.font;
                font.setPointSizeF(anchor.font.pointSizeF() * kMarkScale);
                const QFontMetricsF metrics(pixelFont(font));
                const QSizeF size(metrics.horizontalAdvance(mark), metrics.height());
                if (box.width() > size.width()) {
                    const qreal margin = box.height() * (kMarkScale - 1);
                    m_pages[page].ovals.append(
                        {box.adjusted(-2 * margin, -margin, 2 * margin, margin).toAlignedRect(), 12, p.item->name});
                } else {
                    const QRectF rect(box.center() - QPointF(size.width() / 2, size.height() / 2), size);
                    m_pages[page].texts.append({rect.toAlignedRect(), mark, font, Qt::AlignCenter, p.item->name});
                }
                return;
            }
        }
    }

    // A page header or footer on page `number` of a document of `pages`
    // pages, or of pages not yet counted where the layout shows no count.
    void section(Page &page, const Section &section, int top, int number, int pages) const
    {
        const int row = m_pageRows.first();
        for (const Item &item : section.items) {
            if ((item.printOn == Item::PrintOn::LaterPages && number == 1)
                || (item.printOn == Item::PrintOn::SeveralPages && pages < 2))
                continue;
            const QRect rect(m_layout.margin + item.rect.left(), top + item.rect.top(), item.rect.width(),
                             item.rect.height());
            switch (item.kind) {
            case Item::Kind::Box:
                page.frames.append({rect, item.lineWidth});
                break;
            case Item::Kind::Line:
                page.rules.append({rect.width() >= rect.height() ? QLine(rect.left(), rect.top(), rect.right(), rect.top())
                                                                 : QLine(rect.left(), rect.top(), rect.left(), rect.bottom()),
                                   item.lineWidth});
                break;
            case Item::Kind::Label:
                if (!item.text.isEmpty())
                    fitText(page.texts, item, rect, withPlaceholders(item.text, m_now, number, pages),
                            textFont(item.points, item.gothic));
                break;
            case Item::Kind::Field:
            case Item::Kind::YesNo: {
                const QString text = valueText(item, m_rows, row);
                if (!text.isEmpty())
                    fitText(page.texts, item, rect, text, textFont(item.points, item.gothic));
                break;
            }
            case Item::Kind::Mark:
                break;
            }
        }
    }

    const Layout &m_layout;
    const Rows &m_rows;
    QDateTime m_now;
    QSize m_paper;
    const PageSink &m_sink;
    const bool m_countsPages;
    QList<Page> m_pages; // begun and not yet handed on, their bodies only
    QList<int> m_pageRows; // the row whose band began each of them
    int m_row = 0;
    int m_handedOn = 0; // pages of the document handed on
    int m_bodyTop = 0;
    int m_bodyBottom = 0;
    int m_y = 0;
};

} // namespace

RecordsetRows::RecordsetRows(const jet::Recordset &recordset)
    : m_recordset(recordset)
{
}

int RecordsetRows::count() const
{
    return m_recordset.isOpen() ? m_recordset.rowCount() : 0;
}

QVariant RecordsetRows::value(int row, const QString &column) const
{
    // A field naming a column the rows lack is a fault of the document, not
    // an empty value.
    const int field = m_recordset.fieldIndex(column);
    if (field < 0)
        throw jet::Error(jet::err::ItemNotFound,
                         QStringLiteral("要求された名前 '%1' に対応する項目がコレクションで見つかりません。").arg(column));
    return m_recordset.valueAt(row, field);
}

QFont textFont(double points, bool gothic)
{
    // The same faces with a character map that names their ideographs as
    // such in a PDF's text; where they cannot be made, the installed ones.
    static const QString mincho = toolkit::registerTextFace(QStringLiteral("IPAexMincho"), QStringLiteral("Norva Mincho"));
    static const QString gothicFace = toolkit::registerTextFace(QStringLiteral("IPAexGothic"), QStringLiteral("Norva Gothic"));
    QStringList families = gothic ? QStringList{QStringLiteral("IPAexGothic"), QStringLiteral("IPAGothic")}
                                  : QStringList{QStringLiteral("IPAexMincho"), QStringLiteral("IPAMincho")};
    if (const QString &face = gothic ? gothicFace : mincho; !face.isEmpty())
        families.prepend(face);
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(points);
    return font;
}

void layOut(const Layout &layout, const Rows &rows, const QDateTime &now, const PageSink &sink)
{
    const std::unique_ptr<Layout> declared = layout.declaredFor(rows);
    const Layout &used = declared ? *declared : layout;
    PageWriter writer(used, rows, now, sink);
    // A form prints its fixed texts even without a row to fill it in.
    const int bands = std::max(rows.count(), used.blankForm ? 1 : 0);
    for (int row = 0; row < bands; ++row) {
        writer.band(used.detail, row);
        writer.handOnDone();
    }
    writer.finish();
}

QRectF glyphBox(const TextRun &run, qsizetype from, qsizetype length)
{
    const QFontMetricsF metrics(pixelFont(run.font));
    const qreal whole = metrics.horizontalAdvance(run.text);
    qreal x = run.rect.left();
    if (run.alignment & Qt::AlignHCenter)
        x += (run.rect.width() - whole) / 2;
    else if (run.alignment & Qt::AlignRight)
        x += run.rect.width() - whole;
    qreal y = run.rect.top();
    if (run.alignment & Qt::AlignVCenter)
        y += (run.rect.height() - metrics.height()) / 2;
    else if (run.alignment & Qt::AlignBottom)
        y += run.rect.height() - metrics.height();
    return QRectF(x + metrics.horizontalAdvance(run.text.left(from)), y,
                  metrics.horizontalAdvance(run.text.mid(from, length)), metrics.height());
}

QList<Page> layOut(const Layout &layout, const Rows &rows, const QDateTime &now)
{
    QList<Page> pages;
    layOut(layout, rows, now, [&pages](const Page &page) { pages.append(page); });
    return pages;
}

} // namespace report
