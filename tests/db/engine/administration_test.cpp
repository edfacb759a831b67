#include "db/engine/administration.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "support/tempdb.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>
#include <csignal>
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

} // namespace
