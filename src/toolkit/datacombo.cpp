#include "toolkit/binding.h"

#include "db/engine/error.h"
#include "toolkit/keyfilter_p.h"

#include <QComboBox>
#include <QLineEdit>

namespace toolkit {

namespace {

// IDs come back from the engine as one integer type and from the windows as
// another; both name the same row.
bool sameId(const QVariant &a, const QVariant &b)
{
    if (!a.isValid() || a.isNull() || !b.isValid() || b.isNull())
        return false;
    bool aNumber = false;
    bool bNumber = false;
    const double x = a.toDouble(&aNumber);
    const double y = b.toDouble(&bNumber);
    if (aNumber && bNumber)
        return x == y;
    return a.toString() == b.toString();
}

} // namespace

DataCombo::DataCombo(QComboBox *box)
    : QObject(box)
    , m_box(box)
{
    // An editable combo reports its text, a closed one its entry: one signal per change.
    connect(box, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_showing && !m_box->isEditable())
            emit changed();
    });
    connect(box, &QComboBox::editTextChanged, this, [this] {
        if (!m_showing && m_box->isEditable())
            emit changed();
    });
}

QComboBox *DataCombo::box() const
{
    return m_box;
}

void DataCombo::setListSource(jet::Recordset *list, const QString &boundColumn, const QString &listColumn)
{
    if (!list || !list->isOpen())
        throw jet::Error(jet::err::ObjectClosed,
                         QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    const int idField = list->fieldIndex(boundColumn);
    const int textField = list->fieldIndex(listColumn);
    for (const auto &[field, name] : {std::pair{idField, boundColumn}, std::pair{textField, listColumn}}) {
        if (field < 0)
            throw jet::Error(jet::err::BindingColumnMissing,
                             QStringLiteral("フィールドまたはデータメンバーにバインドできません: '%1'").arg(name));
    }
    m_showing = true;
    m_box->clear();
    const int rows = list->rowCount();
    for (int row = 0; row < rows; ++row)
        m_box->addItem(list->valueAt(row, textField).toString(), list->valueAt(row, idField));
    m_showing = false;
    showValue();
}

void DataCombo::setRefuseTyping(bool refuse)
{
    m_refuseTyping = refuse;
    if (refuse)
        detail::installKeyFilter(m_box, QString(), false, false);
    else
        clearKeyFilter(m_box);
    // Delete, cutting, pasting and dropping edit the text as typing does.
    if (QLineEdit *line = m_box->lineEdit())
        line->setReadOnly(refuse);
}

bool DataCombo::refusesTyping() const
{
    return m_refuseTyping;
}

void DataCombo::setEmptyValue(const QVariant &id)
{
    m_emptyValue = id;
}

void DataCombo::setBoundValue(const QVariant &id)
{
    m_value = id;
    showValue();
}

int DataCombo::entryOfId(const QVariant &id) const
{
    for (int i = 0; i < m_box->count(); ++i) {
        if (sameId(m_box->itemData(i), id))
            return i;
    }
    return -1;
}

QString DataCombo::textOf(const QVariant &id) const
{
    const int index = entryOfId(id);
    return index >= 0 ? m_box->itemText(index) : QString();
}

void DataCombo::showValue()
{
    const int index = entryOfId(m_value);
    m_showing = true;
    m_box->setCurrentIndex(index);
    if (m_box->isEditable())
        m_box->setEditText(index >= 0 ? m_box->itemText(index) : QString());
    m_showing = false;
}

int DataCombo::entryOfText(const QString &text) const
{
    // Two entries may share a text; the chosen one wins over the first.
    const int current = m_box->currentIndex();
    if (current >= 0 && m_box->itemText(current) == text)
        return current;
    for (int i = 0; i < m_box->count(); ++i) {
        if (m_box->itemText(i) == text)
            return i;
    }
    return -1;
}

QVariant DataCombo::boundValue() const
{
    if (!m_box->isEditable()) {
        const int current = m_box->currentIndex();
        return current >= 0 ? m_box->itemData(current) : QVariant();
    }
    const QString text = m_box->currentText();
    if (text.isEmpty())
        return m_emptyValue;
    const int entry = entryOfText(text);
    return entry >= 0 ? m_box->itemData(entry) : QVariant();
}

bool DataCombo::textIsStorable() const
{
    if (!m_box->isEditable())
        return true;
    const QString text = m_box->currentText();
    return text.isEmpty() || entryOfText(text) >= 0;
}

} // namespace toolkit
