#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

class QLabel;
class QTableView;

namespace jet {
class Error;
class Recordset;
}

namespace toolkit {

class GridDelegate;

struct GridColumn
{
    QString caption;
    QString field;
    int widthTwips = 1440;
    Qt::Alignment alignment = Qt::AlignLeft;
    bool hidden = false;
};

// A table model over a recordset that reads only the rows a view asks for:
// the recordset itself keeps its rows in segments, so 300,000 rows cost what
// the visible ones cost.  With adding allowed a new-row line follows the last
// row; it shows the values of a row being added and is empty otherwise.
//
// Cells show dates as yyyy/MM/dd, Null as nothing and numbers as numbers.
// Writing a cell moves the recordset to the cell's row when it stands
// elsewhere and assigns the field; the row itself is stored when the
// recordset moves on, as a bound grid stores a row when the user leaves it.
// Writing on the new-row line starts adding a row first.
class RecordsetModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit RecordsetModel(QObject *parent = nullptr);
    ~RecordsetModel() override;

    // Raises jet::Error(545) when an open recordset lacks a column's field.
    void setRecordset(jet::Recordset *recordset);
    jet::Recordset *recordset() const;
    // Empty: every field of the recordset, captioned with its name.
    void setColumns(const QList<GridColumn> &columns);
    QList<GridColumn> columns() const;   // as shown, the automatic ones included
    int fieldOf(int column) const;       // the recordset's field index; -1 when it has none

    void setEditable(bool editable);
    bool isEditable() const;
    void setAllowAddNew(bool allow);
    bool allowAddNew() const;
    int newRowLine() const;              // the row of the new-row line; -1 without one
    // The recordset's current row as a model row: the new-row line while adding,
    // -1 when there is none to show.
    int currentModelRow() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Writes the text as the field's value; throws jet::Error when the
    // recordset refuses it (an impossible date: 0x80040E4E).
    void writeCell(const QModelIndex &index, const QVariant &value);
    // The view's way in: a failure goes to the error handler and returns false.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

    // Called with an error the user's editing caused; by default a message box.
    void setErrorHandler(std::function<void(const jet::Error &)> handler);
    void reportError(const jet::Error &error) const;

private:
    struct Column
    {
        GridColumn column;
        int field = -1;
    };

    void resolveColumns(bool strict);
    void onRowsReset();
    void onRowChanged(int row);
    void onRowInserted(int row);
    void onRowRemoved(int row);
    void onCurrentChanged();
    QVariant cellValue(int row, int field) const;
    bool isAdding() const;

    QPointer<jet::Recordset> m_recordset;
    QList<GridColumn> m_requested;
    QList<Column> m_columns;
    bool m_editable = false;
    bool m_allowAddNew = false;
    int m_rows = 0;
    bool m_adding = false;
    std::function<void(const jet::Error &)> m_errorHandler;
    QList<QMetaObject::Connection> m_connections;
};

// Behaviour of a data grid attached to a QTableView named DataGridN: columns
// with captions, widths in twips, alignment and hidden columns; a caption bar
// above the table; a current row that follows and moves the recordset's.
// The grid hands a cell still being edited to the recordset before the
// recordset moves, updates, requeries or closes.
class DataGrid : public QObject
{
    Q_OBJECT

public:
    explicit DataGrid(QTableView *view);
    ~DataGrid() override;

    // The grid attached to the view; nullptr for none.
    static DataGrid *of(const QTableView *view);
    // The grid attached to the window's table view of that name.
    static DataGrid *of(const QWidget *window, const QString &viewName);

    void setColumns(const QList<GridColumn> &columns);       // empty: every field of the recordset, captions = field names
    void setRecordset(jet::Recordset *recordset);            // nullptr unbinds
    jet::Recordset *recordset() const;
    // A caption bar is placed above the table (in its layout, or over its
    // place when it has none); an empty caption hides it.
    void setCaption(const QString &caption);
    QString caption() const;
    QLabel *captionLabel() const;                            // nullptr until a caption was set

    int currentRow() const;                                  // 0-based; -1 none. Follows and moves the recordset's current row
    void setCurrentRow(int row);
    bool isOnNewRow() const;                                 // the cursor stands on the new-row line
    QVariant value(int row, const QString &field) const;
    void setEditable(bool editable);                         // read-only by default
    bool isEditable() const;
    void setAllowAddNew(bool allow);                         // a new-row line at the bottom: one row at a time
    bool allowAddNew() const;
    // Hands a cell still being edited to the recordset.
    void commitCellEdit();
    // The shown columns widen, from their designed width up to a maximum, to
    // their captions and to the texts of the rows the grid has shown.  A width
    // the user sets is kept in the user's settings under `key` and used from
    // then on by every grid with that key.
    void fitColumnsToContents(const QString &key);

    QTableView *view() const;
    RecordsetModel *model() const;

signals:
    // A row chosen: clicked, or, in a grid that is not edited, reached with
    // the arrow and page keys.
    void clicked();
    // A row opened: double-clicked, or Return in a grid that is not edited.
    void doubleClicked();
    void currentRowChanged(int row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class Editor;

    void applyColumns();
    void fitColumns();
    int widestShownCell(int column) const;
    void rememberWidth(int column, int width);
    void storeNewRowAndStartAnother();
    void showRecordsetRow();
    void onViewRowChanged(int row);

    QTableView *m_view;
    RecordsetModel *m_model;
    GridDelegate *m_delegate;
    std::unique_ptr<Editor> m_editor;
    QPointer<QLabel> m_caption;
    QString m_widthsKey;
    // The widths the user dragged, by field, read once: the grid fits its
    // columns again at every scroll step.
    QHash<QString, int> m_chosenWidths;
    int m_row = -1;
    bool m_syncing = false;
    bool m_sizing = false;
};

} // namespace toolkit
