#pragma once

#include <QString>
#include <functional>

namespace maintenance {

// The files of a compaction: the database the location file names, the work
// file the engine writes the compacted copy to ("C:\norva_optimization.mdb",
// in the home folder) and the one backup ("norva2000.old.mdb" in the
// installation folder, which is the program's folder).
struct CompactionFiles
{
    QString database;
    QString work;
    QString backup;
};

CompactionFiles compactionFiles(const QString &databasePath, const QString &programFolder, const QString &homeFolder);

// Called before each step with its number, 1 to kCompactionSteps: compact
// into the work file, write the new backup, put it in place of the old one,
// copy the compacted file beside the database, put it in place of the
// database, remove the work file.
using CompactionHook = std::function<void(int step)>;
inline constexpr int kCompactionSteps = 6;

// Compacts the database in place and keeps the file as it was as the backup.
// No connection of the program may be open on the database.  Each file is
// written whole and synced before it replaces another by one rename, so that
// however the process ends the database is the old file or the compacted one
// and the backup is the previous backup or the new one.  Until the database
// has been replaced, a failure removes the files the compaction made; once
// it has, the work file stays behind if it cannot be removed.
//
// Throws jet::Error(err::CompactTargetExists) when the work file is there
// already (left by a compaction that ended early), changing nothing.
// `working` is called now and then inside a long step.
void compact(const CompactionFiles &files, const CompactionHook &hook = {}, const std::function<void()> &working = {});

} // namespace maintenance
