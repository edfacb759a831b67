#pragma once

// The keyed SQLite handle behind logical connections, and the pool that keeps
// them between opens.  Internal to the engine.

#include "db/engine/jetsql.h"
#include "db/engine/sqlite_support.h"

#include <QHash>
#include <QString>
#include <functional>
#include <list>
#include <memory>

struct sqlite3;

namespace jet {

// What identifies the file a handle was opened on: replacing the file (a
// compaction, a restored backup) must never let a pooled handle read the old one.
// Taken from stat alone: opening and closing a descriptor of our own on the
// file would drop every lock SQLite holds on it in this process, and another
// process would then delete the journal under our connections.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;

    bool operator==(const FileIdentity &other) const = default;
};

// Throws Error(err::GeneralFailure), naming the path and the reason, when the
// path names no regular, non-empty file that this process may read and write
// in a folder where it may create the journal files.
FileIdentity identifyFile(const QString &path);

// Installs (or, for nullptr or an empty function, removes) a callback that
// SQLite calls every so many steps of a statement on the handle.
void setWorkingCallback(sqlite3 *db, const std::function<void()> *working);

class PhysicalConnection
{
public:
    PhysicalConnection(const QString &path, const QString &password, bool create);
    ~PhysicalConnection();
    PhysicalConnection(const PhysicalConnection &) = delete;
    PhysicalConnection &operator=(const PhysicalConnection &) = delete;

    sqlite3 *db() const { return m_db; }
    const QString &path() const { return m_path; }
    const QString &password() const { return m_password; }
    // Whether the handle still reads the file now found at its path: the
    // same file, and not one copied over it in place, whose random salt (the
    // first bytes of an encrypted file) differs.
    bool isOn(const FileIdentity &file) const;

    // Translations are pure functions of the text and the dialect; keep the recent ones.
    const sql::Statement &translation(const QString &jetSql, Dialect dialect = Dialect::Sqlite);
    // A prepared statement for Connection::execute, kept across calls.
    detail::Statement &preparedForExecute(const QString &sqlite);
    // Copies the journal into the main file and empties it, unless a reader
    // of another process still needs it.
    void truncateJournal();
    // Readies the handle for its next user: no transaction, no statement running.
    void resetForReuse();

private:
    QByteArray salt() const; // read through SQLite's own descriptor

    sqlite3 *m_db = nullptr;
    QString m_path;
    QString m_password;
    FileIdentity m_identity;
    QByteArray m_salt;
    QHash<std::pair<int, QString>, sql::Statement> m_translations; // by dialect and Jet text
    std::list<std::pair<QString, detail::Statement>> m_prepared; // most recent first
};

namespace pool {
std::shared_ptr<PhysicalConnection> acquire(const QString &path, const QString &password);
void release(std::shared_ptr<PhysicalConnection> connection);
void drop(const QString &path);
bool inUse(const QString &path); // a logical connection is open on the file
} // namespace pool

} // namespace jet
