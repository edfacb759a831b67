#include "db/engine/catalog.h"
#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "db/schema.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using db::Generation;
using jet::DataType;

namespace {

QString name(Generation generation)
{
    switch (generation) {
    case Generation::Old:
        return QStringLiteral("old");
    case Generation::V2086:
        return QStringLiteral("2.086");
    case Generation::V2112:
        return QStringLiteral("2.112");
    }
    return {};
}

class Schema : public ::testing::Test
{
protected:
    void TearDown() override
    {
        m_connection.reset();
        jet::Clock::setSystem();
    }

    QString path(const QString &file) const { return QDir(m_dir.path()).filePath(file); }

    jet::Connection &create(Generation generation)
    {
        const QString file = path(name(generation) + QStringLiteral(".db"));
        db::createDatabase(file, generation);
        return open(file);
    }

    jet::Connection &open(const QString &file)
    {
        m_connection = std::make_unique<jet::Connection>();
        m_connection->open(db::plainConnectionString(file));
        m_catalog.setActiveConnection(m_connection.get());
        return *m_connection;
    }

    jet::ColumnDef column(const QString &table, const QString &columnName) const
    {
        for (const jet::ColumnDef &def : m_catalog.columns(table)) {
            if (def.name == columnName)
                return def;
        }
        ADD_FAILURE() << qPrintable(table) << " has no column " << qPrintable(columnName);
        return {};
    }

    QStringList columnNames(const QString &table) const
    {
        QStringList names;
        for (const jet::ColumnDef &def : m_catalog.columns(table))
            names.append(def.name);
        return names;
    }

    QVariant scalar(const QString &sql)
    {
        jet::Recordset rs;
        rs.open(sql, m_connection.get());
        EXPECT_FALSE(rs.eof()) << qPrintable(sql);
        return rs.eof() ? QVariant() : rs.value(0);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<jet::Connection> m_connection;
    jet::Catalog m_catalog;
};

const QStringList codeTables{
    QStringLiteral("診断名(ICD10)"), QStringLiteral("主治医"), QStringLiteral("病室番号"), QStringLiteral("ベッド番号"),
    QStringLiteral("医薬品情報"), QStringLiteral("服用方法"), QStringLiteral("入院形態"), QStringLiteral("介護度"),
    QStringLiteral("障害者等級"), QStringLiteral("扱別"), QStringLiteral("転帰"), QStringLiteral("性別")};

} // namespace

TEST_F(Schema, RefusesAnExistingFile)
{
    const QString file = path(QStringLiteral("norva2000.mdb"));
    {
        QFile existing(file);
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("keep me");
    }
    try {
        db::createDatabase(file, Generation::V2112);
        FAIL() << "an existing file was overwritten";
    } catch (const jet::Error &error) {
        EXPECT_EQ(error.number(), jet::err::GeneralFailure);
    }
    QFile existing(file);
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("keep me"));
}

TEST_F(Schema, TablesOfEachGeneration)
{
    QStringList clinical{QStringLiteral("患者情報"), QStringLiteral("入退院情報"), QStringLiteral("検査情報"),
                         QStringLiteral("診断情報"), QStringLiteral("32条診断書"), QStringLiteral("病院名")};
    const QSet<QString> older = QSet<QString>(clinical.begin(), clinical.end()) + QSet<QString>(codeTables.begin(), codeTables.end());
    for (Generation generation : {Generation::Old, Generation::V2086, Generation::V2112}) {
        SCOPED_TRACE(qPrintable(name(generation)));
        create(generation);
        const QStringList tables = m_catalog.tables();
        QSet<QString> expected = older;
        if (generation == Generation::V2112)
            expected << QStringLiteral("バージョン") << QStringLiteral("時間外頻度");
        EXPECT_EQ(QSet<QString>(tables.begin(), tables.end()), expected);
    }
}

TEST_F(Schema, KeysAndTypesOfTheCurrentGeneration)
{
    create(Generation::V2112);
    const jet::ColumnDef episodeId = column(QStringLiteral("入退院情報"), QStringLiteral("入退院ID"));
    EXPECT_EQ(episodeId.type, DataType::Long);
    EXPECT_TRUE(episodeId.autoIncrement);
    const jet::ColumnDef chart = column(QStringLiteral("患者情報"), QStringLiteral("カルテID"));
    EXPECT_EQ(chart.type, DataType::Long);
    EXPECT_FALSE(chart.autoIncrement);
    EXPECT_TRUE(m_catalog.indexes(QStringLiteral("患者情報")).contains(QStringLiteral("PrimaryKey")));
    EXPECT_TRUE(m_catalog.indexes(QStringLiteral("32条診断書")).contains(QStringLiteral("PrimaryKey")));
    EXPECT_TRUE(m_catalog.indexes(QStringLiteral("入退院情報")).contains(QStringLiteral("カルテID")));
    EXPECT_TRUE(m_catalog.indexes(QStringLiteral("検査情報")).contains(QStringLiteral("入退院ID")));
    EXPECT_TRUE(m_catalog.indexes(QStringLiteral("診断情報")).contains(QStringLiteral("入退院ID")));

    EXPECT_EQ(column(QStringLiteral("入退院情報"), QStringLiteral("外入の別")).type, DataType::YesNo);
    const jet::ColumnDef precautions = column(QStringLiteral("入退院情報"), QStringLiteral("個別注意事項"));
    EXPECT_EQ(precautions.type, DataType::Memo);
    EXPECT_EQ(precautions.definedSize, 500);
    const jet::ColumnDef firstVisit = column(QStringLiteral("32条診断書"), QStringLiteral("初診日"));
    EXPECT_EQ(firstVisit.type, DataType::FixedText);
    EXPECT_EQ(firstVisit.definedSize, 50);
    EXPECT_EQ(column(QStringLiteral("32条診断書"), QStringLiteral("病歴および経過など0")).type, DataType::Memo);
    EXPECT_EQ(column(QStringLiteral("診断名(ICD10)"), QStringLiteral("ICDコード")).definedSize, 20);
    EXPECT_EQ(column(QStringLiteral("バージョン"), QStringLiteral("バージョン")).definedSize, 20);
    EXPECT_TRUE(column(QStringLiteral("時間外頻度"), QStringLiteral("時間外頻度ID")).autoIncrement);
    for (const QString &table : codeTables)
        EXPECT_TRUE(m_catalog.columns(table).first().autoIncrement) << qPrintable(table);

    // Names the windows bind bare must not repeat across the joins they open.
    const QStringList patient = columnNames(QStringLiteral("患者情報"));
    const QStringList episode = columnNames(QStringLiteral("入退院情報"));
    const QStringList exams = columnNames(QStringLiteral("検査情報"));
    const QStringList certificate = columnNames(QStringLiteral("32条診断書"));
    for (const QString &c : patient) {
        if (c == QStringLiteral("カルテID"))
            continue;
        EXPECT_FALSE(episode.contains(c) || exams.contains(c) || certificate.contains(c)) << qPrintable(c);
    }
    for (const QString &c : episode) {
        if (c != QStringLiteral("入退院ID")) {
            EXPECT_FALSE(exams.contains(c)) << qPrintable(c);
        }
    }
}

TEST_F(Schema, NewRowsStartAtTheirDefaults)
{
    for (Generation generation : {Generation::Old, Generation::V2086, Generation::V2112}) {
        SCOPED_TRACE(qPrintable(name(generation)));
        jet::Connection &connection = create(generation);
        connection.execute(QStringLiteral("INSERT INTO 患者情報 (カルテID) VALUES (1001)"));
        connection.execute(QStringLiteral("INSERT INTO 入退院情報 (カルテID) VALUES (1001)"));
        connection.execute(QStringLiteral("INSERT INTO `32条診断書` (カルテID) VALUES (1001)"));

        jet::Recordset patient;
        patient.open(QStringLiteral("SELECT * FROM 患者情報"), &connection);
        for (const QString &ref : {u"性別"_s, u"診断名①"_s, u"診断名②"_s, u"診断名③"_s, u"介護度"_s, u"障害者等級"_s})
            EXPECT_EQ(patient.value(ref).toInt(), 1) << qPrintable(ref);
        EXPECT_EQ(patient.value(QStringLiteral("32条申請")).toInt(), 0);
        EXPECT_TRUE(patient.value(QStringLiteral("氏名")).isNull());

        jet::Recordset episode;
        episode.open(QStringLiteral("SELECT * FROM 入退院情報"), &connection);
        EXPECT_EQ(episode.value(QStringLiteral("入退院ID")).toInt(), 1);
        for (const QString &ref : {u"入院形態"_s, u"病室番号"_s, u"ベッド番号"_s, u"主治医①"_s, u"主治医②"_s, u"扱別"_s, u"転帰"_s})
            EXPECT_EQ(episode.value(ref).toInt(), 1) << qPrintable(ref);
        EXPECT_EQ(episode.value(QStringLiteral("入院中のＥＳＴ")).toInt(), 0);
        EXPECT_TRUE(episode.value(QStringLiteral("入院日")).isNull());
        EXPECT_EQ(episode.fieldIndex(QStringLiteral("外入の別")) >= 0, generation == Generation::V2112);
        if (generation == Generation::V2112) {
            EXPECT_EQ(episode.value(QStringLiteral("外入の別")).toInt(), 0);
            EXPECT_EQ(episode.value(QStringLiteral("時間外頻度")).toInt(), 1);
        }

        jet::Recordset certificate;
        certificate.open(QStringLiteral("SELECT * FROM `32条診断書`"), &connection);
        EXPECT_EQ(certificate.fieldIndex(QStringLiteral("主精神障害")) >= 0, generation != Generation::Old);
        if (generation != Generation::Old) {
            EXPECT_EQ(certificate.value(QStringLiteral("主精神障害")).toInt(), 1);
            EXPECT_EQ(certificate.value(QStringLiteral("従精神障害")).toInt(), 1);
        }
        EXPECT_EQ(certificate.value(QStringLiteral("○抑うつ状態")).toInt(), 0);
    }
}

TEST_F(Schema, FirstRowsOfANewDatabase)
{
    jet::Connection &connection = create(Generation::V2112);
    for (const QString &table : codeTables) {
        jet::Recordset rs;
        rs.open(QStringLiteral("SELECT * FROM `%1`").arg(table), &connection);
        ASSERT_EQ(rs.recordCount(), 1) << qPrintable(table);
        EXPECT_EQ(rs.value(0).toInt(), 1) << qPrintable(table);
        EXPECT_EQ(rs.value(1).toString(), QStringLiteral("-")) << qPrintable(table);
    }
    EXPECT_EQ(scalar(QStringLiteral("SELECT ICDコード & ' ' & 診断名 FROM `診断名(ICD10)` WHERE 診断ID = 1")).toString(),
              QStringLiteral("- -"));

    jet::Recordset frequency;
    frequency.open(QStringLiteral("SELECT * FROM 時間外頻度 ORDER BY 時間外頻度ID"), &connection);
    QStringList rows;
    for (; !frequency.eof(); frequency.moveNext()) {
        EXPECT_EQ(frequency.value(0).toInt(), rows.size() + 1);
        rows.append(frequency.value(1).toString());
    }
    EXPECT_EQ(rows, QStringList({u"-"_s, u"ない"_s, u"ほとんどない"_s, u"数年に数回"_s, u"年に数回"_s,
                                 u"半年に数回"_s, u"月に数回"_s, u"週に数回"_s, u"毎日"_s, u"土日祝日"_s}));

    jet::Recordset version;
    version.open(QStringLiteral("SELECT * FROM バージョン"), &connection);
    ASSERT_EQ(version.recordCount(), 1);
    EXPECT_EQ(version.value(QStringLiteral("バージョン")).toString(), QStringLiteral("2.112"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM 病院名")).toInt(), 1);
}

TEST_F(Schema, OlderGenerationsLackWhatTheUpgradesAdd)
{
    create(Generation::Old);
    EXPECT_FALSE(columnNames(QStringLiteral("診断名(ICD10)")).contains(QStringLiteral("ICDコード")));
    EXPECT_TRUE(m_catalog.indexes(QStringLiteral("診断名(ICD10)")).contains(QStringLiteral("診断名")));
    try {
        jet::Recordset probe;
        probe.open(QStringLiteral("SELECT ICDコード FROM `診断名(ICD10)`"), m_connection.get());
        ADD_FAILURE() << "an old database answered the ICD code probe";
    } catch (const jet::Error &error) {
        EXPECT_EQ(error.number(), jet::err::ColumnMissing);
    }

    create(Generation::V2086);
    EXPECT_FALSE(m_catalog.indexes(QStringLiteral("診断名(ICD10)")).contains(QStringLiteral("診断名")));
    EXPECT_EQ(scalar(QStringLiteral("SELECT ICDコード FROM `診断名(ICD10)`")).toString(), QStringLiteral("-"));
    try {
        jet::Recordset probe;
        probe.open(QStringLiteral("SELECT * FROM バージョン"), m_connection.get());
        ADD_FAILURE() << "a 2.086 database answered the version probe";
    } catch (const jet::Error &error) {
        EXPECT_EQ(error.number(), jet::err::TableMissing);
    }
}

// Upgrading a created database with the published column lists must give
// exactly the next generation a new file is created with.
TEST_F(Schema, UpgradeListsLeadFromOneGenerationToTheNext)
{
    const auto shape = [this](const QString &table) {
        QMap<QString, QPair<DataType, int>> result;
        for (const jet::ColumnDef &def : m_catalog.columns(table))
            result.insert(def.name, {def.type, def.type == DataType::Memo || def.type == DataType::YesNo ? 0 : def.definedSize});
        return result;
    };
    const QStringList tables{QStringLiteral("入退院情報"), QStringLiteral("32条診断書"), QStringLiteral("診断名(ICD10)")};
    QMap<QString, QMap<QString, QPair<DataType, int>>> expected2086;
    QMap<QString, QMap<QString, QPair<DataType, int>>> expected2112;
    create(Generation::V2086);
    for (const QString &table : tables)
        expected2086.insert(table, shape(table));
    create(Generation::V2112);
    for (const QString &table : tables)
        expected2112.insert(table, shape(table));

    create(Generation::Old);
    const QList<db::AddedColumn> added2086 = db::columnsAddedBy2086();
    ASSERT_EQ(added2086.size(), 39);
    EXPECT_EQ(added2086.first().column.name, QStringLiteral("ICDコード"));
    EXPECT_EQ(added2086.last().column.name, QStringLiteral("病歴および経過など0"));
    for (const db::AddedColumn &added : added2086) {
        EXPECT_TRUE(added.column.nullable && added.column.allowZeroLength) << qPrintable(added.column.name);
        EXPECT_TRUE(added.column.defaultValue.isNull()) << qPrintable(added.column.name);
        m_catalog.appendColumn(added.table, added.column);
    }
    m_catalog.dropIndex(QStringLiteral("診断名(ICD10)"), db::kDiagnosisNameIndex.toString());
    for (const QString &table : tables)
        EXPECT_EQ(shape(table), expected2086.value(table)) << qPrintable(table);

    const QList<db::AddedColumn> added2112 = db::columnsAddedBy2112();
    ASSERT_EQ(added2112.size(), 51);
    EXPECT_EQ(added2112.first().column.name, QStringLiteral("外入の別"));
    EXPECT_EQ(added2112.at(3).column.name, QStringLiteral("生活環境入院"));
    m_catalog.createTable(db::versionTable());
    m_catalog.createTable(db::outOfHoursTable());
    for (const db::AddedColumn &added : added2112)
        m_catalog.appendColumn(added.table, added.column);
    for (const QString &table : tables)
        EXPECT_EQ(shape(table), expected2112.value(table)) << qPrintable(table);
    try {
        m_catalog.appendColumn(added2112.first().table, added2112.first().column);
        ADD_FAILURE() << "a column was appended twice";
    } catch (const jet::Error &error) {
        EXPECT_EQ(error.number(), jet::err::FieldDefinedTwice);
    }
}

namespace {

// A small ward: two rooms, two beds, one physician and one admission form
// besides the placeholders; patients born on 1 April 1960.
class StoredQueries : public Schema
{
protected:
    void SetUp() override { jet::Clock::setFixed(QDateTime(QDate(2024, 4, 10), QTime(9, 30))); }

    jet::Connection &fill(Generation generation)
    {
        jet::Connection &connection = create(generation);
        connection.execute(u"INSERT INTO 病室番号 (病室番号) VALUES ('201')"_s);
        connection.execute(u"INSERT INTO 病室番号 (病室番号) VALUES ('305')"_s);
        connection.execute(u"INSERT INTO ベッド番号 (ベッド番号) VALUES ('1')"_s);
        connection.execute(u"INSERT INTO ベッド番号 (ベッド番号) VALUES ('2')"_s);
        connection.execute(u"INSERT INTO 主治医 (主治医) VALUES ('岡部　慎一')"_s);
        connection.execute(u"INSERT INTO 入院形態 (入院形態, 略称) VALUES ('任意入院', '任意')"_s);
        return connection;
    }

    // Room and bed are code IDs: rooms 2 = "201", 3 = "305"; beds 2 = "1", 3 = "2".
    void admit(int chart, const QString &name, const QVariant &admitted, const QVariant &discharged,
               int room = 2, int bed = 2)
    {
        m_connection->execute(u"INSERT INTO 患者情報 (カルテID, 氏名, かな氏名, 生年月日) VALUES (?, ?, ?, ?)"_s,
                              {chart, name, name, QDate(1960, 4, 1)});
        m_connection->execute(u"INSERT INTO 入退院情報 (カルテID, 入院日, 退院日, 病室番号, ベッド番号, 主治医①, 入院形態) "
                              "VALUES (?, ?, ?, ?, ?, 2, 2)"_s,
                              {chart, admitted, discharged, room, bed});
    }

    QDate daysAgo(int days) const { return jet::Clock::today().addDays(-days); }

    QStringList names(const QString &query, const QString &column = u"氏名"_s)
    {
        jet::Recordset rs;
        rs.open(query, m_connection.get());
        QStringList result;
        for (; !rs.eof(); rs.moveNext())
            result.append(rs.value(column).toString());
        return result;
    }
};

} // namespace

TEST_F(StoredQueries, EveryGenerationHoldsTheEightQueriesWithTheirColumns)
{
    const QList<QPair<QString, QStringList>> expected{
        {db::kInpatientCountQuery.toString(), {u"全患者数"_s}},
        {db::kInpatientAverageAgeQuery.toString(), {u"平均年齢"_s}},
        {db::kInpatientAverageStayQuery.toString(), {u"平均入院日数"_s}},
        {db::kLedgerCountQuery.toString(), {u"全患者数"_s}},
        {db::kPsychotherapyFirstQuery.toString(), {u"氏名"_s, u"入院日"_s}},
        {db::kPsychotherapySecondQuery.toString(), {u"氏名"_s, u"入院日"_s}},
        {db::kPsychotherapyThirdQuery.toString(), {u"氏名"_s, u"入院日"_s}},
        {db::kInpatientListQuery.toString(),
         {u"病室番号"_s, u"ベッド番号"_s, u"かな氏名"_s, u"氏名"_s, u"生年月日"_s, u"入院日"_s, u"退院日"_s,
          u"一時診断名"_s, u"ポリクリ"_s, u"入退院ID"_s, u"性別"_s, u"カルテID"_s, u"現病歴"_s, u"略称"_s,
          u"年齢"_s, u"新規入院"_s, u"入院日数"_s, u"入院条件"_s}},
    };
    for (Generation generation : {Generation::Old, Generation::V2086, Generation::V2112}) {
        SCOPED_TRACE(qPrintable(name(generation)));
        fill(generation);
        admit(1, u"一"_s, daysAgo(3), QVariant());
        const QStringList views = m_catalog.views();
        EXPECT_EQ(views.size(), 8);
        EXPECT_EQ(m_catalog.viewText(db::kInpatientListQuery.toString()), db::inpatientListSql(db::RoomOrder::Ascending));
        for (const auto &[query, columns] : expected) {
            SCOPED_TRACE(qPrintable(query));
            EXPECT_TRUE(views.contains(query));
            jet::Recordset rs;
            rs.open(query, m_connection.get());
            if (columns.size() == 1) {
                EXPECT_EQ(rs.recordCount(), 1);
            }
            for (const QString &c : columns)
                EXPECT_GE(rs.fieldIndex(c), 0) << qPrintable(c);
        }
    }
}

TEST_F(StoredQueries, CurrentInpatientRuleAndNewMark)
{
    fill(Generation::V2112);
    admit(1, u"七日前"_s, daysAgo(7), QVariant());
    admit(2, u"八日前"_s, daysAgo(8), QVariant(), 2, 3);
    admit(3, u"本日退院"_s, daysAgo(30), daysAgo(0), 3, 2);
    admit(4, u"昨日退院"_s, daysAgo(30), daysAgo(1), 3, 3);
    admit(5, u"明日入院"_s, daysAgo(-1), QVariant(), 3, 3);
    admit(6, u"退院予定"_s, daysAgo(100), daysAgo(-5), 3, 3);
    admit(7, u"本日入院"_s, daysAgo(0), QVariant(), 3, 3);
    m_connection->execute(u"INSERT INTO 入退院情報 (カルテID, 外入の別) VALUES (1, -1)"_s);

    const QString list = db::kInpatientListQuery.toString();
    EXPECT_EQ(names(list), QStringList({u"七日前"_s, u"八日前"_s, u"本日退院"_s, u"退院予定"_s, u"本日入院"_s}));
    EXPECT_EQ(names(list, u"新規入院"_s), QStringList({u"新"_s, QString(), QString(), QString(), u"新"_s}));
    EXPECT_EQ(names(list, u"入院日数"_s), QStringList({u"7"_s, u"8"_s, u"30"_s, u"100"_s, u"0"_s}));
    EXPECT_EQ(names(list, u"年齢"_s).first(), u"64"_s);

    EXPECT_EQ(scalar(u"SELECT * FROM Q_現在入院者全集計"_s).toInt(), 5);
    EXPECT_DOUBLE_EQ(scalar(u"SELECT * FROM Q_現在入院者平均入院日数"_s).toDouble(), (7 + 8 + 30 + 100 + 0) / 5.0);
    EXPECT_DOUBLE_EQ(scalar(u"SELECT * FROM Q_現在入院者平均年齢"_s).toDouble(), 64.0);
    // The ledger counts every episode that has its patient, outpatient courses included.
    EXPECT_EQ(scalar(u"SELECT * FROM Q_台帳患者数"_s).toInt(), 8);
}

TEST_F(StoredQueries, ListDropsEpisodesWhoseCodesNameNoRow)
{
    fill(Generation::V2112);
    admit(1, u"部屋なし"_s, daysAgo(3), QVariant());
    admit(2, u"主治医未設定"_s, daysAgo(3), QVariant());
    m_connection->execute(u"UPDATE 入退院情報 SET 病室番号 = Null WHERE カルテID = 1"_s);
    m_connection->execute(u"UPDATE 入退院情報 SET 主治医① = 1 WHERE カルテID = 2"_s);
    EXPECT_EQ(names(db::kInpatientListQuery.toString()), QStringList({u"主治医未設定"_s}));
}

TEST_F(StoredQueries, RoomsAscendThenBedsAscendInEitherOrder)
{
    fill(Generation::V2112);
    admit(1, u"305-2"_s, daysAgo(3), QVariant(), 3, 3);
    admit(2, u"201-2"_s, daysAgo(3), QVariant(), 2, 3);
    admit(3, u"305-1"_s, daysAgo(3), QVariant(), 3, 2);
    admit(4, u"201-1"_s, daysAgo(3), QVariant(), 2, 2);
    const QString list = db::kInpatientListQuery.toString();
    EXPECT_EQ(names(list), QStringList({u"201-1"_s, u"201-2"_s, u"305-1"_s, u"305-2"_s}));

    m_catalog.deleteView(list);
    m_catalog.appendView(list, db::inpatientListSql(db::RoomOrder::Descending));
    EXPECT_EQ(names(list), QStringList({u"305-1"_s, u"305-2"_s, u"201-1"_s, u"201-2"_s}));
    // The summaries read the list by name and survive its replacement.
    EXPECT_EQ(scalar(u"SELECT * FROM Q_現在入院者全集計"_s).toInt(), 4);
}

TEST_F(StoredQueries, CheckSheetsSplitTheStayAtFourWeeksAndThreeMonths)
{
    fill(Generation::V2112);
    const QList<int> stays{0, 28, 29, 90, 91, 4000};
    for (int i = 0; i < stays.size(); ++i)
        admit(i + 1, QString::number(stays.at(i)), daysAgo(stays.at(i)), QVariant());
    admit(10, u"退院済"_s, daysAgo(10), daysAgo(2));
    EXPECT_EQ(names(db::kPsychotherapyFirstQuery.toString()), QStringList({u"28"_s, u"0"_s}));
    EXPECT_EQ(names(db::kPsychotherapySecondQuery.toString()), QStringList({u"90"_s, u"29"_s}));
    EXPECT_EQ(names(db::kPsychotherapyThirdQuery.toString()), QStringList({u"4000"_s, u"91"_s}));
}

namespace {

// The demo generator is exercised through the tool itself, as the benchmark
// and the developers run it.
class DemoTool : public Schema
{
protected:
    void SetUp() override
    {
        m_tool = QDir(QCoreApplication::applicationDirPath()).filePath(u"../tools/norva-db"_s);
        if (!QFileInfo::exists(m_tool))
            GTEST_SKIP() << "norva-db is not built next to the tests";
        jet::Clock::setFixed(QDateTime(QDate(2024, 4, 10), QTime(10, 0)));
    }

    int run(const QStringList &arguments, QString *errors = nullptr)
    {
        QProcess tool;
        tool.start(m_tool, arguments);
        EXPECT_TRUE(tool.waitForFinished(120000));
        if (errors)
            *errors = QString::fromUtf8(tool.readAllStandardError());
        return tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    }

    QString demo(const QString &file, int patients, int seed)
    {
        const QString target = path(file);
        EXPECT_EQ(run({u"demo"_s, target, u"--patients"_s, QString::number(patients), u"--seed"_s,
                       QString::number(seed), u"--today"_s, u"2024-04-10"_s}),
                  0);
        return target;
    }

    QList<QVariantList> rows(const QString &sql)
    {
        jet::Recordset rs;
        rs.open(sql, m_connection.get());
        QList<QVariantList> result;
        for (; !rs.eof(); rs.moveNext()) {
            QVariantList row;
            for (int i = 0; i < rs.fieldCount(); ++i)
                row.append(rs.value(i));
            result.append(row);
        }
        return result;
    }

    QByteArray digest(const QString &file)
    {
        open(file);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (const QString &sql : {u"SELECT * FROM 患者情報 ORDER BY カルテID"_s, u"SELECT * FROM 入退院情報 ORDER BY 入退院ID"_s,
                                   u"SELECT * FROM 検査情報 ORDER BY 入退院ID"_s, u"SELECT * FROM `32条診断書` ORDER BY カルテID"_s,
                                   u"SELECT * FROM 病室番号 ORDER BY 病室ID"_s, u"SELECT * FROM 病院名"_s}) {
            for (const QVariantList &row : rows(sql)) {
                for (const QVariant &value : row)
                    hash.addData(value.toString().toUtf8() + '\x1f');
                hash.addData("\x1e");
            }
        }
        m_connection.reset();
        return hash.result();
    }

    QString m_tool;
};

} // namespace

TEST_F(DemoTool, RefusesToOverwriteAndKnowsTheGenerations)
{
    const QString file = path(u"empty.db"_s);
    EXPECT_EQ(run({u"create"_s, file, u"--generation"_s, u"old"_s}), 0);
    QString errors;
    EXPECT_NE(run({u"create"_s, file}, &errors), 0);
    EXPECT_TRUE(errors.contains(file));
    EXPECT_NE(run({u"demo"_s, file, u"--patients"_s, u"10"_s}), 0);
    EXPECT_NE(run({u"create"_s, path(u"other.db"_s), u"--generation"_s, u"2.2"_s}), 0);
    EXPECT_FALSE(QFileInfo::exists(path(u"other.db"_s)));

    open(file);
    EXPECT_FALSE(m_catalog.tables().contains(u"バージョン"_s));
    EXPECT_FALSE(columnNames(u"診断名(ICD10)"_s).contains(u"ICDコード"_s));
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM 患者情報"_s).toInt(), 0);
}

TEST_F(DemoTool, SameSeedGivesTheSameHospital)
{
    const QByteArray first = digest(demo(u"a.db"_s, 300, 5));
    EXPECT_EQ(digest(demo(u"b.db"_s, 300, 5)), first);
    EXPECT_NE(digest(demo(u"c.db"_s, 300, 6)), first);
}

TEST_F(DemoTool, ProportionsOfASmallHospital)
{
    open(demo(u"ward.db"_s, 600, 11));
    const QDate today = jet::Clock::today();

    const QList<QVariantList> patients = rows(u"SELECT 氏名, かな氏名, 郵便番号, 生年月日 FROM 患者情報"_s);
    ASSERT_EQ(patients.size(), 600);
    const QRegularExpression hiragana(u"^[ぁ-ん]+$"_s);
    const QRegularExpression postal(u"^\\d{3}-\\d{4}$"_s);
    for (const QVariantList &p : patients) {
        EXPECT_TRUE(p.at(0).toString().contains(u'　')) << qPrintable(p.at(0).toString());
        EXPECT_TRUE(hiragana.match(p.at(1).toString()).hasMatch()) << qPrintable(p.at(1).toString());
        EXPECT_TRUE(postal.match(p.at(2).toString()).hasMatch()) << qPrintable(p.at(2).toString());
        EXPECT_LT(p.at(3).toDate(), today.addYears(-17));
    }

    const QList<QVariantList> episodes =
        rows(u"SELECT 外入の別, 入院日, 退院日, 病室番号, ベッド番号, 入退院ID FROM 入退院情報"_s);
    EXPECT_GT(episodes.size(), 600 * 2.4);
    EXPECT_LT(episodes.size(), 600 * 3.4);
    int outpatient = 0;
    QSet<QPair<int, int>> beds;
    int current = 0;
    for (const QVariantList &e : episodes) {
        if (e.at(0).toInt() == -1) {
            ++outpatient;
            EXPECT_TRUE(e.at(1).isNull() && e.at(2).isNull());
            continue;
        }
        const QDate admitted = e.at(1).toDate();
        const QDate discharged = e.at(2).toDate();
        ASSERT_TRUE(admitted.isValid());
        if (admitted <= today && (e.at(2).isNull() || discharged >= today)) {
            ++current;
            beds.insert({e.at(3).toInt(), e.at(4).toInt()});
        } else {
            EXPECT_LT(discharged, today);
            EXPECT_LE(admitted, discharged);
        }
    }
    EXPECT_EQ(current, 10);
    EXPECT_EQ(beds.size(), current) << "two current in-patients share a bed";
    EXPECT_GT(outpatient, episodes.size() / 5);
    EXPECT_LT(outpatient, episodes.size() / 2);
    EXPECT_EQ(scalar(u"SELECT * FROM Q_現在入院者全集計"_s).toInt(), current);
    EXPECT_EQ(scalar(u"SELECT * FROM Q_台帳患者数"_s).toInt(), episodes.size());

    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM 入退院情報, 検査情報 WHERE 入退院情報.入退院ID = 検査情報.入退院ID"_s).toInt(),
              episodes.size());
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM 入退院情報, 診断情報 WHERE 入退院情報.入退院ID = 診断情報.入退院ID"_s).toInt(),
              episodes.size());
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM 検査情報"_s).toInt(), episodes.size());

    QStringList codes;
    for (const QVariantList &row : rows(u"SELECT ICDコード FROM `診断名(ICD10)` ORDER BY 診断ID"_s))
        codes.append(row.first().toString());
    EXPECT_EQ(codes.first(), u"-"_s);
    EXPECT_TRUE(codes.contains(u"F00"_s) && codes.contains(u"F20"_s) && codes.contains(u"F99"_s));
    EXPECT_TRUE(codes.contains(u"G40"_s) && codes.contains(u"G47"_s));
    EXPECT_FALSE(scalar(u"SELECT 病院名 FROM 病院名"_s).toString().isEmpty());
}
