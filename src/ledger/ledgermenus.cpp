#include "ledger/ledgermenus.h"

#include "app/navigation.h"
#include "certificate/records/extension.h"
#include "ledger/opening.h"
#include "ledger/registration.h"
#include "toolkit/datagrid.h"
#include "toolkit/errortrap.h"
#include "toolkit/help.h"

#include <QAction>

namespace ledger {

QString currentEpisodeKey(const toolkit::DataGrid &grid)
{
    const int row = grid.currentRow();
    return row < 0 ? QString() : grid.value(row, QStringLiteral("入退院ID")).toString();
}

void wireCertificateRecords(toolkit::Form &ledger, toolkit::DataGrid &grid, const QString &chartColumn,
                            QAction *list, QAction *renewals)
{
    QObject::connect(list, &QAction::triggered, &ledger, [&grid, chartColumn] {
        toolkit::untrapped([&grid, &chartColumn] {
            const int row = grid.currentRow();
            if (row >= 0)
                app::showModal(app::window::CertificateList, grid.value(row, chartColumn).toInt());
        });
    });
    QObject::connect(renewals, &QAction::triggered, &ledger,
                     [] { toolkit::untrapped([] { app::showModal(app::window::Renewals); }); });
}

bool certificateRecordsReady(jet::Connection &connection)
{
    return certificates::extensionVersion(connection) == certificates::kExtensionVersion;
}

void wireLedgerItems(toolkit::Form &ledger, toolkit::DataGrid &grid, jet::Connection &connection,
                     const QString &recordWindow, const LedgerItems &items)
{
    // The record window takes its episode from the ledger's current row while
    // it loads, so the ledger leaves only once the record window is there.
    const auto openRow = [&ledger, &grid, recordWindow] {
        ledger::openRecord(ledger, recordWindow, currentEpisodeKey(grid));
    };
    QObject::connect(&grid, &toolkit::DataGrid::clicked, items.open, [open = items.open] { open->setEnabled(true); });
    QObject::connect(&grid, &toolkit::DataGrid::doubleClicked, &ledger, [openRow] { toolkit::trap(openRow); });
    QObject::connect(items.open, &QAction::triggered, &ledger, [openRow] { toolkit::untrapped(openRow); });
    QObject::connect(items.newPatient, &QAction::triggered, &ledger, [&ledger, &connection] {
        toolkit::trap([&ledger, &connection] { ledger::registerPatient(ledger, connection); });
    });
    QObject::connect(items.close, &QAction::triggered, &ledger,
                     [&ledger] { toolkit::untrapped([&ledger] { ledger.unload(); }); });

    const auto modal = [&ledger](QAction *item, const QString &window) {
        QObject::connect(item, &QAction::triggered, &ledger,
                         [window] { toolkit::untrapped([&window] { app::showModal(window); }); });
    };
    modal(items.statistics, app::window::Statistics);
    modal(items.options, app::window::Options);
    modal(items.about, app::window::About);
    // Whatever the desktop makes of the help file, the ledger carries on.
    QObject::connect(items.helpIndex, &QAction::triggered, &ledger, [] { toolkit::openHelpIndex(); });

    // A failure while the next ledger loads is that ledger's to answer.
    for (const auto &[item, target] : items.moves) {
        QObject::connect(item, &QAction::triggered, &ledger, [&ledger, target = target] {
            toolkit::untrapped([&ledger, &target] { app::moveTo(ledger, target); });
        });
    }
}

} // namespace ledger
