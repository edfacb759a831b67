#include "db/engine/sqlite/sqlitedriver.h"

#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/filekey.h"
#include "db/engine/files.h"
#include "db/engine/jetsql.h"
#include "db/engine/physical.h"
#include "db/engine/sqlite/sqlfunctions.h"
#include "db/engine/sqlite/sqlite_support.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jet {

using detail::exec;
using sql::quoteIdentifier;
using sql::quoteString;

namespace {

constexpr int kSaltSize = 16;
// How long a statement waits for another connection's write lock before it
// fails as Busy: far beyond a save of another workstation, which holds the
// lock for milliseconds, and short enough that a file left locked is
// reported while the user still waits for the save.
constexpr std::chrono::milliseconds kLockWait{3000};
// Virtual machine steps between two calls of a working callback.
constexpr int kWorkingSteps = 1000;

const QString kPrimaryKey = QStringLiteral("PrimaryKey");

[[noreturn]] void cannotOpen(const QString &path, const QString &why, Cause cause = Cause::Other)
{
    throw Error(err::GeneralFailure,
                QStringLiteral("データベース '%1' を開けません。%2").arg(path, why), cause);
}

int callWorking(void *working)
{
    (*static_cast<const std::function<void()> *>(working))();
    return 0;
}

class SqliteResult final : public DriverResult
{
public:
    SqliteResult(sqlite3 *db, const QString &sql) : m_statement(db, sql), m_db(db) {}

    void bind(int index, const QVariant &value) override { m_statement.bind(index, value); }
    int parameterCount() const override { return sqlite3_bind_parameter_count(m_statement.get()); }
    bool step() override { return m_statement.step(); }
    void reset() override { m_statement.reset(); }
    int columnCount() const override { return m_statement.columnCount(); }
    QVariant column(int index) const override { return m_statement.column(index); }
    qint64 changes() const override { return sqlite3_changes(m_db); }

private:
    detail::Statement m_statement;
    sqlite3 *m_db;
};

QString queryTable()
{
    return quoteIdentifier(QString::fromLatin1(detail::queryTextTable));
}

// SQLite keeps one namespace for the indexes of every table.
QString storedIndexName(const QString &table, const QString &index)
{
    return table + QLatin1Char('#') + index;
}

// Nests inside whatever transaction the connection has open.
class Savepoint
{
public:
    explicit Savepoint(sqlite3 *db) : m_db(db) { exec(m_db, QStringLiteral("SAVEPOINT jet_catalog;")); }
    ~Savepoint()
    {
        if (!m_done)
            sqlite3_exec(m_db, "ROLLBACK TO jet_catalog; RELEASE jet_catalog;", nullptr, nullptr, nullptr);
    }
    void commit()
    {
        exec(m_db, QStringLiteral("RELEASE jet_catalog;"));
        m_done = true;
    }

private:
    sqlite3 *m_db;
    bool m_done = false;
};

QString columnDefinition(const ColumnDef &column, bool inlinePrimaryKey)
{
    QString def = quoteIdentifier(column.name) + QLatin1Char(' ');
    if (inlinePrimaryKey) {
        def += QStringLiteral("INTEGER PRIMARY KEY");
        if (column.autoIncrement)
            def += QStringLiteral(" AUTOINCREMENT");
        return def;
    }
    def += detail::declaredType(column);
    if (column.type == DataType::YesNo) {
        def += QStringLiteral(" NOT NULL DEFAULT ");
        def += column.defaultValue.isNull() ? QStringLiteral("0") : detail::sqlLiteral(column.defaultValue);
        return def;
    }
    if (!column.nullable)
        def += QStringLiteral(" NOT NULL");
    if (!column.defaultValue.isNull())
        def += QStringLiteral(" DEFAULT ") + detail::sqlLiteral(column.defaultValue);
    return def;
}

QVariant defaultFromSql(const QVariant &text)
{
    if (text.isNull())
        return QVariant();
    const QString t = text.toString().trimmed();
    if (t.size() >= 2 && t.startsWith(QLatin1Char('\'')) && t.endsWith(QLatin1Char('\'')))
        return t.mid(1, t.size() - 2).replace(QLatin1String("''"), QLatin1String("'"));
    bool ok = false;
    const qlonglong i = t.toLongLong(&ok);
    if (ok)
        return i;
    const double d = t.toDouble(&ok);
    if (ok)
        return d;
    return t;
}

struct TableColumn
{
    QString name;
    QString declared;
    bool notNull = false;
    QVariant defaultSql;
    int primaryKeyOrder = 0;
};

QList<TableColumn> tableColumns(sqlite3 *db, const QString &table)
{
    detail::Statement stmt(db, QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(table)));
    QList<TableColumn> result;
    while (stmt.step()) {
        TableColumn c;
        c.name = stmt.column(1).toString();
        c.declared = stmt.column(2).toString();
        c.notNull = stmt.column(3).toLongLong() != 0;
        c.defaultSql = stmt.column(4);
        c.primaryKeyOrder = int(stmt.column(5).toLongLong());
        result.append(c);
    }
    return result;
}

QString tableSql(sqlite3 *db, const QString &table)
{
    detail::Statement stmt(db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?"));
    stmt.bind(1, table);
    return stmt.step() ? stmt.column(0).toString() : QString();
}

} // namespace

void setWorkingCallback(sqlite3 *db, const std::function<void()> *working)
{
    if (working && *working)
        sqlite3_progress_handler(db, kWorkingSteps, callWorking, const_cast<std::function<void()> *>(working));
    else
        sqlite3_progress_handler(db, 0, nullptr, nullptr);
}

FileIdentity identifyFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (native.isEmpty() || ::stat(native.constData(), &st) != 0)
        cannotOpen(path, QStringLiteral("ファイルが見つかりません。"));
    if (S_ISDIR(st.st_mode))
        cannotOpen(path, QStringLiteral("ファイルではなくフォルダーです。"));
    if (!S_ISREG(st.st_mode))
        cannotOpen(path, QStringLiteral("ファイルではありません。"));
    if (st.st_size < kSaltSize)
        cannotOpen(path, QStringLiteral("データベースファイルではありません。"));
    if (::access(native.constData(), R_OK) != 0)
        cannotOpen(path, QStringLiteral("ファイルを読む権限がありません。"));
    // Opened read-only, SQLite would list the patients and fail at the first
    // save, leaving journal files behind that keep the next start from opening.
    if (::access(native.constData(), W_OK) != 0)
        cannotOpen(path, errno == EROFS ? QStringLiteral("読み取り専用の場所にあるため、書き込めません。")
                                        : QStringLiteral("ファイルに書き込む権限がありません。"),
                   Cause::ReadOnly);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::access(folder.constData(), W_OK | X_OK) != 0)
        cannotOpen(path, QStringLiteral("フォルダー '%1' に書き込む権限がありません。")
                             .arg(QFileInfo(path).absolutePath()),
                   Cause::ReadOnly);
    FileIdentity id;
    id.device = quint64(st.st_dev);
    id.inode = quint64(st.st_ino);
    return id;
}

SqliteDriver::SqliteDriver(const QString &path, const QString &password, bool create) : m_path(path)
{
    if (!create)
        m_identity = identifyFile(path);
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    int rc = SQLITE_OK;
    {
        std::optional<PrivateCreation> privately;
        if (create)
            privately.emplace();
        rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
    }
    if (rc != SQLITE_OK) {
        sqlite3_close(m_db);
        m_db = nullptr;
        cannotOpen(path, QStringLiteral("ファイルを開けません。"));
    }
    try {
        // Before the first page is written: SQLite gives the journals it
        // makes the file's mode.
        if (create)
            restrictNewFile(path);
        detail::check(m_db, detail::keyHandle(m_db, "main", password), QStringLiteral("key"));
        waitForLocks(true);
        // The key is only checked when the first page is read.
        rc = sqlite3_exec(m_db, "SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr);
        const Cause cause = detail::causeOf(sqlite3_extended_errcode(m_db));
        if (cause == Cause::Corrupt)
            throw Error(err::DatabaseDamaged,
                        QStringLiteral("データベース '%1' を開けません。データベースファイルではないか、破損しているか、"
                                       "パスワードが違います。").arg(path),
                        cause);
        if (cause == Cause::Busy)
            cannotOpen(path, QStringLiteral("ほかのプログラムがファイルを使用中です。"), cause);
        if (rc != SQLITE_OK)
            cannotOpen(path, QStringLiteral("ファイルを読めません (%1)。").arg(QString::fromUtf8(sqlite3_errmsg(m_db))),
                       cause);
        if (sqlite3_db_readonly(m_db, "main") == 1)
            cannotOpen(path, QStringLiteral("読み取り専用でしか開けないため、書き込めません。"), Cause::ReadOnly);
        if (create) {
            exec(QStringLiteral("PRAGMA journal_mode = WAL;"));
            exec(QStringLiteral("CREATE TABLE %1 (name TEXT PRIMARY KEY NOT NULL, jet_sql TEXT NOT NULL);").arg(queryTable()));
        }
        exec(QStringLiteral("PRAGMA synchronous = FULL; PRAGMA cache_size = -16384;"));
        // Checkpoint after every commit, so that the main file alone holds each
        // save as soon as no read of another connection still needs the older
        // pages; a hospital used to copying the one file finds it complete.
        sqlite3_wal_autocheckpoint(m_db, 1);
        sql::registerFunctions(m_db);
        if (create)
            m_identity = identifyFile(path);
        m_salt = salt();
    } catch (...) {
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

SqliteDriver::~SqliteDriver()
{
    sqlite3_close_v2(m_db);
}

QByteArray SqliteDriver::salt() const
{
    sqlite3_file *file = nullptr;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file
        || !file->pMethods)
        return {};
    QByteArray bytes(kSaltSize, '\0');
    if (file->pMethods->xRead(file, bytes.data(), kSaltSize, 0) != SQLITE_OK)
        return {};
    return bytes;
}

bool SqliteDriver::isUsable() const
{
    // A file gone or no longer ours to write is reported by the next open,
    // which identifies it again.
    try {
        return identifyFile(m_path) == m_identity && salt() == m_salt;
    } catch (const Error &) {
        return false;
    }
}

void SqliteDriver::idle()
{
    // The idle handles stay open, so SQLite would keep the journal until the
    // program ends.  Readers of another process (the administrator's shell)
    // are not waited for: the next save's checkpoint brings the file up to
    // date all the same.
    waitForLocks(false);
    sqlite3_wal_checkpoint_v2(m_db, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    waitForLocks(true);
}

// Tries again every few milliseconds, a little unevenly, until the wait is
// over.  SQLite's own timeout tries ever more seldom, so that among several
// workstations saving one after another the one that has waited longest
// keeps losing the lock to those that just began.
int SqliteDriver::waitForLock(void *driver, int count)
{
    auto &since = static_cast<SqliteDriver *>(driver)->m_lockWaitSince;
    const auto now = std::chrono::steady_clock::now();
    if (count == 0)
        since = now;
    if (now - since >= kLockWait)
        return 0;
    sqlite3_sleep(1 + int(QRandomGenerator::global()->bounded(3)));
    return 1;
}

void SqliteDriver::waitForLocks(bool wait)
{
    sqlite3_busy_handler(m_db, wait ? &SqliteDriver::waitForLock : nullptr, this);
}

std::unique_ptr<DriverResult> SqliteDriver::prepare(const QString &sql)
{
    return std::make_unique<SqliteResult>(m_db, sql);
}

void SqliteDriver::exec(const QString &sql)
{
    detail::exec(m_db, sql);
}

void SqliteDriver::begin()
{
    // The write lock is taken at once: a transaction that read first and
    // wrote later would fail outright if another process wrote in between.
    exec(QStringLiteral("BEGIN IMMEDIATE;"));
}

void SqliteDriver::beginRead()
{
    exec(QStringLiteral("BEGIN;"));
}

void SqliteDriver::commit()
{
    exec(QStringLiteral("COMMIT;"));
}

void SqliteDriver::rollback()
{
    exec(QStringLiteral("ROLLBACK;"));
}

void SqliteDriver::savepoint(const QString &name)
{
    exec(QStringLiteral("SAVEPOINT %1;").arg(quoteIdentifier(name)));
}

void SqliteDriver::releaseSavepoint(const QString &name)
{
    exec(QStringLiteral("RELEASE %1;").arg(quoteIdentifier(name)));
}

void SqliteDriver::rollbackToSavepoint(const QString &name)
{
    exec(QStringLiteral("ROLLBACK TO %1; RELEASE %1;").arg(quoteIdentifier(name)));
}

bool SqliteDriver::inTransaction() const
{
    // After a full disk, an I/O error or a lock SQLite may have rolled back
    // the whole transaction itself.
    return !sqlite3_get_autocommit(m_db);
}

QString SqliteDriver::rowKeyColumn(const QString &) const
{
    return QStringLiteral("rowid");
}

qint64 SqliteDriver::insert(const QString &table, const QStringList &columns, const QVariantList &values)
{
    QStringList marks;
    QStringList quoted;
    for (const QString &column : columns) {
        quoted.append(quoteIdentifier(column));
        marks.append(QStringLiteral("?"));
    }
    const QString sql = columns.isEmpty()
        ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoteIdentifier(table))
        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
              .arg(quoteIdentifier(table), quoted.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    detail::Statement stmt(m_db, sql);
    stmt.bindAll(values);
    stmt.step();
    return sqlite3_last_insert_rowid(m_db);
}

QVariant SqliteDriver::toStorage(const QVariant &value, DataType type, bool typeKnown) const
{
    return detail::toStorage(value, type, typeKnown);
}

QVariant SqliteDriver::fromStorage(const QVariant &stored, DataType type, bool typeKnown) const
{
    return detail::fromStorage(stored, type, typeKnown);
}

bool SqliteDriver::hasObject(const QString &type, const QString &name) const
{
    detail::Statement stmt(m_db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = ? AND name = ? COLLATE NOCASE"));
    stmt.bind(1, type);
    stmt.bind(2, name);
    return stmt.step();
}

std::optional<SchemaObject> SqliteDriver::findObject(const QString &name) const
{
    detail::Statement stmt(m_db, QStringLiteral("SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view') "
                                                "AND name = ? COLLATE NOCASE"));
    stmt.bind(1, name);
    if (!stmt.step())
        return std::nullopt;
    SchemaObject object;
    object.kind = stmt.column(0).toString() == QLatin1String("view") ? SchemaObject::Kind::View : SchemaObject::Kind::Table;
    object.name = stmt.column(1).toString();
    return object;
}

QStringList SqliteDriver::tables() const
{
    detail::Statement stmt(m_db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
                                                "AND name <> ? ORDER BY name"));
    stmt.bind(1, QString::fromLatin1(detail::queryTextTable));
    QStringList result;
    while (stmt.step())
        result.append(stmt.column(0).toString());
    return result;
}

QStringList SqliteDriver::views() const
{
    detail::Statement stmt(m_db, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'view' ORDER BY name"));
    QStringList result;
    while (stmt.step())
        result.append(stmt.column(0).toString());
    return result;
}

QList<ColumnDef> SqliteDriver::columns(const QString &name) const
{
    detail::Statement object(m_db, QStringLiteral("SELECT type = 'view', name, sql FROM sqlite_master "
                                                  "WHERE type IN ('table', 'view') AND name = ? COLLATE NOCASE"));
    object.bind(1, name);
    if (!object.step())
        throw Error(err::TableMissing, QStringLiteral("テーブル '%1' が見つかりません。").arg(name));
    QList<ColumnDef> result;
    const QList<TableColumn> raw = tableColumns(m_db, object.column(1).toString());
    if (object.column(0).toLongLong() != 0) {
        for (const TableColumn &c : raw) {
            ColumnDef def;
            def.name = c.name;
            const detail::DeclaredType declared = detail::parseDeclaredType(c.declared);
            def.type = declared.type;
            def.definedSize = declared.known ? declared.size : -1;
            result.append(def);
        }
        return result;
    }
    const bool autoIncrement = object.column(2).toString().contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
    int keyColumns = 0;
    for (const TableColumn &c : raw)
        keyColumns += c.primaryKeyOrder > 0 ? 1 : 0;
    for (const TableColumn &c : raw) {
        ColumnDef def;
        def.name = c.name;
        const detail::DeclaredType declared = detail::parseDeclaredType(c.declared);
        def.type = declared.type;
        def.definedSize = declared.size;
        def.nullable = !c.notNull && c.primaryKeyOrder == 0;
        def.autoIncrement = keyColumns == 1 && c.primaryKeyOrder == 1 && autoIncrement;
        def.defaultValue = defaultFromSql(c.defaultSql);
        result.append(def);
    }
    return result;
}

QList<IndexDef> SqliteDriver::indexDefinitions(const QString &table) const
{
    QList<IndexDef> result;
    IndexDef key{kPrimaryKey, {}, true, true};
    QList<TableColumn> columns = tableColumns(m_db, table);
    std::sort(columns.begin(), columns.end(),
              [](const TableColumn &a, const TableColumn &b) { return a.primaryKeyOrder < b.primaryKeyOrder; });
    for (const TableColumn &c : columns)
        if (c.primaryKeyOrder > 0)
            key.columns.append(c.name);
    if (!key.columns.isEmpty())
        result.append(key);
    // The key's own index (sqlite_autoindex_…, origin "pk") stands above.
    detail::Statement list(m_db, QStringLiteral("PRAGMA index_list(%1)").arg(quoteIdentifier(table)));
    const QString prefix = table + QLatin1Char('#');
    while (list.step()) {
        if (list.column(3).toString() != QLatin1String("c"))
            continue;
        const QString name = list.column(1).toString();
        IndexDef index{name.startsWith(prefix) ? name.mid(prefix.size()) : name, {}, false, list.column(2).toLongLong() != 0};
        detail::Statement parts(m_db, QStringLiteral("PRAGMA index_info(%1)").arg(quoteIdentifier(name)));
        while (parts.step())
            index.columns.append(parts.column(2).toString());
        result.append(index);
    }
    std::sort(result.begin() + (key.columns.isEmpty() ? 0 : 1), result.end(),
              [](const IndexDef &a, const IndexDef &b) { return a.name < b.name; });
    return result;
}

void SqliteDriver::createTable(const TableDef &table)
{
    QStringList primaryKey;
    for (const IndexDef &index : table.indexes)
        if (index.primaryKey)
            primaryKey = index.columns;
    // Only an AutoNumber becomes SQLite's row key.  Any other key gets an index
    // of its own, which lets joins on it read the index instead of the rows.
    QString inlineKey;
    for (const ColumnDef &c : table.columns)
        if (c.autoIncrement)
            inlineKey = c.name;

    QStringList parts;
    for (const ColumnDef &c : table.columns)
        parts.append(columnDefinition(c, c.name == inlineKey));
    if (inlineKey.isEmpty() && !primaryKey.isEmpty()) {
        QStringList quoted;
        for (const QString &c : primaryKey)
            quoted.append(quoteIdentifier(c));
        parts.append(QStringLiteral("PRIMARY KEY (%1)").arg(quoted.join(QStringLiteral(", "))));
    }

    Savepoint savepoint(m_db);
    exec(QStringLiteral("CREATE TABLE %1 (%2);").arg(quoteIdentifier(table.name), parts.join(QStringLiteral(", "))));
    for (const IndexDef &index : table.indexes)
        if (!index.primaryKey)
            createIndex(table.name, index);
    savepoint.commit();
}

void SqliteDriver::appendColumn(const QString &table, const ColumnDef &column)
{
    exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2;").arg(quoteIdentifier(table), columnDefinition(column, false)));
}

void SqliteDriver::createIndex(const QString &table, const IndexDef &index)
{
    QStringList quoted;
    for (const QString &c : index.columns)
        quoted.append(quoteIdentifier(c));
    exec(QStringLiteral("CREATE %1INDEX %2 ON %3 (%4);")
             .arg(index.unique ? QStringLiteral("UNIQUE ") : QString(),
                  quoteIdentifier(storedIndexName(table, index.name)), quoteIdentifier(table),
                  quoted.join(QStringLiteral(", "))));
}

void SqliteDriver::dropIndex(const QString &table, const QString &index)
{
    const QString stored = storedIndexName(table, index);
    if (!hasObject(QStringLiteral("index"), stored))
        throw Error(err::ItemNotFound, QStringLiteral("インデックス '%1' がテーブル '%2' にありません。").arg(index, table));
    exec(QStringLiteral("DROP INDEX %1;").arg(quoteIdentifier(stored)));
}

void SqliteDriver::setColumnDefault(const QString &table, const QString &column, const QVariant &value)
{
    // SQLite cannot change a default in place: the table is rebuilt, keeping
    // every row, row key and AutoNumber counter.
    const QList<TableColumn> columns = tableColumns(m_db, table);
    int keyColumns = 0;
    for (const TableColumn &c : columns)
        keyColumns += c.primaryKeyOrder > 0 ? 1 : 0;
    const bool autoIncrement = tableSql(m_db, table).contains(QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);

    QStringList definitions, names, keys;
    bool rowidAlias = false;
    for (const TableColumn &c : columns) {
        QString def = quoteIdentifier(c.name) + QLatin1Char(' ') + c.declared;
        const bool integerKey = autoIncrement && keyColumns == 1 && c.primaryKeyOrder == 1;
        if (integerKey) {
            def += QStringLiteral(" PRIMARY KEY AUTOINCREMENT");
            rowidAlias = true;
        }
        if (c.notNull)
            def += QStringLiteral(" NOT NULL");
        const QVariant dflt = c.name.compare(column, Qt::CaseInsensitive) == 0
            ? (value.isNull() ? QVariant() : QVariant(detail::sqlLiteral(value)))
            : c.defaultSql;
        if (!dflt.isNull())
            def += QStringLiteral(" DEFAULT ") + dflt.toString();
        definitions.append(def);
        names.append(quoteIdentifier(c.name));
        if (c.primaryKeyOrder > 0 && !integerKey)
            keys.append(quoteIdentifier(c.name));
    }
    if (!keys.isEmpty())
        definitions.append(QStringLiteral("PRIMARY KEY (%1)").arg(keys.join(QStringLiteral(", "))));

    QStringList indexSql;
    {
        detail::Statement stmt(m_db, QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'index' AND tbl_name = ? AND sql IS NOT NULL"));
        stmt.bind(1, table);
        while (stmt.step())
            indexSql.append(stmt.column(0).toString());
    }
    QVariant sequence;
    if (autoIncrement) {
        detail::Statement stmt(m_db, QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = ?"));
        stmt.bind(1, table);
        if (stmt.step())
            sequence = stmt.column(0);
    }

    const QString rebuilt = quoteIdentifier(table + QStringLiteral("#rebuild"));
    const QString copied = rowidAlias ? names.join(QStringLiteral(", ")) : QStringLiteral("rowid, ") + names.join(QStringLiteral(", "));
    Savepoint savepoint(m_db);
    exec(QStringLiteral("CREATE TABLE %1 (%2);").arg(rebuilt, definitions.join(QStringLiteral(", "))));
    exec(QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM %3;").arg(rebuilt, copied, quoteIdentifier(table)));
    exec(QStringLiteral("DROP TABLE %1;").arg(quoteIdentifier(table)));
    exec(QStringLiteral("ALTER TABLE %1 RENAME TO %2;").arg(rebuilt, quoteIdentifier(table)));
    if (!sequence.isNull()) {
        exec(QStringLiteral("DELETE FROM sqlite_sequence WHERE name = %1;").arg(quoteString(table)));
        exec(QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES (%1, %2);")
                 .arg(quoteString(table), QString::number(sequence.toLongLong())));
    }
    for (const QString &sql : indexSql)
        exec(sql);
    savepoint.commit();
}

void SqliteDriver::setIndexStatistics(const QString &table, const QString &index, const QString &stat)
{
    QString stored = storedIndexName(table, index);
    if (index == kPrimaryKey) {
        stored.clear();
        detail::Statement list(m_db, QStringLiteral("PRAGMA index_list(%1)").arg(quoteIdentifier(table)));
        while (stored.isEmpty() && list.step()) {
            if (list.column(3).toString() == QLatin1String("pk"))
                stored = list.column(1).toString();
        }
        if (stored.isEmpty())
            throw Error(err::NotSupported, QStringLiteral("テーブル '%1' の主キーには統計を付けられません。").arg(table));
    }
    Savepoint savepoint(m_db);
    // ANALYZE of the schema table alone creates SQLite's statistics table and,
    // run again, makes the connection read the row written.
    exec(QStringLiteral("ANALYZE sqlite_master;"));
    detail::Statement earlier(m_db, QStringLiteral("DELETE FROM sqlite_stat1 WHERE tbl = ? AND idx = ?"));
    earlier.bindAll({table, stored});
    earlier.step();
    detail::Statement write(m_db, QStringLiteral("INSERT INTO sqlite_stat1 (tbl, idx, stat) VALUES (?, ?, ?)"));
    write.bindAll({table, stored, stat});
    write.step();
    exec(QStringLiteral("ANALYZE sqlite_master;"));
    savepoint.commit();
}

void SqliteDriver::storeView(const QString &name, const QString &jetSql)
{
    const sql::Statement statement = sql::translate(jetSql);
    exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY NOT NULL, jet_sql TEXT NOT NULL);")
             .arg(queryTable()));
    // SQLite checks the views built on a view only when they are read, so
    // dropping and creating it again replaces it in place.
    Savepoint savepoint(m_db);
    if (hasObject(QStringLiteral("view"), name))
        dropView(name);
    exec(QStringLiteral("CREATE VIEW %1 AS %2;").arg(quoteIdentifier(name), statement.text));
    detail::Statement insert(m_db, QStringLiteral("INSERT INTO %1 (name, jet_sql) VALUES (?, ?)").arg(queryTable()));
    insert.bind(1, name);
    insert.bind(2, jetSql);
    insert.step();
    savepoint.commit();
}

void SqliteDriver::dropView(const QString &name)
{
    exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY NOT NULL, jet_sql TEXT NOT NULL);")
             .arg(queryTable()));
    Savepoint savepoint(m_db);
    exec(QStringLiteral("DROP VIEW %1;").arg(quoteIdentifier(name)));
    detail::Statement remove(m_db, QStringLiteral("DELETE FROM %1 WHERE name = ?").arg(queryTable()));
    remove.bind(1, name);
    remove.step();
    savepoint.commit();
}

QString SqliteDriver::viewText(const QString &name) const
{
    if (!hasObject(QStringLiteral("table"), QString::fromLatin1(detail::queryTextTable)))
        return QString();
    detail::Statement stmt(m_db, QStringLiteral("SELECT jet_sql FROM %1 WHERE name = ?").arg(queryTable()));
    stmt.bind(1, name);
    return stmt.step() ? stmt.column(0).toString() : QString();
}

void SqliteDriver::setWorking(const std::function<void()> *working)
{
    setWorkingCallback(m_db, working);
}

void SqliteDriver::resetForReuse()
{
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
}

QStringList SqliteDriver::checkIntegrity(QString *)
{
    detail::Statement check(m_db, QStringLiteral("PRAGMA integrity_check(100);"));
    QStringList problems;
    while (check.step())
        problems << check.column(0).toString();
    return problems;
}

sqlite3 *sqliteHandle(const Connection &connection)
{
    if (!connection.isOpen())
        throw Error(err::ObjectClosed, QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    auto *driver = dynamic_cast<SqliteDriver *>(&connection.physical()->driver());
    if (!driver)
        throw Error(err::NotSupported, QStringLiteral("接続 '%1' はデータベースファイルのものではありません。")
                                           .arg(connection.physical()->driver().databaseName()));
    return driver->handle();
}

} // namespace jet
