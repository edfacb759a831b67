#include "certificate/frmCertToday.h"
#include "ui_frmCertToday.h"

#include "app/navigation.h"
#include "certificate/certificatewindow.h"
#include "certificate/records/extension.h"
#include "certificate/records/formcatalog.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "toolkit/binding.h"
#include "toolkit/conflictbox.h"
#include "toolkit/errortrap.h"
#include "toolkit/format.h"
#include "toolkit/platform.h"
#include "toolkit/widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <utility>

using namespace Qt::StringLiterals;
using certificates::Certificate;
using certificates::Field;
using certificates::FieldKind;
using certificates::Item;
using certificates::Kind;

namespace {

const QString kConditions = u"conditions"_s;
constexpr int kPlaceholder = 1; // the code table's "-" row

// What a line of a box on the printed form holds; a box of several lines
// holds as many times that.  A field that hangs from another (the seizure's
// kind beside its check) shares its line with it.
constexpr int kLineLength = 40;
constexpr int kDependentLength = 20;

// The forms' data give each text the length its box on the sheet holds;
// the line lengths are for a field they leave without one.
int limitOf(const Field &field)
{
    if (field.maxLength > 0)
        return field.maxLength;
    if (field.lines > 1)
        return field.lines * kLineLength;
    return field.parent.isEmpty() ? kLineLength : kDependentLength;
}

// An item by its group and field; an empty one when the certificate has none.
Item itemOf(const Certificate &c, const QString &group, const QString &field)
{
    for (const Item &item : c.items)
        if (item.group == group && item.field == field)
            return item;
    return {group, field, {}, {}};
}

void putItem(Certificate &c, const Item &item)
{
    c.items.removeIf([&item](const Item &i) { return i.group == item.group && i.field == item.field; });
    if (!item.value.isEmpty() || !item.text.isEmpty())
        c.items.append(item);
}

// The text beside a check or an option ("その他（　）").
int otherLimit(const Field &field)
{
    return field.maxLength > 0 ? field.maxLength : certificate::kOtherLength;
}

// Empty is no date; anything else that is no date leaves `ok` false.
QDate readDate(const QString &text, bool &ok)
{
    const QString t = text.trimmed();
    ok = true;
    if (t.isEmpty())
        return {};
    for (const QString &format : {u"yyyy/M/d"_s, u"yyyy-M-d"_s}) {
        const QDate date = QDate::fromString(t, format);
        if (date.isValid())
            return date;
    }
    ok = false;
    return {};
}

void warn(const QString &text)
{
    toolkit::MessageBoxRequest box;
    box.text = text;
    box.icon = toolkit::MessageIcon::Exclamation;
    toolkit::platform().messageBox(box);
}

QString kindsText(const Certificate &c)
{
    QStringList names;
    for (Kind kind : c.kinds())
        names << certificates::kindName(kind);
    return names.join(u'・');
}

QString textOf(const QWidget *widget)
{
    if (const auto *line = qobject_cast<const QLineEdit *>(widget))
        return line->text();
    if (const auto *memo = qobject_cast<const QPlainTextEdit *>(widget))
        return memo->toPlainText();
    return {};
}

void setTextOf(QWidget *widget, const QString &text)
{
    if (auto *line = qobject_cast<QLineEdit *>(widget))
        line->setText(text);
    else if (auto *memo = qobject_cast<QPlainTextEdit *>(widget))
        memo->setPlainText(text);
}

QLineEdit *shortText(int limit)
{
    auto *line = new QLineEdit;
    line->setMaxLength(limit);
    toolkit::setImeMode(line, toolkit::ImeMode::On);
    return line;
}

} // namespace

frmCertToday::frmCertToday(QWidget *parent)
    : toolkit::Form(parent)
    , ui(std::make_unique<Ui::frmCertToday>())
{
    ui->setupUi(this);
    ui->txtPhysician->setMaxLength(certificate::kPhysicianLength);
    ui->hintIcd->setVisible(false);
    connect(ui->cmdSave, &QPushButton::clicked, this, [this] { save(); });
    connect(ui->cmdCorrect, &QPushButton::clicked, this, [this] { correct(); });
    connect(ui->cmdValidity, &QPushButton::clicked, this, [this] { saveValidity(); });
    connect(ui->cmdClose, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
    connect(ui->txtMedicalFrom, &QLineEdit::editingFinished, this,
            [this] { suggestEnd(ui->txtMedicalFrom, ui->txtMedicalTo, Kind::Medical); });
    connect(ui->txtHandbookFrom, &QLineEdit::editingFinished, this,
            [this] { suggestEnd(ui->txtHandbookFrom, ui->txtHandbookTo, Kind::Handbook); });
}

frmCertToday::~frmCertToday() = default;

void frmCertToday::onLoad()
{
    toolkit::MessageBoxRequest box;
    box.text = u"診断書を開けません。"_s;
    box.icon = toolkit::MessageIcon::Exclamation;
    // The window goes once its modal loop runs, leaving the list as it was.
    const auto leave = [this] { QTimer::singleShot(0, this, [this] { unload(); }); };
    toolkit::trap([this] { openData(); }, {{jet::err::NoCurrentRecord, box, leave, false, true},
                                           {jet::err::GeneralFailure, box, leave, false, true}});
}

jet::Connection &frmCertToday::trailConnection()
{
    return m_connection;
}

db::audit::Event frmCertToday::openingEvent() const
{
    db::audit::Event opened{db::audit::action::Opening.toString(), windowTitle(), {}, {}};
    if (m_certificate.chart != 0)
        opened.chart = m_certificate.chart;
    return opened;
}

void frmCertToday::openData()
{
    const QVariant handed = app::takeHanded(app::window::TodayCertificate);
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_book = std::make_unique<certificates::CertificateBook>(m_connection);
    if (handed.metaType() == QMetaType::fromType<Certificate>())
        m_certificate = handed.value<Certificate>();
    else if (handed.isValid())
        m_certificate = m_book->read(handed.toInt());
    else
        throw jet::Error(jet::err::NoCurrentRecord, u"開く診断書が選ばれていません。"_s);

    jet::Recordset list;
    list.openCommand(u"SELECT 診断ID, 診断名, ICDコード FROM `診断名(ICD10)` ORDER BY ICDコード"_s, &m_connection, {},
                     jet::CursorType::ForwardOnly);
    for (; !list.eof(); list.moveNext())
        m_diagnoses.append({list.value(0).toString(), list.value(1).toString(), list.value(2).toString()});
    jet::Recordset patient;
    patient.openCommand(u"SELECT 氏名 FROM 患者情報 WHERE カルテID = ?"_s, &m_connection, {m_certificate.chart},
                        jet::CursorType::ForwardOnly);
    ui->lblPatient->setText(patient.eof() ? QString() : patient.value(0).toString());

    build();
    show(m_certificate);
}

// Each form's sections in its order; a section the other form asks as well
// is entered once, with the fields only the second form asks added to it.
void frmCertToday::build()
{
    const certificates::FormCatalog &catalog = certificates::FormCatalog::instance();
    const Certificate &c = m_certificate;
    QHash<QString, QList<Kind>> askedBy;
    for (Kind kind : c.kinds())
        for (const certificates::Section &s : catalog.sections(c.edition, kind, c.variant))
            askedBy[s.group].append(kind);
    for (Kind kind : c.kinds()) {
        const certificates::Form *form = catalog.form(c.edition, kind);
        if (!form)
            throw jet::Error(jet::err::GeneralFailure, u"様式 %1 はこのプログラムにありません。"_s.arg(c.edition));
        for (const certificates::Section &s : catalog.sections(c.edition, kind, c.variant)) {
            const bool onlyThis = c.kinds().size() > 1 && askedBy.value(s.group).size() == 1;
            if (s.group == kConditions) {
                if (!findChild<QGroupBox *>(u"fra_"_s + kConditions))
                    addConditions(*form);
                continue;
            }
            addSection(s, onlyThis ? certificates::kindName(kind) : QString());
        }
    }
    ui->sectionsLayout->addStretch();
    certificate::styleHints(*this);
}

void frmCertToday::addSection(const certificates::Section &section, const QString &formName)
{
    auto *box = findChild<QGroupBox *>(u"fra_"_s + section.group);
    if (!box) {
        QString title = (section.number + u' ' + section.title).trimmed();
        if (!formName.isEmpty())
            title += u"（%1用）"_s.arg(formName);
        if (section.separateSheet)
            title += u"（別紙）"_s;
        box = new QGroupBox(title, ui->fraSections);
        box->setObjectName(u"fra_"_s + section.group);
        auto *grid = new QGridLayout(box);
        grid->setColumnStretch(1, 1);
        if (!section.hint.isEmpty()) {
            auto *hint = new QLabel(section.hint, box);
            hint->setObjectName(u"hint_"_s + section.group);
            hint->setWordWrap(true);
            grid->addWidget(hint, 0, 0, 1, 2);
        }
        ui->sectionsLayout->addWidget(box);
    }
    addFields(static_cast<QGridLayout *>(box->layout()), section.group, section.fields);
}

void frmCertToday::addConditions(const certificates::Form &form)
{
    const certificates::Section *section = nullptr;
    for (const certificates::Section &s : form.sections)
        if (s.group == kConditions)
            section = &s;
    // Numbered and worded as the form prints it, so that the physician finds
    // each block of the sheet under the same heading here.
    const QString title = section ? (section->number + u' ' + section->title).trimmed() : QString();
    auto *box = new QGroupBox(title, ui->fraSections);
    box->setObjectName(u"fra_"_s + kConditions);
    auto *layout = new QGridLayout(box);
    if (section && !section->hint.isEmpty()) {
        auto *hint = new QLabel(section->hint, box);
        hint->setObjectName(u"hint_"_s + kConditions);
        hint->setWordWrap(true);
        layout->addWidget(hint, 0, 0);
    }
    int index = 0;
    for (const certificates::ConditionGroup &group : form.conditions) {
        auto *frame = new QGroupBox(u"(%1) %2"_s.arg(group.number, group.title), box);
        frame->setObjectName(u"fra_"_s + group.code);
        auto *grid = new QGridLayout(frame);
        grid->setColumnStretch(1, 1);
        addFields(grid, group.code, group.items);
        layout->addWidget(frame, 1 + index, 0);
        ++index;
    }
    ui->sectionsLayout->addWidget(box);
}

void frmCertToday::addFields(QGridLayout *grid, const QString &group, const QList<Field> &fields)
{
    const bool lettered = group.startsWith(u'c') && group != kConditions;
    for (const Field &f : fields) {
        const bool present = std::any_of(m_controls.begin(), m_controls.end(), [&](const Control &control) {
            return control.group == group && control.field == f.code;
        });
        if (present || (f.kind == FieldKind::Diagnosis && ((f.code == u"main"_s && m_main) || (f.code != u"main"_s && m_second))))
            continue;
        const int row = grid->rowCount();
        QWidget *owner = grid->parentWidget();
        if (f.kind == FieldKind::Diagnosis) {
            addDiagnosis(grid, row, f);
            continue;
        }
        Control control;
        control.group = group;
        control.field = f.code;
        control.kind = f.kind;
        control.label = f.label;
        for (const certificates::Option &option : f.options)
            control.optionLabels.insert(option.code, option.label);
        QList<QWidget *> widgets;
        const QString label = lettered && f.parent.isEmpty() && f.kind == FieldKind::Check ? f.code + u' ' + f.label
                                                                                              : f.label;
        if (f.kind == FieldKind::Check) {
            control.check = new QCheckBox(label, owner);
            grid->addWidget(control.check, row, 0);
            widgets << control.check;
            if (f.takesText) {
                auto *line = shortText(otherLimit(f));
                grid->addWidget(line, row, 1);
                certificate::enableWithBox(control.check, {line});
                control.text = line;
                widgets << line;
            }
        } else {
            auto *name = new QLabel(label, owner);
            name->setWordWrap(true);
            grid->addWidget(name, row, 0, Qt::AlignTop);
            widgets << name;
            if (f.kind == FieldKind::Choice || f.kind == FieldKind::Level) {
                auto *choices = new QWidget(owner);
                // Options that would not fit beside each other stand one below the other.
                qsizetype width = 0;
                for (const certificates::Option &o : f.options)
                    width += o.label.size() + (o.takesText ? certificate::kOtherLength / 2 : 0);
                const bool long_ = width > 36;
                QBoxLayout *row_ = long_ ? static_cast<QBoxLayout *>(new QVBoxLayout(choices))
                                         : static_cast<QBoxLayout *>(new QHBoxLayout(choices));
                row_->setContentsMargins(0, 0, 0, 0);
                QList<QCheckBox *> boxes;
                for (const certificates::Option &option : f.options) {
                    // A sentence of an option wraps beside its box rather than
                    // running out of the window.
                    const bool sentence = option.label.size() > kLineLength / 2;
                    auto *box = new QCheckBox(sentence ? QString() : option.label, choices);
                    if (sentence) {
                        auto *line = new QHBoxLayout;
                        auto *text = new QLabel(option.label, choices);
                        text->setObjectName(u"Label_%1_%2_%3"_s.arg(group, f.code, option.code));
                        text->setWordWrap(true);
                        toolkit::onLabelClicked(text, [box] { box->click(); });
                        line->addWidget(box, 0, Qt::AlignTop);
                        line->addWidget(text, 1);
                        row_->addLayout(line);
                    } else {
                        row_->addWidget(box);
                    }
                    boxes << box;
                    control.options.append({option.code, box});
                    if (option.takesText) {
                        auto *line = shortText(otherLimit(f));
                        row_->addWidget(line);
                        certificate::enableWithBox(box, {line});
                        control.optionTexts.append({option.code, line});
                    }
                }
                // "有（　級）": the choice's own text beside its options.
                if (f.takesText) {
                    auto *line = shortText(otherLimit(f));
                    row_->addWidget(line);
                    control.text = line;
                }
                if (!long_)
                    row_->addStretch();
                toolkit::makeChoiceOfOne(boxes);
                grid->addWidget(choices, row, 1);
                widgets << choices;
            } else if (f.kind == FieldKind::Date) {
                auto *line = new QLineEdit(owner);
                line->setMaxLength(10);
                line->setPlaceholderText(u"yyyy/mm/dd"_s);
                toolkit::setImeMode(line, toolkit::ImeMode::Disable);
                grid->addWidget(line, row, 1);
                control.text = line;
                widgets << line;
            } else if (f.lines > 1) {
                auto *memo = new QPlainTextEdit(owner);
                toolkit::setMaxLength(memo, limitOf(f));
                toolkit::setImeMode(memo, toolkit::ImeMode::On);
                memo->setFixedHeight(memo->fontMetrics().lineSpacing() * (f.lines + 1) + 8);
                grid->addWidget(memo, row, 1);
                control.text = memo;
                widgets << memo;
            } else {
                auto *line = shortText(limitOf(f));
                grid->addWidget(line, row, 1);
                control.text = line;
                widgets << line;
            }
        }
        for (QWidget *widget : widgets)
            widget->setObjectName(u"%1_%2_%3"_s.arg(widget->metaObject()->className() + 1, group, f.code));
        // A field that hangs from a check (the seizure's kind, the learning
        // difficulty's areas) is filled in only while the check is on.
        if (!f.parent.isEmpty()) {
            for (const Control &parent : m_controls)
                if (parent.group == group && parent.field == f.parent && parent.check)
                    certificate::enableWithBox(parent.check, widgets);
        }
        m_controls.append(control);
    }
}

void frmCertToday::addDiagnosis(QGridLayout *grid, int row, const Field &field)
{
    auto *name = new QLabel(field.label, grid->parentWidget());
    auto *combo = new QComboBox(grid->parentWidget());
    combo->setObjectName(field.code == u"main"_s ? u"cboMainDiagnosis"_s : u"cboSecondDiagnosis"_s);
    // The longest name of the code table would otherwise widen the window.
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(24);
    for (const QStringList &d : m_diagnoses)
        combo->addItem(d.at(0).toInt() == kPlaceholder ? u"- -"_s : d.at(2) + u' ' + d.at(1), d.at(0).toInt());
    grid->addWidget(name, row, 0);
    grid->addWidget(combo, row, 1);
    (field.code == u"main"_s ? m_main : m_second) = combo;
    connect(combo, &QComboBox::currentIndexChanged, this, [this] { showRange(); });
}

void frmCertToday::show(const Certificate &c)
{
    const bool draft = c.status == certificates::Status::Draft;
    const QString name = ui->lblPatient->text();
    setWindowTitle(name + u" - "_s + kindsText(c) + u"の診断書"_s);
    QString kinds = kindsText(c);
    if (const certificates::Variant *v = certificates::FormCatalog::instance().variant(c.variant);
        v && c.variant != certificates::kDefaultVariant)
        kinds += u"（%1の様式）"_s.arg(v->prefecture);
    ui->lblKinds->setText(kinds);
    ui->lblStatus->setText(
        (draft ? u"下書き"_s : u"発行済み（%1）"_s.arg(toolkit::formatDate(c.issued, {}))) + u"　第%1版"_s.arg(c.version));
    ui->txtWritten->setText(toolkit::formatDate(c.written, {}));
    ui->txtPhysician->setText(c.physicianName);
    for (QComboBox *combo : {m_main, m_second}) {
        if (!combo)
            continue;
        const int id = combo == m_main ? c.mainDiagnosis : c.secondDiagnosis;
        combo->setCurrentIndex(std::max(0, combo->findData(id)));
    }

    for (const Control &control : m_controls) {
        const Item *stored = nullptr;
        for (const Item &item : c.items)
            if (item.group == control.group && item.field == control.field)
                stored = &item;
        const QString value = stored ? stored->value : QString();
        const QString text = stored ? stored->text : QString();
        if (control.check)
            control.check->setChecked(value == u"1"_s);
        for (const auto &[code, box] : control.options)
            box->setChecked(code == value);
        for (const auto &[code, line] : control.optionTexts)
            line->setText(code == value ? text : QString());
        if (control.text)
            setTextOf(control.text, control.kind == FieldKind::Date
                                        ? toolkit::formatDate(QDate::fromString(value, Qt::ISODate), {})
                                        : text);
    }

    ui->fraSections->setEnabled(draft);
    ui->txtWritten->setReadOnly(!draft);
    ui->txtPhysician->setReadOnly(!draft);
    ui->cmdSave->setVisible(draft);
    ui->cmdCorrect->setVisible(!draft);
    ui->fraValidity->setVisible(!draft);
    ui->lblMedicalValidity->setVisible(c.medical);
    ui->txtMedicalFrom->setVisible(c.medical);
    ui->txtMedicalTo->setVisible(c.medical);
    ui->Label6->setVisible(c.medical);
    ui->lblHandbookValidity->setVisible(c.handbook);
    ui->txtHandbookFrom->setVisible(c.handbook);
    ui->txtHandbookTo->setVisible(c.handbook);
    ui->Label7->setVisible(c.handbook);
    ui->txtMedicalFrom->setText(toolkit::formatDate(c.medicalValidity.from, {}));
    ui->txtMedicalTo->setText(toolkit::formatDate(c.medicalValidity.to, {}));
    ui->txtHandbookFrom->setText(toolkit::formatDate(c.handbookValidity.from, {}));
    ui->txtHandbookTo->setText(toolkit::formatDate(c.handbookValidity.to, {}));
    showRange();
}

QList<Item> frmCertToday::items() const
{
    QList<Item> list;
    for (const Control &control : m_controls) {
        Item item{control.group, control.field, {}, {}};
        if (control.check && control.check->isChecked())
            item.value = u"1"_s;
        for (const auto &[code, box] : control.options)
            if (box->isChecked())
                item.value = code;
        for (const auto &[code, line] : control.optionTexts)
            if (code == item.value)
                item.text = line->text();
        if (control.kind == FieldKind::Date) {
            bool ok = false;
            const QDate date = readDate(textOf(control.text), ok);
            // What cannot be read is kept as typed, for the book to refuse by name.
            item.value = ok ? (date.isValid() ? date.toString(Qt::ISODate) : QString()) : textOf(control.text);
        } else if (control.text) {
            item.text = textOf(control.text);
        }
        if (!item.value.isEmpty() || !item.text.isEmpty())
            list.append(item);
    }
    // What this window has no field for stays as it was stored.
    for (const Item &item : m_certificate.items) {
        const bool shown = std::any_of(m_controls.begin(), m_controls.end(), [&](const Control &control) {
            return control.group == item.group && control.field == item.field;
        });
        if (!shown)
            list.append(item);
    }
    return list;
}

void frmCertToday::pickDiagnoses(Certificate &c) const
{
    const auto pick = [this](QComboBox *combo, int &id, QString &name, QString &icd) {
        if (!combo)
            return;
        id = combo->currentData().toInt();
        for (const QStringList &d : m_diagnoses)
            if (d.at(0).toInt() == id) {
                name = id == kPlaceholder ? QString() : d.at(1);
                icd = id == kPlaceholder ? QString() : d.at(2);
            }
    };
    pick(m_main, c.mainDiagnosis, c.mainName, c.mainIcd);
    pick(m_second, c.secondDiagnosis, c.secondName, c.secondIcd);
}

bool frmCertToday::fromControls(Certificate &c) const
{
    c = m_certificate;
    bool ok = false;
    c.written = readDate(ui->txtWritten->text(), ok);
    if (!ok)
        return false;
    c.physicianName = ui->txtPhysician->text();
    pickDiagnoses(c);
    c.items = items();
    return true;
}

// A draft is saved when it differs from what is stored, and a new one when
// it differs from what it opened with: an empty one, or a copy of the last
// certificate, closed untouched leaves no draft behind.
bool frmCertToday::changed() const
{
    if (m_certificate.status != certificates::Status::Draft)
        return false;
    Certificate now;
    if (!fromControls(now))
        return true;
    // Another workstation's items taken in stand in another order.
    const bool written =
        !std::is_permutation(now.items.cbegin(), now.items.cend(), m_certificate.items.cbegin(), m_certificate.items.cend())
        || now.written != m_certificate.written || now.physicianName != m_certificate.physicianName;
    // A new draft's diagnoses are the patient's: they alone keep no draft.
    if (m_certificate.id == 0)
        return written;
    return written || now.mainDiagnosis != m_certificate.mainDiagnosis || now.secondDiagnosis != m_certificate.secondDiagnosis;
}

QString frmCertToday::shown(const Item &item) const
{
    for (const Control &control : m_controls) {
        if (control.group != item.group || control.field != item.field)
            continue;
        QString value = control.optionLabels.value(item.value, item.value);
        if (control.check && item.value == u"1"_s)
            value = u"あり"_s;
        if (!item.text.isEmpty())
            value = value.isEmpty() ? item.text : u"%1（%2）"_s.arg(value, item.text);
        return value;
    }
    return item.value + item.text;
}

bool frmCertToday::settleWithStored(Certificate &mine)
{
    if (m_certificate.id == 0)
        return true;
    Certificate theirs;
    try {
        theirs = m_book->read(m_certificate.id);
    } catch (const jet::Error &e) {
        // A certificate gone is refused by the save, which names it.
        if (e.number() == jet::err::NoCurrentRecord)
            return true;
        throw;
    }
    const Certificate &read = m_certificate;
    // Each part of a certificate: its caption, its value as shown, and how
    // another's value of it is taken into this one.
    struct Part
    {
        QString caption;
        std::function<QString(const Certificate &)> text;
        std::function<void(Certificate &, const Certificate &)> take;
    };
    QList<Part> parts{
        {u"記載日"_s, [](const Certificate &c) { return toolkit::formatDate(c.written, {}); },
         [](Certificate &to, const Certificate &from) { to.written = from.written; }},
        {u"医師氏名"_s, [](const Certificate &c) { return c.physicianName; },
         [](Certificate &to, const Certificate &from) { to.physicianName = from.physicianName; }},
        {u"主たる精神障害"_s,
         [](const Certificate &c) { return c.mainDiagnosis == kPlaceholder ? QString() : c.mainIcd + u' ' + c.mainName; },
         [](Certificate &to, const Certificate &from) {
             to.mainDiagnosis = from.mainDiagnosis;
             to.mainName = from.mainName;
             to.mainIcd = from.mainIcd;
         }},
        {u"従たる精神障害"_s,
         [](const Certificate &c) { return c.secondDiagnosis == kPlaceholder ? QString() : c.secondIcd + u' ' + c.secondName; },
         [](Certificate &to, const Certificate &from) {
             to.secondDiagnosis = from.secondDiagnosis;
             to.secondName = from.secondName;
             to.secondIcd = from.secondIcd;
         }},
    };
    QList<QPair<QString, QString>> keys;
    for (const Certificate *c : {&read, &std::as_const(mine), &std::as_const(theirs)})
        for (const Item &item : c->items)
            if (!keys.contains(qMakePair(item.group, item.field)))
                keys.append({item.group, item.field});
    for (const auto &[group, field] : keys) {
        QString caption = field;
        for (const Control &control : m_controls)
            if (control.group == group && control.field == field)
                caption = control.label;
        parts.append({caption, [this, group, field](const Certificate &c) { return shown(itemOf(c, group, field)); },
                      [group, field](Certificate &to, const Certificate &from) { putItem(to, itemOf(from, group, field)); }});
    }
    QList<toolkit::ChangedField> fields;
    QList<const Part *> clashes;
    for (const Part &part : parts) {
        const QString before = part.text(read), here = part.text(mine), there = part.text(theirs);
        if (there == before || there == here)
            continue;
        if (here == before) {
            part.take(mine, theirs);
            continue;
        }
        clashes.append(&part);
        fields.append({part.caption, there, here});
    }
    if (fields.isEmpty())
        return true;
    switch (toolkit::askAboutChangedFields(fields)) {
    case toolkit::ConflictChoice::KeepMine:
        return true;
    case toolkit::ConflictChoice::TakeTheirs:
        for (const Part *part : clashes)
            part->take(mine, theirs);
        return true;
    case toolkit::ConflictChoice::Back:
        break;
    }
    return false;
}

bool frmCertToday::save()
{
    if (m_certificate.status != certificates::Status::Draft)
        return true;
    Certificate c;
    if (!fromControls(c)) {
        warn(u"記載日は 2026/12/10 のように入力してください。"_s);
        return false;
    }
    bool saved = false;
    toolkit::trap(
        [&] {
            if (!settleWithStored(c))
                return;
            m_book->save(c);
            saved = true;
        },
        certificate::bookRefusals(u"診断書を保存できません。"_s));
    if (saved) {
        m_certificate = c;
        show(m_certificate);
    }
    return saved;
}

void frmCertToday::correct()
{
    toolkit::trap(
        [this] {
            m_certificate = m_book->correct(m_certificate.id, toolkit::platform().now().date());
            show(m_certificate);
        },
        certificate::bookRefusals(u"訂正版を作成できません。"_s));
}

void frmCertToday::saveValidity()
{
    bool ok[4] = {};
    const certificates::Validity medical{readDate(ui->txtMedicalFrom->text(), ok[0]),
                                         readDate(ui->txtMedicalTo->text(), ok[1])};
    const certificates::Validity handbook{readDate(ui->txtHandbookFrom->text(), ok[2]),
                                          readDate(ui->txtHandbookTo->text(), ok[3])};
    if (!(ok[0] && ok[1] && ok[2] && ok[3])) {
        warn(u"有効期間は 2026/12/10 のように入力してください。"_s);
        return;
    }
    toolkit::trap(
        [&] {
            if (m_certificate.medical)
                m_book->setValidity(m_certificate.id, Kind::Medical, medical);
            if (m_certificate.handbook)
                m_book->setValidity(m_certificate.id, Kind::Handbook, handbook);
            m_certificate = m_book->read(m_certificate.id);
            show(m_certificate);
        },
        certificate::bookRefusals(u"有効期間を保存できません。"_s));
}

void frmCertToday::suggestEnd(QLineEdit *from, QLineEdit *to, Kind kind)
{
    bool ok = false;
    const QDate start = readDate(from->text(), ok);
    if (!ok || !start.isValid() || !to->text().trimmed().isEmpty())
        return;
    to->setText(toolkit::formatDate(
        certificates::FormCatalog::instance().suggestedValidityEnd(m_certificate.edition, kind, start), {}));
}

void frmCertToday::showRange()
{
    Certificate c = m_certificate;
    pickDiagnoses(c);
    QStringList messages;
    for (const certificates::DiagnosisOutside &outside : certificates::outsideMedicalRange(c))
        messages << outside.message();
    ui->hintIcd->setText(messages.join(u'\n'));
    ui->hintIcd->setVisible(!messages.isEmpty());
}

// A certificate another workstation deleted cannot be saved; the user who
// has copied what is needed may let the window go without saving.
bool frmCertToday::letGoOfDeleted()
{
    if (m_certificate.id == 0)
        return false;
    try {
        m_book->read(m_certificate.id);
        return false;
    } catch (const jet::Error &e) {
        if (e.number() != jet::err::NoCurrentRecord)
            throw;
    }
    return toolkit::platform().messageBox({.text = u"この診断書は、画面を開いている間にほかの端末で削除されています。\r"
                                                   u"入力した内容は画面に残っています。必要な内容は書き写してください。\r\r"
                                                   u"保存せずに画面を閉じますか？"_s,
                                           .icon = toolkit::MessageIcon::Exclamation,
                                           .buttons = toolkit::MessageButtons::YesNo,
                                           .defaultButton = 2})
        == toolkit::MessageResult::Yes;
}

void frmCertToday::onUnload(bool &cancel)
{
    if (m_book && !toolkit::discardingEdits() && changed() && !save() && !toolkit::programHasEnded()) {
        bool letGo = false;
        toolkit::trap([this, &letGo] { letGo = letGoOfDeleted(); });
        if (!letGo) {
            cancel = true;
            return;
        }
    }
    m_book.reset();
    m_connection.close();
}
