#pragma once

// Moving the whole contents of one database into another, on either back end,
// and telling whether two databases hold the same rows.

#include "db/engine/catalog.h"

#include <QString>
#include <QVariantList>
#include <QtGlobal>
#include <functional>

namespace jet {

class Connection;

// The rows of a table summed so that the same rows give the same sum on
// either back end, read in any order: their number and the sum of a digest
// of each row's values.
struct TableSum
{
    qint64 rows = 0;
    quint64 high = 0;
    quint64 low = 0;
    bool operator==(const TableSum &) const = default;
};

// Sums rows as they come, values in the engine's form.  Sums are compared
// within one process: the hash behind them may differ between builds.
class RowSum
{
public:
    void add(const QVariantList &row);
    TableSum result() const { return m_sum; }

private:
    TableSum m_sum;
    QString m_row;
};

// Reads `columns` of every row of the table.
TableSum sumTable(Connection &connection, const QString &table, const QList<ColumnDef> &columns);

// The rows of `table` copied so far, of `total`: called when the table
// begins, now and then while its rows go, and when it is done.
using CopyProgress = std::function<void(const QString &table, qint64 done, qint64 total)>;

// Copies every table of `source` (its columns, indexes and rows, row keys
// and AutoNumber values as they are) and every stored query into `target`,
// which holds none of them and is in a transaction of the caller's, and then
// checks each table of the target, read back, against the rows read from the
// source by their number and sum.  The source is read at one moment, as it stood when the copy
// began, while others may go on writing to it; its rows are streamed, never
// held whole.  A server's AutoNumber counters continue after the highest key
// copied.  Throws Error(err::GeneralFailure) naming the table whose rows
// differ; on any failure the caller's transaction is to be rolled back.
void copyContents(Connection &source, Connection &target, const CopyProgress &progress = {});

} // namespace jet
