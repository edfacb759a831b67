#pragma once

#include <QString>

struct sqlite3;

namespace jet {

// A database file may be keyed with a random key of its own instead of a
// password.  The process holds at most one such key, in memory that is never
// swapped out and is wiped when the key is dropped or the process ends.
inline constexpr int kFileKeyBytes = 32;

// Takes kFileKeyBytes from `key`.  Throws Error(err::GeneralFailure) when
// the memory cannot be had.
void holdFileKey(const unsigned char *key);
void dropFileKey();
bool holdsFileKey();
// Writes the held key's kFileKeyBytes to `key`, for whoever wraps it anew;
// false when none is held.
bool copyHeldFileKey(unsigned char *key);

// The password that stands for the held key wherever the engine takes a
// password: a file opened, created or copied with it is keyed with the held
// key, so that a copy of a file keyed so (a backup, a compaction) is keyed
// the same.  Opening with it while no key is held fails as a wrong password does.
QString heldKeyPassword();

namespace detail {

// Keys a handle of SQLite with the password, or with the held key for
// heldKeyPassword().  Returns SQLite's code; SQLITE_AUTH when the held key
// is asked for and none is held.
int keyHandle(sqlite3 *db, const char *schema, const QString &password);

// Runs "ATTACH DATABASE path AS schema KEY password" without the key ever
// being part of the statement's text.
void attachKeyed(sqlite3 *db, const QString &path, const QString &schema, const QString &password);

} // namespace detail

} // namespace jet
