#include "toolkit/binding.h"

#include "db/engine/error.h"
#include "toolkit/conflictbox.h"
#include "toolkit/errortrap.h"
#include "toolkit/format.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>

#include <exception>
#include <optional>

namespace toolkit {

namespace {

bool isNull(const QVariant &value)
{
    return !value.isValid() || value.isNull();
}

bool isNumberType(jet::DataType type)
{
    return type == jet::DataType::Long || type == jet::DataType::Integer || type == jet::DataType::Double
        || type == jet::DataType::YesNo;
}

[[noreturn]] void refuse(const QString &column, const QString &text)
{
    throw jet::Error(jet::err::UpdateCancelled,
                     QStringLiteral("フィールド '%1' に '%2' を書き込めません。").arg(column, text));
}

QString displayText(const QVariant &value, const QString &format)
{
    if (!format.isEmpty())
        return formatValue(value, format);
    if (isNull(value))
        return QString();
    const int type = value.metaType().id();
    if (type == QMetaType::QDateTime)
        return formatDate(value.toDateTime(), QString());
    if (type == QMetaType::QDate)
        return formatDate(value.toDate(), QString());
    return value.toString();
}

// The value a text box writes into a column of the field's type.
QVariant valueFromText(const QString &text, const jet::FieldMeta &field)
{
    if (!field.typeKnown)
        return text.isEmpty() ? QVariant() : QVariant(text);
    if (field.type == jet::DataType::Date)
        return dateFromText(text);
    if (isNumberType(field.type)) {
        // Group separators come back from a number display format.
        const QString plain = QString(text).remove(QLatin1Char(',')).trimmed();
        if (plain.isEmpty())
            return QVariant();
        bool ok = false;
        const double number = QLocale::c().toDouble(plain, &ok);
        if (!ok)
            refuse(field.name, text);
        return number;
    }
    return text.isEmpty() ? QVariant() : QVariant(text);
}

// A value the column cannot hold is the bound control's refusal, not a
// failure of the criterion that the engine's conversion error stands for.
void store(jet::Recordset &recordset, int field, const QVariant &value)
{
    try {
        recordset.setValue(field, value);
    } catch (const jet::Error &e) {
        if (e.number() != jet::err::ConversionFailed)
            throw;
        throw jet::Error(jet::err::UpdateCancelled, e.description());
    }
}

} // namespace

struct RecordBinding::Binding
{
    enum class Kind { LineEdit, PlainText, Check, Combo, Label };

    Kind kind = Kind::Label;
    QPointer<QWidget> widget;
    QPointer<DataCombo> combo;
    QString column;
    QString format;
    bool edited = false;
    bool refused = false; // the last commit could not store its text
};

RecordBinding::RecordBinding(QObject *parent)
    : QObject(parent)
{
}

RecordBinding::~RecordBinding()
{
    if (m_recordset)
        m_recordset->removeRowEditor(this);
}

void RecordBinding::setRecordset(jet::Recordset *recordset)
{
    if (m_recordset == recordset)
        return;
    if (m_recordset) {
        m_recordset->removeRowEditor(this);
        disconnect(m_recordset, nullptr, this, nullptr);
    }
    m_recordset = recordset;
    if (recordset) {
        recordset->addRowEditor(this);
        connect(recordset, &jet::Recordset::currentChanged, this, &RecordBinding::refresh);
        connect(recordset, &jet::Recordset::rowsReset, this, &RecordBinding::refresh);
        connect(recordset, &jet::Recordset::rowChanged, this, &RecordBinding::onRowChanged);
    }
    refresh();
}

jet::Recordset *RecordBinding::recordset() const
{
    return m_recordset;
}

RecordBinding::Binding &RecordBinding::add(QWidget *widget, const QString &column)
{
    if (!m_recordset || !m_recordset->isOpen())
        throw jet::Error(jet::err::ObjectClosed,
                         QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    if (m_recordset->fieldIndex(column) < 0)
        throw jet::Error(jet::err::BindingColumnMissing,
                         QStringLiteral("フィールドまたはデータメンバーにバインドできません: '%1'").arg(column));
    forget(widget);
    disconnect(widget, nullptr, this, nullptr);
    auto binding = std::make_unique<Binding>();
    binding->widget = widget;
    binding->column = column;
    m_bindings.push_back(std::move(binding));
    connect(widget, &QObject::destroyed, this, &RecordBinding::forget);
    if (m_readOnly)
        lock(widget);
    return *m_bindings.back();
}

void RecordBinding::makeReadOnly()
{
    m_readOnly = true;
    for (const auto &binding : m_bindings) {
        binding->edited = false;
        if (binding->widget)
            lock(binding->widget);
    }
}

// A text stays readable, and can be selected and copied; a switch or a list
// cannot be changed.  The window's own code may enable them again: what
// they show is then never written.
void RecordBinding::lock(QWidget *widget)
{
    if (auto *box = qobject_cast<QLineEdit *>(widget))
        box->setReadOnly(true);
    else if (auto *memo = qobject_cast<QPlainTextEdit *>(widget))
        memo->setReadOnly(true);
    else if (qobject_cast<QCheckBox *>(widget) || qobject_cast<QComboBox *>(widget))
        widget->setEnabled(false);
}

int RecordBinding::columnSize(const QString &column) const
{
    const jet::FieldMeta &field = m_recordset->field(m_recordset->fieldIndex(column));
    const bool text = field.type == jet::DataType::Text || field.type == jet::DataType::FixedText;
    return field.typeKnown && text ? field.definedSize : 0;
}

void RecordBinding::bindText(QLineEdit *box, const QString &column, const QString &displayFormat)
{
    Binding &binding = add(box, column);
    binding.kind = Binding::Kind::LineEdit;
    binding.format = displayFormat;
    if (const int size = columnSize(column); size > 0 && size < box->maxLength())
        box->setMaxLength(size);
    connect(box, &QLineEdit::textChanged, this, [this, box] { markEdited(box); });
    show(binding);
}

void RecordBinding::bindText(QPlainTextEdit *box, const QString &column)
{
    Binding &binding = add(box, column);
    binding.kind = Binding::Kind::PlainText;
    if (const int size = columnSize(column); size > 0 && (maxLength(box) == 0 || size < maxLength(box)))
        setMaxLength(box, size);
    connect(box, &QPlainTextEdit::textChanged, this, [this, box] { markEdited(box); });
    show(binding);
}

void RecordBinding::bindCheck(QCheckBox *box, const QString &column)
{
    Binding &binding = add(box, column);
    binding.kind = Binding::Kind::Check;
    connect(box, &QCheckBox::toggled, this, [this, box] { markEdited(box); });
    show(binding);
}

void RecordBinding::bindCombo(DataCombo *combo, const QString &column)
{
    Binding &binding = add(combo->box(), column);
    binding.kind = Binding::Kind::Combo;
    binding.combo = combo;
    QComboBox *box = combo->box();
    disconnect(combo, nullptr, this, nullptr);
    connect(combo, &DataCombo::changed, this, [this, box] { markEdited(box); });
    show(binding);
}

void RecordBinding::bindLabel(QLabel *label, const QString &column, const QString &displayFormat)
{
    Binding &binding = add(label, column);
    binding.kind = Binding::Kind::Label;
    binding.format = displayFormat;
    show(binding);
}

bool RecordBinding::hasCurrentRow() const
{
    if (!m_recordset || !m_recordset->isOpen())
        return false;
    if (m_recordset->editMode() == jet::EditMode::Add)
        return true;
    return !m_recordset->bof() && !m_recordset->eof();
}

void RecordBinding::refresh()
{
    // By index: a toggled handler run by showing may bind further widgets.
    for (size_t i = 0; i < m_bindings.size(); ++i)
        show(*m_bindings[i]);
}

const RecordBinding::Binding *RecordBinding::bindingOf(const QString &column) const
{
    if (!m_recordset || !m_recordset->isOpen())
        return nullptr;
    const int field = m_recordset->fieldIndex(column);
    for (const auto &binding : m_bindings)
        if (binding->widget && binding->kind != Binding::Kind::Label && m_recordset->fieldIndex(binding->column) == field)
            return binding.get();
    return nullptr;
}

QString RecordBinding::shownText(const QString &column, const QVariant &value) const
{
    const Binding *binding = bindingOf(column);
    if (!binding)
        return displayText(value, QString());
    switch (binding->kind) {
    case Binding::Kind::Check:
        return !isNull(value) && value.toDouble() != 0 ? QStringLiteral("チェックあり") : QStringLiteral("チェックなし");
    case Binding::Kind::Combo:
        return binding->combo ? binding->combo->textOf(value) : displayText(value, QString());
    case Binding::Kind::PlainText:
        return isNull(value) ? QString() : value.toString();
    default:
        return displayText(value, binding->format);
    }
}

QString RecordBinding::caption(const QString &column) const
{
    const Binding *binding = bindingOf(column);
    if (binding) {
        if (auto *box = qobject_cast<QCheckBox *>(binding->widget.data()); box && !box->text().isEmpty())
            return box->text().remove(QLatin1Char('&'));
        for (const QLabel *label : binding->widget->window()->findChildren<QLabel *>())
            if (label->buddy() == binding->widget && !label->text().isEmpty())
                return label->text().remove(QLatin1Char('&'));
    }
    return column;
}

void RecordBinding::onRowChanged(int row)
{
    if (m_recordset && m_recordset->isOpen() && row == m_recordset->currentRow())
        refresh();
}

void RecordBinding::show(Binding &binding)
{
    QWidget *widget = binding.widget;
    if (!widget)
        return;
    QVariant value;
    if (hasCurrentRow()) {
        const int field = m_recordset->fieldIndex(binding.column);
        if (field >= 0)
            value = m_recordset->value(field);
    }
    // Only the widget being shown is exempt from edit tracking, so that a
    // toggled handler that changes another bound widget still counts as an edit.
    QWidget *const outer = m_shownWidget;
    m_shownWidget = widget;
    switch (binding.kind) {
    case Binding::Kind::LineEdit: {
        auto *box = static_cast<QLineEdit *>(widget);
        box->setText(displayText(value, binding.format));
        box->setCursorPosition(0);
        break;
    }
    case Binding::Kind::PlainText:
        static_cast<QPlainTextEdit *>(widget)->setPlainText(isNull(value) ? QString() : value.toString());
        break;
    case Binding::Kind::Check: {
        auto *box = static_cast<QCheckBox *>(widget);
        const bool checked = !isNull(value) && value.toDouble() != 0;
        if (box->isChecked() != checked)
            box->setChecked(checked);
        break;
    }
    case Binding::Kind::Combo:
        if (binding.combo)
            binding.combo->setBoundValue(value);
        break;
    case Binding::Kind::Label:
        static_cast<QLabel *>(widget)->setText(displayText(value, binding.format));
        break;
    }
    m_shownWidget = outer;
    binding.edited = false;
    emit valueShown(widget);
}

void RecordBinding::markEdited(QWidget *widget)
{
    if (widget == m_shownWidget || m_readOnly)
        return;
    for (const auto &binding : m_bindings) {
        if (binding->widget == widget)
            binding->edited = true;
    }
}

bool RecordBinding::hasEdits() const
{
    for (const auto &binding : m_bindings) {
        if (binding->edited && binding->widget)
            return true;
    }
    return false;
}

void RecordBinding::commitEdits()
{
    // Every storable edit reaches the row even when another is refused, so
    // that a window which answers the refusal can still store the rest.
    if (m_readOnly)
        return;
    std::optional<jet::Error> refusal;
    for (size_t i = 0; i < m_bindings.size(); ++i) {
        Binding &binding = *m_bindings[i];
        if (!binding.edited || !binding.widget || (m_refusedLeftOut && binding.refused))
            continue;
        try {
            write(binding);
        } catch (const jet::Error &e) {
            if (e.number() != jet::err::UpdateCancelled)
                throw;
            binding.refused = true;
            if (!refusal)
                refusal = e;
        }
    }
    if (refusal)
        throw *refusal;
}

QStringList RecordBinding::refusedColumns() const
{
    QStringList columns;
    for (const auto &binding : m_bindings) {
        if (binding->refused)
            columns.append(binding->column);
    }
    return columns;
}

void RecordBinding::revertRefused()
{
    for (size_t i = 0; i < m_bindings.size(); ++i) {
        Binding &binding = *m_bindings[i];
        if (!binding.refused)
            continue;
        binding.refused = false;
        show(binding);
    }
}

void RecordBinding::write(Binding &binding)
{
    if (!m_recordset)
        throw jet::Error(jet::err::ObjectClosed,
                         QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    const int field = m_recordset->fieldIndex(binding.column);
    if (field < 0)
        throw jet::Error(jet::err::BindingColumnMissing,
                         QStringLiteral("フィールドまたはデータメンバーにバインドできません: '%1'").arg(binding.column));
    const jet::FieldMeta &meta = m_recordset->field(field);
    QVariant value;
    switch (binding.kind) {
    case Binding::Kind::LineEdit:
        value = valueFromText(static_cast<QLineEdit *>(binding.widget.data())->text(), meta);
        break;
    case Binding::Kind::PlainText:
        value = valueFromText(static_cast<QPlainTextEdit *>(binding.widget.data())->toPlainText(), meta);
        break;
    case Binding::Kind::Check:
        value = static_cast<QCheckBox *>(binding.widget.data())->isChecked() ? -1 : 0;
        break;
    case Binding::Kind::Combo:
        if (!binding.combo)
            return;
        if (!binding.combo->textIsStorable())
            refuse(meta.name, binding.combo->box()->currentText());
        value = binding.combo->boundValue();
        break;
    case Binding::Kind::Label:
        return;
    }
    store(*m_recordset, field, value);
    binding.edited = false;
}

void RecordBinding::forget(QObject *widget)
{
    std::erase_if(m_bindings, [widget](const std::unique_ptr<Binding> &binding) {
        return !binding->widget || binding->widget.data() == widget;
    });
}

bool saveBoundRow(RecordBinding &binding, const QString &refusalWarning, bool nameRefused, SaveMoment moment)
{
    return saveBoundRow(binding, [&refusalWarning](const QStringList &) { return refusalWarning; }, nameRefused, moment);
}

namespace {

QList<ChangedField> changedFields(const RecordBinding &binding)
{
    const jet::Recordset &row = *binding.recordset();
    QList<ChangedField> fields;
    for (const jet::FieldConflict &conflict : row.conflicts()) {
        const QString column = row.field(conflict.field).name;
        fields.append({binding.caption(column), binding.shownText(column, conflict.stored),
                       binding.shownText(column, conflict.pending)});
    }
    return fields;
}

} // namespace

bool saveBoundRow(RecordBinding &binding, const std::function<QString(const QStringList &)> &refusalWarning,
                  bool nameRefused, SaveMoment moment)
{
    jet::Recordset *row = binding.recordset();
    bool written = true;
    const auto kept = [&written](qint32 number, const QString &text) {
        return ErrorAnswer{number, {.text = text, .icon = MessageIcon::Exclamation}, [&written] { written = false; }, false, true};
    };
    const QString retry = QStringLiteral("データを保存できませんでした。\r"
                                         "入力した内容は画面に残っています。原因を取り除いてから、もう一度保存してください。");
    // The refusal's box is worded once the refused columns are known.  A
    // damaged file fails the save like any other cause, so that what the user
    // typed stays on the screen; a later read ends the program with the box
    // that names the file.
    ErrorTable answers{{jet::err::UpdateCancelled,
                        {.text = refusalWarning({}), .icon = MessageIcon::Exclamation},
                        [&binding] { binding.revertRefused(); },
                        false,
                        nameRefused},
                       kept(jet::err::GeneralFailure, retry),
                       kept(jet::err::DatabaseDamaged, retry)};
    // Another workstation's edits are answered here, beside the lost
    // server's, and never end the program: a change of the same fields is
    // put to the user, who may then store again; a deleted row cannot be
    // stored at all, and closing the window is the only way on.
    bool again = false;
    bool letGo = false;
    answers.append({jet::err::DataChanged, {}, [&] {
                        again = settleChangedFields(*row, changedFields(binding));
                        written = again;
                    },
                    false});
    const QString deleted = QStringLiteral("データを保存できませんでした。\r"
                                           "この画面のデータは、画面を開いている間にほかの端末で削除されています。\r"
                                           "入力した内容は画面に残っています。必要な内容は書き写してください。");
    if (moment == SaveMoment::Saving)
        answers.append({jet::err::RecordDeleted,
                        {.text = deleted + QStringLiteral("\rその後、保存せずに画面を閉じることができます。"),
                         .icon = MessageIcon::Exclamation},
                        [&written] { written = false; },
                        false});
    else
        answers.append({jet::err::RecordDeleted, {}, [&] {
                            const MessageResult answer =
                                platform().messageBox({.text = deleted + QStringLiteral("\r\r保存せずに画面を閉じますか？"),
                                                       .icon = MessageIcon::Exclamation,
                                                       .buttons = MessageButtons::YesNo,
                                                       .defaultButton = 2});
                            letGo = answer == MessageResult::Yes;
                            written = false;
                        },
                        false});
    // The server out of reach: the next save, or closing, stores the edits
    // over a new connection once it is back, and the program goes on.
    ErrorAnswer unreachable = kept(0, QStringLiteral("データベースのサーバーに接続できないため、保存できませんでした。\r"
                                                     "入力した内容は画面に残っています。"
                                                     "サーバーが使えるようになってから、もう一度保存してください。"));
    unreachable.cause = jet::Cause::ConnectionLost;
    answers.append(unreachable);
    // The file held by another workstation's save for longer than the
    // engine waits: the next save, or closing, tries again.
    ErrorAnswer locked = lockedAnswer(QStringLiteral("ほかの端末がデータベースを使用しているため、保存できませんでした。\r"
                                                     "入力した内容は画面に残っています。しばらくしてから、もう一度保存してください。"));
    locked.then = [&written] { written = false; };
    answers.append(locked);
    // A write the account may not make (a right taken away while the window
    // was open): saving keeps the edits on the screen; closing may let them go.
    ErrorAnswer notAllowed = kept(0, QStringLiteral("データを保存できませんでした。入力した内容は画面に残っています。"));
    if (moment == SaveMoment::Closing)
        notAllowed.then = [&] {
            letGo = platform().messageBox({.text = QStringLiteral("保存せずに画面を閉じますか？"),
                                           .icon = MessageIcon::Question,
                                           .buttons = MessageButtons::YesNo,
                                           .defaultButton = 2})
                == MessageResult::Yes;
            written = false;
        };
    notAllowed.cause = jet::Cause::Permission;
    answers.append(notAllowed);
    // The edits go to the row; a refusal is answered once the row is written,
    // since only then is it true that everything else the user typed is
    // stored.  Its last line names what was left out.
    std::exception_ptr refusal;
    const auto moveLast = [&] {
        try {
            row->moveLast();
        } catch (const jet::Error &e) {
            if (e.number() != jet::err::UpdateCancelled)
                throw;
            const QStringList columns = binding.refusedColumns();
            answers.first().box.text = refusalWarning(columns);
            refusal = !nameRefused || columns.isEmpty()
                ? std::current_exception()
                : std::make_exception_ptr(jet::Error(jet::err::UpdateCancelled,
                                                     QStringLiteral("「%1」は保存されませんでした。ほかの項目は保存されました。")
                                                         .arg(columns.join(QStringLiteral("」「")))));
        }
    };
    trap([&] {
        trap(moveLast, answers);
        binding.setRefusedLeftOut(true);
        while (written) {
            again = false;
            trap([row] { row->update(); }, answers);
            if (!again)
                break;
        }
        binding.setRefusedLeftOut(false);
        if (written && refusal)
            trap([&refusal] { std::rethrow_exception(refusal); }, answers);
    });
    return written || letGo;
}

} // namespace toolkit
