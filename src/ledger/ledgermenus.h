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

// The episode key of the grid's current row; empty when there is none, so
// that the record window's load fails on it.
QString currentEpisodeKey(const toolkit::DataGrid &grid);

} // namespace ledger
