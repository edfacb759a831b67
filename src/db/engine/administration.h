#pragma once

#include <QString>
#include <QStringList>

namespace jet {

class Connection;

// Copies the encrypted database at `source` into a new file at `target` with
// SQLite's online backup: one consistent state of the file, journal included,
// while other connections of any process go on reading and writing it.  The
// copy has the same password and journal mode.  It is made beside the target
// under another name and renamed into place when complete, so that the target
// is never left half-written.  Throws Error(err::GeneralFailure) naming the
// reason when the source cannot be read, when the target exists and `replace`
// is false, when the target is the source itself or is in use, or when the
// copy cannot be written.
void backupDatabase(const QString &source, const QString &password, const QString &target, bool replace);

// SQLite's own check of the open file: its b-trees, indexes and free pages.
// Returns {"ok"} for a sound file, otherwise the problems it found (at most 100).
QStringList integrityCheck(Connection &connection);

} // namespace jet
