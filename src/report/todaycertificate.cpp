#include "report/todaycertificate.h"

#include "certificate/records/extension.h"
#include "db/engine/error.h"
#include "report/certificaterecord.h"
#include "report/engine.h"
#include "toolkit/format.h"

#include <QFontMetricsF>

#include <cmath>

using namespace Qt::StringLiterals;
using certificates::Field;
using certificates::FieldKind;
namespace columns = report::certificaterecord;

namespace report {

namespace {

const QString kDateFormat = u"ggge年m月d日"_s;
const QChar kBlank = u'　';

double widthOf(const QString &text, double points, bool gothic = false)
{
    return QFontMetricsF(textFont(points, gothic), const_cast<QPaintDevice *>(&measuringDevice())).horizontalAdvance(text);
}

int lineOf(double points)
{
    return int(std::ceil(
        QFontMetricsF(textFont(points, false), const_cast<QPaintDevice *>(&measuringDevice())).lineSpacing()));
}

// Blanks for a text written inside a fixed one, as long as the text may be.
QString blanks(const Field &field)
{
    return QString(std::clamp(field.maxLength, 4, 20), kBlank);
}

// What a mark circles of an option: the number of "(1) ...", or its words.
QString markedWord(const QString &label)
{
    if (label.startsWith(u'(')) {
        const qsizetype close = label.indexOf(u')');
        if (close > 1)
            return label.mid(1, close - 1);
    }
    return label;
}

// The main diagnosis falls within a sheet's ICD categories ("F4" holds F40 to F49).
bool within(const QString &icd, const QStringList &categories)
{
    const QString code = icd.trimmed().toUpper();
    return !code.isEmpty()
        && std::any_of(categories.begin(), categories.end(), [&](const QString &c) { return code.startsWith(c); });
}

} // namespace

// A run of a flowed line: its text, the marks over its words and the
// columns written over its blanks.
struct TodayCertificate::Piece
{
    struct Mark
    {
        QString column;
        qsizetype from;
        qsizetype length;
    };
    struct Blank
    {
        QString column;
        bool date;
        qsizetype from;
        qsizetype length;
    };
    QString text;
    QList<Mark> marks;
    QList<Blank> fields;

    void mark(const QString &column, const QString &word, qsizetype searchFrom = 0)
    {
        marks.append({column, text.indexOf(word, searchFrom), word.size()});
    }
    // Appends a text with the blanks a column is written over.
    void blankFor(const QString &column, const QString &room, bool date = false)
    {
        text += u'（';
        fields.append({column, date, text.size(), room.size()});
        text += room + u'）';
    }
    void append(const Piece &other)
    {
        const qsizetype at = text.size();
        text += other.text;
        for (Mark m : other.marks)
            marks.append({m.column, m.from + at, m.length});
        for (Blank b : other.fields)
            fields.append({b.column, b.date, b.from + at, b.length});
    }
};

TodayCertificate::TodayCertificate(const QString &layoutName, certificates::Kind kind, const QString &edition,
                                   const QString &variant, bool separateSheet)
    : m_kind(kind)
{
    name = layoutName;
    nameSections(u"Section2"_s, u"Section1"_s, u"Section3"_s);
    // The model forms use the sheet nearly to its edges.
    margin = 720;
    width = paper().width() - 2 * margin;
    const certificates::FormCatalog &catalog = certificates::FormCatalog::instance();
    m_edition = edition.isEmpty() ? catalog.currentEdition() : edition;
    m_variant = variant.isEmpty() ? certificates::kDefaultVariant.toString() : variant;
    const certificates::Variant *v = catalog.variant(m_variant);
    // Where the prefecture has one form for both applications, the medical
    // certificate is that form too.
    const bool combined = v && v->combinedForm && (kind == certificates::Kind::Handbook || v->handbookFormServesMedical);
    const certificates::Kind printed = combined ? certificates::Kind::Handbook : kind;
    const certificates::Form *form = catalog.form(m_edition, printed);
    if (!form)
        throw jet::Error(jet::err::GeneralFailure,
                         u"診断書の様式 %1 はこのプログラムにありません。新しいネモリアで印刷してください。"_s.arg(m_edition));

    addTitle(combined && !v->combinedTitle.isEmpty() ? v->combinedTitle : form->title);
    addPatient(form->header);
    QList<certificates::Section> sheet;
    for (const certificates::Section &section : catalog.sections(m_edition, printed, m_variant)) {
        if (section.separateSheet && separateSheet) {
            sheet.append(section);
            continue;
        }
        if (section.group == u"conditions"_s)
            addConditions(section);
        else
            addSection(section);
    }
    addFooter(form->footer);
    if (!sheet.isEmpty() && v) {
        // The sheet begins where the first page's body ends: on a page of its own.
        m_y = paper().height() - 2 * margin;
        for (const certificates::Variant::SeparateSheet &s : v->separateSheets)
            if (s.form == form->id)
                addTitle(s.title);
        addPatient(form->header);
        for (const certificates::Section &section : sheet)
            addSection(section);
        addFooter(form->footer);
    }
    detail.height = m_y;
}

std::unique_ptr<Layout> TodayCertificate::declaredFor(const Rows &rows) const
{
    if (rows.count() == 0)
        return nullptr;
    const QString edition = rows.value(0, u"様式"_s).toString();
    const QString variant = rows.value(0, u"都道府県様式"_s).toString();
    const certificates::FormCatalog &catalog = certificates::FormCatalog::instance();
    const certificates::Form *form = catalog.form(edition.isEmpty() ? catalog.currentEdition() : edition, m_kind);
    bool separate = false;
    if (const certificates::Variant *v = catalog.variant(variant))
        for (const certificates::Variant::SeparateSheet &s : v->separateSheets)
            separate = separate || (form && s.form == form->id && within(rows.value(0, u"主ICD"_s).toString(), s.icd));
    std::unique_ptr<TodayCertificate> declared(new TodayCertificate(name, m_kind, edition, variant, separate));
    for (auto date = declared->m_dates.cbegin(); date != declared->m_dates.cend(); ++date) {
        const QDate day = QDate::fromString(rows.value(0, date.value()).toString(), Qt::ISODate);
        declared->find(u"Section1"_s, date.key())->text = toolkit::formatDate(day, kDateFormat);
    }
    // The institution's labels, written at run time into this declaration.
    for (const Item &own : detail.items) {
        if (!own.name.startsWith(u"Inst_"_s))
            continue;
        for (Item &item : declared->detail.items)
            if (item.name == own.name)
                item.text = own.text;
    }
    return declared;
}

Item &TodayCertificate::put(const Item &item)
{
    detail.items << item;
    return detail.items.last();
}

Item &TodayCertificate::label(int left, int width, const QString &text, double points, bool gothic)
{
    Item item = Layout::label(u"Label%1"_s.arg(++m_items + 100), QRect(left, m_y, width, kRow), text);
    item.points = points;
    item.gothic = gothic;
    return put(item);
}

void TodayCertificate::fieldAt(int left, int width, const QString &column, const QString &format, double points)
{
    Item item = Layout::field(u"Field%1"_s.arg(++m_items + 100), QRect(left, m_y, width, kRow), column, format);
    item.points = points;
    item.grows = true;
    item.smallest = kLegiblePoints;
    put(item);
}

void TodayCertificate::dateAt(int left, int width, const QString &column)
{
    const QString name = u"Date_%1"_s.arg(column);
    m_dates.insert(name, column);
    Item item = Layout::label(name, QRect(left, m_y, width, kRow), QString());
    item.points = kText;
    put(item);
}

void TodayCertificate::addTitle(const QString &title)
{
    Item item = Layout::heading(u"Label%1"_s.arg(++m_items + 100), QRect(0, m_y, width, 480), title, 13);
    put(item);
    m_y += 480;
}

void TodayCertificate::beginFrame()
{
    m_frameTop = m_y;
    m_y += 20;
}

void TodayCertificate::endFrame()
{
    m_y += 20;
    put(Layout::box(u"Shape%1"_s.arg(++m_items + 100), QRect(0, m_frameTop, width, m_y - m_frameTop)));
}

void TodayCertificate::addPatient(const QList<Field> &header)
{
    QHash<QString, const Field *> fields;
    for (const Field &f : header)
        fields.insert(f.code, &f);
    const auto caption = [&](const QString &code) { return fields.contains(code) ? fields.value(code)->label : QString(); };
    constexpr int kCaption = 900;
    constexpr int kRight = 5600;
    beginFrame();
    label(kInset, kCaption, caption(u"kana"_s), kText);
    fieldAt(kInset + kCaption, kRight - kCaption - 2 * kInset, u"かな氏名"_s);
    label(kRight, kCaption, caption(u"birth"_s), kText);
    fieldAt(kRight + kCaption, 2600, u"生年月日"_s, kDateFormat + u"生"_s);
    fieldAt(kRight + kCaption + 2650, 500, u"年齢"_s, u"0"_s);
    label(kRight + kCaption + 3150, 400, caption(u"age"_s), kText);
    m_y += kRow + 40;
    label(kInset, kCaption, caption(u"name"_s), kText);
    fieldAt(kInset + kCaption, kRight - kCaption - 2 * kInset, u"氏名"_s, {}, 10);
    if (const Field *sex = fields.value(u"sex"_s)) {
        label(kRight, kCaption, sex->label, kText);
        Piece choices;
        for (const certificates::Option &o : sex->options) {
            if (!choices.text.isEmpty())
                choices.text += u"・"_s;
            choices.text += o.label;
            choices.mark(columns::sex(o.label), o.label, choices.text.size() - o.label.size());
        }
        Item &line = label(kRight + kCaption, 2000, choices.text, kText);
        const Item anchor = line;
        for (const Piece::Mark &m : choices.marks) {
            Item mark = Layout::mark(u"Mark_%1"_s.arg(m.column), anchor, m.column, u"○"_s, choices.text.mid(m.from, m.length));
            mark.yesSpan = {m.from, m.length};
            put(mark);
        }
    }
    m_y += kRow + 60;
    label(kInset, kCaption, caption(u"address"_s), kText);
    fieldAt(kInset + kCaption, 1100, u"郵便番号"_s, u"〒@@@-@@@@"_s);
    fieldAt(kInset + kCaption + 1150, width - kCaption - 1150 - 2 * kInset, u"住所"_s);
    m_y += kRow;
    endFrame();
}

void TodayCertificate::heading(const certificates::Section &section)
{
    const QString title = section.number.isEmpty() ? section.title : section.number + u'　' + section.title;
    label(kInset, int(widthOf(title, kHeading, true)) + 40, title, kHeading, true);
    const int after = kInset + int(widthOf(title, kHeading, true)) + 160;
    if (!section.hint.isEmpty()) {
        const QString hint = u"（"_s + section.hint + u"）"_s;
        if (after + widthOf(hint, kText) <= width - kInset) {
            label(after, width - kInset - after, hint, kText);
        } else {
            m_y += kHeadingRow;
            label(kInset + 200, width - 2 * kInset - 200, hint, kText);
        }
    }
    m_y += kHeadingRow;
}

void TodayCertificate::textBox(const QString &column, int lines)
{
    const int height = lines * lineOf(kText) + 60;
    Item item = Layout::field(u"Field%1"_s.arg(++m_items + 100),
                              QRect(kInset + 60, m_y + 30, width - 2 * kInset - 120, height - 60), column);
    item.points = 8;
    item.grows = true;
    // A certificate is one sheet: the text keeps to its box.
    item.smallest = kLegiblePoints;
    put(Layout::box(u"Shape%1"_s.arg(++m_items + 100), QRect(kInset, m_y, width - 2 * kInset, height)));
    put(item);
    m_y += height + 20;
}

QList<TodayCertificate::Piece> TodayCertificate::pieces(const QString &group, const Field &field, bool lettered) const
{
    Piece piece;
    switch (field.kind) {
    case FieldKind::Check:
        piece.text = lettered ? field.code + u' ' + field.label : field.label;
        piece.mark(columns::value(group, field.code), lettered ? field.code : field.label);
        if (field.takesText)
            piece.blankFor(columns::text(group, field.code), blanks(field));
        break;
    case FieldKind::Choice:
    case FieldKind::Level: {
        if (!field.label.isEmpty())
            piece.text = field.label;
        piece.text += u'（';
        for (const certificates::Option &o : field.options) {
            if (!piece.text.endsWith(u'（'))
                piece.text += u'・';
            const qsizetype at = piece.text.size();
            piece.text += o.label;
            piece.mark(columns::option(group, field.code, o.code), markedWord(o.label), at);
            if (o.takesText)
                piece.blankFor(columns::text(group, field.code), blanks(field));
        }
        piece.text += u'）';
        if (field.takesText)
            piece.blankFor(columns::text(group, field.code), blanks(field));
        break;
    }
    case FieldKind::Text:
        piece.text = field.label;
        piece.blankFor(columns::text(group, field.code), blanks(field));
        break;
    case FieldKind::Date:
        piece.text = field.label;
        piece.blankFor(columns::date(group, field.code), QString(9, kBlank), true);
        break;
    case FieldKind::Diagnosis:
        break;
    }
    return {piece};
}

void TodayCertificate::flow(const QList<Piece> &pieces, int indent)
{
    const int right = width - kInset;
    int left = kInset + 100;
    Piece line;
    const auto setLine = [&] {
        if (line.text.isEmpty())
            return;
        const Item anchor = label(left, right - left, line.text, kText);
        const TextRun run{anchor.rect, anchor.text, textFont(kText, false), anchor.alignment, {}};
        for (const Piece::Mark &m : line.marks) {
            Item mark = Layout::mark(u"Mark_%1"_s.arg(m.column), anchor, m.column, u"○"_s, line.text.mid(m.from, m.length));
            mark.yesSpan = {m.from, m.length};
            put(mark);
        }
        for (const Piece::Blank &b : line.fields) {
            const QRectF room = glyphBox(run, b.from, b.length);
            if (b.date) {
                dateAt(qRound(room.left()), qRound(room.width()), b.column);
                continue;
            }
            Item field = Layout::field(u"Field%1"_s.arg(++m_items + 100),
                                       QRect(qRound(room.left()), m_y, qRound(room.width()), kRow), b.column);
            field.points = kText;
            field.grows = true;
            field.smallest = kLegiblePoints;
            put(field);
        }
        m_y += kRow;
        line = {};
        left = kInset + indent;
    };
    for (const Piece &piece : pieces) {
        const QString joined = line.text.isEmpty() ? piece.text : line.text + u'　' + piece.text;
        if (!line.text.isEmpty() && left + widthOf(joined, kText) > right)
            setLine();
        if (!line.text.isEmpty())
            line.text += u'　';
        line.append(piece);
    }
    setLine();
}

void TodayCertificate::addConditions(const certificates::Section &section)
{
    const certificates::Form *form = certificates::FormCatalog::instance().form(m_edition, m_kind);
    if (!form || form->conditions.isEmpty())
        form = certificates::FormCatalog::instance().form(m_edition, certificates::Kind::Handbook);
    beginFrame();
    heading(section);
    for (const certificates::ConditionGroup &group : form->conditions) {
        QList<Piece> line;
        Piece head;
        head.text = u"(%1) %2"_s.arg(group.number, group.title);
        head.mark(columns::anyOf(group.code), group.number);
        line.append(head);
        for (const Field &item : group.items) {
            if (!item.parent.isEmpty())
                continue;
            Piece piece = pieces(group.code, item, true).first();
            // The details of an item follow it in brackets: 発作型, 程度, 読み・書き.
            QList<Piece> details;
            for (const Field &detail : group.items)
                if (detail.parent == item.code)
                    details.append(pieces(group.code, detail, false).first());
            // A degree alone brings its own brackets.
            if (details.size() == 1 && details.first().text.startsWith(u'（')) {
                piece.append(details.first());
            } else if (!details.isEmpty()) {
                piece.text += u'（';
                for (qsizetype d = 0; d < details.size(); ++d) {
                    if (d > 0)
                        piece.text += u'・';
                    piece.append(details.at(d));
                }
                piece.text += u'）';
            }
            line.append(piece);
        }
        flow(line, 600);
    }
    endFrame();
}

void TodayCertificate::abilities(const certificates::Section &section)
{
    const int levels = 4600;
    for (const Field &area : section.fields) {
        if (!area.parent.isEmpty())
            continue;
        const Item anchor = label(kInset + 200, levels - kInset - 300, area.label, kText);
        // An area's own question (要・不要) is circled in its heading.
        for (const Field &detail : section.fields) {
            if (detail.parent != area.code)
                continue;
            for (const certificates::Option &o : detail.options) {
                const QString column = columns::option(section.group, detail.code, o.code);
                put(Layout::mark(u"Mark_%1"_s.arg(column), anchor, column, u"○"_s, o.label));
            }
        }
        Piece scale;
        for (const certificates::Option &o : area.options) {
            if (!scale.text.isEmpty())
                scale.text += u'・';
            const qsizetype at = scale.text.size();
            scale.text += o.label;
            scale.mark(columns::option(section.group, area.code, o.code), o.label, at);
        }
        const int y = m_y;
        const int right = width - kInset;
        Item line = Layout::label(u"Label%1"_s.arg(++m_items + 100), QRect(levels, y, right - levels, kRow), scale.text);
        line.points = kText;
        put(line);
        for (const Piece::Mark &m : scale.marks) {
            Item mark = Layout::mark(u"Mark_%1"_s.arg(m.column), line, m.column, u"○"_s, scale.text.mid(m.from, m.length));
            mark.yesSpan = {m.from, m.length};
            put(mark);
        }
        m_y += kRow;
    }
}

void TodayCertificate::addSection(const certificates::Section &section)
{
    beginFrame();
    heading(section);
    const bool areas = std::count_if(section.fields.begin(), section.fields.end(), [](const Field &f) {
                           return f.kind == FieldKind::Level && !f.label.isEmpty();
                       }) > 1;
    if (areas) {
        abilities(section);
        endFrame();
        return;
    }
    QList<Piece> pending;
    int dateColumn = 0;
    const auto flush = [&] {
        if (dateColumn == 1)
            m_y += kRow;
        dateColumn = 0;
        flow(pending, 400);
        pending.clear();
    };
    for (const Field &f : section.fields) {
        if (!f.parent.isEmpty())
            continue;
        const int captionWidth = f.label.isEmpty() ? 0 : int(widthOf(f.label, kText)) + 120;
        if (f.kind == FieldKind::Diagnosis) {
            flush();
            const bool main = f.code == u"main"_s;
            label(kInset + 100, 2000, f.label, kText);
            fieldAt(kInset + 2100, 5400, main ? u"主病名"_s : u"従病名"_s, {}, 8);
            label(kInset + 7600, 900, u"ICDコード"_s, kText);
            fieldAt(kInset + 8500, width - 2 * kInset - 8500, main ? u"主ICD"_s : u"従ICD"_s, {}, 8);
            m_y += kRow;
        } else if (f.kind == FieldKind::Text && f.lines > 1) {
            flush();
            if (!f.label.isEmpty()) {
                label(kInset + 100, width - 2 * kInset - 100, f.label, kText);
                m_y += kRow;
            }
            textBox(columns::text(section.group, f.code), f.lines);
        } else if (f.kind == FieldKind::Text) {
            flush();
            label(kInset + 100, captionWidth, f.label, kText);
            fieldAt(kInset + 100 + captionWidth, width - 2 * kInset - 100 - captionWidth, columns::text(section.group, f.code));
            m_y += kRow;
        } else if (f.kind == FieldKind::Date) {
            // Dates stand two to a line.
            flow(pending, 400);
            pending.clear();
            const int left = dateColumn == 0 ? kInset + 100 : width / 2;
            label(left, captionWidth, f.label, kText);
            dateAt(left + captionWidth, 2600, columns::date(section.group, f.code));
            dateColumn = 1 - dateColumn;
            if (dateColumn == 0)
                m_y += kRow;
        } else {
            // Options too long for one line are set one after the other.
            const Piece piece = pieces(section.group, f, false).first();
            if (widthOf(piece.text, kText) > width - 2 * kInset) {
                if (!f.label.isEmpty())
                    pending.append({f.label, {}, {}});
                for (const certificates::Option &o : f.options) {
                    Piece option;
                    option.text = o.label;
                    option.mark(columns::option(section.group, f.code, o.code), markedWord(o.label));
                    if (o.takesText)
                        option.blankFor(columns::text(section.group, f.code), blanks(f));
                    pending.append(option);
                }
            } else {
                pending.append(piece);
            }
        }
    }
    flush();
    endFrame();
}

void TodayCertificate::addFooter(const QList<Field> &footer)
{
    m_y += 60;
    const int half = width / 2;
    int column = 0;
    for (const Field &f : footer) {
        const int left = column == 0 ? kInset : half;
        const int captionWidth = int(widthOf(f.label, kText)) + 120;
        const int room = (column == 0 ? half - kInset : width - kInset - half) - captionWidth - 100;
        label(left, captionWidth, f.label, kText);
        const int at = left + captionWidth;
        if (f.code == u"written"_s) {
            fieldAt(at, room, u"記載日"_s, kDateFormat, 8);
        } else if (f.code == u"physician"_s) {
            fieldAt(at, room, u"医師氏名"_s, {}, 10);
        } else {
            const QString name = f.code == u"institution"_s ? kInstitution.toString()
                : f.code == u"location"_s                   ? kLocation.toString()
                : f.code == u"telephone"_s                  ? kTelephone.toString()
                                                            : kDepartment.toString();
            Item item = Layout::label(name, QRect(at, m_y, room, kRow), QString());
            item.points = 8;
            put(item);
        }
        column = 1 - column;
        if (column == 0)
            m_y += kRow + 30;
    }
    if (column == 1)
        m_y += kRow + 30;
}

} // namespace report
