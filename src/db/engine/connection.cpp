#include "db/engine/connection.h"

#include "db/engine/catalog.h"
#include "db/engine/error.h"
#include "db/engine/physical.h"
#include "db/engine/recordset.h"

#include <QFileInfo>
#include <QHash>
#include <cerrno>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace jet {

namespace {

constexpr int kSaltSize = 16;
constexpr int kTranslationCacheSize = 256;
constexpr int kPreparedCacheSize = 32;
constexpr int kIdlePerFile = 6;
constexpr int kBusyMilliseconds = 2000;
// Virtual machine steps between two calls of a working callback.
constexpr int kWorkingSteps = 1000;

[[noreturn]] void cannotOpen(const QString &path, const QString &why, Cause cause = Cause::Other)
{
    throw Error(err::GeneralFailure,
                QStringLiteral("データベース '%1' を開けません。%2").arg(path, why), cause);
}

QString sqlPassword(const QString &password)
{
    QString quoted = password;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

SelectIntoHandler &selectIntoHandler()
{
    static SelectIntoHandler handler;
    return handler;
}

int callWorking(void *working)
{
    (*static_cast<const std::function<void()> *>(working))();
    return 0;
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

PhysicalConnection::PhysicalConnection(const QString &path, const QString &password, bool create)
    : m_path(path), m_password(password)
{
    if (!create)
        m_identity = identifyFile(path);
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(m_db);
        m_db = nullptr;
        cannotOpen(path, QStringLiteral("ファイルを開けません。"));
    }
    try {
        detail::exec(m_db, QStringLiteral("PRAGMA key = %1;").arg(sqlPassword(password)));
        sqlite3_busy_timeout(m_db, kBusyMilliseconds);
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
        if (create)
            detail::exec(m_db, QStringLiteral("PRAGMA journal_mode = WAL;"));
        detail::exec(m_db, QStringLiteral("PRAGMA synchronous = FULL; PRAGMA cache_size = -16384;"));
        // Checkpoint after every commit, so that the main file alone holds each
        // save as soon as no read of another connection still needs the older
        // pages; a hospital used to copying the one file finds it complete.
        sqlite3_wal_autocheckpoint(m_db, 1);
        sql::registerFunctions(m_db);
        if (create)
            m_identity = identifyFile(path);
        m_salt = salt();
    } catch (...) {
        m_prepared.clear();
        sqlite3_close(m_db);
        m_db = nullptr;
        throw;
    }
}

bool PhysicalConnection::isOn(const FileIdentity &file) const
{
    return m_identity == file && salt() == m_salt;
}

QByteArray PhysicalConnection::salt() const
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

void PhysicalConnection::truncateJournal()
{
    // Readers of another process (the administrator's shell) are not waited
    // for: the next save's checkpoint brings the file up to date all the same.
    sqlite3_busy_timeout(m_db, 0);
    sqlite3_wal_checkpoint_v2(m_db, "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(m_db, kBusyMilliseconds);
}

PhysicalConnection::~PhysicalConnection()
{
    m_prepared.clear();
    sqlite3_close_v2(m_db);
}

const sql::Statement &PhysicalConnection::translation(const QString &jetSql, Dialect dialect)
{
    const std::pair<int, QString> key(int(dialect), jetSql);
    auto it = m_translations.constFind(key);
    if (it != m_translations.constEnd())
        return *it;
    if (m_translations.size() >= kTranslationCacheSize)
        m_translations.clear();
    return *m_translations.insert(key, sql::translate(jetSql, dialect));
}

detail::Statement &PhysicalConnection::preparedForExecute(const QString &sqlite)
{
    for (auto it = m_prepared.begin(); it != m_prepared.end(); ++it) {
        if (it->first == sqlite) {
            if (it != m_prepared.begin())
                m_prepared.splice(m_prepared.begin(), m_prepared, it);
            return m_prepared.front().second;
        }
    }
    detail::Statement stmt(m_db, sqlite);
    m_prepared.emplace_front(sqlite, std::move(stmt));
    if (int(m_prepared.size()) > kPreparedCacheSize)
        m_prepared.pop_back();
    return m_prepared.front().second;
}

void PhysicalConnection::resetForReuse()
{
    for (auto &entry : m_prepared)
        entry.second.reset();
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK;", nullptr, nullptr, nullptr);
}

namespace pool {

namespace {
struct Idle
{
    QHash<QString, std::vector<std::shared_ptr<PhysicalConnection>>> byKey;
    QHash<QString, int> inUse; // logical connections open, per file
};
Idle &idle()
{
    static Idle instance;
    return instance;
}
QString keyOf(const QString &path, const QString &password)
{
    return QFileInfo(path).absoluteFilePath() + QChar(0) + password;
}
} // namespace

std::shared_ptr<PhysicalConnection> acquire(const QString &path, const QString &password)
{
    const QString key = keyOf(path, password);
    auto &list = idle().byKey[key];
    std::shared_ptr<PhysicalConnection> handle;
    if (!list.empty()) {
        const FileIdentity current = identifyFile(path);
        while (!list.empty() && !handle) {
            std::shared_ptr<PhysicalConnection> candidate = std::move(list.back());
            list.pop_back();
            if (candidate->isOn(current))
                handle = std::move(candidate);
            else
                list.clear(); // the file was replaced: every idle handle on it is stale
        }
    }
    if (!handle) // identifies the file itself
        handle = std::make_shared<PhysicalConnection>(path, password, false);
    ++idle().inUse[key];
    return handle;
}

void release(std::shared_ptr<PhysicalConnection> connection)
{
    if (!connection)
        return;
    connection->resetForReuse();
    const QString key = keyOf(connection->path(), connection->password());
    // The idle handles stay open, so SQLite would keep the journal until the
    // program ends: empty it now, when no window of ours uses the file.
    if (--idle().inUse[key] == 0)
        connection->truncateJournal();
    auto &list = idle().byKey[key];
    if (int(list.size()) < kIdlePerFile)
        list.push_back(std::move(connection));
}

bool inUse(const QString &path)
{
    const QString prefix = QFileInfo(path).absoluteFilePath() + QChar(0);
    for (auto it = idle().inUse.cbegin(); it != idle().inUse.cend(); ++it)
        if (it.key().startsWith(prefix) && it.value() > 0)
            return true;
    return false;
}

void drop(const QString &path)
{
    const QString prefix = QFileInfo(path).absoluteFilePath() + QChar(0);
    for (auto it = idle().byKey.begin(); it != idle().byKey.end();) {
        if (it.key().startsWith(prefix))
            it = idle().byKey.erase(it);
        else
            ++it;
    }
}

} // namespace pool

ConnectionSettings parseConnectionString(const QString &text)
{
    ConnectionSettings settings;
    int i = 0;
    const int n = int(text.size());
    auto skipBlanks = [&] {
        while (i < n && text.at(i).isSpace())
            ++i;
    };
    while (i < n) {
        skipBlanks();
        if (i >= n)
            break;
        if (text.at(i) == QLatin1Char(';')) {
            ++i;
            continue;
        }
        const int eq = text.indexOf(QLatin1Char('='), i);
        if (eq < 0)
            throw Error(err::GeneralFailure, QStringLiteral("接続文字列が正しくありません: %1").arg(text));
        const QString key = text.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        skipBlanks();
        QString value;
        if (i < n && (text.at(i) == QLatin1Char('\'') || text.at(i) == QLatin1Char('"'))) {
            const QChar quote = text.at(i);
            const int close = text.indexOf(quote, i + 1);
            if (close < 0)
                throw Error(err::GeneralFailure, QStringLiteral("接続文字列の引用符が閉じていません: %1").arg(text));
            value = text.mid(i + 1, close - i - 1);
            i = close + 1;
            skipBlanks();
            if (i < n && text.at(i) != QLatin1Char(';'))
                throw Error(err::GeneralFailure, QStringLiteral("接続文字列が正しくありません: %1").arg(text));
        } else {
            const int semi = text.indexOf(QLatin1Char(';'), i);
            const int end = semi < 0 ? n : semi;
            value = text.mid(i, end - i).trimmed();
            i = end;
        }
        if (key == QLatin1String("provider"))
            settings.provider = value;
        else if (key == QLatin1String("data provider"))
            settings.dataProvider = value;
        else if (key == QLatin1String("data source"))
            settings.dataSource = value;
        else if (key == QLatin1String("jet oledb:database password"))
            settings.password = value;
    }
    return settings;
}

Connection::Connection() = default;

Connection::~Connection()
{
    close();
}

void Connection::setProvider(const QString &provider)
{
    m_provider = provider;
}

void Connection::setConnectionString(const QString &connectionString)
{
    m_connectionString = connectionString;
}

void Connection::open(const QString &connectionString)
{
    setConnectionString(connectionString);
    open();
}

void Connection::open()
{
    if (isOpen())
        throw Error(err::GeneralFailure, QStringLiteral("接続は既に開いています。"));
    const ConnectionSettings settings = parseConnectionString(m_connectionString);
    const QString provider = settings.provider.isEmpty() ? m_provider : settings.provider;
    const QString jet = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
    const bool shaped = provider.compare(QLatin1String("MSDataShape"), Qt::CaseInsensitive) == 0;
    const QString engine = shaped ? settings.dataProvider : provider;
    if (engine.compare(jet, Qt::CaseInsensitive) != 0)
        throw Error(err::GeneralFailure, QStringLiteral("プロバイダが見つかりません: %1").arg(engine));
    if (settings.dataSource.isEmpty())
        throw Error(err::GeneralFailure, QStringLiteral("接続文字列にデータソースがありません。"));
    m_physical = pool::acquire(settings.dataSource, settings.password);
    m_dataSource = settings.dataSource;
    m_transactionDepth = 0;
    ++m_openCount;
}

void Connection::close()
{
    if (!m_physical)
        return;
    if (m_working) {
        setWorkingCallback(m_physical->db(), nullptr);
        m_working = nullptr;
    }
    m_transactionDepth = 0;
    pool::release(std::move(m_physical));
    m_physical.reset();
}

sqlite3 *Connection::handle() const
{
    if (!m_physical)
        throw Error(err::ObjectClosed, QStringLiteral("オブジェクトが閉じている場合は、操作は許可されません。"));
    return m_physical->db();
}

int Connection::execute(const QString &jetSql, const QVariantList &parameters)
{
    sqlite3 *db = handle();
    const sql::Statement &statement = m_physical->translation(jetSql);
    switch (statement.kind) {
    case sql::Statement::Kind::AlterColumnDefault: {
        Catalog catalog;
        catalog.setActiveConnection(this);
        catalog.setColumnDefaultSql(statement.table, statement.column, statement.defaultSql);
        return 0;
    }
    case sql::Statement::Kind::DropIndex: {
        Catalog catalog;
        catalog.setActiveConnection(this);
        catalog.dropIndex(statement.table, statement.index);
        return 0;
    }
    case sql::Statement::Kind::SelectInto: {
        if (!selectIntoHandler())
            throw Error(err::NotSupported, QStringLiteral("SELECT ... INTO の出力先を扱えません: %1").arg(statement.select.intoConnect));
        // One read transaction for the whole output: the rows are one moment's,
        // and reading them does not take and release the file's locks row by row.
        const bool ownRead = sqlite3_get_autocommit(db) != 0;
        if (ownRead)
            detail::exec(db, QStringLiteral("BEGIN;"));
        try {
            Recordset rows;
            rows.openCommand(jetSql, this, parameters, CursorType::ForwardOnly);
            const int written = selectIntoHandler()(*this, statement.select.intoConnect, statement.select.intoName, rows);
            rows.close();
            if (ownRead)
                detail::exec(db, QStringLiteral("COMMIT;"));
            return written;
        } catch (...) {
            if (ownRead && !sqlite3_get_autocommit(db))
                sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
            throw;
        }
    }
    case sql::Statement::Kind::Select:
    case sql::Statement::Kind::Other:
        break;
    }
    detail::Statement &stmt = m_physical->preparedForExecute(statement.text);
    stmt.reset();
    stmt.bindAll(parameters);
    while (stmt.step()) {
    }
    stmt.reset();
    return statement.kind == sql::Statement::Kind::Other ? sqlite3_changes(db) : 0;
}

void Connection::setWorking(std::function<void()> working)
{
    sqlite3 *db = handle();
    m_working = std::move(working);
    setWorkingCallback(db, &m_working);
}

void Connection::beginTrans()
{
    sqlite3 *db = handle();
    // The write lock is taken at once: a transaction that read first and
    // wrote later would fail outright if another process wrote in between.
    if (m_transactionDepth == 0)
        detail::exec(db, QStringLiteral("BEGIN IMMEDIATE;"));
    else
        detail::exec(db, QStringLiteral("SAVEPOINT jet_level_%1;").arg(m_transactionDepth));
    ++m_transactionDepth;
}

void Connection::commitTrans()
{
    sqlite3 *db = handle();
    if (m_transactionDepth == 0)
        throw Error(err::GeneralFailure, QStringLiteral("トランザクションが開始されていません。"));
    if (m_transactionDepth == 1)
        detail::exec(db, QStringLiteral("COMMIT;"));
    else
        detail::exec(db, QStringLiteral("RELEASE jet_level_%1;").arg(m_transactionDepth - 1));
    --m_transactionDepth;
}

void Connection::rollbackTrans()
{
    sqlite3 *db = handle();
    if (m_transactionDepth == 0)
        throw Error(err::GeneralFailure, QStringLiteral("トランザクションが開始されていません。"));
    // After a full disk, an I/O error or a lock SQLite may have rolled back
    // the whole transaction itself; a ROLLBACK would then fail and hide the
    // error that caused it.
    if (sqlite3_get_autocommit(db)) {
        --m_transactionDepth;
        return;
    }
    if (m_transactionDepth == 1) {
        detail::exec(db, QStringLiteral("ROLLBACK;"));
    } else {
        const QString name = QStringLiteral("jet_level_%1").arg(m_transactionDepth - 1);
        detail::exec(db, QStringLiteral("ROLLBACK TO %1; RELEASE %1;").arg(name));
    }
    --m_transactionDepth;
}

void releasePooledHandles(const QString &path)
{
    pool::drop(path);
}

void closeDatabaseFile(const QString &path)
{
    if (pool::inUse(path))
        throw Error(err::GeneralFailure, QStringLiteral("データベース '%1' はまだ開いています。").arg(path));
    pool::drop(path);
}

void createDatabase(const QString &path, const QString &password)
{
    if (QFileInfo::exists(path))
        throw Error(err::GeneralFailure, QStringLiteral("ファイル '%1' は既に存在します。").arg(path));
    try {
        PhysicalConnection created(path, password, true);
        detail::exec(created.db(),
                     QStringLiteral("CREATE TABLE %1 (name TEXT PRIMARY KEY NOT NULL, jet_sql TEXT NOT NULL);")
                         .arg(sql::quoteIdentifier(QString::fromLatin1(detail::queryTextTable))));
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}

void setSelectIntoHandler(SelectIntoHandler handler)
{
    selectIntoHandler() = std::move(handler);
}

} // namespace jet
