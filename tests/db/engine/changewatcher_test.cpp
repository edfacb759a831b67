#include "db/engine/changewatcher.h"

#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/recordset.h"
#include "support/backend.h"
#include "support/otherprocess.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace jet;
using testing_support::Backend;
using testing_support::BackendDatabase;

namespace {

void makeTable(Connection &connection)
{
    Catalog catalog;
    catalog.setActiveConnection(&connection);
    ColumnDef name;
    name.name = QStringLiteral("名前");
    name.type = DataType::Text;
    name.definedSize = 50;
    catalog.createTable(TableDef{QStringLiteral("記録"), {name}, {}});
}

class ChangeWatcherTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override { makeTable(db.connection()); }

    BackendDatabase db{GetParam()};
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Backends, ChangeWatcherTest, ::testing::Values(Backend::File, Backend::Server),
                         ::testing::PrintToStringParamName());

// Within a file's interval or a server's notice, whether the save came from
// another connection of the program or from another process; a rolled-back
// change and a read are no change.
TEST_P(ChangeWatcherTest, HearsOfEverySaveButNoneOfReadsOrUndoneWork)
{
    ChangeWatcher watcher(db.connection());
    QSignalSpy changed(&watcher, &ChangeWatcher::changed);
    const auto other = db.connect();

    other->beginTrans();
    other->execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('取り消し')"));
    other->rollbackTrans();
    other->execute(QStringLiteral("SELECT * FROM 記録"));
    EXPECT_FALSE(changed.wait(int(ChangeWatcher::kInterval.count()) + 500));

    other->execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('山田')"));
    ASSERT_TRUE(changed.wait(5000));
    if (GetParam() == Backend::Server)
        EXPECT_EQ(changed.takeFirst().at(0).toStringList(), QStringList{QStringLiteral("記録")});
    changed.clear();

    testing_support::saveInAnotherProcess(db.connection().dataSource(), QStringLiteral("UPDATE \"記録\" SET \"名前\" = '田中'"));
    ASSERT_TRUE(changed.wait(5000));
}

// A server's ledger made by an earlier program, before its tables announced
// their changes and with functions of an older edition, is brought up to date.
TEST(ChangeWatcherServer, AnEarlierLedgerIsBroughtToAnnounceItsChangesWithTodaysFunctions)
{
    BackendDatabase db(Backend::Server);
    makeTable(db.connection());
    db.connection().driver().exec(QStringLiteral("DROP TRIGGER jet_changed ON public.\"記録\"; "
                                                 "DROP FUNCTION jet.announce_change(); "
                                                 "CREATE OR REPLACE FUNCTION jet.len(s text) RETURNS bigint "
                                                 "LANGUAGE sql AS 'SELECT 0::bigint'; "
                                                 "COMMENT ON SCHEMA jet IS 'jet functions 2026-01-01'"));
    ChangeWatcher watcher(db.connection());
    QSignalSpy changed(&watcher, &ChangeWatcher::changed);
    db.connect()->execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('山田')"));
    EXPECT_FALSE(changed.wait(1000));

    updateServerSide(db.connection());
    updateServerSide(db.connection()); // nothing left to do
    db.connect()->execute(QStringLiteral("INSERT INTO 記録 (名前) VALUES ('田中')"));
    EXPECT_TRUE(changed.wait(5000));
    const auto reader = db.connect();
    jet::Recordset length;
    length.open(QStringLiteral("SELECT Len('abc') AS n"), reader.get());
    EXPECT_EQ(length.value(QStringLiteral("n")).toInt(), 3);
}
