#include "db/engine/administration.h"

#include "db/engine/connection.h"

#include "db/engine/error.h"
#include "db/engine/physical.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jet {

namespace {

[[noreturn]] void refuse(const QString &target, const QString &why)
{
    throw Error(err::GeneralFailure, QStringLiteral("バックアップ '%1' を作れません。%2").arg(target, why));
}

bool sameFile(const QString &a, const QString &b)
{
    struct stat first {}, second {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

// The keyed handle of the copy being written; closing it folds its journal in.
class TargetHandle
{
public:
    TargetHandle(const QString &path, const QString &password) : m_path(path)
    {
        const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc != SQLITE_OK)
            detail::raise(m_db, rc, path);
        detail::exec(m_db, QStringLiteral("PRAGMA key = %1;").arg(sql::quoteString(password)));
        detail::exec(m_db, QStringLiteral("PRAGMA journal_mode = WAL;"));
    }
    ~TargetHandle() { close(); }
    TargetHandle(const TargetHandle &) = delete;
    TargetHandle &operator=(const TargetHandle &) = delete;

    sqlite3 *db() const { return m_db; }
    void close()
    {
        if (m_db && sqlite3_close(m_db) != SQLITE_OK)
            refuse(m_path, QStringLiteral("ファイルを閉じられません。"));
        m_db = nullptr;
    }

private:
    QString m_path;
    sqlite3 *m_db = nullptr;
};

void copyInto(PhysicalConnection &from, TargetHandle &to)
{
    sqlite3_backup *backup = sqlite3_backup_init(to.db(), "main", from.db(), "main");
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

} // namespace

void backupDatabase(const QString &source, const QString &password, const QString &target, bool replace)
{
    const bool exists = QFileInfo::exists(target) || QFileInfo(target).isSymLink();
    if (exists && sameFile(source, target))
        refuse(target, QStringLiteral("元のデータベースと同じファイルです。"));
    if (exists && !replace)
        refuse(target, QStringLiteral("ファイルが既に存在します。"));
    if (exists && !QFileInfo(target).isFile())
        refuse(target, QStringLiteral("ファイルではありません。"));
    // Journal files of the old copy would be read into the new one.
    for (const char *suffix : {"-wal", "-shm", "-journal"}) {
        if (QFileInfo::exists(target + QLatin1String(suffix)))
            refuse(target, QStringLiteral("使用中か、正しく閉じられていません (%1 があります)。")
                               .arg(target + QLatin1String(suffix)));
    }

    PhysicalConnection database(source, password, false);
    const QString partial = QStringLiteral("%1.%2.part").arg(target).arg(::getpid());
    const auto removePartial = [&partial] {
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            QFile::remove(partial + QLatin1String(suffix));
    };
    removePartial(); // left by an earlier process of the same number that was killed
    try {
        TargetHandle copy(partial, password);
        copyInto(database, copy);
        copy.close();
        const QByteArray partialName = QFile::encodeName(partial);
        const QByteArray targetName = QFile::encodeName(target);
        // Without leave to replace, a link fails rather than replace a file
        // that appeared while the copy was made.
        const int rc = replace ? ::rename(partialName.constData(), targetName.constData())
                               : ::link(partialName.constData(), targetName.constData());
        if (rc != 0)
            refuse(target, errno == EEXIST ? QStringLiteral("ファイルが既に存在します。")
                                           : QString::fromLocal8Bit(::strerror(errno)));
        QFile::remove(partial);
    } catch (...) {
        removePartial();
        throw;
    }
}

QStringList integrityCheck(Connection &connection)
{
    detail::Statement check(connection.handle(), QStringLiteral("PRAGMA integrity_check(100);"));
    QStringList problems;
    while (check.step())
        problems << check.column(0).toString();
    return problems;
}

} // namespace jet
