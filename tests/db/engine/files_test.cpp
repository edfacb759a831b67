#include "db/engine/administration.h"
#include "db/engine/connection.h"
#include "db/engine/files.h"
#include "support/tempdb.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cstring>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace jet;
using testing_support::kPassword;
using testing_support::plainConnectionString;

namespace {

struct stat attributes(const QString &path)
{
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return st;
}

// A group the test's user may give his files other than his personal one:
// any for the superuser, else one of his supplementary groups.
std::optional<gid_t> sharedGroup()
{
    if (::geteuid() == 0)
        return gid_t(5678);
    const passwd *user = ::getpwuid(::geteuid());
    gid_t groups[256];
    const int count = ::getgroups(256, groups);
    for (int i = 0; i < count; ++i) {
        const group *entry = ::getgrgid(groups[i]);
        if (!user || !entry || std::strcmp(entry->gr_name, user->pw_name) != 0)
            return groups[i];
    }
    return std::nullopt;
}

std::optional<gid_t> personalGroup()
{
    const passwd *user = ::getpwuid(::geteuid());
    const group *entry = user ? ::getgrnam(user->pw_name) : nullptr;
    return entry ? std::optional<gid_t>(entry->gr_gid) : std::nullopt;
}

class NewFiles : public ::testing::Test
{
protected:
    // The umask of a user whose files everyone may read.
    void SetUp() override { m_umask = ::umask(022); }
    void TearDown() override { ::umask(m_umask); }

    QString folder(const QString &name, mode_t mode, std::optional<gid_t> group = std::nullopt)
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(QDir().mkdir(path));
        const QByteArray native = QFile::encodeName(path);
        if (group) {
            EXPECT_EQ(::chown(native.constData(), uid_t(-1), *group), 0);
        }
        EXPECT_EQ(::chmod(native.constData(), mode), 0);
        return path;
    }

    // A database made in `where` with a connection open on it, so
    // that its journals are there too; and a file made beside it.
    void expectAccess(const QString &where, mode_t mode, std::optional<gid_t> group)
    {
        const QString database = where + QStringLiteral("/ward.mdb");
        createDatabase(database, kPassword);
        {
            Connection connection;
            connection.open(plainConnectionString(database));
            PartialFile partial(where + QStringLiteral("/list.pdf"));
            ASSERT_TRUE(partial.created());
            for (const QString &file : {database, database + QStringLiteral("-wal"), database + QStringLiteral("-shm"),
                                        partial.name()}) {
                const struct stat st = attributes(file);
                EXPECT_EQ(st.st_mode & 07777, mode) << file.toStdString();
                if (group) {
                    EXPECT_EQ(st.st_gid, *group) << file.toStdString();
                }
            }
        }
        releasePooledHandles(database);
    }

    QTemporaryDir m_dir;
    mode_t m_umask = 0;
};

// A database, its journals and any other file are their owner's alone,
// unless the folder is set up for a group: then that group may do to them
// what it may do in the folder, and nobody else anything.
TEST_F(NewFiles, AreTheOwnersAloneUnlessTheFolderIsSetUpForAGroup)
{
    expectAccess(folder(QStringLiteral("own"), 0755), 0600, std::nullopt);
    if (const std::optional<gid_t> personal = personalGroup())
        expectAccess(folder(QStringLiteral("personal"), 02770, personal), 0600, personal);
    const std::optional<gid_t> group = sharedGroup();
    if (!group)
        GTEST_SKIP() << "the user belongs to one group only";
    // Writable by a group, but not set up for it: a new file would be the
    // group's, not the folder's.
    expectAccess(folder(QStringLiteral("writable"), 0777, group), 0600, std::nullopt);
    expectAccess(folder(QStringLiteral("readers"), 02750, group), 0640, group);
    expectAccess(folder(QStringLiteral("ward"), 02775, group), 0660, group);
}

// A file put in place of another keeps that file's group and mode, which
// its owner or the hospital gave it: an export, a PDF, a restored database.
TEST_F(NewFiles, ReplacingAFileKeepsItsGroupAndMode)
{
    const std::optional<gid_t> group = sharedGroup();
    if (!group)
        GTEST_SKIP() << "the user belongs to one group only";
    const QString where = folder(QStringLiteral("own"), 0700);
    const QString list = where + QStringLiteral("/list.xlsx");
    QFile earlier(list);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.close();
    ASSERT_EQ(::chown(QFile::encodeName(list).constData(), uid_t(-1), *group), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(list).constData(), 0640), 0);
    {
        PartialFile partial(list);
        ASSERT_EQ(partial.place(true), 0);
    }
    EXPECT_EQ(attributes(list).st_mode & 07777, 0640u);
    EXPECT_EQ(attributes(list).st_gid, *group);

    const QString database = where + QStringLiteral("/ward.mdb");
    const QString backup = where + QStringLiteral("/ward.bak");
    createDatabase(database, kPassword);
    backupDatabase(database, kPassword, backup, false);
    EXPECT_EQ(attributes(backup).st_mode & 07777, 0600u);
    ASSERT_EQ(::chown(QFile::encodeName(database).constData(), uid_t(-1), *group), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(database).constData(), 0640), 0);
    restoreDatabase(backup, kPassword, database);
    EXPECT_EQ(attributes(database).st_mode & 07777, 0640u);
    EXPECT_EQ(attributes(database).st_gid, *group);
}

} // namespace
