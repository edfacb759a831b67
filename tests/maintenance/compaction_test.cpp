#include "maintenancefixture.h"

#include "db/audit.h"
#include "db/engine/recordset.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "maintenance/compaction.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>

using namespace testing_support;

namespace {

// The database where the location file may name it, in a shared folder that
// receives the backup; the home folder receives the work file.
class CompactionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("home")));
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("ward")));
        files = maintenance::compactionFiles(QDir(root.path()).filePath(QStringLiteral("ward/norva2000.mdb")),
                                             QDir(root.path()).filePath(QStringLiteral("home")));
        db::createDatabase(files.database, db::Generation::V2112);
        fillWard(files.database, 300);
    }

    QStringList leftovers() const
    {
        QStringList found;
        for (const char *folder : {"home", "ward"})
            for (const QString &name : QDir(QDir(root.path()).filePath(QString::fromLatin1(folder))).entryList(QDir::Files))
                found << name;
        found.sort();
        return found;
    }

    QTemporaryDir root;
    maintenance::CompactionFiles files;
};

TEST_F(CompactionTest, FirstAndSecondCompactionShrinkTheFileAndKeepOneBackupOfTheFileAsItWas)
{
    scalar(files.database, QStringLiteral("DELETE FROM \"入退院情報\" WHERE カルテID > 30"));
    const QString first = fingerprint(files.database);
    const qint64 sizeBefore = QFileInfo(files.database).size();
    maintenance::compact(files);
    EXPECT_LT(QFileInfo(files.database).size(), sizeBefore / 2);
    EXPECT_EQ(fingerprint(files.database), first);
    EXPECT_EQ(fingerprint(files.backup), first);
    EXPECT_EQ(leftovers(), (QStringList{QStringLiteral("norva2000.mdb"), QStringLiteral("norva2000.old.mdb")}));

    scalar(files.database, QStringLiteral("DELETE FROM \"患者情報\" WHERE カルテID > 100"));
    const QString second = fingerprint(files.database);
    maintenance::compact(files);
    EXPECT_EQ(fingerprint(files.database), second);
    EXPECT_EQ(fingerprint(files.backup), second);
    EXPECT_EQ(scalar(files.database, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
}

// The old copy notes the trail's head it holds, as a backup does: the
// compacted database still reaches it.
TEST_F(CompactionTest, TheOldCopyNotesTheTrailsHeadItHolds)
{
    jet::Connection connection;
    connection.open(db::plainConnectionString(files.database));
    db::audit::extendDatabase(connection);
    connection.close();
    jet::releasePooledHandles(files.database);
    maintenance::compactDatabase(files.database, QDir(root.path()).filePath(QStringLiteral("home")));
    QFile notes(files.backup + QStringLiteral(".audit"));
    ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
    const QStringList line = QString::fromUtf8(notes.readAll()).trimmed().split(u' ');
    ASSERT_EQ(line.size(), 2);
    const std::optional<db::audit::Head> noted = db::audit::Head::parse(line.at(1));
    ASSERT_TRUE(noted && noted->count == 1);
    connection.open(db::plainConnectionString(files.database));
    EXPECT_TRUE(db::audit::verify(connection, noted).sound());
    EXPECT_EQ(db::audit::head(connection), *noted);
    {
        // That one row is the compaction's own.
        jet::Recordset event;
        event.open(QStringLiteral("SELECT 操作 & ' ' & 詳細 FROM 監査記録"), &connection);
        EXPECT_EQ(event.value(0).toString(), QStringLiteral("保守 最適化"));
    }
    connection.close();
    jet::releasePooledHandles(files.database);
}

// A compaction that cannot run (a connection of the program still open on
// the database) touches nothing; one that fails after the compacted copy is
// made (here the backup's place cannot take a file) removes what it wrote, so
// that the next one can run.
TEST_F(CompactionTest, FailureLeavesTheDatabaseAndNoFileOfTheCompaction)
{
    const QString before = fingerprint(files.database);
    {
        jet::Connection open;
        open.open(db::plainConnectionString(files.database));
        EXPECT_THROW(maintenance::compact(files), jet::Error);
    }
    jet::releasePooledHandles(files.database);
    EXPECT_EQ(leftovers(), QStringList{QStringLiteral("norva2000.mdb")});

    ASSERT_TRUE(QDir().mkpath(files.backup + QStringLiteral("/occupied")));
    EXPECT_THROW(maintenance::compact(files), jet::Error);
    EXPECT_EQ(fingerprint(files.database), before);
    EXPECT_EQ(leftovers(), QStringList{QStringLiteral("norva2000.mdb")});
}

// A file of the compaction that another program holds (a second instance, a
// database shell) is named with the cause, and the database stays as it was.
TEST_F(CompactionTest, AWorkFileOpenElsewhereIsNamedAndNothingChanges)
{
    db::createDatabase(files.work, db::Generation::V2112);
    const QString before = fingerprint(files.database);
    {
        jet::Connection other;
        other.open(db::plainConnectionString(files.work));
        try {
            maintenance::compact(files);
            ADD_FAILURE() << "compacted";
        } catch (const jet::Error &e) {
            EXPECT_EQ(e.number(), jet::err::GeneralFailure);
            EXPECT_TRUE(e.description().contains(files.work)) << e.description().toStdString();
        }
    }
    jet::releasePooledHandles(files.work);
    EXPECT_EQ(fingerprint(files.database), before);
}

// A shared database keeps its owner, group and mode, so that the other users
// are not locked out; files a killed compaction left are removed first.
TEST_F(CompactionTest, ReplacedFilesKeepOwnerGroupAndModeAndLeftoversOfAKilledRunGo)
{
    const QByteArray name = QFile::encodeName(files.database);
    ASSERT_EQ(::chown(name.constData(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(name.constData(), 0660), 0);
    for (const QString &left : {files.work, files.work + QStringLiteral("-journal"), files.backup + QStringLiteral(".new"),
                                files.database + QStringLiteral(".new")}) {
        QFile file(left);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("left by a killed compaction");
    }
    maintenance::compact(files);
    for (const QString &path : {files.database, files.backup}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, 1234u) << path.toStdString();
        EXPECT_EQ(st.st_gid, 5678u) << path.toStdString();
        EXPECT_EQ(st.st_mode & 07777, 0660u) << path.toStdString();
    }
    EXPECT_EQ(leftovers(), (QStringList{QStringLiteral("norva2000.mdb"), QStringLiteral("norva2000.old.mdb")}));
}

} // namespace
