#pragma once

#include <QString>
#include <QStringList>
#include <functional>

struct sqlite3;

namespace jet {

class Connection;

// A database file held by this process alone with SQLite's exclusive lock:
// while it lasts no other connection, of this or any other program, reads or
// writes the file.  The holder may copy it; replacing the file must wait for
// release(), because closing the handle removes the journal files by name.
class ExclusiveDatabase
{
public:
    // Throws Error(err::GeneralFailure) naming the file when another
    // connection has it open, or when it cannot be opened with the password.
    ExclusiveDatabase(const QString &path, const QString &password);
    ~ExclusiveDatabase();
    ExclusiveDatabase(const ExclusiveDatabase &) = delete;
    ExclusiveDatabase &operator=(const ExclusiveDatabase &) = delete;

    // Every page into the new file `target`, with the access restrictNewFile() gives.
    void copyTo(const QString &target) const;
    // A compacted copy under the same password into the new file `target`,
    // with the access restrictNewFile() gives.  Throws Error(err::CompactTargetExists) when
    // the target exists, changing nothing.  `working` is called now and then.
    void compactTo(const QString &target, const std::function<void()> &working = {}) const;
    // The same keyed with another password (or heldKeyPassword()): the file
    // is copied page by page under the new key, never changed in place.
    void exportTo(const QString &target, const QString &targetPassword,
                  const std::function<void()> &working = {}) const;
    // Closes the handle: the journal is folded into the file and removed.
    void release();

private:
    QString m_path;
    QString m_password;
    sqlite3 *m_db = nullptr;
};

// Copies the encrypted database at `source` into a new file at `target` with
// SQLite's online backup: one consistent state of the file, journal included,
// while other connections of any process go on reading and writing it.  The
// copy has the same password and journal mode.  It is made beside the target
// under another name and renamed into place when complete, so that the target
// is never left half-written.  A new copy has the access restrictNewFile()
// gives; one that replaces a file keeps that file's group and mode, and its owner where
// this process may give it.  Copies left there by killed runs are removed
// first; a line naming each that cannot be and the cause is returned.  Throws
// Error(err::GeneralFailure) naming the reason when the source cannot be read,
// when the target exists and `replace` is false, when the target is the source
// itself or is open in another connection, or when the copy cannot be written.
//
// A server's database (`source` a server address) is written by pg_dump in
// its custom format, which pg_restore reads, with the password libpq's own
// means give or, when they give none, the one the password prompt asks for;
// `password` is not used.  The same rules for the target hold.
QStringList backupDatabase(const QString &source, const QString &password, const QString &target, bool replace);

// Puts the backup in place of the database as backupDatabase() does, after
// checking that the backup is sound; throws Error(err::GeneralFailure) naming
// the backup and its first problem when it is not.  A server's database is refused:
// pg_restore puts a backup of one in place.
QStringList restoreDatabase(const QString &backup, const QString &password, const QString &database);

// The back end's own check of the open database: a file's b-trees, indexes
// and free pages; a server's indexes against their tables.  Returns {"ok"}
// for a sound database, otherwise the problems it found (at most 100 of a
// file's).  What the check could not look at, and why, goes to `skipped`.
QStringList integrityCheck(Connection &connection, QString *skipped = nullptr);

// Compacts a server's database where it stands: the server reclaims the
// space of deleted rows of every table of the ledger and renews its
// planner's statistics of them (VACUUM (ANALYZE)), outside a transaction and
// with the ledger in use.  Returns false, doing nothing, for a file, which is
// compacted into a copy that then takes its place (ExclusiveDatabase).
bool compactInPlace(const QString &connectionString, const std::function<void()> &working = {});

// Gives the stored query a new text in place and whole, on the database the
// connection string names, so that the stored queries built on it keep
// working: a server replaces its view (CREATE OR REPLACE VIEW), which it may
// not drop while others are built on it.  Throws Error(err::FileNotFound)
// when the file named is missing and Error(err::ItemNotFound) when the
// database has no such query.
void replaceStoredQuery(const QString &connectionString, const QString &name, const QString &jetSql);

// Removes a database file left behind by a killed run, with its journal
// files, unless another connection has it open (someone's work going on).
// Returns a line for each file it could not remove, naming it and the cause.
QStringList removeLeftover(const QString &path, const QString &password);

} // namespace jet
