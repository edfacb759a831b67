#pragma once

#include <QList>
#include <QPair>
#include <QString>

class QAction;

namespace jet {
class Connection;
}
namespace toolkit {
class DataGrid;
class Form;
}

namespace ledger {

// The menu items every ledger has, by what they do.
struct LedgerItems
{
    QAction *open = nullptr;       // 開く: enabled by a click in the grid
    QAction *newPatient = nullptr; // 新規患者
    QAction *close = nullptr;
    QAction *statistics = nullptr;
    QAction *options = nullptr;
    QAction *helpIndex = nullptr;
    QAction *about = nullptr;
    QList<QPair<QAction *, QString>> moves; // each to the ledger of that name
};

// Wires the ledger's shared items and its grid: a click in the grid enables
// 開く; a double click or 開く opens the current row's episode in the record
// window of that name; 新規患者 registers a patient on the ledger's
// connection; the move items leave for the other ledgers; the tool and help
// items open their windows.
void wireLedgerItems(toolkit::Form &ledger, toolkit::DataGrid &grid, jet::Connection &connection,
                     const QString &recordWindow, const LedgerItems &items);

// Today's certificates from a ledger: `list` opens the certificates of the
// grid's current patient (its chart in `chartColumn`), `renewals` the
// hospital's worklist of renewals.  Nothing happens on an empty list.
void wireCertificateRecords(toolkit::Form &ledger, toolkit::DataGrid &grid, const QString &chartColumn,
                            QAction *list, QAction *renewals);

// Whether the database holds today's certificate records at this program's
// version, so that a ledger offers them; one the user chose not to extend
// runs as before.
bool certificateRecordsReady(jet::Connection &connection);

// The episode key of the grid's current row; empty when there is none, so
// that the record window's load fails on it.
QString currentEpisodeKey(const toolkit::DataGrid &grid);

} // namespace ledger
