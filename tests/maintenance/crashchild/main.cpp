// Runs one compaction or upgrade of the database at PATH and ends itself with
// SIGKILL as step KILLAT begins, as a power cut or a killed program would.
//
//   maintenance_crashchild compact|to2086|to2112 PATH HOMEFOLDER KILLAT

#include "db/engine/error.h"
#include "maintenance/compaction.h"
#include "maintenance/upgrades.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() != 5)
        return 2;
    const QString path = args.at(2);
    const int killAt = args.at(4).toInt();
    const auto step = [killAt](int number) {
        if (number == killAt)
            ::kill(::getpid(), SIGKILL);
    };
    maintenance::UpgradeHooks hooks;
    hooks.step = step;
    try {
        if (args.at(1) == QLatin1String("compact"))
            maintenance::compact(maintenance::compactionFiles(path, QFileInfo(path).absolutePath(), args.at(3)), step);
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
    return 0;
}
