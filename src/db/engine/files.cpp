#include "db/engine/files.h"

#include "db/engine/error.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jet {

namespace {

QString causeOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The folder's rule applied through `fd` when there is one, else by name.
// The errno of a failure, else 0.
int applyFolderRule(const QByteArray &folder, const QByteArray &file, int fd)
{
    struct stat shared {};
    if (::stat(folder.constData(), &shared) != 0)
        return errno;
    mode_t mode = S_IRUSR | S_IWUSR;
    if (shared.st_mode & S_IWGRP) {
        // Anyone may give his file a group he belongs to, and only such a group.
        const int given = fd >= 0 ? ::fchown(fd, uid_t(-1), shared.st_gid)
                                  : ::chown(file.constData(), uid_t(-1), shared.st_gid);
        if (given == 0)
            mode |= S_IRGRP | S_IWGRP;
    }
    const int set = fd >= 0 ? ::fchmod(fd, mode) : ::chmod(file.constData(), mode);
    return set == 0 ? 0 : errno;
}

void syncFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

void restrictNewFile(const QString &path)
{
    const QFileInfo info(path);
    if (const int error = applyFolderRule(QFile::encodeName(info.absolutePath()), QFile::encodeName(path), -1))
        throw Error(err::GeneralFailure,
                    QStringLiteral("ファイル '%1' の権限を設定できません (%2)。").arg(path, causeOf(error)));
}

PartialFile::PartialFile(const QString &target)
{
    const QFileInfo info(target);
    m_folder = QFile::encodeName(info.absolutePath());
    m_target = QFile::encodeName(info.absoluteFilePath());
    QByteArray pattern = m_folder + '/' + '.' + QFile::encodeName(info.fileName()) + ".XXXXXX";
    m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_error = errno;
        return;
    }
    ::flock(m_fd, LOCK_EX);
    if (const int error = applyFolderRule(m_folder, pattern, m_fd)) {
        ::unlink(pattern.constData());
        ::close(m_fd);
        m_fd = -1;
        m_error = error;
        return;
    }
    m_name = pattern;
}

PartialFile::~PartialFile()
{
    if (!m_name.isEmpty())
        ::unlink(m_name.constData());
    if (m_fd >= 0)
        ::close(m_fd);
}

int PartialFile::place(bool replace)
{
    ::fsync(m_fd);
    // Without leave to replace, a link fails rather than replace a file.
    const int result = replace ? ::rename(m_name.constData(), m_target.constData())
                               : ::link(m_name.constData(), m_target.constData());
    if (result != 0)
        return errno;
    if (!replace)
        ::unlink(m_name.constData());
    m_name.clear();
    syncFile(m_folder);
    return 0;
}

QStringList removeLeftovers(const QString &target)
{
    const QFileInfo info(target);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray prefix = '.' + QFile::encodeName(info.fileName()) + '.';
    QStringList stuck;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return stuck;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        // mkostemp's six characters after the prefix, nothing else.
        if (!name.startsWith(prefix) || name.size() != prefix.size() + 6)
            continue;
        const QByteArray file = folder + '/' + name;
        const int fd = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st {};
        // Locked: a write is going on.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::unlink(file.constData()) != 0)
            stuck.append(QStringLiteral("%1 (%2)").arg(QFile::decodeName(file), causeOf(errno)));
        ::close(fd);
    }
    ::closedir(dir);
    return stuck;
}

} // namespace jet
