#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"
#include "support/tempdb.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace jet;
using testing_support::TempDatabase;

namespace {

void makeTable(Connection &c)
{
    Catalog catalog;
    catalog.setActiveConnection(&c);
    TableDef t;
    t.name = QStringLiteral("記録");
    t.columns = {ColumnDef{QStringLiteral("名前"), DataType::Text, 50, true, true, false, {}}};
    catalog.createTable(t);
}

QStringList names(Connection &c)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT 名前 FROM 記録 ORDER BY 名前"), &c);
    QStringList result;
    for (; !rs.eof(); rs.moveNext())
        result << rs.value(0).toString();
    return result;
}

void insert(Connection &c, const QString &name)
{
    c.execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES (?)"), {name});
}

QStringList warnings;
void keepWarning(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

} // namespace

// Committed levels stay, a level left by an exception goes with its writes
// only, and the connection takes a new transaction afterwards.
TEST(Transaction, CommitsOrRollsBackItsOwnLevel)
{
    TempDatabase db;
    Connection &c = db.connection();
    makeTable(c);
    {
        Transaction outer(c);
        insert(c, QStringLiteral("あ"));
        try {
            Transaction inner(c);
            insert(c, QStringLiteral("い"));
            throw Error(err::UpdateCancelled, QStringLiteral("取り消し"));
        } catch (const Error &) {
        }
        outer.commit();
    }
    try {
        Transaction left(c);
        insert(c, QStringLiteral("う"));
        throw std::runtime_error("stop");
    } catch (const std::runtime_error &) {
    }
    EXPECT_EQ(names(*db.connect()), QStringList{QStringLiteral("あ")});
    Transaction again(c);
    insert(c, QStringLiteral("え"));
    again.commit();
    EXPECT_EQ(names(*db.connect()), (QStringList{QStringLiteral("あ"), QStringLiteral("え")}));
}

// The error that ended the block reaches the caller; the rollback's own
// failure is only logged.
TEST(Transaction, AFailedRollbackKeepsTheFirstError)
{
    TempDatabase db;
    Connection &c = db.connection();
    makeTable(c);
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    try {
        Transaction guard(c);
        insert(c, QStringLiteral("あ"));
        c.commitTrans(); // the guard's level is gone: its rollback must fail
        throw Error(err::UpdateCancelled, QStringLiteral("最初のエラー"));
    } catch (const Error &e) {
        EXPECT_EQ(e.number(), err::UpdateCancelled);
        EXPECT_EQ(e.description(), QStringLiteral("最初のエラー"));
    }
    qInstallMessageHandler(previous);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_FALSE(warnings.first().contains(testing_support::kPassword));
}
