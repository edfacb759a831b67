#include "db/columndefs.h"
#include "db/engine/administration.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "support/backend.h"
#include "support/errors.h"

#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>

using namespace jet;
using testing_support::Backend;
using testing_support::BackendDatabase;
using testing_support::errorOf;
using db::columns::column;

namespace {

ColumnDef autoNumber(const QString &name)
{
    ColumnDef c = column(name, DataType::Long);
    c.autoIncrement = true;
    return c;
}

class CatalogTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override { catalog.setActiveConnection(&db.connection()); }

    void createCertificates()
    {
        TableDef t;
        t.name = QStringLiteral("32条診断書");
        t.columns = {column(QStringLiteral("カルテID"), DataType::Long), column(QStringLiteral("推定発病時期"), DataType::Text, 100),
                     column(QStringLiteral("○抑うつ状態"), DataType::YesNo)};
        t.indexes = {IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("カルテID")}, true, true}};
        catalog.createTable(t);
    }

    BackendDatabase db{GetParam()};
    Catalog catalog;
};

// What only a file has: its path, its compaction.
class CatalogFileTest : public CatalogTest
{
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Backends, CatalogTest, ::testing::Values(Backend::File, Backend::Server), ::testing::PrintToStringParamName());
INSTANTIATE_TEST_SUITE_P(File, CatalogFileTest, ::testing::Values(Backend::File), ::testing::PrintToStringParamName());

TEST_P(CatalogTest, ColumnsReadBackWithTheirTypesSizesAndDefaults)
{
    TableDef t;
    t.name = QStringLiteral("入退院情報");
    t.columns = {autoNumber(QStringLiteral("入退院ID")), column(QStringLiteral("カルテID"), DataType::Long),
                 column(QStringLiteral("入院日"), DataType::Date), column(QStringLiteral("一時診断名"), DataType::Text, 100),
                 column(QStringLiteral("初診日"), DataType::FixedText, 50), column(QStringLiteral("個別注意事項"), DataType::Memo, 500),
                 column(QStringLiteral("外入の別"), DataType::YesNo), column(QStringLiteral("病室番号"), DataType::Long, 0, 1)};
    t.indexes = {IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("入退院ID")}, true, true},
                 IndexDef{QStringLiteral("カルテID"), {QStringLiteral("カルテID")}, false, false}};
    catalog.createTable(t);

    const QList<ColumnDef> cols = catalog.columns(QStringLiteral("入退院情報"));
    ASSERT_EQ(cols.size(), 8);
    EXPECT_TRUE(cols[0].autoIncrement);
    EXPECT_EQ(cols[2].type, DataType::Date);
    EXPECT_EQ(cols[3].type, DataType::Text);
    EXPECT_EQ(cols[3].definedSize, 100);
    EXPECT_EQ(cols[4].type, DataType::FixedText);
    EXPECT_EQ(cols[4].definedSize, 50);
    EXPECT_EQ(cols[5].type, DataType::Memo);
    EXPECT_EQ(cols[5].definedSize, 500);
    EXPECT_EQ(cols[6].type, DataType::YesNo);
    EXPECT_FALSE(cols[6].nullable);
    EXPECT_EQ(cols[7].defaultValue.toInt(), 1);
    EXPECT_EQ(catalog.indexes(QStringLiteral("入退院情報")), (QStringList{QStringLiteral("PrimaryKey"), QStringLiteral("カルテID")}));

    db.connection().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (5)"));
    Recordset rs;
    rs.open(QStringLiteral("入退院情報"), &db.connection());
    EXPECT_EQ(rs.value(QStringLiteral("外入の別")).toInt(), 0) << "a Yes/No column never holds Null";
    EXPECT_EQ(rs.value(QStringLiteral("病室番号")).toInt(), 1);
    EXPECT_TRUE(rs.value(QStringLiteral("入院日")).isNull());
}

TEST_P(CatalogTest, AutoNumbersIncreaseAndAreNeverReused)
{
    TableDef t;
    t.name = QStringLiteral("バージョン");
    t.columns = {autoNumber(QStringLiteral("バージョンID")), column(QStringLiteral("バージョン"), DataType::Text, 20)};
    t.indexes = {IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("バージョンID")}, true, true}};
    catalog.createTable(t);
    for (int i = 0; i < 3; ++i)
        db.connection().execute(QStringLiteral("INSERT INTO バージョン (バージョン) VALUES ('x')"));
    db.connection().execute(QStringLiteral("DELETE FROM バージョン WHERE バージョンID = 3"));
    db.connection().execute(QStringLiteral("INSERT INTO バージョン (バージョン) VALUES ('y')"));
    Recordset rs;
    rs.open(QStringLiteral("SELECT バージョンID FROM バージョン WHERE バージョン = 'y'"), &db.connection());
    EXPECT_EQ(rs.value(0).toInt(), 4);
}

TEST_P(CatalogTest, AppendingAColumnTwiceRaises3191)
{
    createCertificates();
    catalog.appendColumn(QStringLiteral("32条診断書"), column(QStringLiteral("身体合併症"), DataType::FixedText, 50));
    EXPECT_EQ(errorOf([&] { catalog.appendColumn(QStringLiteral("32条診断書"), column(QStringLiteral("身体合併症"), DataType::FixedText, 50)); }),
              err::FieldDefinedTwice);
    EXPECT_EQ(errorOf([&] { catalog.appendColumn(QStringLiteral("なし"), column(QStringLiteral("x"), DataType::Long)); }),
              err::TableMissing);
    TableDef twice;
    twice.name = QStringLiteral("重複");
    twice.columns = {column(QStringLiteral("a"), DataType::Long), column(QStringLiteral("a"), DataType::Text)};
    EXPECT_EQ(errorOf([&] { catalog.createTable(twice); }), err::FieldDefinedTwice);
}

TEST_P(CatalogTest, SettingADefaultRebuildsTheTableKeepingRowsKeysAndCounters)
{
    TableDef t;
    t.name = QStringLiteral("入退院情報");
    t.columns = {autoNumber(QStringLiteral("入退院ID")), column(QStringLiteral("カルテID"), DataType::Long),
                 column(QStringLiteral("時間外頻度"), DataType::Long)};
    t.indexes = {IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("入退院ID")}, true, true},
                 IndexDef{QStringLiteral("カルテID"), {QStringLiteral("カルテID")}, false, false}};
    catalog.createTable(t);
    for (int i = 1; i <= 5; ++i)
        db.connection().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (?)"), {i * 10});
    db.connection().execute(QStringLiteral("DELETE FROM 入退院情報 WHERE 入退院ID = 5"));

    db.connection().execute(QStringLiteral("ALTER TABLE 入退院情報 ALTER COLUMN 時間外頻度 SET DEFAULT '1'"));
    db.connection().execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (60)"));

    Recordset rs;
    rs.open(QStringLiteral("SELECT 入退院ID, カルテID, 時間外頻度 FROM 入退院情報 ORDER BY 入退院ID"), &db.connection());
    ASSERT_EQ(rs.recordCount(), 5);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(rs.value(0).toInt(), i);
        EXPECT_EQ(rs.value(1).toInt(), i * 10);
        EXPECT_TRUE(rs.value(2).isNull()) << "old rows keep no value";
        rs.moveNext();
    }
    EXPECT_EQ(rs.value(0).toInt(), 6) << "the AutoNumber counter survives the rebuild";
    EXPECT_EQ(rs.value(2).toInt(), 1);
    EXPECT_EQ(catalog.indexes(QStringLiteral("入退院情報")), (QStringList{QStringLiteral("PrimaryKey"), QStringLiteral("カルテID")}));
}

TEST_P(CatalogTest, TheBareDigitNameOfTheUpgradeStatementsWorks)
{
    createCertificates();
    catalog.appendColumn(QStringLiteral("32条診断書"), column(QStringLiteral("主精神障害"), DataType::Long));
    db.connection().execute(QStringLiteral("INSERT INTO `32条診断書` (カルテID) VALUES (7)"));
    db.connection().execute(QStringLiteral("ALTER TABLE 32条診断書 ALTER COLUMN 主精神障害 SET DEFAULT '1'"));
    db.connection().execute(QStringLiteral("INSERT INTO `32条診断書` (カルテID) VALUES (8)"));
    Recordset rs;
    rs.open(QStringLiteral("SELECT カルテID, 主精神障害 FROM `32条診断書` ORDER BY カルテID"), &db.connection());
    EXPECT_TRUE(rs.value(1).isNull());
    rs.moveNext();
    EXPECT_EQ(rs.value(1).toInt(), 1);
}

// A * in the SELECT of an INSERT stands for the visible columns likewise.
TEST_P(CatalogTest, AnInsertWithoutColumnsFillsTheVisibleColumnsInOrderAfterOneIsAppended)
{
    TableDef t;
    t.name = QStringLiteral("検査情報");
    t.columns = {column(QStringLiteral("入退院ID"), DataType::Long), column(QStringLiteral("検査名"), DataType::Text, 20)};
    catalog.createTable(t);
    catalog.appendColumn(QStringLiteral("検査情報"), column(QStringLiteral("結果"), DataType::Long));
    db.connection().execute(QStringLiteral("INSERT INTO 検査情報 VALUES (7, 'CT', 3)"));
    EXPECT_EQ(db.connection().execute(QStringLiteral("INSERT INTO 検査情報 SELECT * FROM 検査情報 WHERE 入退院ID = ?"), {7}), 1);
    EXPECT_EQ(db.connection().execute(QStringLiteral("INSERT INTO 検査情報 (入退院ID, 検査名, 結果) SELECT DISTINCT k.* FROM 検査情報 AS k")), 1);
    Recordset rs;
    rs.open(QStringLiteral("SELECT * FROM 検査情報"), &db.connection());
    EXPECT_EQ(rs.recordCount(), 3);
    ASSERT_EQ(rs.fieldCount(), 3);
    EXPECT_EQ(rs.value(0).toInt(), 7);
    EXPECT_EQ(rs.value(1).toString(), QStringLiteral("CT"));
    EXPECT_EQ(rs.value(2).toInt(), 3);
}

TEST_P(CatalogTest, ADefaultSetToNullReadsBackAsNone)
{
    createCertificates();
    catalog.appendColumn(QStringLiteral("32条診断書"), column(QStringLiteral("主精神障害"), DataType::Long));
    db.connection().execute(QStringLiteral("ALTER TABLE 32条診断書 ALTER COLUMN 主精神障害 SET DEFAULT '1'"));
    db.connection().execute(QStringLiteral("ALTER TABLE 32条診断書 ALTER COLUMN 主精神障害 SET DEFAULT NULL"));
    for (const ColumnDef &c : catalog.columns(QStringLiteral("32条診断書")))
        if (c.name == QStringLiteral("主精神障害"))
            EXPECT_FALSE(c.defaultValue.isValid()) << c.defaultValue.toString().toStdString();
}

TEST_P(CatalogTest, DropsAnIndexNamedOnItsTable)
{
    TableDef t;
    t.name = QStringLiteral("診断名(ICD10)");
    t.columns = {autoNumber(QStringLiteral("診断ID")), column(QStringLiteral("診断名"), DataType::Text, 100)};
    t.indexes = {IndexDef{QStringLiteral("PrimaryKey"), {QStringLiteral("診断ID")}, true, true},
                 IndexDef{QStringLiteral("診断名"), {QStringLiteral("診断名")}, false, false}};
    catalog.createTable(t);
    db.connection().execute(QStringLiteral("DROP INDEX 診断名 ON `診断名(ICD10)`;"));
    EXPECT_EQ(catalog.indexes(QStringLiteral("診断名(ICD10)")), QStringList{QStringLiteral("PrimaryKey")});
    EXPECT_NE(errorOf([&] { db.connection().execute(QStringLiteral("DROP INDEX 診断名 ON `診断名(ICD10)`;")); }), 0);
}

TEST_P(CatalogTest, StoredQueriesKeepTheirJetText)
{
    createCertificates();
    const QString text = QStringLiteral("SELECT カルテID FROM `32条診断書` WHERE ○抑うつ状態 = True ORDER BY カルテID DESC;");
    catalog.appendView(QStringLiteral("Q_テスト"), text);
    EXPECT_EQ(catalog.viewText(QStringLiteral("Q_テスト")), text);
    EXPECT_TRUE(catalog.views().contains(QStringLiteral("Q_テスト")));
    EXPECT_FALSE(catalog.tables().contains(QStringLiteral("Q_テスト")));
    EXPECT_EQ(errorOf([&] { catalog.appendView(QStringLiteral("Q_テスト"), text); }), err::GeneralFailure);
    catalog.deleteView(QStringLiteral("Q_テスト"));
    EXPECT_TRUE(catalog.viewText(QStringLiteral("Q_テスト")).isEmpty());
    EXPECT_EQ(errorOf([&] { catalog.deleteView(QStringLiteral("Q_テスト")); }), err::ItemNotFound);
}

TEST_P(CatalogFileTest, OpeningOnAMissingFileRaises3024)
{
    Catalog other;
    EXPECT_EQ(errorOf([&] { other.open(testing_support::plainConnectionString(db.file().folder() + QStringLiteral("/none.mdb"))); }),
              err::FileNotFound);
}

TEST_P(CatalogFileTest, CompactionCopiesEverythingUnderTheSamePasswordAndRefusesAnExistingTarget)
{
    createCertificates();
    catalog.appendView(QStringLiteral("Q_一覧"), QStringLiteral("SELECT カルテID FROM `32条診断書`"));
    for (int i = 1; i <= 50; ++i)
        db.connection().execute(QStringLiteral("INSERT INTO `32条診断書` (カルテID, 推定発病時期) VALUES (?, ?)"),
                                {i, QStringLiteral("平成%1年ころ").arg(i)});
    db.connection().execute(QStringLiteral("DELETE FROM `32条診断書` WHERE カルテID > 10"));
    const QString target = db.file().folder() + QStringLiteral("/compact.mdb");
    db.connection().close();
    releasePooledHandles(db.file().path());
    ExclusiveDatabase held(db.file().path(), testing_support::kPassword);
    held.compactTo(target);

    Connection c;
    c.open(testing_support::plainConnectionString(target));
    Recordset rs;
    rs.open(QStringLiteral("Q_一覧"), &c);
    EXPECT_EQ(rs.recordCount(), 10);
    Catalog compacted;
    compacted.setActiveConnection(&c);
    EXPECT_EQ(compacted.viewText(QStringLiteral("Q_一覧")), QStringLiteral("SELECT カルテID FROM `32条診断書`"));

    const qint64 size = QFileInfo(target).size();
    EXPECT_EQ(errorOf([&] { held.compactTo(target); }), err::CompactTargetExists);
    EXPECT_EQ(QFileInfo(target).size(), size);
}
