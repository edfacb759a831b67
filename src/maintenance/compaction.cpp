#include "maintenance/compaction.h"

#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/location.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace maintenance {

namespace {

[[noreturn]] void fileFailure(const QString &what, const QString &path)
{
    throw jet::Error(jet::err::GeneralFailure,
                     QStringLiteral("%1 '%2' (%3)").arg(what, path, QString::fromLocal8Bit(std::strerror(errno))));
}

// Copies the file and syncs the copy, so that a rename may put it in place
// of another.  Only called on files no SQLite connection has open.
void copyDurably(const QString &from, const QString &to, const std::function<void()> &working)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        fileFailure(QStringLiteral("ファイルを読めません:"), from);
    QFile target(to);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fileFailure(QStringLiteral("ファイルを作れません:"), to);
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 read = source.read(buffer.data(), buffer.size());
        if (read < 0)
            fileFailure(QStringLiteral("ファイルを読めません:"), from);
        if (read == 0)
            break;
        if (target.write(buffer.constData(), read) != read)
            fileFailure(QStringLiteral("ファイルに書き込めません:"), to);
        if (working)
            working();
    }
    if (!target.flush() || ::fsync(target.handle()) != 0)
        fileFailure(QStringLiteral("ファイルに書き込めません:"), to);
}

// Makes a rename in the folder survive a power cut.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0 || ::fsync(fd) != 0) {
        if (fd >= 0)
            ::close(fd);
        fileFailure(QStringLiteral("フォルダーを同期できません:"), folder);
    }
    ::close(fd);
}

void replace(const QString &from, const QString &to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        fileFailure(QStringLiteral("ファイルを置き換えられません:"), to);
    syncFolder(QFileInfo(to).absolutePath());
}

// A journal that outlives the program's own handles belongs to another
// process reading or writing the file; replacing the file under it would
// lose its work.
void requireNoJournal(const QString &database)
{
    for (const char *suffix : {"-wal", "-shm", "-journal"})
        if (QFileInfo::exists(database + QLatin1String(suffix)))
            throw jet::Error(jet::err::GeneralFailure,
                             QStringLiteral("データベース '%1' はほかのプログラムが使用中です。").arg(database));
}

} // namespace

CompactionFiles compactionFiles(const QString &databasePath, const QString &programFolder, const QString &homeFolder)
{
    return {databasePath, QDir(homeFolder).filePath(QStringLiteral("norva_optimization.mdb")),
            QDir(programFolder).filePath(QStringLiteral("norva2000.old.mdb"))};
}

void compact(const CompactionFiles &files, const CompactionHook &hook, const std::function<void()> &working)
{
    const auto step = [&hook](int number) {
        if (hook)
            hook(number);
    };
    const QString newBackup = files.backup + QStringLiteral(".new");
    const QString newDatabase = files.database + QStringLiteral(".new");

    step(1);
    jet::closeDatabaseFile(files.database);
    // The compacted copy carries the database's password.
    jet::compactDatabase(db::plainConnectionString(files.database), db::plainConnectionString(files.work), working);
    try {
        // Closing the compaction's handle on the database was the last: its
        // journal is folded in and gone, so the file alone is the database.
        requireNoJournal(files.database);
        step(2);
        copyDurably(files.database, newBackup, working);
        step(3);
        replace(newBackup, files.backup);
        step(4);
        copyDurably(files.work, newDatabase, working);
        step(5);
        replace(newDatabase, files.database);
    } catch (...) {
        QFile::remove(newBackup);
        QFile::remove(newDatabase);
        QFile::remove(files.work);
        throw;
    }
    step(6);
    if (!QFile::remove(files.work))
        fileFailure(QStringLiteral("ファイルを削除できません:"), files.work);
}

} // namespace maintenance
