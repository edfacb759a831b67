#pragma once

#include "maintenance/upgrades.h"
#include "toolkit/form.h"

#include <QList>
#include <functional>
#include <memory>

class QPushButton;
class QTableView;

namespace toolkit {
class DataGrid;
}

namespace maintenance {

// What the two upgrade windows share.  Neither opens a connection when it
// loads; the upgrade opens its own.  Cancelling closes the window, which is
// the only one, so the program ends with the database untouched.  A finished
// upgrade closes the window and shows the splash window again, whose probe
// then finds the next upgrade or the start menu.
class UpgradeWindow : public toolkit::Form
{
    Q_OBJECT

protected:
    // Runs the upgrade on the database at the path, reporting its progress
    // and binding the grids to the tables it writes.  False when the file
    // had some of what the upgrade adds already.
    using Run = std::function<bool(const QString &path, const UpgradeHooks &hooks)>;

    explicit UpgradeWindow(QWidget *parent = nullptr);
    ~UpgradeWindow() override;

    // Called by the derived constructor once its form is set up.
    void wire(QPushButton *convert, QPushButton *cancel, const QList<QTableView *> &grids, int steps, Run run);

private:
    void convert();

    std::vector<std::unique_ptr<toolkit::DataGrid>> m_grids;
    int m_steps = 0;
    Run m_run;
};

} // namespace maintenance
