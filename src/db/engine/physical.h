#pragma once

// The keyed SQLite handle behind logical connections, and the pool that keeps
// them between opens.  Internal to the engine.

#include "db/engine/jetsql.h"
#include "db/engine/sqlite_support.h"

#include <QHash>
#include <QString>
#include <list>
#include <memory>

struct sqlite3;

namespace jet {

// What identifies the file a handle was opened on: replacing the file (a
// compaction, a restored backup) must never let a pooled handle read the old one.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    QByteArray salt; // the first bytes of an encrypted file are its random salt

    bool operator==(const FileIdentity &other) const = default;
};

// Throws Error(err::GeneralFailure) when the path names no readable, non-empty file.
FileIdentity identifyFile(const QString &path);

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
    const FileIdentity &identity() const { return m_identity; }

    // Translations are pure functions of the text; keep the recent ones.
    const sql::Statement &translation(const QString &jetSql);
    // A prepared statement for Connection::execute, kept across calls.
    detail::Statement &preparedForExecute(const QString &sqlite);
    // Readies the handle for its next user: no transaction, no statement running.
    void resetForReuse();

private:
    sqlite3 *m_db = nullptr;
    QString m_path;
    QString m_password;
    FileIdentity m_identity;
    QHash<QString, sql::Statement> m_translations;
    std::list<std::pair<QString, detail::Statement>> m_prepared; // most recent first
};

namespace pool {
std::shared_ptr<PhysicalConnection> acquire(const QString &path, const QString &password);
void release(std::shared_ptr<PhysicalConnection> connection);
void drop(const QString &path);
} // namespace pool

} // namespace jet
