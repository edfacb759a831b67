#pragma once

// The encrypted single file through SQLCipher: the engine's embedded back end.

#include "db/engine/driver.h"

#include <QByteArray>
#include <QString>
#include <chrono>

struct sqlite3;

namespace jet {

class Connection;

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

class SqliteDriver final : public Driver
{
public:
    // Opens the file keyed by the password; with `create`, makes a new one
    // with the table that keeps the stored queries' Jet text.
    SqliteDriver(const QString &path, const QString &password, bool create);
    ~SqliteDriver() override;
    SqliteDriver(const SqliteDriver &) = delete;
    SqliteDriver &operator=(const SqliteDriver &) = delete;

    sqlite3 *handle() const { return m_db; }

    Dialect dialect() const override { return Dialect::Sqlite; }
    QString databaseName() const override { return m_path; }
    bool isUsable() const override;
    void idle() override;

    std::unique_ptr<DriverResult> prepare(const QString &sql) override;
    void exec(const QString &sql) override;

    void begin() override;
    void beginRead() override;
    void commit() override;
    void rollback() override;
    void savepoint(const QString &name) override;
    void releaseSavepoint(const QString &name) override;
    void rollbackToSavepoint(const QString &name) override;
    bool inTransaction() const override;

    QString rowKeyColumn(const QString &table) const override;
    qint64 insert(const QString &table, const QStringList &columns, const QVariantList &values) override;

    QVariant toStorage(const QVariant &value, DataType type, bool typeKnown) const override;
    QVariant fromStorage(const QVariant &stored, DataType type, bool typeKnown) const override;

    std::optional<SchemaObject> findObject(const QString &name) const override;
    QStringList tables() const override;
    QStringList views() const override;
    QList<ColumnDef> columns(const QString &name) const override;
    QList<IndexDef> indexDefinitions(const QString &table) const override;
    void createTable(const TableDef &table) override;
    void appendColumn(const QString &table, const ColumnDef &column) override;
    void createIndex(const QString &table, const IndexDef &index) override;
    void dropIndex(const QString &table, const QString &index) override;
    void setColumnDefault(const QString &table, const QString &column, const QVariant &value) override;
    void setIndexStatistics(const QString &table, const QString &index, const QString &stat) override;
    void storeView(const QString &name, const QString &jetSql) override;
    void dropView(const QString &name) override;
    QString viewText(const QString &name) const override;

    void setWorking(const std::function<void()> *working) override;
    void resetForReuse() override;
    QStringList checkIntegrity(QString *skipped) override;
    bool compactInPlace() override { return false; }
    // A file plans with the fixed figures its schema sets (setIndexStatistics),
    // which a measurement of the moment would replace.
    void gatherStatistics() override {}

private:
    // The first bytes of the file, read through SQLite's own descriptor: an
    // encrypted file's random salt, which a file copied over it in place changes.
    QByteArray salt() const;
    bool hasObject(const QString &type, const QString &name) const;
    static int waitForLock(void *driver, int count);
    void waitForLocks(bool wait);

    sqlite3 *m_db = nullptr;
    std::chrono::steady_clock::time_point m_lockWaitSince;
    QString m_path;
    FileIdentity m_identity;
    QByteArray m_salt;
};

// The SQLite handle behind a connection open on a file, for tools and tests
// that reach past the engine.  Throws Error(err::ObjectClosed) when the
// connection is closed, Error(err::NotSupported) when it is not on a file.
sqlite3 *sqliteHandle(const Connection &connection);

} // namespace jet
