#include "db/engine/files.h"

#include "db/engine/error.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <mutex>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace jet {

namespace {

QString causeOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The names the system knows a user and a group by; empty where it knows none.
QByteArray userName(uid_t uid)
{
    passwd entry {};
    passwd *found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {};
    return QByteArray(entry.pw_name);
}

QByteArray groupName(gid_t gid)
{
    group entry {};
    group *found = nullptr;
    std::vector<char> buffer(16384);
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {};
    return QByteArray(entry.gr_name);
}

// The access of a new file in the folder.
struct FileAccess
{
    mode_t mode = S_IRUSR | S_IWUSR;
    // gid_t(-1): the file keeps the group it was made with.
    gid_t group = gid_t(-1);
};

FileAccess newFileAccess(const QByteArray &folder, int *error)
{
    FileAccess access;
    struct stat shared {};
    if (::stat(folder.constData(), &shared) != 0) {
        *error = errno;
        return access;
    }
    *error = 0;
    // A folder is set up for a group by giving it the group and the
    // set-group-ID bit, so that all it holds, the journals SQLite makes
    // included, has that group.  Debian gives each user a group of his own
    // name; a folder of that group is shared with nobody.
    if (!(shared.st_mode & S_ISGID))
        return access;
    const QByteArray name = groupName(shared.st_gid);
    if (!name.isEmpty() && name == userName(::geteuid()))
        return access;
    access.mode |= shared.st_mode & (S_IRGRP | S_IWGRP);
    access.group = shared.st_gid;
    return access;
}

// The folder's access given through `fd` when there is one, else by name.
// The errno of a failure, else 0.
int applyFolderRule(const QByteArray &folder, const QByteArray &file, int fd)
{
    int error = 0;
    const FileAccess access = newFileAccess(folder, &error);
    if (error)
        return error;
    mode_t mode = access.mode;
    // Anyone may give his file a group he belongs to, and only such a group;
    // one he does not belong to leaves the file its owner's alone.
    if (access.group != gid_t(-1)
        && (fd >= 0 ? ::fchown(fd, uid_t(-1), access.group) : ::chown(file.constData(), uid_t(-1), access.group)) != 0)
        mode = S_IRUSR | S_IWUSR;
    const int set = fd >= 0 ? ::fchmod(fd, mode) : ::chmod(file.constData(), mode);
    return set == 0 ? 0 : errno;
}

// Gives `file` the owner where this process may, group and mode of
// `replaced`, through `fd` when there is one.  The errno of a failure, else
// 0; `failed` says which.
enum class Attribute { Read, Group, Mode };

int takeAttributes(const QByteArray &replaced, const QByteArray &file, int fd, Attribute *failed, struct stat &model)
{
    if (::lstat(replaced.constData(), &model) != 0) {
        *failed = Attribute::Read;
        return errno;
    }
    // A link put in the file's place lends nothing: it is replaced, not followed.
    if (!S_ISREG(model.st_mode))
        return 0;
    const auto giveTo = [&](uid_t uid) {
        return fd >= 0 ? ::fchown(fd, uid, model.st_gid) : ::chown(file.constData(), uid, model.st_gid);
    };
    // Only the superuser may give a file away; anyone may give it one of his groups.
    if (giveTo(model.st_uid) != 0 && giveTo(uid_t(-1)) != 0) {
        *failed = Attribute::Group;
        return errno;
    }
    const mode_t mode = model.st_mode & 07777;
    if ((fd >= 0 ? ::fchmod(fd, mode) : ::chmod(file.constData(), mode)) != 0) {
        *failed = Attribute::Mode;
        return errno;
    }
    return 0;
}

// One holder of PrivateCreation at a time, so that none gives back a umask
// another has set.
std::mutex &creationLock()
{
    static std::mutex lock;
    return lock;
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

PrivateCreation::PrivateCreation()
{
    creationLock().lock();
    m_before = ::umask(S_IRWXG | S_IRWXO);
}

PrivateCreation::~PrivateCreation()
{
    ::umask(m_before);
    creationLock().unlock();
}

void keepAttributes(const QString &file, const QString &replaced)
{
    Attribute failed = Attribute::Read;
    struct stat model {};
    const int error = takeAttributes(QFile::encodeName(replaced), QFile::encodeName(file), -1, &failed, model);
    if (error == 0)
        return;
    switch (failed) {
    case Attribute::Read:
        throw Error(err::GeneralFailure,
                    QStringLiteral("ファイル '%1' の所有者と権限を読めません (%2)。").arg(replaced, causeOf(error)));
    case Attribute::Group:
        throw Error(err::GeneralFailure, QStringLiteral("ファイル '%1' のグループ (%2) を引き継げません (%3)。")
                                             .arg(replaced, QString::number(model.st_gid), causeOf(error)));
    case Attribute::Mode:
        break;
    }
    throw Error(err::GeneralFailure, QStringLiteral("ファイル '%1' の権限を引き継げません (%2)。").arg(replaced, causeOf(error)));
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
    if (replace) {
        Attribute failed = Attribute::Read;
        struct stat model {};
        const int error = takeAttributes(m_target, m_name, m_fd, &failed, model);
        if (error != 0 && error != ENOENT)
            return error;
    }
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
