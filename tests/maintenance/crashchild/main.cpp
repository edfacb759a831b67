// Runs one compaction or upgrade of the database at PATH and ends itself with
// SIGKILL, as a power cut or a killed program would: as step STEP begins, or
// at the WORK-th report of work going on inside a step (in the middle of the
// compacted copy, a file copy or an upgrade's statement).  0 kills nowhere;
// a run that ends prints the number of reports of work it made.
//
//   maintenance_crashchild compact|to2086|to2112 PATH HOMEFOLDER STEP WORK

#include "db/engine/error.h"
#include "maintenance/compaction.h"
#include "maintenance/upgrades.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() != 6)
        return 2;
    const QString path = args.at(2);
    const int killAtStep = args.at(4).toInt();
    int workLeft = args.at(5).toInt();
    int reports = 0;
    const auto step = [killAtStep](int number) {
        if (number == killAtStep)
            ::kill(::getpid(), SIGKILL);
    };
    const auto working = [&workLeft, &reports] {
        ++reports;
        if (workLeft > 0 && --workLeft == 0)
            ::kill(::getpid(), SIGKILL);
    };
    maintenance::UpgradeHooks hooks;
    hooks.step = step;
    hooks.working = working;
    try {
        if (args.at(1) == QLatin1String("compact"))
            maintenance::compact(maintenance::compactionFiles(path, args.at(3)), step,
                                 working);
        else if (args.at(1) == QLatin1String("to2086"))
            maintenance::upgradeTo2086(path, hooks);
        else if (args.at(1) == QLatin1String("to2112"))
            maintenance::upgradeTo2112(path, hooks);
        else
            return 2;
    } catch (const jet::Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    std::printf("%d\n", reports);
    return 0;
}
