#pragma once

#include <QString>
#include <functional>

namespace jet {
class Recordset;
}

namespace maintenance {

// What an upgrade tells its window while it runs.  `step` is called before
// each step with its number (the last number is the commit); a step that
// throws stops the upgrade, which then leaves the file as it was.  `showTable`
// hands a grid (1 or 2) the table the upgrade is writing, and nullptr before
// that table closes.  `working` is called now and then inside a long step.
struct UpgradeHooks
{
    std::function<void(int step)> step;
    std::function<void(int grid, jet::Recordset *table)> showTable;
    std::function<void()> working;
};

inline constexpr int kStepsTo2086 = 11;
inline constexpr int kStepsTo2112 = 12;

// Brings a database older than 2.086 to 2.086 in one transaction: the ICD
// code of the diagnoses, the certificate's columns of that version and the
// placeholder row's code "-".  Columns that a broken-off run left behind are
// kept as they are.
void upgradeTo2086(const QString &path, const UpgradeHooks &hooks = {});

// Brings a 2.086 database to 2.112 in one transaction: the version and
// out-of-hours tables with their rows, the outpatient and welfare-handbook
// columns, the outpatient index and the planner's statistics.  Returns false
// when some of those columns or tables were there already (a run of an older
// program broken off part-way); the upgrade then adds only what is missing.
bool upgradeTo2112(const QString &path, const UpgradeHooks &hooks = {});

} // namespace maintenance
