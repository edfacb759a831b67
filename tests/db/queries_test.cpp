// The program's SQL texts, exactly as the windows, reports and upgrades send
// them, run against a ward of known rows.

#include "db/engine/catalog.h"
#include "db/engine/command.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/jetsql.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "db/schema.h"
#include "support/fixture.h"

#include <QDir>
#include <QMap>
#include <QTemporaryDir>
#include <functional>
#include "support/errors.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using jet::CursorType;
using jet::Recordset;
using testing_support::WardDatabase;
using testing_support::errorOf;

namespace {

// The current in-patient list as the list-order window writes it.
const QString kListSelect =
    u"SELECT 病室番号.病室番号 AS 病室番号, ベッド番号.ベッド番号 AS ベッド番号, 患者情報.かな氏名 AS かな氏名, 患者情報.氏名 AS 氏名, 患者情報.生年月日 AS 生年月日, 入退院情報.入院日 AS 入院日, 入退院情報.退院日 AS 退院日, 入退院情報.一時診断名 AS 一時診断名, 入退院情報.ポリクリ AS ポリクリ, 入退院情報.入退院ID AS 入退院ID, 患者情報.性別 AS 性別, 入退院情報.カルテID AS カルテID, 入退院情報.現病歴 AS 現病歴, 主治医.主治医, 主治医_1.主治医, 入院形態.略称 AS 略称, ROUND((DateDiff('d', 患者情報.生年月日-1, Now()) / 365.25), 0) AS 年齢, IIf(DateDiff('d', 入退院情報.入院日, Now()) <=7, '新', '') AS 新規入院, DateDiff('d', 入退院情報.入院日, Now()) AS 入院日数, DateDiff('d', 入退院情報.退院日, Now()) AS 入院条件 "_s;
const QString kListFrom =
    u"FROM 患者情報 INNER JOIN ((病室番号 INNER JOIN (入院形態 INNER JOIN (主治医 INNER JOIN (ベッド番号 INNER JOIN 入退院情報 ON ベッド番号.ベッドID = 入退院情報.ベッド番号) ON 主治医.主治医ID = 入退院情報.主治医①) ON 入院形態.入院形態ID = 入退院情報.入院形態) ON 病室番号.病室ID = 入退院情報.病室番号) INNER JOIN 主治医 AS 主治医_1 ON 入退院情報.主治医② = 主治医_1.主治医ID) ON 患者情報.カルテID = 入退院情報.カルテID "_s;
const QString kListWhere =
    u"WHERE DateDiff('d', 入退院情報.入院日, Now()) >= 0 AND (DateDiff('d', 入退院情報.退院日, Now()) <= 0 OR DateDiff('d', 入退院情報.退院日, Now()) Is Null) "_s;
const QString kAscending = u"ORDER BY 病室番号.病室番号, ベッド番号.ベッド番号;"_s;
const QString kDescending = u"ORDER BY 病室番号.病室番号 DESC, ベッド番号.ベッド番号;"_s;

const QString kDiagnosisList =
    u"SELECT 診断ID,診断名,ICDコード,ICDコード & ' ' & 診断名 AS 診断 FROM `診断名(ICD10)` ORDER BY ICDコード"_s;

class Queries : public ::testing::Test
{
protected:
    std::unique_ptr<Recordset> open(const QString &source, CursorType cursor = CursorType::Static)
    {
        auto rs = std::make_unique<Recordset>();
        rs->open(source, m_connection.get(), cursor);
        return rs;
    }

    // One column of every row under the current filter, from the first row on.
    static QStringList column(Recordset &rs, const QString &name)
    {
        QStringList values;
        if (rs.recordCount() == 0)
            return values;
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            values.append(rs.value(name).toString());
        return values;
    }

    QStringList column(const QString &source, const QString &name) { return column(*open(source), name); }

    QVariant scalar(const QString &sql)
    {
        auto rs = open(sql);
        EXPECT_FALSE(rs->eof()) << qPrintable(sql);
        return rs->eof() ? QVariant() : rs->value(0);
    }

    WardDatabase m_ward;
    std::unique_ptr<jet::Connection> m_connection = m_ward.connect();
};

} // namespace

TEST_F(Queries, CodeTableListsOfTheRecordAndOptionsWindows)
{
    struct Case
    {
        QString sql;
        QString column;
        QStringList values; // every row, in the order the recordset gives them
    };
    const QList<Case> cases{
        {kDiagnosisList, u"診断"_s,
         {u"- -"_s, u"F10.2 アルコール依存症"_s, u"F20 統合失調症"_s, u"F25.1 統合失調感情障害"_s, u"F32 うつ病エピソード"_s}},
        {kDiagnosisList, u"診断ID"_s, {u"1"_s, u"5"_s, u"2"_s, u"3"_s, u"4"_s}},
        {u"SELECT * FROM `診断名(ICD10)` ORDER BY ICDコード"_s, u"ICDコード"_s,
         {u"-"_s, u"F10.2"_s, u"F20"_s, u"F25.1"_s, u"F32"_s}},
        {u"SELECT * FROM 主治医"_s, u"主治医"_s, {u"-"_s, u"岡部"_s, u"山田"_s}},
        {u"SELECT * FROM 病室番号 ORDER BY 病室番号"_s, u"病室番号"_s, {u"-"_s, u"201"_s, u"305"_s}},
        {u"SELECT * FROM 病室番号"_s, u"病室ID"_s, {u"1"_s, u"2"_s, u"3"_s}},
        {u"SELECT * FROM ベッド番号 ORDER BY ベッド番号"_s, u"ベッド番号"_s, {u"-"_s, u"1"_s, u"2"_s}},
        {u"SELECT * FROM ベッド番号"_s, u"ベッドID"_s, {u"1"_s, u"2"_s, u"3"_s}},
        {u"SELECT * FROM 医薬品情報 ORDER BY 医薬品名"_s, u"医薬品名"_s, {u"-"_s, u"アキネトン"_s, u"リスパダール"_s}},
        {u"SELECT * FROM 服用方法"_s, u"服用方法"_s, {u"-"_s, u"毎食後"_s}},
        {u"SELECT * FROM 入院形態"_s, u"略称"_s, {u"-"_s, u"任意"_s, u"医保"_s}},
        {u"SELECT * FROM 介護度"_s, u"介護度"_s, {u"-"_s, u"要介護1"_s}},
        {u"SELECT * FROM 障害者等級"_s, u"障害者等級"_s, {u"-"_s, u"2級"_s}},
        {u"SELECT * FROM 扱別"_s, u"扱別"_s, {u"-"_s, u"国保"_s}},
        {u"SELECT * FROM 転帰"_s, u"転帰"_s, {u"-"_s, u"軽快"_s}},
        {u"SELECT * FROM 性別"_s, u"略称"_s, {u"-"_s, u"男"_s, u"女"_s}},
        {u"SELECT * FROM 時間外頻度"_s, u"時間外頻度"_s, db::outOfHoursRows()},
        {u"SELECT * FROM 時間外頻度"_s, u"時間外頻度ID"_s,
         {u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s, u"7"_s, u"8"_s, u"9"_s, u"10"_s}},
        {u"SELECT * FROM 病院名"_s, u"病院名"_s, {u"A病院"_s}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(c.sql + u" / "_s + c.column));
        EXPECT_EQ(column(c.sql, c.column), c.values);
    }

    // The options window edits the institution through its one row.
    auto hospital = open(u"SELECT * FROM 病院名"_s);
    EXPECT_EQ(hospital->value(u"診療担当科名"_s).toString(), u"精神科"_s);
    hospital->setValue(u"電話番号"_s, u"03-1111-2222"_s);
    hospital->update();
    EXPECT_EQ(scalar(u"SELECT 電話番号 FROM 病院名"_s).toString(), u"03-1111-2222"_s);
}

TEST(QueryProbes, VersionProbesTellTheGenerationsApart)
{
    QTemporaryDir dir;
    const QString probeCode = u"SELECT ICDコード FROM `診断名(ICD10)`"_s;
    const QString probeVersion = u"SELECT * FROM バージョン"_s;
    struct Case
    {
        db::Generation generation;
        qint32 code;    // what the first probe raises
        qint32 version; // what the second probe raises
    };
    const QList<Case> cases{
        {db::Generation::Old, jet::err::ColumnMissing, jet::err::TableMissing},
        {db::Generation::V2086, 0, jet::err::TableMissing},
        {db::Generation::V2112, 0, 0},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(n);
        const QString path = QDir(dir.path()).filePath(QString::number(n++) + u".mdb"_s);
        db::createDatabase(path, c.generation);
        jet::Connection connection;
        connection.setProvider(db::shapingProvider());
        connection.open(db::shapedConnectionString(path));
        Recordset rs;
        EXPECT_EQ(errorOf([&] { rs.open(probeCode, &connection, CursorType::Dynamic); }), c.code);
        rs.close();
        EXPECT_EQ(errorOf([&] { rs.open(probeVersion, &connection, CursorType::Dynamic); }), c.version);
        if (c.version == 0) {
            ASSERT_EQ(rs.recordCount(), 1);
            EXPECT_EQ(rs.value(u"バージョン"_s).toString(), u"2.112"_s);
        }
    }
}

TEST_F(Queries, InpatientListAndItsSummaries)
{
    jet::Catalog catalog;
    catalog.setActiveConnection(m_connection.get());
    const QString stored = catalog.viewText(db::kInpatientListQuery.toString());
    EXPECT_TRUE(stored == kListSelect + kListFrom + kListWhere + kAscending
                || stored == kListSelect + kListFrom + kListWhere + kDescending);

    // Rooms by their number text, not their ID; beds likewise.  Episode 8 is
    // current but its bed names no row; 3 left yesterday; 4 comes tomorrow.
    auto list = open(kListSelect + kListFrom + kListWhere + kAscending);
    EXPECT_EQ(column(*list, u"入退院ID"_s), QStringList({u"6"_s, u"2"_s, u"1"_s}));
    EXPECT_EQ(column(*list, u"病室番号"_s), QStringList({u"201"_s, u"201"_s, u"305"_s}));
    EXPECT_EQ(column(*list, u"ベッド番号"_s), QStringList({u"1"_s, u"2"_s, u"1"_s}));
    EXPECT_EQ(column(*list, u"カルテID"_s), QStringList({u"1005"_s, u"1002"_s, u"1001"_s}));
    // Rounded, not truncated: 山田 turns 43 tomorrow, 田中 is 27 and a half.
    EXPECT_EQ(column(*list, u"年齢"_s), QStringList({u"53"_s, u"28"_s, u"43"_s}));
    EXPECT_EQ(column(*list, u"新規入院"_s), QStringList({QString(), QString(), u"新"_s}));
    EXPECT_EQ(column(*list, u"入院日数"_s), QStringList({u"90"_s, u"8"_s, u"7"_s}));
    EXPECT_EQ(column(*list, u"略称"_s), QStringList({u"医保"_s, u"医保"_s, u"任意"_s}));
    EXPECT_EQ(column(*list, u"主治医.主治医"_s), QStringList({u"岡部"_s, u"山田"_s, u"岡部"_s}));
    EXPECT_EQ(column(*list, u"主治医_1.主治医"_s), QStringList({u"山田"_s, u"岡部"_s, u"山田"_s}));
    list->moveFirst();
    EXPECT_TRUE(list->value(u"入院条件"_s).isNull());
    list->moveNext();
    EXPECT_EQ(list->value(u"入院条件"_s).toInt(), 0);
    EXPECT_EQ(list->value(u"退院日"_s).toDate(), QDate(2003, 4, 1));
    EXPECT_EQ(list->value(u"現病歴"_s).toString(), u"抑うつの経過"_s);

    EXPECT_EQ(column(kListSelect + kListFrom + kListWhere + kDescending, u"入退院ID"_s),
              QStringList({u"1"_s, u"6"_s, u"2"_s}));

    // The ledger and its summary labels open the stored queries by name.
    EXPECT_EQ(open(db::kInpatientListQuery.toString())->recordCount(), 3);
    EXPECT_EQ(scalar(u"Q_現在入院者全集計"_s).toInt(), 3);
    auto age = open(u"Q_現在入院者平均年齢"_s);
    EXPECT_DOUBLE_EQ(age->value(u"平均年齢"_s).toDouble(), (53 + 28 + 43) / 3.0);
    auto stay = open(u"Q_現在入院者平均入院日数"_s);
    EXPECT_DOUBLE_EQ(stay->value(u"平均入院日数"_s).toDouble(), (90 + 8 + 7) / 3.0);
}

TEST_F(Queries, OutpatientAndAllPatientLists)
{
    const QString outpatients = u"SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 "_s
        + u"WHERE 患者情報.カルテID = 入退院情報.カルテID AND 外入の別 = -1 "_s + u"ORDER BY 入退院情報.入退院ID DESC;"_s;
    const QString everyone = u"SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 "_s
        + u"WHERE 患者情報.カルテID = 入退院情報.カルテID "_s + u"ORDER BY 入退院情報.入退院ID DESC;"_s;

    // Outpatient courses whatever their dates; chart 9999 has no patient row.
    auto out = open(outpatients);
    EXPECT_EQ(column(*out, u"入退院ID"_s), QStringList({u"7"_s, u"5"_s}));
    EXPECT_EQ(column(*out, u"入退院情報.カルテID"_s), QStringList({u"1005"_s, u"1004"_s}));
    EXPECT_EQ(column(*out, u"患者情報.カルテID"_s), QStringList({u"1005"_s, u"1004"_s}));
    EXPECT_EQ(out->fieldIndex(u"カルテID"_s), -1);
    EXPECT_EQ(errorOf([&] { out->value(u"カルテID"_s); }), jet::err::ItemNotFound);
    EXPECT_EQ(column(*out, u"一時診断名"_s), QStringList({u"断酒"_s, u"不安"_s}));

    // Every episode with its patient, regardless of code tables, newest first.
    auto all = open(everyone);
    EXPECT_EQ(column(*all, u"入退院ID"_s),
              QStringList({u"8"_s, u"7"_s, u"6"_s, u"5"_s, u"4"_s, u"3"_s, u"2"_s, u"1"_s}));
    all->moveFirst();
    EXPECT_EQ(all->value(u"氏名"_s).toString(), u"田中花子"_s);
    EXPECT_EQ(all->value(u"入院日"_s).toDate(), QDate(2002, 11, 1));
    EXPECT_TRUE(all->value(u"退院日"_s).isNull());
    EXPECT_EQ(scalar(u"Q_台帳患者数"_s).toInt(), 8);
}

TEST_F(Queries, KanaFilterOnTheLists)
{
    auto all = open(u"SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 "_s
                    + u"WHERE 患者情報.カルテID = 入退院情報.カルテID "_s + u"ORDER BY 入退院情報.入退院ID DESC;"_s);
    const auto kana = [](const QString &text) { return u"かな氏名 like '"_s + text + u"*'"_s; };

    all->setFilter(kana(u"た"_s));
    EXPECT_EQ(all->recordCount(), 4);
    EXPECT_EQ(all->currentRow(), 0);
    EXPECT_EQ(column(*all, u"かな氏名"_s),
              QStringList({u"たなかはなこ"_s, u"たかはしいちろう"_s, u"たかはしいちろう"_s, u"たなかはなこ"_s}));
    // A second search replaces the filter rather than narrowing it.
    all->setFilter(kana(u"だ"_s));
    EXPECT_EQ(column(*all, u"氏名"_s), QStringList({u"伊達政子"_s}));
    // A leading asterisk matches anywhere in the reading.
    all->setFilter(kana(u"*ろう"_s));
    EXPECT_EQ(column(*all, u"入退院ID"_s), QStringList({u"7"_s, u"6"_s, u"4"_s, u"3"_s, u"1"_s}));

    all->setFilter(kana(u"ん"_s));
    EXPECT_EQ(all->recordCount(), 0);
    EXPECT_TRUE(all->eof());
    const qint32 rejected = errorOf([&] { all->setFilter(kana(u"た*か"_s)); });
    EXPECT_TRUE(rejected == jet::err::InvalidArgument || rejected == jet::err::InvalidArgumentHr) << rejected;

    // Clearing and requerying shows what other windows added meanwhile.
    auto other = m_ward.connect();
    other->execute(u"INSERT INTO 入退院情報 (カルテID) VALUES (1006)"_s);
    all->clearFilter();
    all->requery();
    EXPECT_EQ(all->recordCount(), 9);
    EXPECT_EQ(all->value(u"氏名"_s).toString(), u"鈴木"_s);

    // The in-patient ledger filters its stored query the same way.
    auto list = open(db::kInpatientListQuery.toString());
    list->setFilter(kana(u"た"_s));
    EXPECT_EQ(column(*list, u"氏名"_s), QStringList({u"田中花子"_s}));
}

TEST_F(Queries, RegistrationFindsOrAddsRowsAndTheNewPatientWindowFindsThem)
{
    auto patients = open(u"SELECT * FROM 患者情報"_s);
    auto episodes = open(u"SELECT * FROM 入退院情報"_s);
    patients->moveFirst();
    patients->find(u"カルテID = 1003"_s);
    ASSERT_FALSE(patients->eof());
    EXPECT_EQ(patients->value(u"氏名"_s).toString(), u"高橋一郎"_s);
    patients->moveFirst();
    patients->find(u"カルテID = 4242"_s);
    EXPECT_TRUE(patients->eof());

    patients->addNew({u"カルテID"_s}, {4242});
    episodes->addNew({u"カルテID"_s}, {4242});
    patients->requery();
    episodes->requery();
    EXPECT_EQ(patients->recordCount(), 7);
    EXPECT_EQ(episodes->recordCount(), 10);
    // Zero and negative chart numbers are charts like any other.
    patients->addNew({u"カルテID"_s}, {-5});
    patients->addNew({u"カルテID"_s}, {0});
    patients->requery();
    for (const QString &chart : {u"-5"_s, u"0"_s, u"4242"_s}) {
        patients->moveFirst();
        patients->find(u"カルテID = "_s + chart);
        ASSERT_FALSE(patients->eof()) << qPrintable(chart);
        EXPECT_EQ(patients->value(u"カルテID"_s).toString(), chart);
    }

    auto joined = open(u"SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 "_s
                       + u"WHERE 患者情報.カルテID = 入退院情報.カルテID "_s + u"ORDER BY 入退院情報.入退院ID"_s);
    joined->moveLast();
    // Without 検査情報 in the join the episode key is unique and bound bare.
    const QString key = joined->value(u"入退院ID"_s).toString();
    EXPECT_EQ(key, u"10"_s);
    EXPECT_EQ(joined->value(u"入退院情報.カルテID"_s).toInt(), 4242);
    EXPECT_EQ(joined->value(u"時間外頻度"_s).toInt(), 1);
    EXPECT_EQ(joined->value(u"外入の別"_s).toInt(), 0);
    joined->setValue(u"氏名"_s, u"新井"_s);
    joined->update();

    // The companion rows take the key as the hidden box shows it, as text.
    auto exams = open(u"SELECT * FROM 検査情報"_s);
    auto diagnoses = open(u"SELECT * FROM 診断情報"_s);
    exams->addNew({u"入退院ID"_s}, {key});
    diagnoses->addNew({u"入退院ID"_s}, {key});
    exams->requery();
    diagnoses->requery();
    EXPECT_EQ(exams->recordCount(), 8);
    EXPECT_EQ(diagnoses->recordCount(), 8);

    auto record = open(u"SELECT 患者情報.*, 入退院情報.*, 検査情報.* FROM 患者情報, 入退院情報, 検査情報 "_s
                       + u"WHERE 患者情報.カルテID = 入退院情報.カルテID AND 入退院情報.入退院ID = 検査情報.入退院ID"_s);
    record->setFilter(u"入退院情報.入退院ID = '"_s + key + u"'"_s);
    ASSERT_EQ(record->recordCount(), 1);
    EXPECT_EQ(record->value(u"氏名"_s).toString(), u"新井"_s);
}

TEST_F(Queries, EpisodeDeletionByQuotedKey)
{
    const QStringList tables{u"入退院情報"_s, u"検査情報"_s, u"診断情報"_s};
    const auto remove = [&](const QString &key) {
        QList<qint32> errors;
        for (const QString &table : tables) {
            auto rs = open(u"SELECT * FROM "_s + table);
            rs->setFilter(u"入退院ID = '"_s + key + u"'"_s);
            errors.append(errorOf([&] { rs->deleteCurrent(); }));
        }
        return errors;
    };
    const auto count = [&](const QString &table, int key) {
        return scalar(u"SELECT COUNT(*) FROM "_s + table + u" WHERE 入退院ID = "_s + QString::number(key)).toInt();
    };

    EXPECT_EQ(remove(u"3"_s), QList<qint32>({0, 0, 0}));
    for (const QString &table : tables)
        EXPECT_EQ(count(table, 3), 0) << qPrintable(table);
    EXPECT_EQ(count(u"入退院情報"_s, 4), 1);
    EXPECT_EQ(count(u"検査情報"_s, 2), 1);
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM 患者情報 WHERE カルテID = 1003"_s).toInt(), 1);

    // An episode registered without its companion rows.
    EXPECT_EQ(remove(u"4"_s), QList<qint32>({0, jet::err::NoCurrentRecord, jet::err::NoCurrentRecord}));
    EXPECT_EQ(count(u"入退院情報"_s, 4), 0);
}

TEST_F(Queries, RoomOrderRewrittenThroughTheCatalog)
{
    const QString name = u"Q_現在入院者リスト"_s;
    for (const QString &order : {kDescending, kAscending, kAscending}) {
        SCOPED_TRACE(qPrintable(order));
        jet::Catalog catalog;
        catalog.open(db::plainConnectionString(m_ward.path()));
        catalog.deleteView(name);
        catalog.appendView(name, kListSelect + kListFrom + kListWhere + order);
        catalog.close();

        const QStringList expected = order == kDescending ? QStringList({u"1"_s, u"6"_s, u"2"_s})
                                                          : QStringList({u"6"_s, u"2"_s, u"1"_s});
        auto reopened = m_ward.connect();
        Recordset list;
        list.open(name, reopened.get());
        EXPECT_EQ(column(list, u"入退院ID"_s), expected);
        jet::Command treatment(reopened.get(), u"`Q_現在入院者リスト`"_s);
        EXPECT_EQ(column(*treatment.execute(), u"入退院ID"_s), expected);
        EXPECT_EQ(scalar(u"Q_現在入院者全集計"_s).toInt(), 3);
    }
}

namespace {

// Stands in for the spreadsheet output: keeps what the export would write.
class CapturedSheet
{
public:
    CapturedSheet()
    {
        jet::setSelectIntoHandler([this](jet::Connection &, const QString &connect, const QString &name, Recordset &rows) {
            m_connect = connect;
            m_name = name;
            for (int i = 0; i < rows.fieldCount(); ++i)
                m_columns.append(rows.field(i).name);
            for (int r = 0; r < rows.rowCount(); ++r) {
                QVariantMap row;
                for (int i = 0; i < rows.fieldCount(); ++i)
                    row.insert(rows.field(i).name, rows.valueAt(r, i));
                m_rows.insert(row.value(u"カルテID"_s).toInt() * 100 + r, row);
            }
            return int(rows.rowCount());
        });
    }
    ~CapturedSheet() { jet::setSelectIntoHandler({}); }
    CapturedSheet(const CapturedSheet &) = delete;
    CapturedSheet &operator=(const CapturedSheet &) = delete;

    QString connect() const { return m_connect; }
    QString name() const { return m_name; }
    QStringList columns() const { return m_columns; }
    // Rows by chart, in chart order; a chart's episodes in the order written.
    QList<QVariantMap> rows() const { return m_rows.values(); }
    QStringList values(const QString &column) const
    {
        QStringList result;
        for (const QVariantMap &row : m_rows)
            result.append(row.value(column).toString());
        return result;
    }

private:
    QString m_connect;
    QString m_name;
    QStringList m_columns;
    QMap<int, QVariantMap> m_rows;
};

} // namespace

TEST_F(Queries, ExportStatementsNameTheirSheetAndRows)
{
    const QString inpatients =
        u"SELECT 入退院情報.カルテID AS カルテID, 患者情報.かな氏名 AS かな氏名, 患者情報.氏名 AS 氏名, 患者情報.生年月日 AS 生年月日, ROUND((DateDiff('d', 患者情報.生年月日-1, Now()) / 365.25), 0) AS 年齢, 入院形態.略称 AS 入院形態, 入退院情報.入院日 AS 入院日, DateDiff('d', 入退院情報.入院日, Now()) AS 入院日数, 入退院情報.一時診断名 AS 一時診断名, 入退院情報.現病歴 AS 現病歴, 主治医.主治医 AS 主治医 INTO "_s
        + u"[Excel 8.0;Database=C:\\ネモリア入院中.xls].[入院中の患者] "_s + kListFrom
        + u"WHERE DateDiff('d', 入退院情報.入院日, Now()) >= 0 AND (DateDiff('d', 入退院情報.退院日, Now()) <= 0 OR DateDiff('d', 入退院情報.退院日, Now()) Is Null);"_s;
    const QString outpatients =
        u"SELECT 入退院情報.カルテID AS カルテID, 患者情報.かな氏名 AS かな氏名, 患者情報.氏名 AS 氏名, 患者情報.生年月日 AS 生年月日, ROUND((DateDiff('d', 患者情報.生年月日-1, Now()) / 365.25), 0) AS 年齢, 入退院情報.一時診断名 AS 一時診断名, 入退院情報.現病歴 AS 現病歴, 入退院情報.入院後経過 AS 治療内容, 入退院情報.個別注意事項 AS 注意事項, 時間外頻度.時間外頻度 AS 時間外頻度, 主治医.主治医 AS 主治医 INTO "_s
        + u"[Excel 8.0;Database=C:\\ネモリア外来通院中.xls].[外来通院中の患者] "_s
        + u"FROM ((患者情報 INNER JOIN 入退院情報 ON 患者情報.カルテID = 入退院情報.カルテID) INNER JOIN 時間外頻度 ON 入退院情報.時間外頻度 = 時間外頻度.時間外頻度ID) INNER JOIN 主治医 ON 入退院情報.主治医① = 主治医.主治医ID "_s
        + u"WHERE 入退院情報.外入の別 = -1;"_s;
    const QString everyone =
        u"SELECT 入退院情報.カルテID AS カルテID, 患者情報.かな氏名 AS かな氏名, 患者情報.氏名 AS 氏名, 患者情報.生年月日 AS 生年月日, ROUND((DateDiff('d', 患者情報.生年月日-1, Now()) / 365.25), 0) AS 年齢, 入院形態.略称 AS 入院形態, 入退院情報.入院日 AS 入院日, 入退院情報.退院日 AS 退院日, DateDiff('d', 入退院情報.入院日, 入退院情報.退院日) AS 入院日数, 入退院情報.一時診断名 AS 一時診断名, 入退院情報.現病歴 AS 現病歴, 入退院情報.入院後経過 AS 入院後経過, 主治医.主治医 AS 主治医 INTO "_s
        + u"[Excel 8.0;Database=C:\\ネモリアすべて.xls].[すべての患者] "_s + kListFrom.chopped(1) + u";"_s;

    struct Case
    {
        QString sql;
        QString file;
        QString sheet;
        QStringList columns;
        QStringList charts;
    };
    const QList<Case> cases{
        {inpatients, u"C:\\ネモリア入院中.xls"_s, u"入院中の患者"_s,
         {u"カルテID"_s, u"かな氏名"_s, u"氏名"_s, u"生年月日"_s, u"年齢"_s, u"入院形態"_s, u"入院日"_s, u"入院日数"_s,
          u"一時診断名"_s, u"現病歴"_s, u"主治医"_s},
         {u"1001"_s, u"1002"_s, u"1005"_s}},
        {outpatients, u"C:\\ネモリア外来通院中.xls"_s, u"外来通院中の患者"_s,
         {u"カルテID"_s, u"かな氏名"_s, u"氏名"_s, u"生年月日"_s, u"年齢"_s, u"一時診断名"_s, u"現病歴"_s, u"治療内容"_s,
          u"注意事項"_s, u"時間外頻度"_s, u"主治医"_s},
         {u"1004"_s, u"1005"_s}},
        {everyone, u"C:\\ネモリアすべて.xls"_s, u"すべての患者"_s,
         {u"カルテID"_s, u"かな氏名"_s, u"氏名"_s, u"生年月日"_s, u"年齢"_s, u"入院形態"_s, u"入院日"_s, u"退院日"_s,
          u"入院日数"_s, u"一時診断名"_s, u"現病歴"_s, u"入院後経過"_s, u"主治医"_s},
         {u"1001"_s, u"1002"_s, u"1003"_s, u"1003"_s, u"1004"_s, u"1005"_s, u"1005"_s}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(c.sheet));
        const jet::sql::Statement statement = jet::sql::translate(c.sql);
        EXPECT_EQ(statement.kind, jet::sql::Statement::Kind::SelectInto);
        EXPECT_EQ(statement.select.intoConnect, u"Excel 8.0;Database="_s + c.file);
        EXPECT_EQ(statement.select.intoName, c.sheet);
        QStringList aliases;
        for (const jet::sql::SelectItem &item : statement.select.items)
            aliases.append(item.alias);
        EXPECT_EQ(aliases, c.columns);

        CapturedSheet sheet;
        EXPECT_EQ(m_connection->execute(c.sql), c.charts.size());
        EXPECT_EQ(sheet.connect(), u"Excel 8.0;Database="_s + c.file);
        EXPECT_EQ(sheet.name(), c.sheet);
        EXPECT_EQ(sheet.columns(), c.columns);
        EXPECT_EQ(sheet.values(u"カルテID"_s), c.charts);
        if (c.sheet == u"入院中の患者"_s) {
            EXPECT_EQ(sheet.values(u"入院日数"_s), QStringList({u"7"_s, u"8"_s, u"90"_s}));
            EXPECT_EQ(sheet.values(u"入院形態"_s), QStringList({u"任意"_s, u"医保"_s, u"医保"_s}));
        } else if (c.sheet == u"外来通院中の患者"_s) {
            EXPECT_EQ(sheet.values(u"時間外頻度"_s), QStringList({u"ほとんどない"_s, u"ない"_s}));
            EXPECT_EQ(sheet.values(u"主治医"_s), QStringList({u"山田"_s, u"岡部"_s}));
            EXPECT_EQ(sheet.values(u"治療内容"_s), QStringList({u"不安の治療"_s, u"断酒の治療"_s}));
            EXPECT_EQ(sheet.values(u"注意事項"_s), QStringList({u"不安に注意"_s, u"断酒に注意"_s}));
        } else {
            // Length of stay between the two dates, empty while either is missing.
            QStringList stays = sheet.values(u"入院日数"_s);
            stays.sort();
            EXPECT_EQ(stays, QStringList({QString(), QString(), QString(), QString(), u"120"_s, u"31"_s, u"8"_s}));
        }
    }
    EXPECT_EQ(errorOf([&] { m_connection->execute(inpatients); }), jet::err::NotSupported);
}

TEST_F(Queries, RecordWindowsEditOneEpisodeOfTheJoin)
{
    const QString sql = u"SELECT 患者情報.*, 入退院情報.*, 検査情報.* FROM 患者情報, 入退院情報, 検査情報 "_s
        + u"WHERE 患者情報.カルテID = 入退院情報.カルテID AND 入退院情報.入退院ID = 検査情報.入退院ID"_s;
    auto record = open(sql, CursorType::Dynamic);
    // Episode 4 has no 検査情報 row, episode 9 no patient.
    EXPECT_EQ(record->recordCount(), 7);
    EXPECT_EQ(record->fieldIndex(u"カルテID"_s), -1);
    EXPECT_EQ(record->fieldIndex(u"入退院ID"_s), -1);

    record->setFilter(u"入退院情報.入退院ID = '"_s + u"1"_s + u"'"_s);
    ASSERT_EQ(record->recordCount(), 1);
    EXPECT_EQ(record->value(u"患者情報.カルテID"_s).toInt(), 1001);
    EXPECT_EQ(record->value(u"入退院情報.カルテID"_s).toInt(), 1001);
    EXPECT_EQ(record->value(u"入退院情報.入退院ID"_s).toInt(), 1);
    EXPECT_EQ(record->value(u"検査情報.入退院ID"_s).toInt(), 1);
    EXPECT_EQ(record->value(u"氏名"_s).toString(), u"山田太郎"_s);
    EXPECT_EQ(record->value(u"検査(脳波)"_s).toString(), u"脳波1"_s);
    EXPECT_EQ(record->value(u"主治医②"_s).toInt(), 3);

    // Each field goes back to its own table.
    record->setValue(u"退院日"_s, QDate(2003, 4, 1));
    record->setValue(u"かな氏名"_s, u"やまだ たろう"_s);
    record->setValue(u"検査(ＣＴ)"_s, u"異常なし"_s);
    record->update();
    EXPECT_EQ(scalar(u"SELECT 退院日 FROM 入退院情報 WHERE 入退院ID = 1"_s).toDate(), QDate(2003, 4, 1));
    EXPECT_EQ(scalar(u"SELECT かな氏名 FROM 患者情報 WHERE カルテID = 1001"_s).toString(), u"やまだ たろう"_s);
    EXPECT_EQ(scalar(u"SELECT `検査(ＣＴ)` FROM 検査情報 WHERE 入退院ID = 1"_s).toString(), u"異常なし"_s);

    record->setFilter(u"入退院情報.入退院ID = '4'"_s);
    EXPECT_EQ(record->recordCount(), 0);
    EXPECT_TRUE(record->eof());
    // A ledger asked to open a row of an empty list hands over an empty key.
    EXPECT_NE(errorOf([&] { record->setFilter(u"入退院情報.入退院ID = ''"_s); }), 0);

    // The outpatient window opens the same text as a static recordset.
    auto outpatient = open(sql);
    outpatient->setFilter(u"入退院情報.入退院ID = '5'"_s);
    ASSERT_EQ(outpatient->recordCount(), 1);
    EXPECT_EQ(outpatient->value(u"外入の別"_s).toInt(), -1);
    EXPECT_EQ(outpatient->value(u"時間外頻度"_s).toInt(), 3);
    EXPECT_EQ(outpatient->value(u"個別注意事項"_s).toString(), u"不安に注意"_s);
    EXPECT_TRUE(outpatient->value(u"入院日"_s).isNull());
}

TEST_F(Queries, CertificateRowIsFoundOrAddedThenEditedThroughTheJoin)
{
    auto certificates = open(u"SELECT * FROM `32条診断書`"_s);
    certificates->moveFirst();
    certificates->find(u"カルテID = "_s + u"1004"_s);
    ASSERT_FALSE(certificates->eof());
    EXPECT_EQ(certificates->value(u"主精神障害"_s).toInt(), 3);

    certificates->moveFirst();
    certificates->find(u"カルテID = "_s + u"1001"_s);
    EXPECT_TRUE(certificates->eof());
    certificates->addNew({u"カルテID"_s}, {u"1001"_s});
    certificates->requery();
    EXPECT_EQ(certificates->recordCount(), 3);
    certificates->moveFirst();
    certificates->find(u"カルテID = 1001"_s);
    ASSERT_FALSE(certificates->eof());
    EXPECT_EQ(certificates->value(u"主精神障害"_s).toInt(), 1);
    EXPECT_EQ(certificates->value(u"従精神障害"_s).toInt(), 1);
    EXPECT_EQ(certificates->value(u"程度3"_s).toInt(), 0);
    EXPECT_TRUE(certificates->value(u"医師氏名"_s).isNull());

    auto window = open(u"SELECT 患者情報.*, `32条診断書`.* FROM 患者情報, `32条診断書` "_s
                       + u"WHERE 患者情報.カルテID = `32条診断書`.カルテID "_s + u"ORDER BY 患者情報.カルテID"_s);
    EXPECT_EQ(column(*window, u"患者情報.カルテID"_s), QStringList({u"1001"_s, u"1004"_s, u"1005"_s}));
    EXPECT_GE(window->fieldIndex(u"32条診断書.カルテID"_s), 0);
    window->setFilter(u"患者情報.カルテID = '"_s + u"1005"_s + u"'"_s);
    ASSERT_EQ(window->recordCount(), 1);
    EXPECT_EQ(window->value(u"氏名"_s).toString(), u"佐藤次郎"_s);
    EXPECT_EQ(window->value(u"医師氏名"_s).toString(), u"山田"_s);
    window->setValue(u"住所"_s, u"東京都"_s);
    window->setValue(u"身体合併症"_s, u"肝障害"_s);
    window->update();
    EXPECT_EQ(scalar(u"SELECT 住所 FROM 患者情報 WHERE カルテID = 1005"_s).toString(), u"東京都"_s);
    EXPECT_EQ(scalar(u"SELECT 身体合併症 FROM `32条診断書` WHERE カルテID = 1005"_s).toString().trimmed(), u"肝障害"_s);

    // A new database has no certificate row at all.
    m_connection->execute(u"DELETE FROM `32条診断書`"_s);
    auto empty = open(u"SELECT * FROM `32条診断書`"_s);
    empty->find(u"カルテID = 1004"_s);
    EXPECT_TRUE(empty->eof());
    empty->addNew({u"カルテID"_s}, {u"1004"_s});
    empty->requery();
    EXPECT_EQ(empty->recordCount(), 1);
    EXPECT_EQ(empty->value(u"カルテID"_s).toInt(), 1004);
}

TEST_F(Queries, ReportCommandsTakeTheirKeyAsParameter)
{
    jet::Command patient(m_connection.get(),
        u"SELECT 患者情報.*, 入退院情報.*, ベッド番号.ベッド番号 AS サブベッド番号, 病室番号.病室番号 AS サブ病室番号, 入院形態.入院形態 AS サブ入院形態, 性別.性別 AS サブ性別, `診断名(ICD10)`.診断名 AS `サブ診断名①`, `診断名(ICD10)1`.診断名 AS `サブ診断名②`, `診断名(ICD10)2`.診断名 AS `サブ診断名③`, `診断名(ICD10)`.`ICDコード` AS `サブコード①`, `診断名(ICD10)1`.`ICDコード` AS `サブコード②`, `診断名(ICD10)2`.`ICDコード` AS `サブコード③`, 扱別.扱別 AS サブ扱別, 主治医.主治医 AS `サブ主治医①`, 主治医1.主治医 AS `サブ主治医②`, 転帰.転帰 AS サブ転帰 FROM 患者情報, 入退院情報, ベッド番号, 病室番号, 入院形態, 性別, `診断名(ICD10)`, `診断名(ICD10)` `診断名(ICD10)1`, `診断名(ICD10)` `診断名(ICD10)2`, 扱別, 主治医, 主治医 主治医1, 転帰 WHERE 患者情報.カルテID = 入退院情報.カルテID AND 入退院情報.ベッド番号 = ベッド番号.ベッドID AND 入退院情報.病室番号 = 病室番号.病室ID AND 入退院情報.入院形態 = 入院形態.入院形態ID AND 患者情報.性別 = 性別.性別ID AND 患者情報.`診断名①` = `診断名(ICD10)`.診断ID AND 患者情報.`診断名②` = `診断名(ICD10)1`.診断ID AND 患者情報.`診断名③` = `診断名(ICD10)2`.診断ID AND 入退院情報.扱別 = 扱別.扱別ID AND 入退院情報.`主治医①` = 主治医.主治医ID AND 入退院情報.`主治医②` = 主治医1.主治医ID AND 入退院情報.転帰 = 転帰.転帰ID AND (入退院情報.入退院ID = ?)"_s);
    patient.appendParameter(u"PrmNo"_s);

    patient.setParameter(u"PrmNo"_s, 1);
    auto admission = patient.execute();
    ASSERT_EQ(admission->recordCount(), 1);
    const QList<QPair<QString, QString>> expected{
        {u"サブベッド番号"_s, u"1"_s}, {u"サブ病室番号"_s, u"305"_s}, {u"サブ入院形態"_s, u"任意入院"_s},
        {u"サブ性別"_s, u"男性"_s}, {u"サブ診断名①"_s, u"統合失調症"_s}, {u"サブ診断名②"_s, u"うつ病エピソード"_s},
        {u"サブ診断名③"_s, u"-"_s}, {u"サブコード①"_s, u"F20"_s}, {u"サブコード②"_s, u"F32"_s},
        {u"サブコード③"_s, u"-"_s}, {u"サブ扱別"_s, u"国保"_s}, {u"サブ主治医①"_s, u"岡部"_s},
        {u"サブ主治医②"_s, u"山田"_s}, {u"サブ転帰"_s, u"-"_s}, {u"氏名"_s, u"山田太郎"_s},
        {u"患者情報.カルテID"_s, u"1001"_s}, {u"入退院ID"_s, u"1"_s}, {u"一時診断名"_s, u"幻聴"_s},
    };
    for (const auto &[field, value] : expected)
        EXPECT_EQ(admission->value(field).toString(), value) << qPrintable(field);

    // A later launch runs the command again with the new key.
    patient.setParameter(u"PrmNo"_s, 5);
    auto outpatient = patient.execute();
    ASSERT_EQ(outpatient->recordCount(), 1);
    EXPECT_EQ(outpatient->value(u"サブ病室番号"_s).toString(), u"-"_s);
    EXPECT_EQ(outpatient->value(u"サブ主治医①"_s).toString(), u"山田"_s);
    // A bed code that names no row drops the episode.
    patient.setParameter(u"PrmNo"_s, 8);
    EXPECT_EQ(patient.execute()->recordCount(), 0);

    jet::Command certificate(m_connection.get(),
        u"SELECT `32条診断書`.*, 患者情報.*, `診断名(ICD10)`.診断名 AS 主診断名, `診断名(ICD10)`.`ICDコード` AS `主コード`, `診断名(ICD10)1`.診断名 AS 従診断名, `診断名(ICD10)1`.`ICDコード` AS `従コード`, 性別.略称 AS 略称, ROUND((DateDiff('d', 生年月日-1, NOW()) / 365.25), 0) AS 年齢 FROM `32条診断書`, 患者情報, `診断名(ICD10)`, `診断名(ICD10)` `診断名(ICD10)1`, 性別 WHERE `32条診断書`.カルテID = 患者情報.カルテID AND `32条診断書`.主精神障害 = `診断名(ICD10)`.診断ID AND `32条診断書`.従精神障害 = `診断名(ICD10)1`.診断ID AND 患者情報.性別 = 性別.性別ID AND (患者情報.カルテID = ?) "_s);
    certificate.appendParameter(u"PrmNo"_s);
    struct Case
    {
        int chart;
        QStringList values; // 主診断名, 主コード, 従診断名, 従コード, 略称, 年齢
    };
    const QList<Case> cases{
        {1005, {u"アルコール依存症"_s, u"F10.2"_s, u"うつ病エピソード"_s, u"F32"_s, u"男"_s, u"53"_s}},
        {1004, {u"統合失調感情障害"_s, u"F25.1"_s, u"-"_s, u"-"_s, u"女"_s, u"18"_s}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.chart);
        certificate.setParameter(u"PrmNo"_s, c.chart);
        auto rs = certificate.execute();
        ASSERT_EQ(rs->recordCount(), 1);
        QStringList values;
        for (const QString &field : {u"主診断名"_s, u"主コード"_s, u"従診断名"_s, u"従コード"_s, u"略称"_s, u"年齢"_s})
            values.append(rs->value(field).toString());
        EXPECT_EQ(values, c.values);
        EXPECT_EQ(rs->value(u"32条診断書.カルテID"_s).toInt(), c.chart);
        EXPECT_EQ(rs->value(u"患者情報.カルテID"_s).toInt(), c.chart);
    }
    certificate.setParameter(u"PrmNo"_s, 1001);
    EXPECT_EQ(certificate.execute()->recordCount(), 0);

    // The check sheets name their stored queries between back-quotes.
    const QList<QPair<QString, QStringList>> sheets{
        {u"`Q_入院精神療法(4週間以内)`"_s, {u"山田太郎"_s, u"田中花子"_s}},
        {u"`Q_入院精神療法(5週間から3ヶ月以内)`"_s, {u"佐藤次郎"_s}},
        {u"`Q_入院精神療法(3ヶ月以上)`"_s, {}},
    };
    for (const auto &[query, names] : sheets) {
        SCOPED_TRACE(qPrintable(query));
        jet::Command sheet(m_connection.get(), query);
        QStringList found = column(*sheet.execute(), u"氏名"_s);
        found.sort();
        EXPECT_EQ(found, names);
    }
}

namespace {

const QString kStatisticsSelect =
    u"SELECT mid$(`診断名(ICD10)`.ICDコード,1,2) AS コード, COUNT(mid$(`診断名(ICD10)`.ICDコード,1,2)) AS `ICD-10診断集計` FROM 患者情報, `診断名(ICD10)`, 入退院情報 "_s;
const QString kStatisticsGroup = u"GROUP BY mid$(`診断名(ICD10)`.ICDコード,1,2)"_s;
const QString kOutpatientStatistics =
    kStatisticsSelect
    + u"WHERE 患者情報.診断名① = `診断名(ICD10)`.診断ID AND 患者情報.カルテID = 入退院情報.カルテID AND 外入の別 = -1 "_s
    + kStatisticsGroup;

QString periodStatistics(const QString &from, const QString &to)
{
    return kStatisticsSelect
        + u"WHERE 患者情報.診断名① = `診断名(ICD10)`.診断ID AND 患者情報.カルテID = 入退院情報.カルテID AND DateDiff('d', 入退院情報.入院日, #"_s
        + from + u"#) <= 0 AND DateDiff('d', 入退院情報.入院日, #"_s + to + u"#) > 0 "_s + kStatisticsGroup;
}

QMap<QString, int> counts(Recordset &rs)
{
    QMap<QString, int> result;
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        result.insert(rs.value(u"コード"_s).toString(), rs.value(u"ICD-10診断集計"_s).toInt());
    return result;
}

} // namespace

TEST_F(Queries, DiagnosisStatisticsCountEpisodesByCodeGroup)
{
    const QString current =
        kStatisticsSelect
        + u"WHERE 患者情報.診断名① = `診断名(ICD10)`.診断ID AND 患者情報.カルテID = 入退院情報.カルテID AND DateDiff('d', 入退院情報.入院日, Now()) >= 0 AND (DateDiff('d', 入退院情報.退院日, Now()) <= 0 OR DateDiff('d', 入退院情報.退院日, Now()) Is Null) "_s
        + kStatisticsGroup;
    using Counts = QMap<QString, int>;
    const QList<QPair<QString, Counts>> cases{
        // F20 and F25.1 both count under F2.
        {periodStatistics(u"2003/01/01"_s, u"2003/04/01"_s), Counts{{u"F1"_s, 1}, {u"F2"_s, 2}}},
        // The first date is counted, the second is not.
        {periodStatistics(u"2003/03/25"_s, u"2003/04/02"_s), Counts{{u"F2"_s, 1}}},
        {periodStatistics(u"2003/3/25"_s, u"2003/4/2"_s), Counts{{u"F2"_s, 1}}},
        // Episode 8 counts although its bed names no row: only the diagnosis is joined.
        {current, Counts{{u"F1"_s, 1}, {u"F2"_s, 3}}},
        // Outpatient courses whatever their dates; the placeholder groups under its code "-".
        {kOutpatientStatistics, Counts{{u"-"_s, 1}, {u"F1"_s, 1}}},
    };
    for (const auto &[sql, expected] : cases) {
        SCOPED_TRACE(qPrintable(sql));
        auto rs = open(sql, CursorType::Dynamic);
        EXPECT_EQ(counts(*rs), expected);
    }

    for (const auto &[from, to] : {QPair{u"2003/13/45"_s, u"2003/04/01"_s}, QPair{QString(), QString()}}) {
        SCOPED_TRACE(qPrintable(from));
        EXPECT_EQ(errorOf([&] { open(periodStatistics(from, to), CursorType::Dynamic); }), jet::err::ConversionFailed);
    }
}

namespace {

// A database of an older generation with one patient, episode and
// certificate row from before the upgrade.
class OlderDatabase
{
public:
    explicit OlderDatabase(db::Generation generation)
    {
        m_path = QDir(m_dir.path()).filePath(u"norva2000.mdb"_s);
        db::createDatabase(m_path, generation);
        m_connection = connect();
        m_connection->execute(u"INSERT INTO 患者情報 (カルテID, 氏名) VALUES (1, '旧患者')"_s);
        m_connection->execute(u"INSERT INTO 入退院情報 (カルテID, 入院日) VALUES (1, #2001/05/01#)"_s);
        m_connection->execute(u"INSERT INTO `32条診断書` (カルテID) VALUES (1)"_s);
        m_connection->execute(u"INSERT INTO `診断名(ICD10)` (診断名) VALUES ('統合失調症')"_s);
    }

    QString path() const { return m_path; }
    jet::Connection &connection() { return *m_connection; }

    std::unique_ptr<jet::Connection> connect() const
    {
        auto connection = std::make_unique<jet::Connection>();
        connection->setProvider(db::shapingProvider());
        connection->open(db::shapedConnectionString(m_path));
        return connection;
    }

    void appendColumns(const QList<db::AddedColumn> &columns) const
    {
        jet::Catalog catalog;
        catalog.open(db::plainConnectionString(m_path));
        for (const db::AddedColumn &added : columns)
            catalog.appendColumn(added.table, added.column);
        catalog.refresh();
        catalog.close();
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<jet::Connection> m_connection;
};

QVariant firstValue(jet::Connection &connection, const QString &sql)
{
    Recordset rs;
    rs.open(sql, &connection);
    return rs.eof() ? QVariant(u"(no row)"_s) : rs.value(0);
}

} // namespace

TEST(QueryUpgrades, To2086DropsTheNameIndexAndDefaultsTheDiagnoses)
{
    OlderDatabase old(db::Generation::Old);
    old.appendColumns(db::columnsAddedBy2086());

    auto connection = old.connect();
    connection->execute(u"DROP INDEX 診断名 ON `診断名(ICD10)`;"_s);
    Recordset diagnoses;
    diagnoses.open(u"`診断名(ICD10)`"_s, connection.get());
    EXPECT_EQ(diagnoses.recordCount(), 2);
    diagnoses.setFilter(u"診断ID = 1"_s);
    ASSERT_EQ(diagnoses.recordCount(), 1);
    diagnoses.setValue(u"ICDコード"_s, u"-"_s);
    diagnoses.update();
    connection->execute(u"ALTER TABLE 32条診断書 ALTER COLUMN 主精神障害 SET DEFAULT '1'"_s);
    connection->execute(u"ALTER TABLE 32条診断書 ALTER COLUMN 従精神障害 SET DEFAULT '1'"_s);

    jet::Catalog catalog;
    catalog.setActiveConnection(connection.get());
    EXPECT_FALSE(catalog.indexes(u"診断名(ICD10)"_s).contains(u"診断名"_s));

    connection->execute(u"INSERT INTO `32条診断書` (カルテID) VALUES (2)"_s);
    EXPECT_EQ(firstValue(*connection, u"SELECT 主精神障害 FROM `32条診断書` WHERE カルテID = 2"_s).toInt(), 1);
    EXPECT_EQ(firstValue(*connection, u"SELECT 従精神障害 FROM `32条診断書` WHERE カルテID = 2"_s).toInt(), 1);
    EXPECT_TRUE(firstValue(*connection, u"SELECT 主精神障害 FROM `32条診断書` WHERE カルテID = 1"_s).isNull());

    // Start-up's probes now send the database on to the next upgrade.
    Recordset probe;
    probe.open(u"SELECT ICDコード FROM `診断名(ICD10)`"_s, connection.get(), CursorType::Dynamic);
    QStringList codes;
    for (; !probe.eof(); probe.moveNext())
        codes.append(probe.value(0).isNull() ? u"(null)"_s : probe.value(0).toString());
    EXPECT_EQ(codes, QStringList({u"-"_s, u"(null)"_s}));
    EXPECT_EQ(errorOf([&] { Recordset().open(u"SELECT * FROM バージョン"_s, connection.get(), CursorType::Dynamic); }),
              jet::err::TableMissing);
}

TEST(QueryUpgrades, To2112RecordsTheVersionAndTheOutOfHoursCodes)
{
    OlderDatabase older(db::Generation::V2086);
    {
        // What a 2.086 database gives the outpatient ledger and statistics.
        auto connection = older.connect();
        const QString outpatients = u"SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 "_s
            + u"WHERE 患者情報.カルテID = 入退院情報.カルテID AND 外入の別 = -1 "_s + u"ORDER BY 入退院情報.入退院ID DESC;"_s;
        EXPECT_EQ(errorOf([&] { Recordset().open(outpatients, connection.get()); }), jet::err::ColumnMissing);
        EXPECT_EQ(errorOf([&] { Recordset().open(kOutpatientStatistics, connection.get(), CursorType::Dynamic); }),
                  jet::err::ColumnMissing);
    }

    {
        jet::Catalog catalog;
        catalog.open(db::plainConnectionString(older.path()));
        catalog.createTable(db::versionTable());
        catalog.createTable(db::outOfHoursTable());
        catalog.close();
    }
    older.appendColumns(db::columnsAddedBy2112());

    auto connection = older.connect();
    Recordset version;
    version.open(u"バージョン"_s, connection.get());
    version.addNew({u"バージョン"_s}, {u"2.112"_s});
    Recordset outOfHours;
    outOfHours.open(u"時間外頻度"_s, connection.get());
    for (const QString &row : db::outOfHoursRows())
        outOfHours.addNew({u"時間外頻度"_s}, {row});
    connection->execute(u"ALTER TABLE 入退院情報 ALTER COLUMN 時間外頻度 SET DEFAULT '1'"_s);

    Recordset probe;
    probe.open(u"SELECT * FROM バージョン"_s, connection.get(), CursorType::Dynamic);
    ASSERT_EQ(probe.recordCount(), 1);
    EXPECT_EQ(probe.value(u"バージョン"_s).toString(), u"2.112"_s);

    Recordset codes;
    codes.open(u"SELECT * FROM 時間外頻度"_s, connection.get());
    QStringList rows;
    for (int id = 1; !codes.eof(); codes.moveNext(), ++id) {
        EXPECT_EQ(codes.value(u"時間外頻度ID"_s).toInt(), id);
        rows.append(codes.value(u"時間外頻度"_s).toString());
    }
    EXPECT_EQ(rows, db::outOfHoursRows());

    Recordset episodes;
    episodes.open(u"SELECT * FROM 入退院情報"_s, connection.get());
    episodes.addNew({u"カルテID"_s}, {1});
    EXPECT_EQ(firstValue(*connection, u"SELECT 時間外頻度 FROM 入退院情報 WHERE 入退院ID = 2"_s).toInt(), 1);
    EXPECT_TRUE(firstValue(*connection, u"SELECT 時間外頻度 FROM 入退院情報 WHERE 入退院ID = 1"_s).isNull());
    EXPECT_EQ(firstValue(*connection, u"SELECT 外入の別 FROM 入退院情報 WHERE 入退院ID = 1"_s).toInt(), 0);
    Recordset out;
    out.open(kOutpatientStatistics, connection.get(), CursorType::Dynamic);
    EXPECT_TRUE(out.eof());

    // A second run stops at the first appended column.
    jet::Catalog catalog;
    catalog.open(db::plainConnectionString(older.path()));
    const db::AddedColumn first = db::columnsAddedBy2112().first();
    EXPECT_EQ(errorOf([&] { catalog.appendColumn(first.table, first.column); }), jet::err::FieldDefinedTwice);
}
