#pragma once

#include <QString>
#include <functional>

namespace maintenance {

// The files of a compaction: the database the location file names, the work
// file the engine writes the compacted copy to ("C:\norva_optimization.mdb",
// in the home folder) and the one backup ("norva2000.old.mdb" beside the
// database: whoever may replace the database may write there, which the
// installation folder of a shared set-up is not).
struct CompactionFiles
{
    QString database;
    QString work;
    QString backup;
};

CompactionFiles compactionFiles(const QString &databasePath, const QString &homeFolder);

// Called before each step with its number, 1 to kCompactionSteps: compact
// into the work file, write the new backup, put it in place of the old one,
// copy the compacted file beside the database, put it in place of the
// database, remove the work file.
using CompactionHook = std::function<void(int step)>;
inline constexpr int kCompactionSteps = 6;

// Compacts the database in place and keeps the file as it was as the backup.
// No connection of the program may be open on the database, and no other
// program may open it until the compacted file is in place.  The new database
// and the backup keep the database's group and mode, and its owner where the
// user may give it.  Files that a killed compaction left are removed first.
// Each file is written whole and synced before it replaces another by one
// rename, so that however the process ends the database is the old file or
// the compacted one and the backup is the previous backup or the new one.  Until the database
// has been replaced, a failure removes the files the compaction made; once
// it has, the work file stays behind if it cannot be removed.
//
// Throws jet::Error(err::CompactTargetExists) when the work file appears
// while the compaction begins, changing nothing, and
// jet::Error(err::GeneralFailure) naming the file and the cause for every
// other failure: another program has the database or a file of the
// compaction open, a file left by a killed compaction cannot be removed, a
// file cannot be written.
// `working` is called now and then inside a long step.
void compact(const CompactionFiles &files, const CompactionHook &hook = {}, const std::function<void()> &working = {});

// Compacts the database the location names and returns the backup kept of
// it as it was: a file as compact() does, with the work file in the home
// folder; a server's database where it stands, by the server, which keeps
// no backup (an empty path) and needs no step but the first.
QString compactDatabase(const QString &location, const QString &homeFolder, const CompactionHook &hook = {},
                        const std::function<void()> &working = {});

} // namespace maintenance
