#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/engine/sqlite/sqlitedriver.h"
#include "db/engine/transaction.h"
#include "support/tempdb.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <optional>
#include <sqlite3.h>

using namespace jet;
using testing_support::TempDatabase;
using testing_support::plainConnectionString;

namespace {

qint32 openError(const QString &connectionString, const QString &provider = {})
{
    Connection c;
    if (!provider.isEmpty())
        c.setProvider(provider);
    try {
        c.open(connectionString);
    } catch (const Error &e) {
        return e.number();
    }
    return 0;
}

void makeTable(Connection &c)
{
    Catalog catalog;
    catalog.setActiveConnection(&c);
    TableDef t;
    t.name = QStringLiteral("記録");
    t.columns = {ColumnDef{QStringLiteral("ID"), DataType::Long, 0, true, true, true, {}},
                 ColumnDef{QStringLiteral("名前"), DataType::Text, 50, true, true, false, {}}};
    t.indexes = {IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("ID")}, true, true}};
    catalog.createTable(t);
}

std::optional<Cause> failure(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Error &e) {
        return e.cause();
    }
    return std::nullopt;
}

int countRows(Connection &c)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 記録"), &c);
    return rs.recordCount();
}

} // namespace

// What is not a database, and a file opened with another key, is the
// damaged-database error; a file that is not there is an ordinary failure.
TEST(ConnectionOpen, RefusesWhatIsNotTheDatabase)
{
    TempDatabase db;
    const QString missing = db.folder() + QStringLiteral("/none.mdb");
    EXPECT_EQ(openError(plainConnectionString(missing)), err::GeneralFailure);
    EXPECT_FALSE(QFile::exists(missing)) << "opening must never create a file";

    const QString garbage = db.folder() + QStringLiteral("/garbage.mdb");
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, 'x'));
    f.close();
    EXPECT_EQ(openError(plainConnectionString(garbage)), err::DatabaseDamaged);

    const QString empty = db.folder() + QStringLiteral("/empty.mdb");
    QFile e(empty);
    ASSERT_TRUE(e.open(QIODevice::WriteOnly));
    e.close();
    EXPECT_EQ(openError(plainConnectionString(empty)), err::GeneralFailure);

    EXPECT_EQ(openError(plainConnectionString(db.path(), QStringLiteral("wrong"))), err::DatabaseDamaged);
    EXPECT_EQ(openError(plainConnectionString(db.path())), 0);
}

TEST(ConnectionOpen, ADamagedPageIsReportedWhenReadNamingTheFile)
{
    TempDatabase db;
    makeTable(db.connection());
    db.connection().beginTrans();
    for (int i = 0; i < 1000; ++i)
        db.connection().execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES (?)"), {QString(40, QChar(u'名'))});
    db.connection().commitTrans();
    db.connection().close();
    releasePooledHandles(db.path());
    // The damage is written before any connection opens the copy.
    const QString damaged = db.folder() + QStringLiteral("/damaged.mdb");
    QFile file(damaged);
    ASSERT_TRUE(QFile::copy(db.path(), damaged) && file.open(QIODevice::ReadWrite));
    file.seek(file.size() / 2 / 4096 * 4096 + 200);
    file.write(QByteArray(8, '\x5a'));
    file.close();

    Connection c;
    c.open(plainConnectionString(damaged));
    Recordset rs;
    try {
        rs.open(QStringLiteral("SELECT 名前 FROM 記録"), &c);
        for (; !rs.eof(); rs.moveNext())
            rs.value(0);
        FAIL() << "the damaged page was read without an error";
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), err::DatabaseDamaged);
        EXPECT_EQ(e.cause(), Cause::Corrupt);
        EXPECT_TRUE(e.description().contains(damaged)) << e.description().toStdString();
    }
}

TEST(ConnectionOpen, AcceptsTheThreeConnectionStringForms)
{
    TempDatabase db;
    const QString shaped = QStringLiteral("Data Provider=Microsoft.Jet.OLEDB.4.0;Data Source= '%1';Jet OLEDB:Database Password=tamik4062;").arg(db.path());
    EXPECT_EQ(openError(shaped, QStringLiteral("MSDataShape")), 0);
    EXPECT_EQ(openError(plainConnectionString(db.path())), 0);
    const QString report = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Persist Security Info=False;Jet OLEDB:Database Password=tamik4062;").arg(db.path());
    EXPECT_EQ(openError(report), 0);
    // The shaped form without its provider names no engine.
    EXPECT_EQ(openError(shaped), err::GeneralFailure);
}

TEST(ConnectionOpen, APathWithASingleQuoteCannotBeExpressed)
{
    TempDatabase db;
    const QString quoted = db.folder() + QStringLiteral("/it's.mdb");
    createDatabase(quoted, testing_support::kPassword);
    EXPECT_EQ(openError(plainConnectionString(quoted)), err::GeneralFailure);
}

TEST(ConnectionString, ParsesQuotedAndPlainValues)
{
    const ConnectionSettings s = parseConnectionString(
        QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source= 'C:\\Program Files\\NORVA\\a;b.mdb';Jet OLEDB:Database Password=tamik4062;"));
    EXPECT_EQ(s.provider, QStringLiteral("Microsoft.Jet.OLEDB.4.0"));
    EXPECT_EQ(s.dataSource, QStringLiteral("C:\\Program Files\\NORVA\\a;b.mdb"));
    EXPECT_EQ(s.password, QStringLiteral("tamik4062"));
    EXPECT_THROW(parseConnectionString(QStringLiteral("Data Source= 'unterminated;")), Error);
}

TEST(ConnectionSharing, ConnectionsSeeEachOthersCommittedWritesOnly)
{
    TempDatabase db;
    makeTable(db.connection());
    auto other = db.connect();
    db.connection().beginTrans();
    db.connection().execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('山田')"));
    EXPECT_EQ(countRows(*other), 0);
    db.connection().commitTrans();
    EXPECT_EQ(countRows(*other), 1);

    other->beginTrans();
    other->execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('佐藤')"));
    other->beginTrans();
    other->execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('鈴木')"));
    other->rollbackTrans();
    other->commitTrans();
    EXPECT_EQ(countRows(db.connection()), 2);
}

TEST(ConnectionPool, AReplacedFileIsNeverReadThroughAnOldHandle)
{
    TempDatabase db;
    makeTable(db.connection());
    db.connection().execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('山田')"));
    db.connection().close(); // its handle goes back to the pool

    const QString fresh = db.folder() + QStringLiteral("/fresh.mdb");
    createDatabase(fresh, testing_support::kPassword);
    ASSERT_TRUE(QFile::remove(db.path()));
    ASSERT_TRUE(QFile::rename(fresh, db.path()));

    Connection c;
    c.open(db.connectionString());
    Recordset rs;
    EXPECT_THROW(rs.open(QStringLiteral("SELECT * FROM 記録"), &c), Error);
}

TEST(ConnectionPool, AClosedConnectionLeavesNoTransactionBehind)
{
    TempDatabase db;
    makeTable(db.connection());
    {
        auto c = db.connect();
        c->beginTrans();
        c->execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('山田')"));
    }
    auto again = db.connect();
    EXPECT_EQ(countRows(*again), 0);
    again->execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('佐藤')"));
    EXPECT_EQ(countRows(db.connection()), 1);
}

TEST(ConnectionFile, OpensInTheStockShellWithTheKey)
{
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlcipher"));
    if (shell.isEmpty())
        GTEST_SKIP() << "sqlcipher shell not installed";
    TempDatabase db;
    makeTable(db.connection());
    db.connection().execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('山田')"));
    db.connection().close();
    releasePooledHandles(db.path());

    QProcess p;
    p.start(shell, {db.path()});
    ASSERT_TRUE(p.waitForStarted());
    p.write("PRAGMA key='tamik4062';\nSELECT 名前 FROM 記録;\n");
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForFinished());
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardOutput()).contains(QStringLiteral("山田")));

    QProcess wrong;
    wrong.start(shell, {db.path()});
    ASSERT_TRUE(wrong.waitForStarted());
    wrong.write("SELECT 名前 FROM 記録;\n");
    wrong.closeWriteChannel();
    ASSERT_TRUE(wrong.waitForFinished());
    EXPECT_FALSE(QString::fromUtf8(wrong.readAllStandardOutput()).contains(QStringLiteral("山田")));
}

// What may be tried again is told from what needs the administrator by the
// error's cause, whatever its number and wording.
TEST(ErrorCause, TellsALockARefusalAndADamagedFileApart)
{
    TempDatabase db;
    Connection &c = db.connection();
    makeTable(c);
    const auto insertFirst = [&c] { c.execute(QStringLiteral("INSERT INTO 記録 (ID, 名前) VALUES (1, '山田')")); };

    auto other = db.connect();
    other->beginTrans(); // holds the write lock until it ends
    EXPECT_EQ(failure(insertFirst), Cause::Busy);
    other->rollbackTrans();

    insertFirst();
    EXPECT_EQ(failure(insertFirst), Cause::Constraint);

    ASSERT_EQ(sqlite3_exec(jet::sqliteHandle(c), "PRAGMA query_only = 1;", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(failure([&c] { c.execute(QStringLiteral("DELETE FROM 記録")); }), Cause::ReadOnly);
    ASSERT_EQ(sqlite3_exec(jet::sqliteHandle(c), "PRAGMA query_only = 0;", nullptr, nullptr, nullptr), SQLITE_OK);

    EXPECT_EQ(failure([&db] { Connection keyed; keyed.open(plainConnectionString(db.path(), QStringLiteral("wrong"))); }),
              Cause::Corrupt);
    EXPECT_EQ(failure([&db] { db.connect(); }), std::nullopt);
}

// A level left by an exception goes with its own writes only.
TEST(Transaction, RollsBackOnlyTheLevelAnExceptionLeaves)
{
    TempDatabase db;
    Connection &c = db.connection();
    makeTable(c);
    const auto insert = [&c] { c.execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('山田')")); };
    {
        Transaction outer(c);
        insert();
        EXPECT_TRUE(failure([&] { Transaction inner(c); insert(); throw Error(err::UpdateCancelled, {}); }));
        outer.commit();
    }
    EXPECT_TRUE(failure([&] { Transaction left(c); insert(); throw Error(err::UpdateCancelled, {}); }));
    EXPECT_EQ(countRows(*db.connect()), 1);
}

// The error that ended the block reaches the caller, not its rollback's failure.
TEST(Transaction, AFailedRollbackKeepsTheFirstError)
{
    TempDatabase db;
    try {
        Transaction guard(db.connection());
        db.connection().commitTrans(); // the guard's level is gone: its rollback fails
        throw Error(err::UpdateCancelled, QStringLiteral("最初"));
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), err::UpdateCancelled);
    }
}

TEST(WriteGuard, IsAskedBeforeEveryRowWriteAndItsRefusalWritesNothing)
{
    TempDatabase db;
    Connection &c = db.connection();
    makeTable(c);
    c.execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('a')"));
    QStringList asked;
    c.setWriteGuard([&asked](Connection &, const WriteIntent &intent) {
        asked << QString::number(int(intent.kind)) + intent.table;
        return intent.kind == WriteIntent::Kind::Delete ? QStringLiteral("no") : QString();
    });
    c.execute(QStringLiteral("UPDATE 記録 SET 名前 = 'b'"));
    Recordset rows;
    rows.open(QStringLiteral("SELECT ID, 名前 FROM 記録"), &c);
    rows.addNew({QStringLiteral("名前")}, {QStringLiteral("c")});
    rows.moveFirst();
    EXPECT_EQ(failure([&rows] { rows.deleteCurrent(); }), Cause::Permission);
    try {
        c.execute(QStringLiteral("DELETE FROM 記録"));
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), err::NoPermission);
        EXPECT_EQ(e.description(), QStringLiteral("no"));
    }
    EXPECT_EQ(asked, (QStringList{QStringLiteral("1記録"), QStringLiteral("0記録"), QStringLiteral("2記録"),
                                  QStringLiteral("2記録")}));
    EXPECT_EQ(countRows(c), 2);
}
