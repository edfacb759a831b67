#include "maintenance/compaction.h"

#include "db/audit.h"
#include "db/engine/administration.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/files.h"
#include "db/filekey.h"
#include "db/location.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <optional>
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
// of another.  Only called on the work file, which no connection has open.
void copyDurably(const QString &from, const QString &to, const std::function<void()> &working)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        fileFailure(QStringLiteral("ファイルを読めません:"), from);
    // Readable by the user alone until it takes the database's group and mode.
    const int fd = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        fileFailure(QStringLiteral("ファイルを作れません:"), to);
    QFile target;
    if (!target.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        fileFailure(QStringLiteral("ファイルを作れません:"), to);
    }
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

void removeCopies(const QStringList &paths)
{
    for (const QString &path : paths)
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            QFile::remove(path + QLatin1String(suffix));
}

} // namespace

CompactionFiles compactionFiles(const QString &databasePath, const QString &homeFolder)
{
    return {databasePath, QDir(homeFolder).filePath(QStringLiteral("norva_optimization.mdb")),
            QFileInfo(databasePath).dir().filePath(QStringLiteral("norva2000.old.mdb"))};
}

void compact(const CompactionFiles &files, const CompactionHook &hook, const std::function<void()> &working)
{
    const auto step = [&hook](int number) {
        if (hook)
            hook(number);
    };
    const QString newBackup = files.backup + QStringLiteral(".new");
    const QString newDatabase = files.database + QStringLiteral(".new");
    const QString password = db::databasePassword();

    step(1);
    jet::closeDatabaseFile(files.database);
    jet::ExclusiveDatabase database(files.database, password);
    // Held, the database is nobody else's compaction: what these names hold
    // was left by one that was killed.
    QStringList stuck;
    QStringList inUse;
    for (const QString &left : {files.work, newBackup, newDatabase}) {
        const QStringList notRemoved = jet::removeLeftover(left, password);
        stuck << notRemoved;
        // Passed over: another connection has it open.
        if (notRemoved.isEmpty() && (QFileInfo::exists(left) || QFileInfo(left).isSymLink()))
            inUse << left;
    }
    if (!stuck.isEmpty())
        throw jet::Error(jet::err::GeneralFailure,
                         QStringLiteral("前回の最適化が残した次のファイルを、括弧内の原因で削除できません。"
                                        "原因を取り除いてから、もう一度最適化してください。\r%1")
                             .arg(stuck.join(QLatin1Char('\r'))));
    if (!inUse.isEmpty())
        throw jet::Error(jet::err::GeneralFailure,
                         QStringLiteral("最適化に使う次のファイルをほかのプログラムが開いています。そのプログラムを"
                                        "終了してから、もう一度最適化してください。\r%1")
                             .arg(inUse.join(QLatin1Char('\r'))));
    database.compactTo(files.work, working);
    try {
        step(2);
        database.copyTo(newBackup);
        jet::keepAttributes(newBackup, files.database);
        step(3);
        replace(newBackup, files.backup);
        // The backup of a protected file is under its key, and opens with its key file.
        db::filekey::copyKeyFile(files.database, files.backup);
        step(4);
        copyDurably(files.work, newDatabase, working);
        jet::keepAttributes(newDatabase, files.database);
        step(5);
        database.release();
        replace(newDatabase, files.database);
    } catch (...) {
        removeCopies({newBackup, newDatabase, files.work});
        throw;
    }
    step(6);
    if (!QFile::remove(files.work))
        fileFailure(QStringLiteral("ファイルを削除できません:"), files.work);
}

QString compactDatabase(const QString &location, const QString &homeFolder, const CompactionHook &hook,
                        const std::function<void()> &working)
{
    // Recorded before: the row goes into the compacted copy, and a
    // compaction the trail cannot record does not begin.  The old copy
    // notes the head it holds, as a backup does, so that a tail cut off the
    // database afterwards shows when the database is held against it.
    std::optional<db::audit::Head> head;
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(location));
        if (db::audit::hasTrail(connection)) {
            db::audit::append(connection, {db::audit::action::Maintenance.toString(), QStringLiteral("最適化"), {}, {}});
            head = db::audit::head(connection);
        }
        connection.close();
        jet::releasePooledHandles(location);
    }
    if (hook)
        hook(1);
    if (jet::compactInPlace(db::plainConnectionString(location), working))
        return QString();
    const CompactionFiles files = compactionFiles(location, homeFolder);
    compact(files, hook, working);
    if (head)
        db::audit::noteHead(files.backup, *head);
    return files.backup;
}

} // namespace maintenance
