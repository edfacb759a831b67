#include "db/engine/administration.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "support/tempdb.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>
#include <csignal>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace jet;
using testing_support::TempDatabase;
using testing_support::kPassword;
using testing_support::plainConnectionString;

namespace {

qint64 scalar(const QString &path, const QString &sql)
{
    Connection c;
    c.open(plainConnectionString(path));
    Recordset rs;
    rs.open(sql, &c);
    return rs.value(0).toLongLong();
}

class Backup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Catalog catalog;
        catalog.setActiveConnection(&db.connection());
        TableDef notes;
        notes.name = QStringLiteral("経過");
        notes.columns = {ColumnDef{QStringLiteral("ID"), DataType::Long, 0, true, true, true, {}},
                         ColumnDef{QStringLiteral("本文"), DataType::Memo, 0, true, true, false, {}}};
        notes.indexes = {IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("ID")}, true, true}};
        catalog.createTable(notes);
        db.connection().close();
        releasePooledHandles(db.path());
    }

    QString copyPath() const { return db.folder() + QStringLiteral("/copy.mdb"); }

    static struct stat attributes(const QString &path)
    {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st;
    }

    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    TempDatabase db;
};

// The hospital backs up on a schedule while the wards keep saving.
TEST_F(Backup, ACopyTakenWhileAnotherProcessWritesIsSoundAndHoldsEveryEarlierCommit)
{
    const pid_t writer = ::fork();
    if (writer == 0) {
        Connection c;
        c.open(plainConnectionString(db.path()));
        const QString text(3000, QChar(u'経'));
        for (;;)
            c.execute(QStringLiteral("INSERT INTO 経過 (本文) VALUES (?)"), {text});
    }
    ASSERT_GT(writer, 0);
    const QString count = QStringLiteral("SELECT count(*) FROM 経過");
    QElapsedTimer waited;
    waited.start();
    while (scalar(db.path(), count) < 300 && waited.elapsed() < 30000)
        QThread::msleep(20);
    const qint64 committed = scalar(db.path(), QStringLiteral("SELECT max(ID) FROM 経過"));
    releasePooledHandles(db.path());

    backupDatabase(db.path(), kPassword, copyPath(), false);
    const qint64 writtenMeanwhile = scalar(db.path(), count);
    ::kill(writer, SIGKILL);
    int status = 0;
    ::waitpid(writer, &status, 0);
    ASSERT_GE(committed, 300) << "the writer did not get going";
    EXPECT_GT(writtenMeanwhile, committed) << "the writer was held up by the backup";

    Connection copy;
    copy.open(plainConnectionString(copyPath()));
    EXPECT_EQ(integrityCheck(copy), QStringList{QStringLiteral("ok")});
    Recordset rows;
    rows.open(QStringLiteral("SELECT count(*) FROM 経過 WHERE ID <= %1").arg(committed), &copy);
    EXPECT_EQ(rows.value(0).toLongLong(), committed);
}

// A new copy is the owner's alone, or also the group's in a folder set up
// for a group; one put over a file keeps that file's owner, group and mode;
// the copies of killed runs go; a file another connection has open is never
// replaced.
TEST_F(Backup, CopiesTakeTheFoldersAccessOrKeepTheReplacedFilesAndKilledRunsLeaveNothing)
{
    const QString stale = copyPath() + QStringLiteral(".99999999.part");
    write(stale, "killed");
    write(stale + QStringLiteral("-wal"), "killed");
    EXPECT_EQ(backupDatabase(db.path(), kPassword, copyPath(), false), QStringList());
    EXPECT_EQ(attributes(copyPath()).st_mode & 07777, 0600u);
    EXPECT_FALSE(QFile::exists(stale));
    EXPECT_FALSE(QFile::exists(stale + QStringLiteral("-wal")));

    const QByteArray name = QFile::encodeName(copyPath());
    ASSERT_EQ(::chown(name.constData(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(name.constData(), 0660), 0);
    backupDatabase(db.path(), kPassword, copyPath(), true);
    EXPECT_EQ(attributes(copyPath()).st_uid, 1234u);
    EXPECT_EQ(attributes(copyPath()).st_gid, 5678u);
    EXPECT_EQ(attributes(copyPath()).st_mode & 07777, 0660u);

    sqlite3 *shell = nullptr;
    ASSERT_EQ(sqlite3_open(name.constData(), &shell), SQLITE_OK);
    sqlite3_exec(shell, "PRAGMA key = 'tamik4062'; SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr);
    const ino_t before = attributes(copyPath()).st_ino;
    EXPECT_THROW(backupDatabase(db.path(), kPassword, copyPath(), true), Error);
    sqlite3_close(shell);
    EXPECT_EQ(attributes(copyPath()).st_ino, before);

    const QString ward = db.folder() + QStringLiteral("/ward");
    ASSERT_TRUE(QDir().mkdir(ward));
    ASSERT_EQ(::chown(QFile::encodeName(ward).constData(), uid_t(-1), 5678), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(ward).constData(), 02770), 0);
    backupDatabase(db.path(), kPassword, ward + QStringLiteral("/copy.mdb"), false);
    EXPECT_EQ(attributes(ward + QStringLiteral("/copy.mdb")).st_gid, 5678u);
    EXPECT_EQ(attributes(ward + QStringLiteral("/copy.mdb")).st_mode & 07777, 0660u);
}

// A damaged backup never replaces the database.
TEST_F(Backup, RestoreChecksTheBackupFirst)
{
    backupDatabase(db.path(), kPassword, copyPath(), false);
    Connection c;
    c.open(plainConnectionString(db.path()));
    c.execute(QStringLiteral("INSERT INTO 経過 (本文) VALUES ('後から')"));
    c.close();
    releasePooledHandles(db.path());

    QFile damaged(db.folder() + QStringLiteral("/damaged.mdb"));
    ASSERT_TRUE(QFile::copy(copyPath(), damaged.fileName()));
    ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
    damaged.seek(4096 + 100);
    damaged.write(QByteArray(64, '\x5a'));
    damaged.close();
    EXPECT_THROW(restoreDatabase(damaged.fileName(), kPassword, db.path()), Error);
    EXPECT_EQ(scalar(db.path(), QStringLiteral("SELECT count(*) FROM 経過")), 1);
    releasePooledHandles(db.path());

    restoreDatabase(copyPath(), kPassword, db.path());
    EXPECT_EQ(scalar(db.path(), QStringLiteral("SELECT count(*) FROM 経過")), 0);
}

} // namespace
