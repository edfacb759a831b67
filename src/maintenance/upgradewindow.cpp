#include "maintenance/upgradewindow.h"

#include "app/navigation.h"
#include "db/location.h"
#include "maintenance/progress.h"
#include "toolkit/datagrid.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QPushButton>
#include <QTableView>

namespace maintenance {

namespace {

// A file that a broken-off run of an older program left with some of the
// columns: the upgrade has added the rest, and the user is told so.
void reportAlreadyUpgraded()
{
    toolkit::MessageBoxRequest box;
    box.title = QStringLiteral("エラー");
    box.text = QStringLiteral("該当データベースはバージョンアップ済みです。");
    box.icon = toolkit::MessageIcon::Critical;
    toolkit::platform().messageBox(box);
}

} // namespace

UpgradeWindow::UpgradeWindow(QWidget *parent) : toolkit::Form(parent) {}

UpgradeWindow::~UpgradeWindow() = default;

void UpgradeWindow::wire(QPushButton *convert, QPushButton *cancel, const QList<QTableView *> &grids, int steps,
                         Run run)
{
    for (QTableView *view : grids)
        m_grids.push_back(std::make_unique<toolkit::DataGrid>(view));
    m_steps = steps;
    m_run = std::move(run);
    connect(convert, &QPushButton::clicked, this, [this] { this->convert(); });
    connect(cancel, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
}

// Every failure is answered, by the run or by the fatal error box; the
// upgrade is then rolled back whole, so the next start offers it again.
void UpgradeWindow::convert()
{
    toolkit::trap([this] {
        const QString path = db::readDatabasePath(toolkit::platform().programFolder());
        bool complete = false;
        {
            BusyProgress progress(this, QStringLiteral("データベースをコンバートしています。"), m_steps);
            UpgradeHooks hooks;
            hooks.step = [&progress](int step) { progress.step(step); };
            hooks.working = [&progress] { progress.keepAlive(); };
            hooks.showTable = [this](int grid, jet::Recordset *table) {
                m_grids.at(std::size_t(grid - 1))->setRecordset(table);
            };
            complete = m_run(path, hooks);
        }
        if (!complete)
            reportAlreadyUpgraded();
        app::showWindow(app::window::Splash);
        unload();
    });
}

} // namespace maintenance
