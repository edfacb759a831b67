#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/engine/sqlite/sqlitedriver.h"
#include "support/tempdb.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace jet;
using testing_support::TempDatabase;
using testing_support::plainConnectionString;

namespace {

void makeTables(Connection &c)
{
    Catalog catalog;
    catalog.setActiveConnection(&c);
    TableDef people;
    people.name = QStringLiteral("記録");
    people.columns = {ColumnDef{QStringLiteral("ID"), DataType::Long, 0, true, true, true, {}},
                      ColumnDef{QStringLiteral("名前"), DataType::Text, 50, true, true, false, {}}};
    people.indexes = {IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("ID")}, true, true}};
    catalog.createTable(people);
    TableDef notes;
    notes.name = QStringLiteral("経過");
    notes.columns = {ColumnDef{QStringLiteral("ID"), DataType::Long, 0, false, true, false, {}},
                     ColumnDef{QStringLiteral("本文"), DataType::Memo, 0, true, true, false, {}}};
    catalog.createTable(notes);
}

// The stock shell, as an administrator runs it beside the program.
QString shell(const QString &path, const QString &sql)
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QStringLiteral("sqlcipher")), {path});
    if (!p.waitForStarted())
        return QStringLiteral("no shell");
    p.write("PRAGMA key='tamik4062';\n.bail on\n" + sql.toUtf8() + "\n");
    p.closeWriteChannel();
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
}

// Descriptors of this process on files that were deleted while open.
QStringList deletedOpenFiles()
{
    QStringList deleted;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget();
        if (target.endsWith(QLatin1String(" (deleted)")))
            deleted << target;
    }
    return deleted;
}

class Integrity : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("sqlcipher")).isEmpty())
            GTEST_SKIP() << "sqlcipher shell not installed";
        makeTables(db.connection());
    }

    int insert(Connection &c, const QString &name)
    {
        Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM 記録"), &c);
        rs.addNew({QStringLiteral("名前")}, {name});
        return rs.value(QStringLiteral("ID")).toInt();
    }

    TempDatabase db;
};

// Closing a descriptor of the file drops every lock the process holds on it;
// another process then finds no reader and deletes the journal under us.
TEST_F(Integrity, AnotherProcessOpeningTheFileBetweenSavesLosesNothing)
{
    const int first = insert(db.connection(), QStringLiteral("山田"));
    auto window = db.connect(); // a window opening its connection re-identifies the file
    EXPECT_EQ(shell(db.path(), QStringLiteral("INSERT INTO 記録 (名前) VALUES ('佐藤'); SELECT count(*) FROM 記録;")),
              QStringLiteral("2"));
    const int third = insert(*window, QStringLiteral("鈴木"));

    EXPECT_TRUE(deletedOpenFiles().isEmpty()) << deletedOpenFiles().join(u' ').toStdString();
    EXPECT_EQ(shell(db.path(), QStringLiteral("SELECT group_concat(ID || 名前, ',') FROM 記録 ORDER BY ID;")),
              QStringLiteral("%1山田,2佐藤,%2鈴木").arg(first).arg(third));
}

TEST_F(Integrity, AnOpenConnectionHoldsItsSharedLockOnTheFile)
{
    auto window = db.connect();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(db.path()).constData(), &st), 0);
    QFile locks(QStringLiteral("/proc/locks"));
    ASSERT_TRUE(locks.open(QIODevice::ReadOnly));
    const QString ours = QStringLiteral(" %1 ").arg(::getpid());
    const QString inode = QStringLiteral(":%1 ").arg(st.st_ino);
    bool held = false;
    for (const QString &line : QString::fromLatin1(locks.readAll()).split(u'\n'))
        held = held || (line.contains(ours) && line.contains(inode));
    EXPECT_TRUE(held);
}

// A hospital backs up by copying the one file: it holds every save as soon
// as the save is committed, and the journal is emptied when we let go.
TEST_F(Integrity, TheMainFileAloneHoldsEverySave)
{
    auto window = db.connect();
    insert(*window, QStringLiteral("山田"));
    const QString copy = db.folder() + QStringLiteral("/copy.mdb");
    ASSERT_EQ(QProcess::execute(QStringLiteral("cp"), {db.path(), copy}), 0);
    auto fromCopy = std::make_unique<Connection>();
    fromCopy->open(plainConnectionString(copy));
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 記録"), fromCopy.get());
    EXPECT_EQ(rs.recordCount(), 1);

    window->close();
    db.connection().close();
    EXPECT_EQ(QFileInfo(db.path() + QStringLiteral("-wal")).size(), 0);
}

// A row of a join is written to all its tables or to none, and a write that
// failed is stored whole by the next update.
TEST_F(Integrity, AJoinedRowIsWrittenWholeOrNotAtAll)
{
    db.connection().execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('山田')"));
    db.connection().execute(QStringLiteral("INSERT INTO 経過 (ID, 本文) VALUES (1, '')"));
    auto window = db.connect();
    Recordset row;
    row.open(QStringLiteral("SELECT * FROM 記録 INNER JOIN 経過 ON 記録.ID = 経過.ID"), window.get());
    auto reread = [&](const QString &sql) {
        Recordset rs;
        rs.open(sql, &db.connection());
        return rs.value(0);
    };

    // A disk that fills up while the second table is written.
    sqlite3_exec(jet::sqliteHandle(*window), "PRAGMA max_page_count = 8;", nullptr, nullptr, nullptr);
    row.setValue(QStringLiteral("名前"), QStringLiteral("山田太郎"));
    row.setValue(QStringLiteral("本文"), QString(200000, QChar(u'経')));
    try {
        row.update();
        ADD_FAILURE() << "the write did not fail";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), err::GeneralFailure);
        EXPECT_EQ(e.description(), QStringLiteral("ディスクの空き容量が不足しています。"));
    }
    EXPECT_EQ(reread(QStringLiteral("SELECT 名前 FROM 記録")).toString(), QStringLiteral("山田"));

    sqlite3_exec(jet::sqliteHandle(*window), "PRAGMA max_page_count = 1000000;", nullptr, nullptr, nullptr);
    row.update();
    EXPECT_EQ(reread(QStringLiteral("SELECT 名前 FROM 記録")).toString(), QStringLiteral("山田太郎"));
    EXPECT_EQ(reread(QStringLiteral("SELECT Len(本文) FROM 経過")).toInt(), 200000);

    // A text longer than its column is refused before anything is written.
    try {
        row.setValue(QStringLiteral("名前"), QString(51, QChar(u'山')));
        ADD_FAILURE() << "a 51-character name was taken for a 50-character column";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), err::FieldTooSmall);
    }
    Recordset people;
    people.open(QStringLiteral("SELECT * FROM 記録"), window.get());
    EXPECT_THROW(people.addNew({QStringLiteral("名前")}, {QString(51, QChar(u'山'))}), Error);
    EXPECT_EQ(reread(QStringLiteral("SELECT count(*) FROM 記録")).toInt(), 1);
}

// Opened read-only, the file would list its rows, fail at the first save and
// leave journal files that keep every later start from opening it.
TEST_F(Integrity, AFileOrFolderThatCannotBeWrittenIsRefusedWithItsReason)
{
    db.connection().close();
    releasePooledHandles(db.path());
    const QByteArray file = QFile::encodeName(db.path());
    const QByteArray folder = QFile::encodeName(db.folder());
    struct Case {
        mode_t file, folder;
        const char *reason;
    };
    for (const Case &c : {Case{0444, 0755, "ファイルに書き込む権限がありません。"},
                          Case{0666, 0555, "に書き込む権限がありません。"}}) {
        SCOPED_TRACE(c.reason);
        ASSERT_EQ(::chmod(file.constData(), c.file), 0);
        ASSERT_EQ(::chmod(folder.constData(), c.folder), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            // Permissions do not bind root: the child opens as nobody.
            if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(3);
            Connection c2;
            try {
                c2.open(db.connectionString());
            } catch (const Error &e) {
                ::_exit(e.number() == err::GeneralFailure && e.description().contains(QString::fromUtf8(c.reason)) ? 0 : 1);
            }
            ::_exit(2);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
        EXPECT_FALSE(QFile::exists(db.path() + QStringLiteral("-wal")));
        EXPECT_FALSE(QFile::exists(db.path() + QStringLiteral("-shm")));
    }
    ::chmod(folder.constData(), 0700);
    ::chmod(file.constData(), 0644);
}

} // namespace
