#include "app/firststart.h"
#include "db/check.h"
#include "db/engine/connection.h"
#include "db/location.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A user of the packaged installation starts from the menu with nothing set up.
TEST(FirstStart, AUserOfASharedInstallationGetsADatabaseOfTheirOwnAndTheManual)
{
    QTemporaryDir dir;
    const QString installation = dir.filePath(u"opt/norva"_s);
    writeFile(installation + u"/manual/index.html"_s, "<html></html>");
    // A comma in the path would end an unquoted field of the location file.
    const QString user = dir.filePath(u"home/山田,花子/.local/share/norva"_s);

    app::prepareUserFolder(user, installation);
    const QString database = user + u"/norva2000.mdb"_s;
    EXPECT_EQ(db::readDatabasePath(user), database);
    const db::CheckReport report = db::checkDatabase(database);
    EXPECT_EQ(report.generation, u"2.112"_s);
    EXPECT_TRUE(report.sound());
    jet::releasePooledHandles(database);
    // Other local users can neither list the folder nor read the patients.
    struct stat folderStat {}, databaseStat {};
    ASSERT_EQ(::stat(QFile::encodeName(user).constData(), &folderStat), 0);
    ASSERT_EQ(::stat(QFile::encodeName(database).constData(), &databaseStat), 0);
    EXPECT_EQ(folderStat.st_mode & 07777, 0700u);
    EXPECT_EQ(databaseStat.st_mode & 07777, 0600u);
    EXPECT_TRUE(QFileInfo::exists(user + u"/manual/index.html"_s));
    EXPECT_FALSE(QFileInfo::exists(user + u"/Index.chm"_s));

    // Later starts keep the user's own choice and never make a database in
    // place of one gone missing.
    writeFile(user + u"/norva.txt"_s, "/srv/norva/norva2000.mdb\n");
    QFile::remove(database);
    writeFile(installation + u"/Index.chm"_s, "chm");
    app::prepareUserFolder(user, installation);
    EXPECT_EQ(db::readDatabasePath(user), u"/srv/norva/norva2000.mdb"_s);
    EXPECT_FALSE(QFileInfo::exists(database));
    EXPECT_TRUE(QFileInfo::exists(user + u"/Index.chm"_s));
}

TEST(FirstStart, OnlyAnInstallationWithoutLocationFileThatItsUserCannotWriteIsShared)
{
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString installation = dir.filePath(u"opt/norva"_s);
    const QString hospitalWide = dir.filePath(u"hospital/norva"_s);
    QDir().mkpath(installation);
    writeFile(hospitalWide + u"/norva.txt"_s, "/srv/norva/norva2000.mdb\n");
    const QString users = dir.filePath(u"home"_s);
    QDir().mkpath(users);
    ASSERT_EQ(::chmod(QFile::encodeName(users).constData(), 01777), 0);
    const QString user = users + u"/norva"_s;

    EXPECT_EQ(app::sessionProgramFolder(installation, user), installation);
    EXPECT_FALSE(QFileInfo::exists(user));

    ASSERT_EQ(::chmod(QFile::encodeName(installation).constData(), 0555), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(hospitalWide).constData(), 0555), 0);
    // The package's link to the hospital-wide file, which it ships empty.
    const QString packaged = dir.filePath(u"packaged/norva"_s);
    writeFile(dir.filePath(u"etc/norva.txt"_s), "\n");
    QDir().mkpath(packaged);
    ASSERT_TRUE(QFile::link(dir.filePath(u"etc/norva.txt"_s), packaged + u"/norva.txt"_s));
    ASSERT_EQ(::chmod(QFile::encodeName(packaged).constData(), 0555), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // Permissions do not bind root: the child starts as nobody.
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        if (app::sessionProgramFolder(hospitalWide, user) != hospitalWide)
            ::_exit(4);
        if (app::sessionProgramFolder(installation, user) != user)
            ::_exit(5);
        if (app::sessionProgramFolder(packaged, user) != user)
            ::_exit(7);
        ::_exit(QFileInfo::exists(user + u"/norva.txt"_s) ? 0 : 6);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    ::chmod(QFile::encodeName(installation).constData(), 0755);
    ::chmod(QFile::encodeName(packaged).constData(), 0755);
    ::chmod(QFile::encodeName(hospitalWide).constData(), 0755);
}

} // namespace
