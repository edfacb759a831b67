#include "report/layout.h"

#include "db/engine/error.h"

#include <QPageSize>

namespace report {

Section *Layout::section(const QString &name)
{
    for (Section *s : {&pageHeader, &detail, &pageFooter}) {
        if (s->name == name)
            return s;
    }
    return nullptr;
}

Item *Layout::find(const QString &sectionName, const QString &itemName)
{
    Section *s = section(sectionName);
    if (!s)
        return nullptr;
    for (Item &item : s->items) {
        if (item.name == itemName)
            return &item;
    }
    return nullptr;
}

void Layout::setLabel(const QString &sectionName, const QString &label, const QString &text)
{
    Item *item = find(sectionName, label);
    if (!item || item->kind != Item::Kind::Label)
        throw jet::Error(jet::err::ItemNotFound,
                         QStringLiteral("レポート %1 にラベル %2.%3 がありません。").arg(name, sectionName, label));
    item->text = text;
}

void Layout::addSheetMarks(Section &section, const QRect &name, const QRect &count, Qt::Alignment countAlignment)
{
    Item patient = field(QStringLiteral("SheetName"), name, QStringLiteral("氏名"));
    patient.printOn = Item::PrintOn::LaterPages;
    patient.points = 9;
    Item pages = label(QStringLiteral("SheetCount"), count, QStringLiteral("%p / %N"));
    pages.printOn = Item::PrintOn::SeveralPages;
    pages.points = 9;
    pages.alignment = countAlignment;
    section.items << patient << pages;
}

QSize Layout::paper() const
{
    const QSizeF millimetres = QPageSize(QPageSize::A4).size(QPageSize::Millimeter);
    const QSize twips(qRound(millimetres.width() / 25.4 * 1440), qRound(millimetres.height() / 25.4 * 1440));
    return orientation == QPageLayout::Landscape ? twips.transposed() : twips;
}

Item Layout::label(const QString &name, const QRect &rect, const QString &text)
{
    Item item;
    item.kind = Item::Kind::Label;
    item.name = name;
    item.rect = rect;
    item.text = text;
    return item;
}

Item Layout::heading(const QString &name, const QRect &rect, const QString &text, double points)
{
    Item item = label(name, rect, text);
    item.gothic = true;
    item.points = points;
    item.alignment = Qt::AlignCenter;
    return item;
}

void Layout::nameSections(const QString &header, const QString &detail, const QString &footer)
{
    pageHeader.name = header;
    this->detail.name = detail;
    pageFooter.name = footer;
}

Item Layout::field(const QString &name, const QRect &rect, const QString &column, const QString &format)
{
    Item item;
    item.kind = Item::Kind::Field;
    item.name = name;
    item.rect = rect;
    item.text = column;
    item.format = format;
    return item;
}

Item Layout::yesNo(const QString &name, const QRect &rect, const QString &column, const QString &yes, const QString &no)
{
    Item item = field(name, rect, column);
    item.kind = Item::Kind::YesNo;
    item.yes = yes;
    item.no = no;
    return item;
}

namespace {

// The first place where `word` stands alone in `text`, between characters
// that are no letters or digits.
Item::Span wordIn(const QString &text, const QString &word)
{
    const auto standsAlone = [&](qsizetype at) {
        const qsizetype end = at + word.size();
        return (at == 0 || !text.at(at - 1).isLetterOrNumber()) && (end == text.size() || !text.at(end).isLetterOrNumber());
    };
    for (qsizetype at = text.indexOf(word); at >= 0 && !word.isEmpty(); at = text.indexOf(word, at + 1)) {
        if (standsAlone(at))
            return {at, word.size()};
    }
    return {};
}

} // namespace

Item Layout::mark(const QString &name, const Item &anchor, const QString &column, const QString &yes,
                  const QString &yesWord, const QString &no, const QString &noWord)
{
    Item item = yesNo(name, anchor.rect, column, yes, no);
    item.kind = Item::Kind::Mark;
    item.anchor = anchor.name;
    item.points = anchor.points;
    item.gothic = anchor.gothic;
    item.yesSpan = wordIn(anchor.text, yesWord);
    item.noSpan = wordIn(anchor.text, noWord);
    Q_ASSERT_X(item.yesSpan.from >= 0 && (noWord.isEmpty() || item.noSpan.from >= 0), "Layout::mark",
               qPrintable(name + QLatin1String(": no such word in ") + anchor.text));
    return item;
}

std::unique_ptr<Layout> Layout::declaredFor(const Rows &) const
{
    return nullptr;
}

Item Layout::box(const QString &name, const QRect &rect)
{
    Item item;
    item.kind = Item::Kind::Box;
    item.name = name;
    item.rect = rect;
    return item;
}

Item Layout::line(const QString &name, const QRect &rect)
{
    Item item;
    item.kind = Item::Kind::Line;
    item.name = name;
    item.rect = rect;
    return item;
}

} // namespace report
