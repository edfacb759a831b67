#include "toolkit/datagrid.h"

#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "toolkit/binding.h"
#include "toolkit/format.h"
#include "toolkit/platform.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLayout>
#include <QMetaProperty>
#include <QPersistentModelIndex>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace toolkit {

namespace {

bool isNumeric(jet::DataType type)
{
    switch (type) {
    case jet::DataType::Long:
    case jet::DataType::Integer:
    case jet::DataType::Double:
    case jet::DataType::YesNo:
        return true;
    default:
        return false;
    }
}

QString displayText(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    switch (value.metaType().id()) {
    case QMetaType::QDate:
        return value.toDate().toString(QStringLiteral("yyyy/MM/dd"));
    case QMetaType::QDateTime:
        return value.toDateTime().date().toString(QStringLiteral("yyyy/MM/dd"));
    case QMetaType::Double:
    case QMetaType::Float:
        // Plain digits, not the item view's six significant ones.
        return QString::number(value.toDouble(), 'g', 15);
    case QMetaType::Bool:
        return QString::number(value.toBool() ? -1 : 0);
    default:
        return value.toString();
    }
}

// Wide enough for a name of thirty characters; a wider text is the user's to widen for.
constexpr int kFittedWidthMostTwips = 5760;

// Column widths are a preference of the user, not of the installation nor of the database.
std::unique_ptr<QSettings> userSettings(const QString &key)
{
    auto settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("norva"),
                                                QStringLiteral("norva"));
    settings->beginGroup(QStringLiteral("columnWidths/") + key);
    return settings;
}

// The last shown column takes whatever room the grid has left: its width is
// the grid's, neither fitted nor the user's.
bool isStretched(const QHeaderView *header, int logical)
{
    if (!header->stretchLastSection())
        return false;
    for (int visual = header->count() - 1; visual >= 0; --visual) {
        const int last = header->logicalIndex(visual);
        if (!header->isSectionHidden(last))
            return last == logical;
    }
    return false;
}

} // namespace

// Keeps track of the one cell editor a view has open, so that the grid can
// hand its text to the recordset when the recordset is about to move.
class GridDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
        m_editor = editor;
        m_index = index;
        return editor;
    }

    void destroyEditor(QWidget *editor, const QModelIndex &index) const override
    {
        if (editor == m_editor)
            m_editor = nullptr;
        QStyledItemDelegate::destroyEditor(editor, index);
    }

    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        const Committing committing(*this);
        QStyledItemDelegate::setModelData(editor, model, index);
    }

    // Writes the open editor's text to its cell, then closes the editor.
    // Throws what the recordset throws, leaving the editor open.
    void commitOpenEditor(RecordsetModel *model)
    {
        if (!m_editor || m_committing || !m_index.isValid())
            return;
        QWidget *editor = m_editor;
        const QByteArray property = editor->metaObject()->userProperty().name();
        const QVariant value = editor->property(property.isEmpty() ? "text" : property.constData());
        {
            const Committing committing(*this);
            model->writeCell(m_index, value);
        }
        emit closeEditor(editor, QAbstractItemDelegate::NoHint);
    }

private:
    // A write from an editor starts a row of its own (addNew), which asks the
    // row editors for their edits again: this editor's edit is the one in hand.
    struct Committing
    {
        explicit Committing(const GridDelegate &d) : delegate(d) { delegate.m_committing = true; }
        ~Committing() { delegate.m_committing = false; }
        const GridDelegate &delegate;
    };

    mutable QPointer<QWidget> m_editor;
    mutable QPersistentModelIndex m_index;
    mutable bool m_committing = false;
};

// ---------------------------------------------------------------------------
// RecordsetModel

RecordsetModel::RecordsetModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

RecordsetModel::~RecordsetModel() = default;

void RecordsetModel::setRecordset(jet::Recordset *recordset)
{
    beginResetModel();
    for (const auto &connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_recordset = recordset;
    m_rows = 0;
    m_adding = false;
    if (recordset) {
        m_connections = {
            connect(recordset, &jet::Recordset::rowsReset, this, &RecordsetModel::onRowsReset),
            connect(recordset, &jet::Recordset::rowChanged, this, &RecordsetModel::onRowChanged),
            connect(recordset, &jet::Recordset::rowInserted, this, &RecordsetModel::onRowInserted),
            connect(recordset, &jet::Recordset::rowRemoved, this, &RecordsetModel::onRowRemoved),
            connect(recordset, &jet::Recordset::currentChanged, this, &RecordsetModel::onCurrentChanged),
            connect(recordset, &QObject::destroyed, this, [this] { setRecordset(nullptr); }),
        };
        m_rows = recordset->rowCount();
        m_adding = isAdding();
    }
    try {
        resolveColumns(true);
    } catch (...) {
        endResetModel();
        throw;
    }
    endResetModel();
}

jet::Recordset *RecordsetModel::recordset() const
{
    return m_recordset;
}

void RecordsetModel::setColumns(const QList<GridColumn> &columns)
{
    beginResetModel();
    m_requested = columns;
    try {
        resolveColumns(true);
    } catch (...) {
        endResetModel();
        throw;
    }
    endResetModel();
}

QList<GridColumn> RecordsetModel::columns() const
{
    QList<GridColumn> shown;
    for (const Column &c : m_columns)
        shown.append(c.column);
    return shown;
}

int RecordsetModel::fieldOf(int column) const
{
    return column >= 0 && column < m_columns.size() ? m_columns.at(column).field : -1;
}

void RecordsetModel::resolveColumns(bool strict)
{
    m_columns.clear();
    const bool open = m_recordset && m_recordset->isOpen();
    if (m_requested.isEmpty()) {
        if (!open)
            return;
        for (int i = 0; i < m_recordset->fieldCount(); ++i) {
            const jet::FieldMeta &meta = m_recordset->field(i);
            GridColumn column;
            column.caption = meta.name;
            column.field = meta.name;
            // A grid's general alignment: numbers to the right, everything else to the left.
            if (meta.typeKnown && isNumeric(meta.type))
                column.alignment = Qt::AlignRight;
            m_columns.append({column, i});
        }
        return;
    }
    for (const GridColumn &column : std::as_const(m_requested)) {
        const int field = open ? m_recordset->fieldIndex(column.field) : -1;
        if (strict && open && field < 0)
            throw jet::Error(jet::err::BindingColumnMissing,
                             QStringLiteral("列 '%1' がレコードセットにありません。").arg(column.field));
        m_columns.append({column, field});
    }
}

void RecordsetModel::setEditable(bool editable)
{
    if (m_editable == editable)
        return;
    m_editable = editable;
    if (rowCount() > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {});
}

bool RecordsetModel::isEditable() const
{
    return m_editable;
}

void RecordsetModel::setAllowAddNew(bool allow)
{
    if (m_allowAddNew == allow)
        return;
    const bool open = m_recordset && m_recordset->isOpen();
    if (open) {
        if (allow)
            beginInsertRows({}, m_rows, m_rows);
        else
            beginRemoveRows({}, m_rows, m_rows);
    }
    m_allowAddNew = allow;
    if (open) {
        if (allow)
            endInsertRows();
        else
            endRemoveRows();
    }
}

bool RecordsetModel::allowAddNew() const
{
    return m_allowAddNew;
}

int RecordsetModel::newRowLine() const
{
    return m_allowAddNew && m_recordset && m_recordset->isOpen() ? m_rows : -1;
}

bool RecordsetModel::isAdding() const
{
    return m_recordset && m_recordset->isOpen() && m_recordset->editMode() == jet::EditMode::Add;
}

int RecordsetModel::currentModelRow() const
{
    if (!m_recordset || !m_recordset->isOpen())
        return -1;
    if (isAdding())
        return newRowLine();
    const int current = m_recordset->currentRow();
    if (current >= 0 && current < m_rows)
        return current;
    if (current >= m_rows)
        return newRowLine();
    return -1;
}

int RecordsetModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_recordset || !m_recordset->isOpen())
        return 0;
    return m_rows + (m_allowAddNew ? 1 : 0);
}

int RecordsetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant RecordsetModel::cellValue(int row, int field) const
{
    if (field < 0 || !m_recordset || !m_recordset->isOpen())
        return QVariant();
    if (row == newRowLine())
        return isAdding() ? m_recordset->value(field) : QVariant();
    return m_recordset->valueAt(row, field);
}

QVariant RecordsetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() >= m_columns.size())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return displayText(cellValue(index.row(), m_columns.at(index.column()).field));
    case Qt::TextAlignmentRole: {
        Qt::Alignment alignment = m_columns.at(index.column()).column.alignment;
        if (!(alignment & Qt::AlignVertical_Mask))
            alignment |= Qt::AlignVCenter;
        return QVariant::fromValue(alignment);
    }
    default:
        return QVariant();
    }
}

QVariant RecordsetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_columns.size() ? m_columns.at(section).column.caption : QVariant();
    return section == newRowLine() ? QStringLiteral("*") : QString();
}

Qt::ItemFlags RecordsetModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    const int field = fieldOf(index.column());
    if (m_editable && field >= 0 && !m_recordset->field(field).baseTable.isEmpty())
        flags |= Qt::ItemIsEditable;
    return flags;
}

void RecordsetModel::writeCell(const QModelIndex &index, const QVariant &value)
{
    if (!index.isValid() || !m_recordset)
        return;
    const int field = fieldOf(index.column());
    if (field < 0)
        throw jet::Error(jet::err::BindingColumnMissing,
                         QStringLiteral("列 '%1' がレコードセットにありません。").arg(m_columns.value(index.column()).column.field));
    const int row = index.row();
    if (row == newRowLine()) {
        if (!isAdding())
            m_recordset->addNew();
    } else if (isAdding() || m_recordset->currentRow() != row) {
        m_recordset->moveTo(row);
    }
    // An emptied cell is Null, whatever the column's type.
    const QString text = value.toString();
    QVariant stored;
    if (!text.trimmed().isEmpty())
        stored = m_recordset->field(field).type == jet::DataType::Date ? dateFromText(text) : QVariant(text);
    m_recordset->setValue(field, stored);
    const int shownRow = currentModelRow();
    if (shownRow >= 0)
        emit dataChanged(this->index(shownRow, index.column()), this->index(shownRow, index.column()));
}

bool RecordsetModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole)
        return false;
    try {
        writeCell(index, value);
    } catch (const jet::Error &error) {
        reportError(error);
        return false;
    }
    return true;
}

void RecordsetModel::setErrorHandler(std::function<void(const jet::Error &)> handler)
{
    m_errorHandler = std::move(handler);
}

void RecordsetModel::reportError(const jet::Error &error) const
{
    if (m_errorHandler) {
        m_errorHandler(error);
        return;
    }
    MessageBoxRequest box;
    box.text = error.description();
    box.icon = MessageIcon::Exclamation;
    platform().messageBox(box);
}

void RecordsetModel::onRowsReset()
{
    beginResetModel();
    m_rows = m_recordset && m_recordset->isOpen() ? m_recordset->rowCount() : 0;
    m_adding = isAdding();
    resolveColumns(false);
    endResetModel();
}

void RecordsetModel::onRowChanged(int row)
{
    if (row < 0 || row >= m_rows || m_columns.isEmpty())
        return;
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void RecordsetModel::onRowInserted(int row)
{
    // The recordset tells after the fact; the rows before it are unchanged, so
    // announcing the insertion now keeps every view's rows in place.
    beginInsertRows({}, row, row);
    m_rows = m_recordset->rowCount();
    endInsertRows();
    onCurrentChanged();
}

void RecordsetModel::onRowRemoved(int row)
{
    beginRemoveRows({}, row, row);
    m_rows = m_recordset->rowCount();
    endRemoveRows();
}

void RecordsetModel::onCurrentChanged()
{
    const bool adding = isAdding();
    if (adding == m_adding)
        return;
    m_adding = adding;
    const int line = newRowLine();
    if (line >= 0 && !m_columns.isEmpty())
        emit dataChanged(index(line, 0), index(line, columnCount() - 1));
}

// ---------------------------------------------------------------------------
// DataGrid

class DataGrid::Editor : public jet::RowEditor
{
public:
    explicit Editor(DataGrid *grid) : m_grid(grid) {}
    void commitEdits() override { m_grid->commitCellEdit(); }

private:
    DataGrid *m_grid;
};

DataGrid::DataGrid(QTableView *view)
    : QObject(view)
    , m_view(view)
    , m_model(new RecordsetModel(this))
    , m_delegate(new GridDelegate(this))
    , m_editor(std::make_unique<Editor>(this))
{
    m_view->setModel(m_model);
    m_view->setItemDelegate(m_delegate);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    // Fixed row heights keep a long recordset from being measured row by row.
    QHeaderView *rows = m_view->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    rows->setMinimumWidth(twipsToPixels(300, m_view));
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_view->horizontalHeader()->setHighlightSections(false);
    // A grid wider than its columns gives the room to the last one, where the
    // long texts (diagnoses, remarks) usually stand.
    m_view->horizontalHeader()->setStretchLastSection(true);

    m_view->installEventFilter(this);
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { onViewRowChanged(current.isValid() ? current.row() : -1); });
    connect(m_view, &QAbstractItemView::clicked, this, &DataGrid::clicked);
    connect(m_view, &QAbstractItemView::doubleClicked, this, &DataGrid::doubleClicked);
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        applyColumns();
        showRecordsetRow();
    });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &DataGrid::showRecordsetRow);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] {
        m_syncing = false;
        showRecordsetRow();
    });
}

DataGrid::~DataGrid()
{
    if (jet::Recordset *recordset = m_model->recordset())
        recordset->removeRowEditor(m_editor.get());
}

void DataGrid::setColumns(const QList<GridColumn> &columns)
{
    m_model->setColumns(columns);
}

void DataGrid::setRecordset(jet::Recordset *recordset)
{
    if (jet::Recordset *previous = m_model->recordset()) {
        previous->removeRowEditor(m_editor.get());
        disconnect(previous, nullptr, this, nullptr);
    }
    // While a row goes, the view moves its cursor to the row below as it was
    // before the removal; following that would step the recordset, whose row
    // is already gone, one row too far.  Connected ahead of the model, so
    // that the grid stops following before the view hears of the removal.
    if (recordset)
        connect(recordset, &jet::Recordset::rowRemoved, this, [this] { m_syncing = true; });
    m_model->setRecordset(recordset);
    if (recordset) {
        recordset->addRowEditor(m_editor.get());
        connect(recordset, &jet::Recordset::currentChanged, this, &DataGrid::showRecordsetRow);
    }
}

jet::Recordset *DataGrid::recordset() const
{
    return m_model->recordset();
}

void DataGrid::setCaption(const QString &caption)
{
    if (!m_caption) {
        if (caption.isEmpty())
            return;
        auto *label = new QLabel;
        label->setObjectName(m_view->objectName() + QStringLiteral("Caption"));
        label->setAlignment(Qt::AlignCenter);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Raised);
        label->setBackgroundRole(QPalette::Button);
        label->setAutoFillBackground(true);
        label->setContentsMargins(2, 2, 2, 2);

        // The caption and the table share the table's place, as one grid.
        QWidget *parent = m_view->parentWidget();
        const bool hidden = m_view->isHidden();
        auto *box = new QWidget;
        box->setObjectName(m_view->objectName() + QStringLiteral("Box"));
        box->setSizePolicy(m_view->sizePolicy());
        QLayoutItem *replaced = parent && parent->layout()
            ? parent->layout()->replaceWidget(m_view, box, Qt::FindChildrenRecursively)
            : nullptr;
        if (replaced) {
            delete replaced;
        } else {
            box->setParent(parent);
            box->setGeometry(m_view->geometry());
        }
        auto *layout = new QVBoxLayout(box);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->addWidget(label);
        layout->addWidget(m_view);
        if (!hidden)
            m_view->show();
        box->setVisible(!hidden);
        m_caption = label;
    }
    m_caption->setText(caption);
    m_caption->setVisible(!caption.isEmpty());
}

QString DataGrid::caption() const
{
    return m_caption ? m_caption->text() : QString();
}

QLabel *DataGrid::captionLabel() const
{
    return m_caption;
}

DataGrid *DataGrid::of(const QTableView *view)
{
    return view ? view->findChild<DataGrid *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

DataGrid *DataGrid::of(const QWidget *window, const QString &viewName)
{
    return window ? of(window->findChild<QTableView *>(viewName)) : nullptr;
}

int DataGrid::currentRow() const
{
    return m_row;
}

void DataGrid::setCurrentRow(int row)
{
    if (row < 0 || row >= m_model->rowCount()) {
        m_view->selectionModel()->clearCurrentIndex();
        return;
    }
    const int column = std::max(m_view->currentIndex().column(), 0);
    m_view->selectionModel()->setCurrentIndex(m_model->index(row, column),
                                              QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool DataGrid::isOnNewRow() const
{
    return m_row >= 0 && m_row == m_model->newRowLine();
}

QVariant DataGrid::value(int row, const QString &field) const
{
    jet::Recordset *recordset = m_model->recordset();
    if (!recordset || !recordset->isOpen())
        throw jet::Error(jet::err::ObjectClosed, QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    const int index = recordset->fieldIndex(field);
    if (index < 0)
        throw jet::Error(jet::err::ItemNotFound,
                         QStringLiteral("要求された名前 '%1' に対応する項目がコレクションで見つかりません。").arg(field));
    if (row == m_model->newRowLine())
        return recordset->editMode() == jet::EditMode::Add ? recordset->value(index) : QVariant();
    return recordset->valueAt(row, index);
}

void DataGrid::setEditable(bool editable)
{
    m_model->setEditable(editable);
    m_view->setEditTriggers(editable ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                                           | QAbstractItemView::AnyKeyPressed
                                     : QAbstractItemView::NoEditTriggers);
}

bool DataGrid::isEditable() const
{
    return m_model->isEditable();
}

void DataGrid::setAllowAddNew(bool allow)
{
    m_model->setAllowAddNew(allow);
    showRecordsetRow();
}

bool DataGrid::allowAddNew() const
{
    return m_model->allowAddNew();
}

void DataGrid::commitCellEdit()
{
    m_delegate->commitOpenEditor(m_model);
}

QTableView *DataGrid::view() const
{
    return m_view;
}

RecordsetModel *DataGrid::model() const
{
    return m_model;
}

void DataGrid::fitColumnsToContents(const QString &key)
{
    m_widthsKey = key;
    const auto settings = userSettings(key);
    for (const QString &field : settings->childKeys())
        if (const int width = settings->value(field).toInt(); width > 0)
            m_chosenWidths.insert(field, width);
    connect(m_view->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int width) {
                if (!m_sizing && !isStretched(m_view->horizontalHeader(), column))
                    rememberWidth(column, width);
            });
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, &DataGrid::fitColumns);
    fitColumns();
}

void DataGrid::applyColumns()
{
    const QScopedValueRollback sizing(m_sizing, true);
    const QList<GridColumn> columns = m_model->columns();
    for (int i = 0; i < columns.size(); ++i) {
        m_view->setColumnWidth(i, twipsToPixels(columns.at(i).widthTwips, m_view));
        m_view->setColumnHidden(i, columns.at(i).hidden);
    }
    fitColumns();
}

// Only ever wider: a column keeps the room a longer text once needed while
// the user scrolls on.
void DataGrid::fitColumns()
{
    if (m_widthsKey.isEmpty())
        return;
    const QScopedValueRollback sizing(m_sizing, true);
    QHeaderView *header = m_view->horizontalHeader();
    const int most = twipsToPixels(kFittedWidthMostTwips, m_view);
    const QList<GridColumn> columns = m_model->columns();
    for (int i = 0; i < columns.size(); ++i) {
        if (columns.at(i).hidden || isStretched(header, i))
            continue;
        if (const int chosen = m_chosenWidths.value(columns.at(i).field); chosen > 0) {
            m_view->setColumnWidth(i, chosen);
            continue;
        }
        const int designed = twipsToPixels(columns.at(i).widthTwips, m_view);
        const int needed = std::max(header->sectionSizeHint(i), widestShownCell(i));
        const int width = std::clamp(needed, designed, std::max(designed, most));
        if (width > m_view->columnWidth(i))
            m_view->setColumnWidth(i, width);
    }
}

// Only the rows in sight are measured: a list of 300,000 rows costs what a screenful costs.
int DataGrid::widestShownCell(int column) const
{
    const int top = std::max(m_view->rowAt(0), 0);
    int bottom = m_view->rowAt(m_view->viewport()->height() - 1);
    if (bottom < 0)
        bottom = m_model->rowCount() - 1;
    int widest = 0;
    for (int row = top; row <= bottom; ++row)
        widest = std::max(widest, m_view->sizeHintForIndex(m_model->index(row, column)).width());
    return widest + (m_view->showGrid() ? 1 : 0);
}

void DataGrid::rememberWidth(int column, int width)
{
    const QList<GridColumn> columns = m_model->columns();
    if (column >= columns.size() || width <= 0)
        return;
    m_chosenWidths.insert(columns.at(column).field, width);
    userSettings(m_widthsKey)->setValue(columns.at(column).field, width);
}

void DataGrid::showRecordsetRow()
{
    if (m_syncing)
        return;
    const int row = m_model->currentModelRow();
    m_syncing = true;
    if (row < 0) {
        m_view->selectionModel()->clearSelection();
        m_view->selectionModel()->clearCurrentIndex();
    } else if (m_view->currentIndex().row() != row || !m_view->selectionModel()->isRowSelected(row, {})) {
        setCurrentRow(row);
        m_view->scrollTo(m_view->currentIndex());
    }
    m_syncing = false;
    if (row != m_row) {
        m_row = row;
        emit currentRowChanged(row);
    }
}

// Down on the new-row line has no row to go to, so the view stays put and
// the next entry would be typed over the one pending there.
bool DataGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::Resize)
        fitColumns();
    // A read-only list is worked from the keyboard as with the mouse.
    if (watched == m_view && event->type() == QEvent::KeyPress && !isEditable()) {
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (m_row >= 0)
                emit doubleClicked();
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            emit clicked();
            break;
        default:
            break;
        }
    }
    if (watched == m_view && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Down
        && static_cast<QKeyEvent *>(event)->modifiers() == Qt::NoModifier && isOnNewRow()) {
        jet::Recordset *recordset = m_model->recordset();
        if (recordset && recordset->isOpen() && recordset->editMode() == jet::EditMode::Add) {
            storeNewRowAndStartAnother();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void DataGrid::storeNewRowAndStartAnother()
{
    try {
        commitCellEdit();
        m_model->recordset()->update();
    } catch (const jet::Error &error) {
        m_model->reportError(error);
        showRecordsetRow();
        return;
    }
    setCurrentRow(m_model->newRowLine());
}

void DataGrid::onViewRowChanged(int row)
{
    if (m_syncing)
        return;
    jet::Recordset *recordset = m_model->recordset();
    if (!recordset || !recordset->isOpen() || row < 0) {
        showRecordsetRow();
        return;
    }
    if (row == m_model->currentModelRow()) {
        showRecordsetRow();
        return;
    }
    // The recordset stores the row being left (an added one included) as it moves.
    m_syncing = true;
    try {
        recordset->moveTo(row == m_model->newRowLine() ? recordset->rowCount() : row);
    } catch (const jet::Error &error) {
        m_syncing = false;
        m_model->reportError(error);
        showRecordsetRow();
        return;
    }
    m_syncing = false;
    showRecordsetRow();
}

} // namespace toolkit
