#pragma once

#include "db/engine/catalog.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <memory>
#include <vector>

namespace jet {

class Connection;
class RecordsetData;

// ForwardOnly reads the rows once, in order, from one statement: for output
// that visits every row once, where looking each row up by its keys would cost
// far more.  A row before the last one read cannot be read again.
enum class CursorType { ForwardOnly = 0, Dynamic = 2, Static = 3 };
enum class LockType { ReadOnly = 1, Optimistic = 3 };
enum class EditMode { None, InProgress, Add };

// Positions ADO reports when there is no current row.
constexpr int PositionUnknown = -1;
constexpr int PositionBof = -2;
constexpr int PositionEof = -3;

struct FieldMeta
{
    QString name;        // how the field is addressed: bare, or table.column when the bare name repeats
    QString baseTable;   // the table the value comes from; empty for a computed column
    QString baseColumn;
    DataType type = DataType::Text;
    bool typeKnown = false; // false for computed columns, whose type follows their values
    int definedSize = 0;
};

// A field of the current row that another connection changed since the
// recordset read it, as the last update() found it.
struct FieldConflict
{
    int field = -1;
    QVariant stored;  // the value stored now
    QVariant pending; // the value the update would have written over it
};

// Something bound to the recordset's current row (a bound control, a binding
// manager) that keeps edits of its own and must hand them over before the
// recordset moves, updates, finds, filters or requeries.  It may throw.
// Closing discards what was not handed over.
class RowEditor
{
public:
    virtual ~RowEditor() = default;
    virtual void commitEdits() = 0;
};

// A recordset in ADO's sense over SQL text, a stored query or a table.
//
// The rows are addressed by the row keys of the tables they come from, read
// in result order when the rows are first needed (so a filter set straight
// after the open never reads the unfiltered rows); from then on the set of
// rows is fixed until a requery or a new filter.  Row values are read on
// demand, a segment at a time, so that 300,000 rows cost little more than 100.
// A result without row keys (aggregates, DISTINCT, subqueries) is read whole.
// When the connection to a server was lost, the next open, update, deletion,
// find, filter or requery goes over a new one (Connection::renewIfLost).
class Recordset : public QObject
{
    Q_OBJECT

public:
    explicit Recordset(QObject *parent = nullptr);
    ~Recordset() override;

    void open(const QString &source, Connection *connection,
              CursorType cursor = CursorType::Static, LockType lock = LockType::Optimistic);
    void openCommand(const QString &source, Connection *connection, const QVariantList &parameters,
                     CursorType cursor = CursorType::Static);
    void close();
    bool isOpen() const;
    QString source() const;

    // Fields.
    int fieldCount() const;
    const FieldMeta &field(int index) const;
    // -1 when the name is unknown or ambiguous.
    int fieldIndex(const QString &name) const;
    QVariant value(int field) const;
    // Throws Error(err::ItemNotFound) for an unknown or ambiguous name.
    QVariant value(const QString &name) const;
    void setValue(int field, const QVariant &value);
    void setValue(const QString &name, const QVariant &value);

    // Values of any row without moving (row is 0-based), for grids and lists.
    int rowCount() const;
    QVariant valueAt(int row, int field) const;

    // Navigation.  The current row is 0-based; -1 before the first, rowCount() after the last.
    bool bof() const;
    bool eof() const;
    void moveFirst();
    void moveLast();
    void moveNext();
    void movePrevious();
    void moveTo(int row);
    int currentRow() const;
    int recordCount() const;
    int absolutePosition() const;

    // Editing.  An update writes only the fields given a value, and each only
    // where it still holds the value read: two connections editing different
    // fields of one row both keep their edits, and a field the other set to
    // the very value written is no conflict.  When another connection
    // changed one of the same fields, nothing of the row is written, the
    // values stay pending and update() raises err::DataChanged, conflicts()
    // naming the fields; a row that is gone raises err::RecordDeleted.  The
    // caller then writes over the other's change (overwriteConflicts(), then
    // update()), takes it (reloadConflicts()), or cancels.
    EditMode editMode() const;
    void addNew();
    void addNew(const QStringList &fields, const QVariantList &values);
    void update();
    void cancelUpdate();
    void deleteCurrent();
    // Empty unless the last update() raised err::DataChanged and the edit is still pending.
    QList<FieldConflict> conflicts() const;
    // Takes the conflicting fields' stored values as the ones read, so that
    // the next update() writes the pending values over them.
    void overwriteConflicts();
    // Shows the conflicting fields' stored values and drops their pending
    // values; the other pending values wait for the next update().
    void reloadConflicts();

    // Searching.
    void find(const QString &criterion);
    void setFilter(const QString &filter);
    void clearFilter() { setFilter(QString()); }
    QString filter() const;
    void requery();

    void addRowEditor(RowEditor *editor);
    void removeRowEditor(RowEditor *editor);

signals:
    void currentChanged();        // the current row is another one (or none)
    void rowsReset();             // opened, requeried, filtered or closed
    void rowChanged(int row);     // the values of a row changed
    void rowInserted(int row);
    void rowRemoved(int row);

private:
    void commitEditors();
    void requireOpen() const;
    void requireCurrent() const;
    void setCurrent(int row);

    std::unique_ptr<RecordsetData> d;
    std::vector<RowEditor *> m_editors;
};

} // namespace jet
