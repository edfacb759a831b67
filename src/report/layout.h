#pragma once

#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QRect>
#include <QString>
#include <memory>

namespace report {

class Rows;

// One printed item of a band, placed in twips from the band's top left
// corner inside the margins.
struct Item
{
    enum class Kind { Label, Field, YesNo, Box, Line, Mark };
    // Which pages of a document a page header's or footer's item prints on:
    // every page, the pages after the first, or every page of a document
    // that runs to more than one.
    enum class PrintOn { EveryPage, LaterPages, SeveralPages };

    // Characters of a label's text, from an index.
    struct Span
    {
        qsizetype from = -1;
        qsizetype length = 0;
    };

    Kind kind = Kind::Label;
    QString name;
    QRect rect;
    // A label's text (with %d, %D, %T, %p; in a page header or footer also
    // %N, the pages of the document), a field's column.
    QString text;
    QString format; // a field's display format
    QString yes;    // a Yes/No field's texts for true and false
    QString no;
    bool grows = false; // the box grows downwards to show a long value
    // A growing box of a fixed size first sets a long value smaller, down to
    // these points, and grows only when that is not enough.
    double smallest = 0;
    double points = 10.5;
    bool gothic = false; // the heading face instead of the text face
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
    int lineWidth = 15;
    // A mark is a Yes/No field printed over characters of a label of its
    // band: the label, and the characters each value marks.
    QString anchor;
    Span yesSpan;
    Span noSpan;
    PrintOn printOn = PrintOn::EveryPage;
};

struct Section
{
    QString name;
    int height = 0;
    QList<Item> items;
};

// A banded layout: page header, a detail band per row, page footer.  A field
// of the page header or footer shows the row whose band began its page.
class Layout
{
public:
    // The documents derive their declarations from it and are owned through it.
    Layout() = default;
    Layout(const Layout &) = default;
    Layout &operator=(const Layout &) = default;
    virtual ~Layout() = default;

    QString name;
    // The preview's title where the launcher gives none.
    QString caption;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    int width = 9000;    // the printable width, twips
    int margin = 1440;   // on all four sides
    Section pageHeader{QStringLiteral("PageHeader"), 0, {}};
    Section detail{QStringLiteral("Detail"), 0, {}};
    Section pageFooter{QStringLiteral("PageFooter"), 0, {}};

    // Each row is a document of its own, as a patient's summary is: it
    // begins on a new page, its pages are numbered and counted apart from
    // the other rows', and the fields of its page header and footer show it.
    bool documentPerRow = false;

    // With no row the detail band still prints once, its fields empty: a
    // form to fill in by hand.
    bool blankForm = false;

    // A label's text at run time, by section and label name.  Raises
    // jet::Error(ItemNotFound) when the layout has no such label.
    void setLabel(const QString &section, const QString &label, const QString &text);
    Item *find(const QString &section, const QString &item);

    // A4 in the layout's orientation, twips.
    QSize paper() const;

    // A form whose sections depend on what it prints (its edition and a
    // prefecture's variant, read from its row) declares itself again for
    // the rows; the engine lays out that declaration, or this one when
    // there is none.
    virtual std::unique_ptr<Layout> declaredFor(const Rows &rows) const;

    // Sections of a declaration, in the classes of the documents.
    static Item label(const QString &name, const QRect &rect, const QString &text);
    // A label in the heading face, centred in its box.
    static Item heading(const QString &name, const QRect &rect, const QString &text, double points = 10.5);
    static Item field(const QString &name, const QRect &rect, const QString &column, const QString &format = {});
    static Item yesNo(const QString &name, const QRect &rect, const QString &column, const QString &yes,
                      const QString &no = {});
    // A Yes/No mark over the word `yesWord` (true) or `noWord` (false) of
    // the label `anchor`, wherever the engine prints that label.  A word is
    // found where it stands alone, not inside a longer word: "有" of
    // "（　有　・　無　）", not of "有無".
    static Item mark(const QString &name, const Item &anchor, const QString &column, const QString &yes,
                     const QString &yesWord, const QString &no = {}, const QString &noWord = {});
    static Item box(const QString &name, const QRect &rect);
    static Item line(const QString &name, const QRect &rect);

protected:
    // What lets a separated sheet of a patient's document be matched to the
    // others: the patient's name on the pages after the first, and "n / N"
    // on every page of a document that runs to more than one.
    void addSheetMarks(Section &section, const QRect &name, const QRect &count, Qt::Alignment countAlignment);
    // The names the documents give their sections; setLabel finds them by these.
    void nameSections(const QString &header, const QString &detail, const QString &footer);

private:
    Section *section(const QString &name);
};

} // namespace report
