#pragma once

#include "db/accounts/accounts.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// A database file of the ward may be keyed with a random key of its own
// instead of the published password, so that a copy of it is worth nothing
// without a login.  The key lies beside the database in its key file
// ("norva2000.mdb.key"), sealed once under each account's password and once
// under a recovery key kept on paper in the hospital's safe.  A server's
// database has no such key: its server authenticates and encrypts.
namespace db::filekey {

QString keyFilePath(const QString &databasePath);

// Whether the location names a file that has its own key: its key file lies
// beside it.  Protected files are opened only once unlock() or
// unlockWithRecoveryKey() has given the process the key.
bool isProtected(const QString &location);
// Whether the login must come before anything opens the database: it is
// protected and the process does not hold its key yet.
bool needsUnlock(const QString &location);

// Called before each step with its number, 1 to kProtectionSteps: export
// the file under its new key into a copy beside it, sync the copy, write the
// key file, put the copy in place of the database.
using ProtectionHook = std::function<void(int step)>;
inline constexpr int kProtectionSteps = 4;

// Asked for the administrator's one-time code when their account has a
// second factor; nothing when none is given.
using CodeQuestion = std::function<std::optional<QString>()>;

// Keys the file at `databasePath`, whose accounts are set up, with a new
// random key, sealed under the password of the administrator who turns it
// on and under a new recovery key, which is returned to be shown once.  The
// administrator logs in as at the login window: with their one-time code
// when they have a second factor, a wrong password or code counting towards
// their account's lock, a refusal left in the trail.  The process then holds
// the key.  No connection of the program may be open on the file.  The
// database is replaced by one rename, so that however the process ends it is
// the file as it was or the protected one; a key file beside a file that
// still opens with the published password is one that a broken-off run
// left, and is replaced.  The other accounts receive their seal the next
// time they log in or have their password set while the process holds the
// key.
// Throws jet::Error(err::NotSupported) with the reason shown when the file is
// protected already, has no accounts, or the login is refused or not an
// active administrator's; jet::Error(err::GeneralFailure) when a file cannot
// be written.
QString protect(const QString &databasePath, const QString &loginId, const QString &password,
                const CodeQuestion &askCode = {}, const ProtectionHook &hook = {});

// Keys the protected file, whose key the process holds, with the published
// password again, the same way as protect(), and removes its key file.  An
// administrator logs in for it as for protect().
// Throws jet::Error(err::NotSupported) when the file is not protected, its
// key is not held, or the login is refused.
void unprotect(const QString &databasePath, const QString &loginId, const QString &password,
               const CodeQuestion &askCode = {});

// Gives the process the key of the protected file when the password unseals
// the account's copy, before anything opens the database; the login itself
// follows as on any file.  Otherwise the refusal the login window shows:
// the same for an unknown login ID as for a wrong password, and for a login
// ID that has no seal yet, whose owner is told how to get one.  A wrong
// password counts against the login ID in the key file, and as many failures
// as the accounts' settings allow lock it for their minutes.
std::optional<accounts::LoginResult> unlock(const QString &databasePath, const QString &loginId,
                                            const QString &password);

// Gives the process the key from the recovery key, in the groups shown or
// without their hyphens.  Throws jet::Error(err::NotSupported) when it is not
// the file's.
void unlockWithRecoveryKey(const QString &databasePath, const QString &recoveryKey);

// Whether the start menu says that the data is not protected: on a file
// under the published key, to everyone who uses it, so that the ward knows
// what its administrator has still to do.
bool warnsUnprotected(jet::Connection &connection);

// Puts a copy of the protected database's key file beside a copy of the
// database (a backup, a copy), so that it opens as the database does;
// nothing for an unprotected database or a copy on a server.
void copyKeyFile(const QString &databasePath, const QString &copyPath);

// The login IDs whose password opens the key file: those who have logged in
// or had their password set since protection began.
QStringList sealedLoginIds(const QString &databasePath);

} // namespace db::filekey
