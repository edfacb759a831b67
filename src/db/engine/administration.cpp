#include "db/engine/administration.h"

#include "db/engine/connection.h"

#include "db/engine/error.h"
#include "db/engine/filekey.h"
#include "db/engine/files.h"
#include "db/engine/jetsql.h"
#include "db/engine/postgres/server.h"
#include "db/engine/sqlite/sqlfunctions.h"
#include "db/engine/sqlite/sqlite_support.h"
#include "db/engine/sqlite/sqlitedriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <cerrno>
#include <cstring>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jet {

namespace {

// Long enough for another connection's checkpoint or commit to end; one that
// stays open holds its lock for good.
constexpr int kLockWaitMilliseconds = 500;

const char *const kJournalSuffixes[] = {"-wal", "-shm", "-journal"};

// What a copy over `target` says when it cannot be made: "%1" stands for the
// target, "%2" for the reason.
const QString kBackupFailure = QStringLiteral("バックアップ '%1' を作れません。%2");
const QString kRestoreFailure = QStringLiteral("データベース '%1' を戻せません。%2");

[[noreturn]] void refuse(const QString &target, const QString &why, const QString &failure)
{
    throw Error(err::GeneralFailure, failure.arg(target, why));
}

QString systemCause()
{
    return QString::fromLocal8Bit(::strerror(errno));
}

bool sameFile(const QString &a, const QString &b)
{
    struct stat first {}, second {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

// A keyed handle without the program's own setup: enough to lock, copy and
// export.  Null when SQLite cannot open the file at all.
sqlite3 *openKeyed(const QString &path, const QString &password, int flags)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    if (detail::keyHandle(db, "main", password) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

// Takes the exclusive lock and keeps it past the transaction: in WAL mode every
// open connection holds a shared lock on the file for as long as it is open,
// so a refusal means another connection has the file open now.  Returns
// SQLite's code: SQLITE_BUSY for that refusal.
int lockExclusively(sqlite3 *db)
{
    sqlite3_busy_timeout(db, kLockWaitMilliseconds);
    int rc = sqlite3_exec(db, "PRAGMA locking_mode = EXCLUSIVE;", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    return rc & 0xff;
}

// The keyed handle of a new copy; closing it folds its journal in.
class TargetHandle
{
public:
    TargetHandle(const QString &path, const QString &password) : m_path(path)
    {
        {
            PrivateCreation privately;
            m_db = openKeyed(path, password, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        }
        if (!m_db)
            throw Error(err::GeneralFailure, QStringLiteral("ファイル '%1' を作れません。").arg(path));
        // Opening created the file; its journal files take its mode.
        restrictNewFile(path);
        detail::exec(m_db, QStringLiteral("PRAGMA journal_mode = WAL;"));
    }
    ~TargetHandle() { sqlite3_close(m_db); }
    TargetHandle(const TargetHandle &) = delete;
    TargetHandle &operator=(const TargetHandle &) = delete;

    sqlite3 *db() const { return m_db; }
    void close()
    {
        if (m_db && sqlite3_close(m_db) != SQLITE_OK)
            throw Error(err::GeneralFailure, QStringLiteral("ファイル '%1' を閉じられません。").arg(m_path));
        m_db = nullptr;
    }

private:
    QString m_path;
    sqlite3 *m_db = nullptr;
};

void copyInto(sqlite3 *from, TargetHandle &to)
{
    sqlite3_backup *backup = sqlite3_backup_init(to.db(), "main", from, "main");
    if (!backup)
        detail::raise(to.db(), sqlite3_errcode(to.db()));
    // All pages in one step: the source's read transaction spans the whole
    // copy, so writers carry on in the journal and the copy is one state.
    // A checkpoint of another connection may hold the file for a moment.
    int rc = SQLITE_OK;
    for (int attempt = 0; attempt < 50; ++attempt) {
        rc = sqlite3_backup_step(backup, -1);
        if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
            break;
        sqlite3_sleep(100);
    }
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE)
        detail::raise(to.db(), rc);
}

void removeWithJournals(const QString &path)
{
    QFile::remove(path);
    for (const char *suffix : kJournalSuffixes)
        QFile::remove(path + QLatin1String(suffix));
}

// Copies that killed runs of backupDatabase() left beside the target: the
// target's name, a process number and ".part", with or without its journals.
QStringList removeStalePartials(const QString &target, const QString &password)
{
    const QFileInfo info(target);
    const QRegularExpression partial(QStringLiteral("^%1\\.(\\d+)\\.part(?:-wal|-shm|-journal)?$")
                                         .arg(QRegularExpression::escape(info.fileName())));
    QSet<QString> copies;
    const QDir folder = info.absoluteDir();
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = partial.match(name);
        if (match.hasMatch() && match.captured(1).toLongLong() != ::getpid())
            copies.insert(folder.filePath(info.fileName() + QLatin1Char('.') + match.captured(1) + QStringLiteral(".part")));
    }
    QStringList left;
    for (const QString &copy : std::as_const(copies))
        left << removeLeftover(copy, password);
    left.sort();
    return left;
}

} // namespace

ExclusiveDatabase::ExclusiveDatabase(const QString &path, const QString &password)
    : m_path(path), m_password(password)
{
    identifyFile(path);
    // The file exists; the create flag is the one ATTACH makes a new file with.
    m_db = openKeyed(path, password, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!m_db)
        throw Error(err::GeneralFailure, QStringLiteral("データベース '%1' を開けません。").arg(path));
    const int rc = lockExclusively(m_db);
    if (rc != SQLITE_OK) {
        const QString cause = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_close(m_db);
        m_db = nullptr;
        const Cause why = detail::causeOf(rc);
        if (why == Cause::Busy)
            throw Error(err::GeneralFailure,
                        QStringLiteral("データベース '%1' はほかのプログラムが開いています。すべての端末でネモリアを"
                                       "終了し、ほかにこのファイルを開いているプログラムも終了してから、"
                                       "もう一度実行してください。")
                            .arg(path),
                        why);
        if (why == Cause::Corrupt)
            throw Error(err::DatabaseDamaged,
                        QStringLiteral("データベース '%1' を開けません。データベースファイルではないか、破損しているか、"
                                       "パスワードが違います。").arg(path),
                        why);
        throw Error(err::GeneralFailure, QStringLiteral("データベース '%1' を開けません (%2)。").arg(path, cause), why);
    }
    sql::registerFunctions(m_db);
}

ExclusiveDatabase::~ExclusiveDatabase()
{
    sqlite3_close(m_db);
}

void ExclusiveDatabase::copyTo(const QString &target) const
{
    try {
        TargetHandle copy(target, m_password);
        copyInto(m_db, copy);
        copy.close();
    } catch (...) {
        removeWithJournals(target);
        throw;
    }
}

void ExclusiveDatabase::compactTo(const QString &target, const std::function<void()> &working) const
{
    exportTo(target, m_password, working);
}

void ExclusiveDatabase::exportTo(const QString &target, const QString &targetPassword,
                                 const std::function<void()> &working) const
{
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
        throw Error(err::CompactTargetExists, QStringLiteral("ファイル '%1' は既に存在します。").arg(target));
    try {
        {
            PrivateCreation privately;
            detail::attachKeyed(m_db, target, QStringLiteral("jet_compact"), targetPassword);
        }
        try {
            restrictNewFile(target);
            setWorkingCallback(m_db, &working);
            detail::exec(m_db, QStringLiteral("SELECT sqlcipher_export('jet_compact');"));
            setWorkingCallback(m_db, nullptr);
        } catch (...) {
            setWorkingCallback(m_db, nullptr);
            sqlite3_exec(m_db, "DETACH DATABASE jet_compact;", nullptr, nullptr, nullptr);
            throw;
        }
        detail::exec(m_db, QStringLiteral("DETACH DATABASE jet_compact;"));
        SqliteDriver copy(target, targetPassword, false);
        detail::exec(copy.handle(), QStringLiteral("PRAGMA journal_mode = WAL;"));
    } catch (...) {
        removeWithJournals(target);
        throw;
    }
}

void ExclusiveDatabase::release()
{
    if (m_db && sqlite3_close(m_db) != SQLITE_OK)
        throw Error(err::GeneralFailure, QStringLiteral("データベース '%1' を閉じられません。").arg(m_path));
    m_db = nullptr;
}

namespace {

QStringList copyOver(const QString &source, const QString &password, const QString &target, bool replace,
                     const QString &failure)
{
    const bool exists = QFileInfo::exists(target) || QFileInfo(target).isSymLink();
    if (exists && sameFile(source, target))
        refuse(target, QStringLiteral("元のデータベースと同じファイルです。"), failure);
    if (exists && !replace)
        refuse(target, QStringLiteral("ファイルが既に存在します。"), failure);
    if (exists && !QFileInfo(target).isFile())
        refuse(target, QStringLiteral("ファイルではありません。"), failure);

    const QStringList left = removeStalePartials(target, password);
    SqliteDriver database(source, password, false);
    // The file replaced is held until the rename, so that nobody writes to it
    // meanwhile; releasing it folds its journal in, which would otherwise be
    // read into the copy.
    std::optional<ExclusiveDatabase> replaced;
    if (exists)
        replaced.emplace(target, password);
    const QString partial = QStringLiteral("%1.%2.part").arg(target).arg(::getpid());
    removeWithJournals(partial); // left by an earlier process of the same number that was killed
    try {
        TargetHandle copy(partial, password);
        copyInto(database.handle(), copy);
        copy.close();
        if (exists)
            keepAttributes(partial, target);
        if (replaced)
            replaced->release();
        const QByteArray partialName = QFile::encodeName(partial);
        const QByteArray targetName = QFile::encodeName(target);
        // Without leave to replace, a link fails rather than replace a file
        // that appeared while the copy was made.
        const int rc = replace ? ::rename(partialName.constData(), targetName.constData())
                               : ::link(partialName.constData(), targetName.constData());
        if (rc != 0)
            refuse(target, errno == EEXIST ? QStringLiteral("ファイルが既に存在します。") : systemCause(), failure);
        QFile::remove(partial);
    } catch (...) {
        removeWithJournals(partial);
        throw;
    }
    return left;
}

// A server's database as pg_dump writes it in its custom format, which
// pg_restore reads: one consistent state, while others go on working.
QStringList dumpServer(const QString &address, const QString &target, bool replace)
{
    const bool exists = QFileInfo::exists(target) || QFileInfo(target).isSymLink();
    if (exists && !replace)
        refuse(target, QStringLiteral("ファイルが既に存在します。"), kBackupFailure);
    if (exists && !QFileInfo(target).isFile())
        refuse(target, QStringLiteral("ファイルではありません。"), kBackupFailure);
    // Opening says in the program's words why the server cannot be reached,
    // and asks for the password where libpq's own means give none.
    openServer(address);
    const QStringList left = removeLeftovers(target);
    PartialFile partial(target);
    if (!partial.created())
        refuse(target, QString::fromLocal8Bit(::strerror(partial.error())), kBackupFailure);

    QProcess dump;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // pg_dump finds the password by libpq's means as we did; one given at the
    // prompt goes to it in its environment alone, never on its command line.
    if (const std::optional<QString> password = acceptedPassword(address))
        environment.insert(QStringLiteral("PGPASSWORD"), *password);
    dump.setProcessEnvironment(environment);
    dump.setProcessChannelMode(QProcess::SeparateChannels);
    dump.setStandardOutputFile(QProcess::nullDevice());
    dump.start(QStringLiteral("pg_dump"), {QStringLiteral("--format=custom"), QStringLiteral("--no-password"),
                                          QStringLiteral("--file=") + partial.name(), QStringLiteral("--dbname=") + address});
    if (!dump.waitForStarted(-1))
        refuse(target,
               QStringLiteral("pg_dump を起動できません (%1)。PostgreSQL のクライアント (Debian の postgresql-client) を"
                              "インストールしてください。").arg(dump.errorString()),
               kBackupFailure);
    dump.waitForFinished(-1);
    if (dump.exitStatus() != QProcess::NormalExit || dump.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(dump.readAllStandardError()).trimmed();
        refuse(target, QStringLiteral("pg_dump が失敗しました: %1").arg(said.isEmpty() ? dump.errorString() : said),
               kBackupFailure);
    }
    if (const int error = partial.place(replace))
        refuse(target, error == EEXIST ? QStringLiteral("ファイルが既に存在します。") : QString::fromLocal8Bit(::strerror(error)),
               kBackupFailure);
    return left;
}

} // namespace

QStringList backupDatabase(const QString &source, const QString &password, const QString &target, bool replace)
{
    if (isServerAddress(source))
        return dumpServer(source, target, replace);
    return copyOver(source, password, target, replace, kBackupFailure);
}

QStringList restoreDatabase(const QString &backup, const QString &password, const QString &database)
{
    if (isServerAddress(database))
        throw Error(err::GeneralFailure,
                    QStringLiteral("サーバー %1 のデータベースは pg_restore で戻してください。").arg(describeServer(database)));
    {
        SqliteDriver copy(backup, password, false);
        const QStringList problems = copy.checkIntegrity(nullptr);
        if (problems != QStringList{QStringLiteral("ok")})
            throw Error(err::GeneralFailure, QStringLiteral("バックアップ '%1' は壊れているため、戻せません: %2")
                                                 .arg(backup, problems.value(0)));
    }
    return copyOver(backup, password, database, true, kRestoreFailure);
}

QStringList integrityCheck(Connection &connection, QString *skipped)
{
    return connection.driver().checkIntegrity(skipped);
}

QStringList removeLeftover(const QString &path, const QString &password)
{
    const QFileInfo info(path);
    if (info.isFile()) {
        if (sqlite3 *db = openKeyed(path, password, SQLITE_OPEN_READWRITE)) {
            const int rc = lockExclusively(db);
            sqlite3_close(db);
            if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
                return {};
        }
    }
    QStringList left;
    for (const QString &file : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm"),
                                path + QStringLiteral("-journal")}) {
        if (::unlink(QFile::encodeName(file).constData()) != 0 && errno != ENOENT)
            left << QStringLiteral("%1 (%2)").arg(file, systemCause());
    }
    return left;
}

bool compactInPlace(const QString &connectionString, const std::function<void()> &working)
{
    if (!isServerAddress(parseConnectionString(connectionString).dataSource))
        return false;
    Connection connection;
    connection.open(connectionString);
    if (working)
        connection.setWorking(working);
    return connection.driver().compactInPlace();
}

void replaceStoredQuery(const QString &connectionString, const QString &name, const QString &jetSql)
{
    const QString dataSource = parseConnectionString(connectionString).dataSource;
    if (!isServerAddress(dataSource) && !QFileInfo(dataSource).isFile())
        throw Error(err::FileNotFound, QStringLiteral("ファイル '%1' が見つかりません。").arg(dataSource));
    Connection connection;
    connection.open(connectionString);
    Driver &driver = connection.driver();
    const std::optional<SchemaObject> object = driver.findObject(name);
    if (!object || object->kind != SchemaObject::Kind::View)
        throw Error(err::ItemNotFound, QStringLiteral("クエリ '%1' が見つかりません。").arg(name));
    if (sql::translate(jetSql).kind != sql::Statement::Kind::Select)
        throw Error(err::SyntaxError, QStringLiteral("クエリ '%1' は SELECT ステートメントではありません。").arg(name));
    driver.storeView(object->name, jetSql);
}

} // namespace jet
