#include "db/schema.h"

#include "db/columndefs.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/files.h"
#include "db/engine/transaction.h"
#include "db/location.h"

#include <QFile>

namespace db {

using namespace Qt::StringLiterals;
using jet::ColumnDef;
using jet::DataType;
using jet::IndexDef;
using jet::TableDef;
using namespace db::columns;

namespace {

// Free text the windows edit in single-line or unscrolled boxes; the boxes
// set no limit of their own, so the columns leave room for any sensible entry.
constexpr int kLineText = 255;
constexpr int kShortText = 50;

// A column as it stands in a 2.112 database, with the generation that brought it.
struct SchemaColumn
{
    ColumnDef def;
    Generation since = Generation::Old;
};

// Every code reference starts at the placeholder row, so that a new row
// joins its code tables in the lists before a window has set it.
ColumnDef codeRef(const QString &name)
{
    return column(name, DataType::Long, 0, 1);
}

ColumnDef text(const QString &name, int size = kLineText)
{
    return column(name, DataType::Text, size);
}

ColumnDef fixedText(const QString &name, int size)
{
    return column(name, DataType::FixedText, size);
}

ColumnDef memo(const QString &name, int size = 0)
{
    return column(name, DataType::Memo, size);
}

ColumnDef yesNo(const QString &name)
{
    return column(name, DataType::YesNo);
}

ColumnDef date(const QString &name)
{
    return column(name, DataType::Date);
}

IndexDef plainIndex(const QString &columnName)
{
    return IndexDef{columnName, {columnName}, false, false};
}

QList<SchemaColumn> base(const QList<ColumnDef> &defs)
{
    QList<SchemaColumn> columns;
    for (const ColumnDef &def : defs)
        columns.append({def, Generation::Old});
    return columns;
}

const QString kPatients = QStringLiteral("患者情報");
const QString kEpisodes = QStringLiteral("入退院情報");
const QString kExaminations = QStringLiteral("検査情報");
const QString kDiagnosisRows = QStringLiteral("診断情報");
const QString kCertificates = QStringLiteral("32条診断書");
const QString kDiagnoses = QStringLiteral("診断名(ICD10)");
const QString kVersion = QStringLiteral("バージョン");
const QString kOutOfHours = QStringLiteral("時間外頻度");

QList<SchemaColumn> patientColumns()
{
    return base({
        key(QStringLiteral("カルテID")),
        text(QStringLiteral("氏名"), kShortText),
        text(QStringLiteral("かな氏名"), kShortText),
        date(QStringLiteral("生年月日")),
        codeRef(QStringLiteral("性別")),
        text(QStringLiteral("郵便番号"), 10),
        text(QStringLiteral("住所")),
        text(QStringLiteral("電話番号"), kShortText),
        text(QStringLiteral("キーパーソン")),
        memo(QStringLiteral("家族歴・家族構成・遺伝負因")),
        memo(QStringLiteral("生育歴・学歴・職歴")),
        memo(QStringLiteral("性格・気質")),
        memo(QStringLiteral("既往歴")),
        codeRef(QStringLiteral("診断名①")),
        codeRef(QStringLiteral("診断名②")),
        codeRef(QStringLiteral("診断名③")),
        codeRef(QStringLiteral("介護度")),
        codeRef(QStringLiteral("障害者等級")),
        text(QStringLiteral("入院回数"), kShortText),
        text(QStringLiteral("保険")),
        text(QStringLiteral("特定疾患内容")),
        memo(QStringLiteral("備考")),
        yesNo(QStringLiteral("32条申請")),
        yesNo(QStringLiteral("介護保険申請")),
        yesNo(QStringLiteral("障害者手帳申請")),
        yesNo(QStringLiteral("特定疾患申請")),
    });
}

QList<SchemaColumn> episodeColumns()
{
    QList<SchemaColumn> columns = base({autoNumber(QStringLiteral("入退院ID")), column(QStringLiteral("カルテID"), DataType::Long)});
    columns.append({yesNo(QStringLiteral("外入の別")), Generation::V2112});
    columns += base({
        date(QStringLiteral("入院日")),
        date(QStringLiteral("退院日")),
        text(QStringLiteral("一時診断名")),
        memo(QStringLiteral("現病歴")),
        codeRef(QStringLiteral("入院形態")),
        codeRef(QStringLiteral("病室番号")),
        codeRef(QStringLiteral("ベッド番号")),
        codeRef(QStringLiteral("主治医①")),
        codeRef(QStringLiteral("主治医②")),
        text(QStringLiteral("ポリクリ"), kShortText),
        text(QStringLiteral("入院計画病名")),
        text(QStringLiteral("推定入院期間"), kShortText),
        memo(QStringLiteral("主訴・症状")),
        memo(QStringLiteral("入院計画")),
        memo(QStringLiteral("検査内容")),
        memo(QStringLiteral("入院後経過")),
        yesNo(QStringLiteral("入院中の自殺企図")),
        yesNo(QStringLiteral("入院中の保護室使用")),
        yesNo(QStringLiteral("入院中のＥＳＴ")),
        text(QStringLiteral("入院中の診断書発行")),
        memo(QStringLiteral("退院計画")),
        memo(QStringLiteral("退院時処方")),
        memo(QStringLiteral("退院後留意点")),
        memo(QStringLiteral("退院後サービス")),
        codeRef(QStringLiteral("扱別")),
        codeRef(QStringLiteral("転帰")),
    });
    columns.append({codeRef(QStringLiteral("時間外頻度")), Generation::V2112});
    columns.append({memo(QStringLiteral("個別注意事項"), 500), Generation::V2112});
    return columns;
}

QList<SchemaColumn> examinationColumns()
{
    return base({
        column(QStringLiteral("入退院ID"), DataType::Long),
        memo(QStringLiteral("検査(血液・生化・尿他)")),
        memo(QStringLiteral("検査(脳波)")),
        memo(QStringLiteral("検査(レントゲン)")),
        memo(QStringLiteral("検査(ＣＴ)")),
        memo(QStringLiteral("検査(ＭＲＩ)")),
        memo(QStringLiteral("検査(ＳＰＥＣＴ)")),
        memo(QStringLiteral("検査(心理検査)")),
        memo(QStringLiteral("検査(その他)")),
    });
}

// The certificate in its printed order; flags and texts of one condition
// group stay together whichever generation brought them.
QList<SchemaColumn> certificateColumns()
{
    constexpr Generation B = Generation::Old;
    constexpr Generation A = Generation::V2086;
    constexpr Generation C = Generation::V2112;
    const auto flag = [](const char16_t *name, Generation since) {
        return SchemaColumn{yesNo(QString::fromUtf16(name)), since};
    };
    const auto other = [](const char16_t *name, Generation since) {
        return SchemaColumn{since == Generation::Old ? text(QString::fromUtf16(name), kShortText)
                                                   : fixedText(QString::fromUtf16(name), kShortText),
                          since};
    };
    const auto note = [](const char16_t *name) {
        return SchemaColumn{memo(QString::fromUtf16(name), 255), Generation::V2086};
    };

    QList<SchemaColumn> columns{
        {key(QStringLiteral("カルテID")), B},
        {codeRef(QStringLiteral("主精神障害")), A},
        {codeRef(QStringLiteral("従精神障害")), A},
        other(u"身体合併症", A),
        {text(QStringLiteral("推定発病時期"), kShortText), B},
        other(u"初診日", C),
        note(u"病歴および経過など0"),
        flag(u"○抑うつ状態", B), flag(u"思考運動抑制", B), flag(u"刺激性興奮", B), flag(u"憂うつ気分", B),
        flag(u"その他(抑うつ状態)チェック", B), other(u"その他(抑うつ状態)", B),
        flag(u"○そう状態", B), flag(u"行為心迫", B), flag(u"多弁", B), flag(u"感情高揚刺激性", B),
        flag(u"その他(そう状態)チェック", B), other(u"その他(そう状態)", B),
        flag(u"○幻覚妄想状態", B), flag(u"幻覚", B), flag(u"妄想", B),
        flag(u"その他(幻覚妄想状態)チェック", B), other(u"その他(幻覚妄想状態)", B),
        flag(u"○精神運動興奮", B), flag(u"興奮", B), flag(u"昏迷", B), flag(u"拒絶", B),
        flag(u"その他(精神運動興奮)チェック", B), other(u"その他(精神運動興奮)", B),
        flag(u"○残遺症状", B), flag(u"自閉", B), flag(u"感情鈍麻", B), flag(u"意欲の減退", B),
        flag(u"その他(残遺症状)チェック", B), other(u"その他(残遺症状)", B),
        flag(u"○情動行動", A), flag(u"爆発性", A), flag(u"暴力衝動行為", A), flag(u"多動", A), flag(u"食行動異常", A),
        flag(u"その他(情動行動)チェック", A), other(u"その他(情動行動)", A),
        flag(u"○不安不隠", A), flag(u"不安恐怖", A), flag(u"強迫体験", A),
        flag(u"その他(不安不隠)チェック", A), other(u"その他(不安不隠)", A),
        flag(u"○痙攣意識障害", A), flag(u"痙攣", A), flag(u"意識障害", A),
        flag(u"その他(痙攣意識障害)チェック", A), other(u"その他(痙攣意識障害)", A),
        flag(u"○乱用依存", B), flag(u"アルコール", A), flag(u"覚せい剤", A), flag(u"有機溶剤", A),
        flag(u"その他(乱用依存)チェック", A), other(u"その他(乱用依存)", A),
        flag(u"○知能障害", B), flag(u"精神遅滞", B), flag(u"痴呆", B), flag(u"軽度", B), flag(u"中度", B), flag(u"重度", B),
        flag(u"病状の持続", A), flag(u"自ら希望", A), flag(u"病状その他", A),
        note(u"状態の程度0"), note(u"投薬内容"), note(u"精神療法"),
        flag(u"訪問看護指示", A), flag(u"継続治療が必要", A), flag(u"治療方針その他", A),
        note(u"治療方針"),
        flag(u"生活環境入院", C), flag(u"生活環境入所", C), flag(u"生活環境在宅", C), flag(u"生活環境その他", C),
        other(u"生活環境入所名", C), other(u"生活環境その他名", C),
    };
    const QList<QStringList> abilities{
        {u"食事"_s, u"できる"_s, u"できる援助"_s, u"援助"_s, u"できない"_s},
        {u"清潔"_s, u"できる"_s, u"できる援助"_s, u"援助"_s, u"できない"_s},
        {u"金銭"_s, u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s},
        {u"通院"_s, u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s, u"要不要"_s},
        {u"対人"_s, u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s},
        {u"安全"_s, u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s},
        {u"社会"_s, u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s},
        {u"参加"_s, u"できる"_s, u"おおむね"_s, u"援助"_s, u"できない"_s},
    };
    for (const QStringList &area : abilities) {
        for (qsizetype i = 1; i < area.size(); ++i)
            columns.append({yesNo(area.first() + area.at(i)), C});
    }
    for (int level = 1; level <= 5; ++level)
        columns.append({yesNo(QStringLiteral("程度%1").arg(level)), C});
    columns += {note(u"福祉サービス"), note(u"備考0"), {text(QStringLiteral("医師氏名"), kShortText), B},
              flag(u"指定医", C), flag(u"従事する医師", C), flag(u"他の医師", C)};
    return columns;
}

TableDef filtered(const QString &name, const QList<SchemaColumn> &columns, Generation generation)
{
    TableDef table;
    table.name = name;
    for (const SchemaColumn &entry : columns) {
        if (entry.since <= generation)
            table.columns.append(entry.def);
    }
    return table;
}

// A code table: its AutoNumber ID, so that rows added in the options grids
// number themselves, and its display column.
TableDef codeTable(const QString &name, const QString &idColumn, int displaySize,
                   const QList<ColumnDef> &extra = {})
{
    TableDef table;
    table.name = name;
    table.columns = {autoNumber(idColumn), text(name, displaySize)};
    table.columns += extra;
    table.indexes = {primaryKey(idColumn)};
    return table;
}

TableDef diagnosisTable(Generation generation)
{
    TableDef table;
    table.name = kDiagnoses;
    table.columns = {autoNumber(QStringLiteral("診断ID")), text(QStringLiteral("診断名"), 100)};
    table.indexes = {primaryKey(QStringLiteral("診断ID"))};
    if (generation == Generation::Old)
        table.indexes.append(plainIndex(kDiagnosisNameIndex.toString()));
    else
        table.columns.append(text(QStringLiteral("ICDコード"), 20));
    return table;
}

// The catalog column of a generation's table, so that the upgrade lists and
// the tables can never disagree on a type.
ColumnDef addedColumn(const QList<SchemaColumn> &columns, const QString &name)
{
    for (const SchemaColumn &entry : columns) {
        if (entry.def.name == name) {
            ColumnDef def = entry.def;
            def.defaultValue = QVariant();
            def.nullable = true;
            def.allowZeroLength = true;
            return def;
        }
    }
    throw jet::Error(jet::err::ItemNotFound, QStringLiteral("no column %1 in the schema").arg(name));
}

void appendAdded(QList<AddedColumn> &list, const QString &table, const QList<SchemaColumn> &columns,
                 const QStringList &names)
{
    for (const QString &name : names)
        list.append({table, addedColumn(columns, name)});
}

void insertPlaceholders(jet::Connection &connection, Generation generation)
{
    const QStringList plain{u"主治医"_s, u"病室番号"_s, u"ベッド番号"_s, u"服用方法"_s,
                            u"介護度"_s, u"障害者等級"_s, u"扱別"_s, u"転帰"_s};
    for (const QString &table : plain)
        connection.execute(QStringLiteral("INSERT INTO %1 (%1) VALUES ('-')").arg(table));
    connection.execute(QStringLiteral("INSERT INTO 医薬品情報 (医薬品名) VALUES ('-')"));
    connection.execute(QStringLiteral("INSERT INTO 入院形態 (入院形態, 略称) VALUES ('-', '-')"));
    connection.execute(QStringLiteral("INSERT INTO 性別 (性別, 略称) VALUES ('-', '-')"));
    if (generation == Generation::Old)
        connection.execute(QStringLiteral("INSERT INTO `診断名(ICD10)` (診断名) VALUES ('-')"));
    else
        connection.execute(QStringLiteral("INSERT INTO `診断名(ICD10)` (診断名, ICDコード) VALUES ('-', '-')"));
    connection.execute(QStringLiteral("INSERT INTO 病院名 (病院名, 診療担当科名, 郵便番号, 所在地, 電話番号) "
                                      "VALUES ('', '', '', '', '')"));
    if (generation == Generation::V2112) {
        connection.execute(QStringLiteral("INSERT INTO バージョン (バージョン) VALUES (?)"),
                           {kCurrentVersion.toString()});
        for (const QString &row : outOfHoursRows())
            connection.execute(QStringLiteral("INSERT INTO 時間外頻度 (時間外頻度) VALUES (?)"), {row});
    }
}

void buildDatabase(const QString &path, Generation generation)
{
    jet::Connection connection;
    connection.open(plainConnectionString(path));
    jet::Catalog catalog;
    catalog.setActiveConnection(&connection);
    // Whole or not at all: a server's database has no file to remove when
    // building it fails part-way.
    jet::Transaction transaction(connection);
    jet::prepareNewDatabase(connection);
    for (const TableDef &table : tables(generation))
        catalog.createTable(table);
    for (const StoredQuery &query : storedQueries())
        catalog.appendView(query.name, query.jetSql);
    setPlannerStatistics(catalog);
    insertPlaceholders(connection, generation);
    transaction.commit();
    catalog.close();
    connection.close();
}

} // namespace

QList<jet::TableDef> tables(Generation generation)
{
    QList<TableDef> result;

    // The kana search looks patients up by the beginning of their reading.
    TableDef patients = filtered(kPatients, patientColumns(), generation);
    // The diagnosis statistics join episodes to the principal diagnosis through it.
    patients.indexes = {primaryKey(QStringLiteral("カルテID")), plainIndex(QStringLiteral("かな氏名")),
                        IndexDef{QStringLiteral("診断名①"), {QStringLiteral("カルテID"), QStringLiteral("診断名①")}, false, false}};
    result.append(patients);

    // Every list joins episodes to patients by chart number and lists them
    // newest first; the in-patient rule and the statistics look at the dates.
    // The indexes carry the chart number so that listing reads them alone,
    // never the episode rows with their long texts.
    TableDef episodes = filtered(kEpisodes, episodeColumns(), generation);
    episodes.indexes = {primaryKey(QStringLiteral("入退院ID")), plainIndex(QStringLiteral("カルテID")),
                        IndexDef{QStringLiteral("入退院ID順"), {QStringLiteral("入退院ID"), QStringLiteral("カルテID")}, false, false},
                        IndexDef{QStringLiteral("退院日"), {QStringLiteral("退院日"), QStringLiteral("入院日")}, false, false},
                        IndexDef{QStringLiteral("入院日"), {QStringLiteral("入院日"), QStringLiteral("カルテID")}, false, false}};
    if (generation == Generation::V2112)
        episodes.indexes.append(outpatientIndex());
    result.append(episodes);

    // The record windows join the examinations by episode, and deleting an
    // episode looks up both companion rows by it.
    TableDef examinations = filtered(kExaminations, examinationColumns(), generation);
    examinations.indexes = {plainIndex(QStringLiteral("入退院ID"))};
    result.append(examinations);

    TableDef diagnosisRows;
    diagnosisRows.name = kDiagnosisRows;
    diagnosisRows.columns = {column(QStringLiteral("入退院ID"), DataType::Long)};
    diagnosisRows.indexes = {plainIndex(QStringLiteral("入退院ID"))};
    result.append(diagnosisRows);

    TableDef certificates = filtered(kCertificates, certificateColumns(), generation);
    certificates.indexes = {primaryKey(QStringLiteral("カルテID"))};
    result.append(certificates);

    result.append(diagnosisTable(generation));
    result.append(codeTable(QStringLiteral("主治医"), QStringLiteral("主治医ID"), kShortText));
    result.append(codeTable(QStringLiteral("病室番号"), QStringLiteral("病室ID"), 20));
    result.append(codeTable(QStringLiteral("ベッド番号"), QStringLiteral("ベッドID"), 20));
    result.append(codeTable(QStringLiteral("入院形態"), QStringLiteral("入院形態ID"), kShortText,
                            {text(QStringLiteral("略称"), 10)}));
    result.append(codeTable(QStringLiteral("介護度"), QStringLiteral("介護度ID"), 20));
    result.append(codeTable(QStringLiteral("障害者等級"), QStringLiteral("障害者等級ID"), 20));
    result.append(codeTable(QStringLiteral("扱別"), QStringLiteral("扱別ID"), kShortText));
    result.append(codeTable(QStringLiteral("転帰"), QStringLiteral("転帰ID"), kShortText));
    result.append(codeTable(QStringLiteral("性別"), QStringLiteral("性別ID"), 10, {text(QStringLiteral("略称"), 4)}));
    result.append(codeTable(QStringLiteral("服用方法"), QStringLiteral("服用方法ID"), 100));

    TableDef drugs;
    drugs.name = QStringLiteral("医薬品情報");
    drugs.columns = {autoNumber(QStringLiteral("医薬品ID")), text(QStringLiteral("医薬品名"), 100),
                     text(QStringLiteral("薬効分類"), kShortText)};
    drugs.indexes = {primaryKey(QStringLiteral("医薬品ID"))};
    result.append(drugs);

    TableDef hospital;
    hospital.name = QStringLiteral("病院名");
    hospital.columns = {text(QStringLiteral("病院名"), 100), text(QStringLiteral("診療担当科名"), kShortText),
                        text(QStringLiteral("郵便番号"), 10), text(QStringLiteral("所在地")),
                        text(QStringLiteral("電話番号"), kShortText)};
    result.append(hospital);

    if (generation == Generation::V2112) {
        result.append(versionTable());
        result.append(outOfHoursTable());
    }
    return result;
}

QStringList missingFrom(const jet::Catalog &catalog, Generation generation)
{
    QStringList missing;
    const QStringList present = catalog.tables();
    for (const TableDef &table : tables(generation)) {
        if (!present.contains(table.name)) {
            missing.append(table.name);
            continue;
        }
        QStringList columns;
        for (const jet::ColumnDef &column : catalog.columns(table.name))
            columns.append(column.name);
        for (const jet::ColumnDef &column : table.columns)
            if (!columns.contains(column.name))
                missing.append(table.name + u'.' + column.name);
    }
    return missing;
}

QList<AddedColumn> columnsAddedBy2086()
{
    QList<AddedColumn> list;
    list.append({kDiagnoses, text(QStringLiteral("ICDコード"), 20)});
    appendAdded(list, kCertificates, certificateColumns(),
                {u"○情動行動"_s, u"爆発性"_s, u"暴力衝動行為"_s, u"多動"_s, u"食行動異常"_s,
                 u"その他(情動行動)チェック"_s, u"○不安不隠"_s, u"不安恐怖"_s, u"強迫体験"_s,
                 u"その他(不安不隠)チェック"_s, u"○痙攣意識障害"_s, u"痙攣"_s, u"意識障害"_s,
                 u"その他(痙攣意識障害)チェック"_s, u"アルコール"_s, u"覚せい剤"_s, u"有機溶剤"_s,
                 u"その他(乱用依存)チェック"_s, u"病状の持続"_s, u"自ら希望"_s, u"病状その他"_s,
                 u"訪問看護指示"_s, u"継続治療が必要"_s, u"治療方針その他"_s,
                 u"主精神障害"_s, u"従精神障害"_s,
                 u"身体合併症"_s, u"その他(情動行動)"_s, u"その他(不安不隠)"_s, u"その他(痙攣意識障害)"_s,
                 u"その他(乱用依存)"_s,
                 u"投薬内容"_s, u"精神療法"_s, u"治療方針"_s, u"福祉サービス"_s, u"備考0"_s,
                 u"状態の程度0"_s, u"病歴および経過など0"_s});
    return list;
}

QList<AddedColumn> columnsAddedBy2112()
{
    QList<AddedColumn> list;
    appendAdded(list, kEpisodes, episodeColumns(), {u"外入の別"_s, u"時間外頻度"_s, u"個別注意事項"_s});
    appendAdded(list, kCertificates, certificateColumns(),
                {u"生活環境入院"_s, u"生活環境入所"_s, u"生活環境在宅"_s, u"生活環境その他"_s,
                 u"食事できる"_s, u"食事できる援助"_s, u"食事援助"_s, u"食事できない"_s,
                 u"清潔できる"_s, u"清潔できる援助"_s, u"清潔援助"_s, u"清潔できない"_s,
                 u"金銭できる"_s, u"金銭おおむね"_s, u"金銭援助"_s, u"金銭できない"_s,
                 u"通院できる"_s, u"通院おおむね"_s, u"通院援助"_s, u"通院できない"_s, u"通院要不要"_s,
                 u"対人できる"_s, u"対人おおむね"_s, u"対人援助"_s, u"対人できない"_s,
                 u"安全できる"_s, u"安全おおむね"_s, u"安全援助"_s, u"安全できない"_s,
                 u"社会できる"_s, u"社会おおむね"_s, u"社会援助"_s, u"社会できない"_s,
                 u"参加できる"_s, u"参加おおむね"_s, u"参加援助"_s, u"参加できない"_s,
                 u"程度1"_s, u"程度2"_s, u"程度3"_s, u"程度4"_s, u"程度5"_s,
                 u"指定医"_s, u"従事する医師"_s, u"他の医師"_s,
                 u"初診日"_s, u"生活環境入所名"_s, u"生活環境その他名"_s});
    return list;
}

jet::TableDef versionTable()
{
    TableDef table;
    table.name = kVersion;
    table.columns = {autoNumber(QStringLiteral("バージョンID")), text(QStringLiteral("バージョン"), 20)};
    table.indexes = {primaryKey(QStringLiteral("バージョンID"))};
    return table;
}

jet::TableDef outOfHoursTable()
{
    return codeTable(kOutOfHours, QStringLiteral("時間外頻度ID"), 20);
}

jet::IndexDef outpatientIndex()
{
    return IndexDef{QStringLiteral("外入の別"),
                    {QStringLiteral("外入の別"), QStringLiteral("入退院ID"), QStringLiteral("カルテID")}, false, false};
}

QStringList outOfHoursRows()
{
    return {u"-"_s, u"ない"_s, u"ほとんどない"_s, u"数年に数回"_s, u"年に数回"_s,
            u"半年に数回"_s, u"月に数回"_s, u"週に数回"_s, u"毎日"_s, u"土日祝日"_s};
}

QString inpatientListSql(RoomOrder order)
{
    QString sql;
    sql += kInpatientListSelect;
    sql += kInpatientListFrom;
    sql += kInpatientListWhere;
    sql += inpatientListOrder(order);
    return sql;
}

QStringView inpatientListOrder(RoomOrder order)
{
    return order == RoomOrder::Ascending ? kInpatientListAscending : kInpatientListDescending;
}

RoomOrder roomOrderOf(const QString &inpatientListText)
{
    return inpatientListText.contains(kInpatientListDescending) ? RoomOrder::Descending : RoomOrder::Ascending;
}

// The summaries and check-sheet lists read the in-patient list itself, so
// they count exactly the episodes the ledger shows.  The check sheets split
// the stay at 28 days (four weeks) and 90 days (three months): 0-28, 29-90, 91
// and more days since admission.
QList<StoredQuery> storedQueries()
{
    const QString list = kInpatientListQuery.toString();
    const auto sheet = [&list](const QString &condition) {
        return QStringLiteral("SELECT 氏名, 入院日 FROM %1 WHERE %2 ORDER BY 入院日, かな氏名;").arg(list, condition);
    };
    return {
        {list, inpatientListSql(RoomOrder::Ascending)},
        {kInpatientCountQuery.toString(), QStringLiteral("SELECT COUNT(*) AS 全患者数 FROM %1;").arg(list)},
        {kInpatientAverageAgeQuery.toString(), QStringLiteral("SELECT AVG(年齢) AS 平均年齢 FROM %1;").arg(list)},
        {kInpatientAverageStayQuery.toString(),
         QStringLiteral("SELECT AVG(入院日数) AS 平均入院日数 FROM %1;").arg(list)},
        {kLedgerCountQuery.toString(),
         QStringLiteral("SELECT COUNT(*) AS 全患者数 FROM 患者情報, 入退院情報 "
                        "WHERE 患者情報.カルテID = 入退院情報.カルテID;")},
        {kPsychotherapyFirstQuery.toString(), sheet(QStringLiteral("入院日数 <= 28"))},
        {kPsychotherapySecondQuery.toString(), sheet(QStringLiteral("入院日数 >= 29 AND 入院日数 <= 90"))},
        {kPsychotherapyThirdQuery.toString(), sheet(QStringLiteral("入院日数 >= 91"))},
    };
}

void setPlannerStatistics(jet::Catalog &catalog)
{
    catalog.setIndexStatistics(kPatients, QStringLiteral("PrimaryKey"), QStringLiteral("1000000 1"));
    catalog.setIndexStatistics(kPatients, QStringLiteral("診断名①"), QStringLiteral("1000000 1 1"));
}

void createDatabase(const QString &path, Generation generation)
{
    jet::createDatabase(path, databasePassword());
    try {
        buildDatabase(path, generation);
    } catch (...) {
        jet::releasePooledHandles(path);
        jet::discardNewDatabase(path);
        throw;
    }
    jet::releasePooledHandles(path);
}

} // namespace db
