#include "db/engine/administration.h"
#include "db/engine/files.h"
#include "support/tempdb.h"

#include <QDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace jet;
using testing_support::kPassword;

static bool hasAccess(const QString &path, mode_t mode, gid_t group)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & 07777) == mode
        && (mode == 0600 || st.st_gid == group);
}

static void setUp(const QString &path, gid_t group, mode_t mode)
{
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), uid_t(-1), group), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

// A group of the user's other than his own; the superuser may give any.
static gid_t otherGroup()
{
    gid_t groups[64];
    const int count = ::getgroups(64, groups);
    return count > 1 ? (groups[0] != ::getegid() ? groups[0] : groups[1]) : ::geteuid() == 0 ? 5678 : 0;
}

// A database, its journals and any other new file are their owner's alone
// whatever the umask, unless the folder is set up for a group: then that
// group may do to them what it may do in the folder.  A file put in place of
// another keeps that file's group and mode.
TEST(NewFiles, AreTheOwnersAloneUnlessTheFolderIsSetUpForAGroupAndAReplacementKeepsTheGroupAndMode)
{
    const gid_t group = otherGroup();
    if (group == 0)
        GTEST_SKIP() << "the user belongs to one group only";
    QTemporaryDir dir;
    const mode_t umask = ::umask(022);
    const struct { const char *name; gid_t group; mode_t folder; mode_t file; } cases[] = {
        {"own", group, 0755, 0600}, {"writable", group, 0777, 0600}, {"personal", ::getegid(), 02770, 0600},
        {"readers", group, 02750, 0640}, {"ward", group, 02770, 0660}};
    for (const auto &c : cases) {
        const QString folder = dir.filePath(QString::fromLatin1(c.name));
        QDir().mkdir(folder);
        setUp(folder, c.group, c.folder);
        const QString database = folder + QStringLiteral("/ward.mdb");
        createDatabase(database, kPassword);
        Connection connection;
        connection.open(testing_support::plainConnectionString(database));
        PartialFile partial(folder + QStringLiteral("/list.pdf"));
        for (const QString &file : {database, database + QStringLiteral("-wal"), partial.name()})
            EXPECT_TRUE(hasAccess(file, c.file, c.group)) << file.toStdString();
        connection.close();
        releasePooledHandles(database);
    }
    ::umask(umask);

    const QString database = dir.filePath(QStringLiteral("own/ward.mdb"));
    const QString backup = dir.filePath(QStringLiteral("own/ward.bak"));
    backupDatabase(database, kPassword, backup, false);
    setUp(database, group, 0640);
    restoreDatabase(backup, kPassword, database);
    setUp(backup, group, 0640);
    PartialFile(backup).place(true);
    for (const QString &file : {backup, database})
        EXPECT_TRUE(hasAccess(file, 0640, group)) << file.toStdString();
}
