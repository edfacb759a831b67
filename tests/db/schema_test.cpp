#include "db/engine/catalog.h"
#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "db/schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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
