#include "db/engine/catalog.h"
#include "db/engine/clock.h"
#include "db/engine/command.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/jetdate.h"
#include "db/engine/postgres/pgdriver.h"
#include "db/engine/recordset.h"
#include "support/backend.h"
#include "support/errors.h"

#include <QSignalSpy>
#include <functional>
#include <gtest/gtest.h>

using namespace jet;
using testing_support::Backend;
using testing_support::BackendDatabase;
using testing_support::errorOf;

namespace {

ColumnDef col(const QString &name, DataType type, int size = 0)
{
    ColumnDef c;
    c.name = name;
    c.type = type;
    c.definedSize = size;
    return c;
}

// Patients, their episodes and the episodes' examination rows: the shape of
// the ledger's joins.
class RecordsetTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        Catalog catalog;
        catalog.setActiveConnection(&conn());
        TableDef patients;
        patients.name = QStringLiteral("患者情報");
        patients.columns = {col(QStringLiteral("カルテID"), DataType::Long), col(QStringLiteral("氏名"), DataType::Text, 50),
                            col(QStringLiteral("かな氏名"), DataType::Text, 50), col(QStringLiteral("生年月日"), DataType::Date),
                            col(QStringLiteral("32条申請"), DataType::YesNo)};
        patients.indexes = {IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("カルテID")}, true, true}};
        catalog.createTable(patients);

        TableDef episodes;
        episodes.name = QStringLiteral("入退院情報");
        ColumnDef id = col(QStringLiteral("入退院ID"), DataType::Long);
        id.autoIncrement = true;
        episodes.columns = {id, col(QStringLiteral("カルテID"), DataType::Long), col(QStringLiteral("入院日"), DataType::Date),
                            col(QStringLiteral("一時診断名"), DataType::Text, 100), col(QStringLiteral("外入の別"), DataType::YesNo)};
        episodes.indexes = {IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("入退院ID")}, true, true},
                            IndexDef{QStringLiteral("カルテID"), {QStringLiteral("カルテID")}, false, false}};
        catalog.createTable(episodes);

        TableDef exams;
        exams.name = QStringLiteral("検査情報");
        exams.columns = {col(QStringLiteral("入退院ID"), DataType::Long), col(QStringLiteral("検査(ＣＴ)"), DataType::Memo)};
        catalog.createTable(exams);

        const QStringList &names = patientNames;
        const QStringList kana = {QStringLiteral("やまだ たろう"), QStringLiteral("たなか はなこ"), QStringLiteral("たかはし いちろう"),
                                  QStringLiteral("たなか じろう"), QStringLiteral("さとう さぶろう")};
        for (int i = 0; i < names.size(); ++i) {
            conn().execute(QStringLiteral("INSERT INTO 患者情報 (カルテID, 氏名, かな氏名, 生年月日) VALUES (?, ?, ?, ?)"),
                           {100 + i, names[i], kana[i], QDate(1950 + i, 1, 15)});
            conn().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 入院日, 一時診断名, 外入の別) VALUES (?, ?, ?, ?)"),
                           {100 + i, QDate(2003, 3, 1 + i), QStringLiteral("診断%1").arg(i), i % 2 ? -1 : 0});
            conn().execute(QStringLiteral("INSERT INTO 検査情報 (入退院ID, [検査(ＣＴ)]) VALUES (?, ?)"),
                           {i + 1, QStringLiteral("CT所見%1").arg(i)});
        }
    }

    Connection &conn() { return db.connection(); }

    const QStringList patientNames = {QStringLiteral("山田 太郎"), QStringLiteral("田中 花子"), QStringLiteral("高橋 一郎"),
                                      QStringLiteral("たなか 次郎"), QStringLiteral("佐藤 三郎")};

    const QString join = QStringLiteral("SELECT 患者情報.*, 入退院情報.*, 検査情報.* FROM 患者情報, 入退院情報, 検査情報 "
                                        "WHERE 患者情報.カルテID = 入退院情報.カルテID AND 入退院情報.入退院ID = 検査情報.入退院ID");
    BackendDatabase db{GetParam()};
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Backends, RecordsetTest, ::testing::Values(Backend::File, Backend::Server), ::testing::PrintToStringParamName());

TEST_P(RecordsetTest, FieldsOfAJoinAreQualifiedOnlyWhereTheirNameRepeats)
{
    Recordset rs;
    rs.open(join, &conn());
    EXPECT_GE(rs.fieldIndex(QStringLiteral("患者情報.カルテID")), 0);
    EXPECT_GE(rs.fieldIndex(QStringLiteral("入退院情報.カルテID")), 0);
    EXPECT_GE(rs.fieldIndex(QStringLiteral("入退院情報.入退院ID")), 0);
    EXPECT_GE(rs.fieldIndex(QStringLiteral("検査情報.入退院ID")), 0);
    EXPECT_EQ(rs.fieldIndex(QStringLiteral("カルテID")), -1) << "an ambiguous bare name is not found";
    EXPECT_EQ(rs.fieldIndex(QStringLiteral("入退院ID")), -1);
    EXPECT_EQ(errorOf([&] { rs.value(QStringLiteral("カルテID")); }), err::ItemNotFound);
    EXPECT_GE(rs.fieldIndex(QStringLiteral("氏名")), 0);
    EXPECT_GE(rs.fieldIndex(QStringLiteral("検査(ＣＴ)")), 0);
    EXPECT_EQ(rs.recordCount(), 5);
}

// A row of an outer join without its partner row still reads its own values,
// whether read by key, moved to or found; a value for the missing partner is
// refused rather than lost.
TEST_P(RecordsetTest, AnOuterJoinRowWithoutItsPartnerKeepsItsOwnValues)
{
    conn().execute(QStringLiteral("INSERT INTO 患者情報 (カルテID, 氏名) VALUES (200, '鈴木')"));
    Recordset rs;
    rs.open(QStringLiteral("SELECT 患者情報.カルテID, 患者情報.氏名, 入退院情報.入院日 FROM 患者情報 LEFT JOIN 入退院情報 "
                           "ON 患者情報.カルテID = 入退院情報.カルテID ORDER BY 患者情報.カルテID"),
            &conn());
    ASSERT_EQ(rs.recordCount(), 6);
    rs.moveLast();
    EXPECT_EQ(rs.value(QStringLiteral("氏名")).toString(), QStringLiteral("鈴木"));
    EXPECT_EQ(rs.value(QStringLiteral("カルテID")).toInt(), 200);
    EXPECT_TRUE(rs.value(QStringLiteral("入院日")).isNull());
    rs.setValue(QStringLiteral("入院日"), QDate(2003, 4, 1));
    EXPECT_EQ(errorOf([&] { rs.update(); }), err::NotSupported) << "no episode row to write the date to";
    rs.cancelUpdate();
    rs.moveFirst();
    rs.find(QStringLiteral("氏名 = '鈴木'"));
    ASSERT_FALSE(rs.eof());
    EXPECT_EQ(rs.value(QStringLiteral("カルテID")).toInt(), 200);
}

TEST_P(RecordsetTest, ValuesComeBackInTheirColumnTypes)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 患者情報 ORDER BY カルテID"), &conn());
    EXPECT_EQ(rs.value(QStringLiteral("生年月日")).toDateTime(), QDateTime(QDate(1950, 1, 15), QTime(0, 0)));
    EXPECT_EQ(rs.value(QStringLiteral("32条申請")).toInt(), 0);
    EXPECT_EQ(rs.value(QStringLiteral("カルテID")).metaType().id(), QMetaType::Int);
    rs.setValue(QStringLiteral("32条申請"), true);
    rs.update();
    rs.requery();
    EXPECT_EQ(rs.value(QStringLiteral("32条申請")).toInt(), -1);
}

TEST_P(RecordsetTest, NavigationStopsAtBofAndEof)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 入退院情報 ORDER BY 入退院ID DESC"), &conn());
    EXPECT_FALSE(rs.bof());
    EXPECT_EQ(rs.value(QStringLiteral("入退院ID")).toInt(), 5);
    EXPECT_EQ(rs.absolutePosition(), 1);
    rs.moveLast();
    EXPECT_EQ(rs.value(QStringLiteral("入退院ID")).toInt(), 1);
    rs.moveNext();
    EXPECT_TRUE(rs.eof());
    EXPECT_EQ(rs.absolutePosition(), PositionEof);
    EXPECT_EQ(errorOf([&] { rs.moveNext(); }), err::NoCurrentRecord);
    EXPECT_EQ(errorOf([&] { rs.value(0); }), err::NoCurrentRecord);
    rs.moveFirst();
    rs.movePrevious();
    EXPECT_TRUE(rs.bof());

    Recordset empty;
    empty.open(QStringLiteral("SELECT * FROM 入退院情報 WHERE 入退院ID > 100"), &conn());
    EXPECT_TRUE(empty.bof());
    EXPECT_TRUE(empty.eof());
    EXPECT_EQ(empty.recordCount(), 0);
}

TEST_P(RecordsetTest, FiltersCountExactlyAndReplaceEachOther)
{
    Recordset rs;
    rs.open(join, &conn());
    rs.setFilter(QStringLiteral("かな氏名 like 'た*'"));
    EXPECT_EQ(rs.recordCount(), 3);
    rs.setFilter(QStringLiteral("かな氏名 like 'たなか*'"));
    EXPECT_EQ(rs.recordCount(), 2);
    rs.setFilter(QStringLiteral("入退院情報.入退院ID = '3'"));
    ASSERT_EQ(rs.recordCount(), 1);
    EXPECT_EQ(rs.value(QStringLiteral("氏名")).toString(), QStringLiteral("高橋 一郎"));
    rs.setFilter(QStringLiteral("0"));
    EXPECT_EQ(rs.recordCount(), 5);
    rs.setFilter(QStringLiteral("外入の別 = -1 AND かな氏名 like 'た*'"));
    EXPECT_EQ(rs.recordCount(), 2);
    rs.setFilter(QString());
    EXPECT_EQ(rs.recordCount(), 5);
}

TEST_P(RecordsetTest, MalformedFiltersRaise3001AndKeepTheRows)
{
    Recordset rs;
    rs.open(join, &conn());
    rs.setFilter(QStringLiteral("かな氏名 like 'た*'"));
    for (const QString &bad : {QStringLiteral("かな氏名 like 'た'*'"), QStringLiteral("かな氏名 like '*た'"),
                               QStringLiteral("かな氏名 like 'た*な*'"), QStringLiteral("ないもの = 1"),
                               QStringLiteral("かな氏名 like"), QStringLiteral("入退院情報.入退院ID = 'abc'")})
        EXPECT_EQ(errorOf([&] { rs.setFilter(bad); }), err::InvalidArgument) << bad.toStdString();
    EXPECT_EQ(rs.recordCount(), 3);
}

TEST_P(RecordsetTest, FindSearchesForwardFromTheCurrentRow)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 患者情報 ORDER BY カルテID"), &conn());
    rs.find(QStringLiteral("カルテID = 103"));
    EXPECT_EQ(rs.value(QStringLiteral("氏名")).toString(), QStringLiteral("たなか 次郎"));
    rs.find(QStringLiteral("カルテID = 103"));
    EXPECT_EQ(rs.absolutePosition(), 4) << "the current row itself matches";
    rs.find(QStringLiteral("カルテID = 101"));
    EXPECT_TRUE(rs.eof()) << "rows before the current one are not searched";
    rs.moveFirst();
    rs.find(QStringLiteral("かな氏名 like 'たか*'"));
    EXPECT_EQ(rs.value(QStringLiteral("カルテID")).toInt(), 102);
}

TEST_P(RecordsetTest, AJoinWritesEachChangedFieldToItsOwnTable)
{
    Recordset rs;
    rs.open(join, &conn());
    rs.setFilter(QStringLiteral("入退院情報.入退院ID = '2'"));
    rs.setValue(QStringLiteral("氏名"), QStringLiteral("田中 花"));
    rs.setValue(QStringLiteral("一時診断名"), QStringLiteral("統合失調症"));
    rs.setValue(QStringLiteral("検査(ＣＴ)"), QStringLiteral("異常なし"));
    rs.setValue(QStringLiteral("入院日"), QStringLiteral("2003/04/01"));

    // Another window changes a field this one did not touch; it must survive.
    auto other = db.connect();
    other->execute(QStringLiteral("UPDATE 患者情報 SET かな氏名 = 'たなか はな' WHERE カルテID = 101"));
    rs.update();

    Recordset check;
    check.open(join + QStringLiteral(" AND 入退院情報.入退院ID = 2"), other.get());
    EXPECT_EQ(check.value(QStringLiteral("氏名")).toString(), QStringLiteral("田中 花"));
    EXPECT_EQ(check.value(QStringLiteral("かな氏名")).toString(), QStringLiteral("たなか はな"));
    EXPECT_EQ(check.value(QStringLiteral("一時診断名")).toString(), QStringLiteral("統合失調症"));
    EXPECT_EQ(check.value(QStringLiteral("検査(ＣＴ)")).toString(), QStringLiteral("異常なし"));
    EXPECT_EQ(check.value(QStringLiteral("入院日")).toDate(), QDate(2003, 4, 1));
}

TEST_P(RecordsetTest, AnUpdateOfARowDeletedElsewhereFailsAndKeepsTheEdit)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 患者情報 WHERE カルテID = 103"), &conn());
    ASSERT_EQ(rs.recordCount(), 1);
    conn().execute(QStringLiteral("DELETE FROM 患者情報 WHERE カルテID = 103"));
    rs.setValue(QStringLiteral("氏名"), QStringLiteral("変更"));
    EXPECT_EQ(errorOf([&] { rs.update(); }), err::RecordDeleted);
    EXPECT_EQ(rs.editMode(), EditMode::InProgress);
}

// Two workstations on one episode: each update writes a field only where it
// still holds what was read.
TEST_P(RecordsetTest, AnUpdateWritesOverNoFieldAnotherConnectionChanged)
{
    Recordset rs;
    rs.open(join, &conn());
    rs.setFilter(QStringLiteral("入退院情報.入退院ID = '2'"));
    auto other = db.connect();
    const auto stored = [&](const QString &column) {
        Recordset check;
        check.open(join + QStringLiteral(" AND 入退院情報.入退院ID = 2"), other.get());
        return check.value(column);
    };

    // Different fields: both kept; a value of every type, once written, compares equal to itself.
    other->execute(QStringLiteral("UPDATE 患者情報 SET かな氏名 = 'たなか はな' WHERE カルテID = 101"));
    for (int day : {3, 4}) {
        rs.setValue(QStringLiteral("生年月日"), QDate(1951, 2, day));
        rs.setValue(QStringLiteral("外入の別"), day % 2 ? -1 : 0);
        rs.setValue(QStringLiteral("検査(ＣＴ)"), QStringLiteral("異常なし%1").arg(day).repeated(200));
        rs.update();
    }
    EXPECT_EQ(stored(QStringLiteral("かな氏名")).toString(), QStringLiteral("たなか はな"));
    EXPECT_EQ(stored(QStringLiteral("生年月日")).toDate(), QDate(1951, 2, 4));

    // The same field: nothing of the row is written, the edit stays, the field is named.
    other->execute(QStringLiteral("UPDATE 入退院情報 SET 一時診断名 = '他端末' WHERE 入退院ID = 2"));
    rs.setValue(QStringLiteral("氏名"), QStringLiteral("自分の氏名"));
    rs.setValue(QStringLiteral("一時診断名"), QStringLiteral("自分"));
    EXPECT_EQ(errorOf([&] { rs.update(); }), err::DataChanged);
    ASSERT_EQ(rs.conflicts().size(), 1);
    const FieldConflict conflict = rs.conflicts().at(0);
    EXPECT_EQ(rs.field(conflict.field).name + conflict.stored.toString() + conflict.pending.toString(),
              QStringLiteral("一時診断名他端末自分"));
    EXPECT_EQ(stored(QStringLiteral("氏名")).toString(), patientNames[1]) << "the other table's write went back";

    // Taking theirs keeps the other edit for the next update.
    rs.reloadConflicts();
    EXPECT_EQ(rs.value(QStringLiteral("一時診断名")).toString(), QStringLiteral("他端末"));
    rs.update();
    EXPECT_EQ(stored(QStringLiteral("氏名")).toString() + stored(QStringLiteral("一時診断名")).toString(),
              QStringLiteral("自分の氏名他端末"));

    // Keeping mine writes over theirs knowingly; a Null read is a value like any other.
    other->execute(QStringLiteral("UPDATE 入退院情報 SET 一時診断名 = Null WHERE 入退院ID = 2"));
    rs.setValue(QStringLiteral("一時診断名"), QStringLiteral("自分"));
    EXPECT_EQ(errorOf([&] { rs.update(); }), err::DataChanged);
    EXPECT_TRUE(rs.conflicts().at(0).stored.isNull());
    rs.overwriteConflicts();
    rs.update();
    EXPECT_EQ(stored(QStringLiteral("一時診断名")).toString(), QStringLiteral("自分"));
}

TEST_P(RecordsetTest, MovingAwayWritesPendingEdits)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 患者情報 ORDER BY カルテID"), &conn());
    rs.setValue(QStringLiteral("氏名"), QStringLiteral("変更"));
    rs.moveNext();
    auto other = db.connect();
    Recordset check;
    check.open(QStringLiteral("SELECT 氏名 FROM 患者情報 WHERE カルテID = 100"), other.get());
    EXPECT_EQ(check.value(0).toString(), QStringLiteral("変更"));
}

TEST_P(RecordsetTest, AnImpossibleValueIsRefusedAtAssignment)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 患者情報"), &conn());
    EXPECT_NE(errorOf([&] { rs.setValue(QStringLiteral("生年月日"), QStringLiteral("1985/13/1")); }), 0);
    EXPECT_NE(errorOf([&] { rs.setValue(QStringLiteral("カルテID"), QStringLiteral("abc")); }), 0);
    EXPECT_EQ(rs.editMode(), EditMode::None);
}

TEST_P(RecordsetTest, AddNewStoresAtOnceAndBecomesTheCurrentRow)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 入退院情報"), &conn());
    QSignalSpy inserted(&rs, &Recordset::rowInserted);
    rs.addNew({QStringLiteral("カルテID")}, {104});
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(rs.recordCount(), 6);
    EXPECT_EQ(rs.value(QStringLiteral("入退院ID")).toInt(), 6);
    EXPECT_EQ(rs.value(QStringLiteral("外入の別")).toInt(), 0);

    rs.addNew();
    rs.setValue(QStringLiteral("カルテID"), 100);
    rs.setValue(QStringLiteral("一時診断名"), QStringLiteral("うつ病"));
    rs.update();

    auto other = db.connect();
    Recordset check;
    check.open(QStringLiteral("SELECT * FROM 入退院情報 ORDER BY 入退院ID DESC"), other.get());
    EXPECT_EQ(check.recordCount(), 7);
    EXPECT_EQ(check.value(QStringLiteral("一時診断名")).toString(), QStringLiteral("うつ病"));
}

TEST_P(RecordsetTest, DeleteRemovesTheCurrentRowAndNeedsOne)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 検査情報"), &conn());
    rs.setFilter(QStringLiteral("入退院ID = '4'"));
    rs.deleteCurrent();
    rs.setFilter(QStringLiteral("入退院ID = '4'"));
    EXPECT_EQ(rs.recordCount(), 0);
    EXPECT_EQ(errorOf([&] { rs.deleteCurrent(); }), err::NoCurrentRecord);
    rs.setFilter(QString());
    EXPECT_EQ(rs.recordCount(), 4);
}

TEST_P(RecordsetTest, RequerySeesOtherConnectionsWrites)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 患者情報"), &conn());
    EXPECT_EQ(rs.recordCount(), 5);
    auto other = db.connect();
    other->execute(QStringLiteral("INSERT INTO 患者情報 (カルテID, 氏名) VALUES (200, '新規')"));
    EXPECT_EQ(rs.recordCount(), 5) << "the rows stay those of the first reading";
    rs.requery();
    EXPECT_EQ(rs.recordCount(), 6);
}

// A ledger's open counts its list and then a summary of the same rows.
TEST_P(RecordsetTest, ACountAskedTwiceInOneMomentIsReadOnceAndNeverAfterAWrite)
{
    // More rows than a server's first screens, so that the list is counted.
    for (int i = 0; i < 130; ++i) {
        conn().execute(QStringLiteral("INSERT INTO 患者情報 (カルテID, 氏名) VALUES (?, '患者')"), {1000 + i});
        conn().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (?)"), {1000 + i});
    }
    const QString where = QStringLiteral(" FROM 患者情報, 入退院情報 WHERE 患者情報.カルテID = 入退院情報.カルテID");
    const QString count = QStringLiteral("SELECT COUNT(*) AS 件数") + where;
    auto other = db.connect();
    auto admit = [](Connection &c, int chart) { c.execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (?)"), {chart}); };
    Recordset summary;
    {
        const SharedCounts oneCount(conn());
        Recordset list;
        list.open(QStringLiteral("SELECT 患者情報.*, 入退院情報.*") + where, &conn());
        EXPECT_EQ(list.recordCount(), 135);
        admit(*other, 1000);
        summary.open(count, &conn());
        EXPECT_EQ(summary.value(0).toInt(), 135) << "the list's own count";
        admit(conn(), 1001);
        summary.requery();
        EXPECT_EQ(summary.value(0).toInt(), 137) << "a write of its own forgets the count";
    }
    admit(*other, 1002);
    summary.requery();
    EXPECT_EQ(summary.value(0).toInt(), 138) << "nothing is shared once the moment is over";
}

TEST_P(RecordsetTest, StoredQueriesAndTablesOpenByName)
{
    Catalog catalog;
    catalog.setActiveConnection(&conn());
    catalog.appendView(QStringLiteral("Q_件数"), QStringLiteral("SELECT COUNT(*) AS 全患者数 FROM 入退院情報"));
    Recordset count;
    count.open(QStringLiteral("Q_件数"), &conn());
    EXPECT_EQ(count.value(QStringLiteral("全患者数")).toInt(), 5);
    Recordset table;
    table.open(QStringLiteral("`検査情報`"), &conn());
    EXPECT_EQ(table.recordCount(), 5);
    Recordset missing;
    EXPECT_EQ(errorOf([&] { missing.open(QStringLiteral("SELECT * FROM バージョン"), &conn()); }), err::TableMissing);
    EXPECT_EQ(errorOf([&] { missing.open(QStringLiteral("SELECT ICDコード FROM 患者情報"), &conn()); }), err::ColumnMissing);
}

TEST_P(RecordsetTest, AggregatesAreReadWholeAndFilterable)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT 外入の別, COUNT(*) AS 件数 FROM 入退院情報 GROUP BY 外入の別 ORDER BY 外入の別"), &conn());
    ASSERT_EQ(rs.recordCount(), 2);
    rs.setFilter(QStringLiteral("件数 = 3"));
    EXPECT_EQ(rs.recordCount(), 1);
    EXPECT_EQ(rs.value(QStringLiteral("外入の別")).toInt(), 0);
    rs.setFilter(QStringLiteral("外入の別 = True"));
    EXPECT_EQ(rs.recordCount(), 1);
    rs.setFilter(QString());
    EXPECT_EQ(rs.value(QStringLiteral("件数")).toInt(), 2) << "Yes (-1) sorts first";
}

// Whether the Yes/No column is named, qualified by its table's alias or read
// through a stored query.
TEST_P(RecordsetTest, YesSortsBeforeNo)
{
    Catalog catalog;
    catalog.setActiveConnection(&conn());
    catalog.appendView(QStringLiteral("外来"), QStringLiteral("SELECT 入退院ID, 外入の別 AS 外来 FROM 入退院情報"));
    const std::pair<const char *, QList<int>> cases[] = {
        {"SELECT 入退院ID FROM 入退院情報 ORDER BY 外入の別, 入退院ID", {2, 4, 1, 3, 5}},
        {"SELECT 入退院ID FROM 入退院情報 AS e ORDER BY e.外入の別 DESC, e.入退院ID", {1, 3, 5, 2, 4}},
        {"SELECT 入退院ID FROM 外来 ORDER BY 外来.外来, 入退院ID", {2, 4, 1, 3, 5}},
    };
    for (const auto &[sql, expected] : cases) {
        Recordset rs;
        rs.open(QString::fromUtf8(sql), &conn());
        QList<int> ids;
        for (; !rs.eof(); rs.moveNext())
            ids << rs.value(0).toInt();
        EXPECT_EQ(ids, expected) << sql;
    }
}

TEST_P(RecordsetTest, AYesNoColumnIsGivenJetsValues)
{
    conn().execute(QStringLiteral("UPDATE 入退院情報 SET 外入の別 = -1 WHERE 入退院ID = 1"));
    conn().execute(QStringLiteral("UPDATE 入退院情報 SET 外入の別 = (入退院ID = 3) WHERE 入退院ID >= 3"));
    conn().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 外入の別) VALUES (104, True)"));
    Recordset rs;
    rs.open(QStringLiteral("SELECT 入退院ID FROM 入退院情報 WHERE 外入の別 = -1 ORDER BY 入退院ID"), &conn());
    QList<int> ids;
    for (; !rs.eof(); rs.moveNext())
        ids << rs.value(0).toInt();
    EXPECT_EQ(ids, (QList<int>{1, 2, 3, 6}));
}

TEST_P(RecordsetTest, TopKeepsItsLimitUnderAFilter)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT TOP 3 入退院ID, 外入の別 FROM 入退院情報 ORDER BY 入退院ID"), &conn());
    EXPECT_EQ(rs.recordCount(), 3);
    rs.setFilter(QStringLiteral("入退院ID > 1"));
    EXPECT_EQ(rs.recordCount(), 2);
}

TEST_P(RecordsetTest, CommandsBindParametersInOrder)
{
    Command cmd(&conn(), QStringLiteral("SELECT 患者情報.氏名 FROM 患者情報, 入退院情報 WHERE 患者情報.カルテID = 入退院情報.カルテID AND (入退院情報.入退院ID = ?)"));
    cmd.appendParameter(QStringLiteral("患者"), 3);
    auto rs = cmd.execute();
    ASSERT_EQ(rs->recordCount(), 1);
    EXPECT_EQ(rs->value(0).toString(), QStringLiteral("高橋 一郎"));
    cmd.setParameter(QStringLiteral("患者"), 5);
    EXPECT_EQ(cmd.execute()->value(0).toString(), QStringLiteral("佐藤 三郎"));
}

// Callers tell "done" from "someone else changed it first" by the count.
TEST_P(RecordsetTest, ExecuteReturnsTheRowsItChanged)
{
    EXPECT_EQ(conn().execute(QStringLiteral("UPDATE 入退院情報 SET 一時診断名 = 'x' WHERE カルテID >= ?"), {103}), 2);
    EXPECT_EQ(conn().execute(QStringLiteral("UPDATE 入退院情報 SET 一時診断名 = 'y' WHERE カルテID = 999")), 0);
    EXPECT_EQ(conn().execute(QStringLiteral("DELETE FROM 検査情報 WHERE 入退院ID = 1")), 1);
}

TEST_P(RecordsetTest, ManyRowsReadCorrectlyAcrossSegments)
{
    conn().beginTrans();
    for (int i = 0; i < 5000; ++i)
        conn().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 一時診断名) VALUES (?, ?)"), {100 + i % 5, QStringLiteral("行%1").arg(i)});
    conn().commitTrans();
    Recordset rs;
    rs.open(QStringLiteral("SELECT 入退院情報.入退院ID, 入退院情報.一時診断名, 患者情報.氏名 FROM 患者情報 INNER JOIN 入退院情報 ON 患者情報.カルテID = 入退院情報.カルテID ORDER BY 入退院情報.入退院ID DESC"), &conn());
    // A long result is counted first and listed in full only when a later row is wanted.
    ASSERT_EQ(rs.recordCount(), 5005);
    for (int row : {0, 1, 63, 64, 1500, 5004, 700, 2, 4500}) {
        const int id = rs.valueAt(row, 0).toInt();
        EXPECT_EQ(id, 5005 - row);
        if (id > 5) {
            EXPECT_EQ(rs.valueAt(row, 1).toString(), QStringLiteral("行%1").arg(id - 6));
            EXPECT_EQ(rs.valueAt(row, 2).toString(), patientNames.at((id - 6) % 5)) << "each row with its own partner";
        }
    }
    rs.moveLast();
    EXPECT_EQ(rs.value(0).toInt(), 1);
    EXPECT_EQ(rs.recordCount(), 5005);
}

// The last rows of a long ordered result are read from its end; rows tied in
// the order must keep their places once every row is listed after all.
TEST_P(RecordsetTest, TheLastRowsOfALongOrderedResultKeepTheirPlaces)
{
    conn().beginTrans();
    for (int i = 0; i < 5000; ++i)
        conn().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 一時診断名) VALUES (?, ?)"), {100 + i % 5, QStringLiteral("行%1").arg(i)});
    conn().commitTrans();
    Recordset rs;
    rs.open(QStringLiteral("SELECT 入退院情報.入退院ID, 入退院情報.一時診断名 FROM 患者情報, 入退院情報 "
                           "WHERE 患者情報.カルテID = 入退院情報.カルテID ORDER BY 入退院情報.カルテID DESC"),
            &conn(), CursorType::Static);
    rs.moveLast();
    const QVariant last = rs.value(0);
    const QVariant beforeLast = rs.valueAt(rs.recordCount() - 2, 0);
    rs.setValue(1, QStringLiteral("最後"));
    rs.update();
    EXPECT_EQ(rs.currentRow(), 5004);

    EXPECT_EQ(rs.valueAt(2500, 0).isNull(), false) << "a middle row lists every key";
    EXPECT_EQ(rs.valueAt(5004, 0), last);
    EXPECT_EQ(rs.valueAt(5003, 0), beforeLast);
    EXPECT_EQ(rs.value(1).toString(), QStringLiteral("最後"));
    rs.requery();
    rs.moveLast();
    EXPECT_EQ(rs.value(0), last) << "reading from the end again gives the same last row";
}

TEST_P(RecordsetTest, DeletingBeyondTheFirstScreensKeepsTheCount)
{
    conn().beginTrans();
    for (int i = 0; i < 5000; ++i)
        conn().execute(QStringLiteral("INSERT INTO 検査情報 (入退院ID) VALUES (?)"), {100 + i});
    conn().commitTrans();
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 検査情報 ORDER BY 入退院ID"), &conn());
    ASSERT_EQ(rs.recordCount(), 5005);
    rs.moveTo(4000);
    const int id = rs.value(QStringLiteral("入退院ID")).toInt();
    rs.deleteCurrent();
    EXPECT_EQ(rs.recordCount(), 5004);
    rs.requery();
    rs.find(QStringLiteral("入退院ID = %1").arg(id));
    EXPECT_TRUE(rs.eof());
}

TEST_P(RecordsetTest, ARecordsetWhoseConnectionIsGoneReportsItClosed)
{
    Recordset rs;
    {
        auto other = db.connect();
        rs.open(QStringLiteral("SELECT * FROM 患者情報"), other.get());
        EXPECT_EQ(rs.recordCount(), 5);
        other->close();
        EXPECT_EQ(errorOf([&] { rs.moveNext(); }), err::ObjectClosed);
        other->open(db.connectionString());
        EXPECT_EQ(errorOf([&] { rs.requery(); }), err::ObjectClosed) << "a reopened connection is another one";
    }
    EXPECT_EQ(errorOf([&] { rs.value(0); }), err::ObjectClosed);
}

TEST_P(RecordsetTest, ForwardOnlyReadsEachRowOnceInStatementOrder)
{
    Recordset rs;
    rs.open(QStringLiteral("SELECT 患者情報.氏名, 入退院情報.入院日 FROM 患者情報, 入退院情報 WHERE 患者情報.カルテID = 入退院情報.カルテID "
                           "AND 外入の別 = 0 ORDER BY 入退院情報.入院日 DESC"),
            &conn(), CursorType::ForwardOnly);
    ASSERT_EQ(rs.rowCount(), 3);
    QStringList names;
    for (int row = 0; row < rs.rowCount(); ++row) {
        names << rs.valueAt(row, 0).toString();
        EXPECT_EQ(rs.valueAt(row, 0).toString(), names.last()) << "the row being read stays readable";
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("佐藤 三郎"), QStringLiteral("高橋 一郎"), QStringLiteral("山田 太郎")}));
    EXPECT_EQ(rs.valueAt(2, 1).toDate(), QDate(2003, 3, 1));
    EXPECT_EQ(errorOf([&] { rs.valueAt(0, 0); }), err::NotSupported);
}

// Reading a list of 100 rows whole sends one statement to a server: no
// count, no question whether a statement's text is a table's name.  A list of
// 1,000 adds its count and one whole read, not one a screen.  Filtering an
// aggregate is one statement.  An INSERT sends only itself.
TEST_P(RecordsetTest, ReadingEveryRowCostsTheSameFewStatementsWhateverTheCount)
{
    const auto *server = dynamic_cast<const postgres::PgDriver *>(&conn().driver());
    const auto addRows = [&](int count) {
        conn().beginTrans();
        for (int i = 0; i < count; ++i)
            conn().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID, 一時診断名) VALUES (?, ?)"), {100 + i % 5, QStringLiteral("行")});
        conn().commitTrans();
    };
    const auto readAll = [&](int rows) {
        const qint64 before = server ? server->roundTrips() : 0;
        Recordset list;
        list.open(QStringLiteral("SELECT 入退院ID, 一時診断名 FROM 入退院情報 ORDER BY 入退院ID"), &conn());
        int read = 0;
        for (; !list.eof(); list.moveNext())
            EXPECT_EQ(list.value(0).toInt(), ++read);
        EXPECT_EQ(read, rows);
        Recordset counts;
        counts.open(QStringLiteral("SELECT カルテID, COUNT(*) AS 件数 FROM 入退院情報 GROUP BY カルテID"), &conn());
        counts.setFilter(QStringLiteral("件数 > 1 AND カルテID <> 104"));
        EXPECT_EQ(counts.recordCount(), rows > 5 ? 4 : 0);
        return server ? server->roundTrips() - before : 0;
    };
    readAll(5); // prepares the statements once
    addRows(95);
    const qint64 atHundred = readAll(100);
    const qint64 beforeAdding = server ? server->roundTrips() : 0;
    addRows(900);
    // Each INSERT is its one statement: its table's columns are known already.
    if (server)
        EXPECT_LE(server->roundTrips() - beforeAdding, 900 + 4);
    readAll(1000); // prepares the count and the whole read
    EXPECT_EQ(readAll(1000), server ? atHundred + 2 : 0);
    EXPECT_EQ(atHundred, server ? 3 : 0);
}

// Now() and Date() read the program's clock on either back end: a fixed
// moment, each change of it, one undone with a rollback, and the
// workstation's own time once it runs free, in the workstation's zone.
TEST_P(RecordsetTest, NowIsTheProgramsClockOnEitherBackEnd)
{
    // A zone far from any server's, given back with the clock however the test ends.
    struct Restore
    {
        QByteArray zone = qgetenv("TZ");
        ~Restore()
        {
            Clock::setSystem();
            zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
            tzset();
        }
    } restore;
    qputenv("TZ", "Pacific/Kiritimati");
    tzset();
    const std::unique_ptr<Connection> other = db.connect();
    // A file gives the computed moments as day numbers, a server as timestamps.
    const auto moment = [](const QVariant &v) {
        return v.typeId() == QMetaType::QDateTime ? v.toDateTime() : fromDayNumber(v.toDouble());
    };
    const auto now = [&] {
        Recordset rs;
        rs.open(QStringLiteral("SELECT Now() AS 今, Date() AS 今日"), other.get());
        EXPECT_EQ(moment(rs.value(1)), QDateTime(moment(rs.value(0)).date(), QTime(0, 0)));
        return moment(rs.value(0));
    };
    const QDateTime fixed(QDate(2004, 2, 29), QTime(23, 59, 58));
    Clock::setFixed(fixed);
    EXPECT_EQ(now(), fixed);
    Clock::setFixed(fixed.addDays(1));
    EXPECT_EQ(now(), fixed.addDays(1));
    other->beginTrans();
    Clock::setFixed(fixed.addDays(2));
    EXPECT_EQ(now(), fixed.addDays(2));
    other->rollbackTrans();
    EXPECT_EQ(now(), fixed.addDays(2));
    Clock::setSystem();
    EXPECT_LE(std::abs(now().secsTo(QDateTime::currentDateTime())), 5);
}
