#include "report/datasource.h"

#include "certificate/records/extension.h"
#include "report/certificaterecord.h"

#include "db/engine/catalog.h"
#include "db/location.h"
#include "toolkit/platform.h"

#include <memory>

using namespace Qt::StringLiterals;

namespace report {

DataSource &DataSource::instance()
{
    // One for the program's folder; a program folder of its own (each test
    // has one) gets a data source of its own.
    static std::unique_ptr<DataSource> source;
    const QString folder = toolkit::platform().programFolder();
    if (!source || source->m_folder != folder)
        source = std::make_unique<DataSource>(folder);
    return *source;
}

DataSource::DataSource(const QString &programFolder, const QString &databasePath)
    : m_folder(programFolder), m_database(databasePath)
{
    for (int i = 0; i < kCommands; ++i) {
        jet::Command &command = m_commands[size_t(i)];
        command.setActiveConnection(&m_connection);
        command.setCommandText(sqlOf(Command(i)));
        if (takesKey(Command(i)))
            command.appendParameter(u"PrmNo"_s);
    }
}

namespace {

// A command over a stored query names the query between back-quotes.
QString storedQuery(QStringView name)
{
    return u"SELECT * FROM `%1`"_s.arg(name);
}

} // namespace

QString DataSource::sqlOf(Command command, db::RoomOrder order)
{
    switch (command) {
    case Command::Patient:
        return u"SELECT 患者情報.*, 入退院情報.*, ベッド番号.ベッド番号 AS サブベッド番号, 病室番号.病室番号 AS サブ病室番号, 入院形態.入院形態 AS サブ入院形態, 性別.性別 AS サブ性別, `診断名(ICD10)`.診断名 AS `サブ診断名①`, `診断名(ICD10)1`.診断名 AS `サブ診断名②`, `診断名(ICD10)2`.診断名 AS `サブ診断名③`, `診断名(ICD10)`.`ICDコード` AS `サブコード①`, `診断名(ICD10)1`.`ICDコード` AS `サブコード②`, `診断名(ICD10)2`.`ICDコード` AS `サブコード③`, 扱別.扱別 AS サブ扱別, 主治医.主治医 AS `サブ主治医①`, 主治医1.主治医 AS `サブ主治医②`, 転帰.転帰 AS サブ転帰 FROM 患者情報, 入退院情報, ベッド番号, 病室番号, 入院形態, 性別, `診断名(ICD10)`, `診断名(ICD10)` `診断名(ICD10)1`, `診断名(ICD10)` `診断名(ICD10)2`, 扱別, 主治医, 主治医 主治医1, 転帰 WHERE 患者情報.カルテID = 入退院情報.カルテID AND 入退院情報.ベッド番号 = ベッド番号.ベッドID AND 入退院情報.病室番号 = 病室番号.病室ID AND 入退院情報.入院形態 = 入院形態.入院形態ID AND 患者情報.性別 = 性別.性別ID AND 患者情報.`診断名①` = `診断名(ICD10)`.診断ID AND 患者情報.`診断名②` = `診断名(ICD10)1`.診断ID AND 患者情報.`診断名③` = `診断名(ICD10)2`.診断ID AND 入退院情報.扱別 = 扱別.扱別ID AND 入退院情報.`主治医①` = 主治医.主治医ID AND 入退院情報.`主治医②` = 主治医1.主治医ID AND 入退院情報.転帰 = 転帰.転帰ID AND (入退院情報.入退院ID = ?)"_s;
    case Command::Certificate:
        return u"SELECT `32条診断書`.*, 患者情報.*, `診断名(ICD10)`.診断名 AS 主診断名, `診断名(ICD10)`.`ICDコード` AS `主コード`, `診断名(ICD10)1`.診断名 AS 従診断名, `診断名(ICD10)1`.`ICDコード` AS `従コード`, 性別.略称 AS 略称, ROUND((DateDiff('d', 生年月日-1, NOW()) / 365.25), 0) AS 年齢 FROM `32条診断書`, 患者情報, `診断名(ICD10)`, `診断名(ICD10)` `診断名(ICD10)1`, 性別 WHERE `32条診断書`.カルテID = 患者情報.カルテID AND `32条診断書`.主精神障害 = `診断名(ICD10)`.診断ID AND `32条診断書`.従精神障害 = `診断名(ICD10)1`.診断ID AND 患者情報.性別 = 性別.性別ID AND (患者情報.カルテID = ?) "_s;
    case Command::Treatment:
        return storedQuery(db::kInpatientListQuery);
    case Command::Psychotherapy1:
        return storedQuery(db::kPsychotherapyFirstQuery);
    case Command::Psychotherapy2:
        return storedQuery(db::kPsychotherapySecondQuery);
    case Command::Psychotherapy3:
        return storedQuery(db::kPsychotherapyThirdQuery);
    case Command::AdmissionRecords1:
    case Command::AdmissionRecords2: {
        // The in-patient list's joins, so that the records name the episodes
        // the ledger shows, admitted or discharged between the period's first
        // day and today.
        const QString last = QString::number(periodOf(command) - 1);
        const auto within = [&last](const QString &column) {
            return u"DateDiff('d', 入退院情報.%1, Now()) BETWEEN 0 AND %2"_s.arg(column, last);
        };
        return u"SELECT 病室番号.病室番号 AS 病室番号, ベッド番号.ベッド番号 AS ベッド番号, 患者情報.氏名 AS 氏名, "
               u"入退院情報.カルテID AS カルテID, 入院形態.略称 AS 入院形態, 入退院情報.入院日 AS 入院日, "
               u"入退院情報.退院日 AS 退院日, 主治医.主治医 AS 主治医 "_s
               + db::kInpatientListFrom.toString() + u"WHERE 入退院情報.入院日 Is Not Null AND ("_s
               + within(u"入院日"_s) + u" OR "_s + within(u"退院日"_s) + u") "_s
               + db::inpatientListOrder(order).toString();
    }
    case Command::CertificateRecord:
        return certificaterecord::sql();
    }
    return QString();
}

bool DataSource::takesKey(Command command)
{
    return !keyName(command).isEmpty();
}

QString DataSource::keyName(Command command)
{
    switch (command) {
    case Command::Patient:
        return u"入退院ID"_s;
    case Command::Certificate:
        return u"カルテID"_s;
    case Command::CertificateRecord:
        return u"診断書ID"_s;
    default:
        return {};
    }
}

int DataSource::periodOf(Command command)
{
    switch (command) {
    case Command::AdmissionRecords1:
        return 7;
    case Command::AdmissionRecords2:
        return 14;
    default:
        return 0;
    }
}

void DataSource::setKey(Command command, const QVariant &key)
{
    // A result still open from another key (a certificate page left open
    // while another patient's certificate is launched) would print the
    // other patient.
    jet::Command &target = m_commands[size_t(command)];
    if (target.parameter(u"PrmNo"_s) != key)
        close(command);
    target.setParameter(u"PrmNo"_s, key);
}

jet::Recordset &DataSource::result(Command command)
{
    std::unique_ptr<jet::Recordset> &result = m_results[size_t(command)];
    if (!result || !result->isOpen()) {
        connect();
        jet::Command &run = m_commands[size_t(command)];
        if (periodOf(command) > 0)
            run.setCommandText(sqlOf(command, roomOrder()));
        result = run.execute();
    }
    return *result;
}

void DataSource::connect()
{
    if (!m_connection.isOpen())
        m_connection.open(
            db::reportConnectionString(m_database.isEmpty() ? db::readDatabasePath(m_folder) : m_database));
}

db::RoomOrder DataSource::roomOrder()
{
    jet::Catalog catalog;
    catalog.setActiveConnection(&m_connection);
    return db::roomOrderOf(catalog.viewText(db::kInpatientListQuery.toString()));
}

Institution DataSource::institution()
{
    connect();
    Institution institution;
    {
        jet::Recordset row;
        row.open(u"SELECT * FROM 病院名"_s, &m_connection, jet::CursorType::Static, jet::LockType::ReadOnly);
        if (!row.eof())
            institution = {row.value(u"病院名"_s).toString(), row.value(u"診療担当科名"_s).toString(),
                           row.value(u"所在地"_s).toString(), row.value(u"電話番号"_s).toString()};
    }
    disconnectWhenIdle();
    return institution;
}

void DataSource::record(const db::audit::Event &event)
{
    connect();
    db::audit::append(m_connection, event);
    disconnectWhenIdle();
}

namespace {

// The rows' value of the first of the columns they have, when every row
// holds the same one; a join names its key columns with their tables.
std::optional<qint64> onePatient(const jet::Recordset &rows, const QStringList &columns)
{
    std::optional<qint64> found;
    int field = -1;
    for (const QString &column : columns)
        if (field < 0)
            field = rows.fieldIndex(column);
    for (int row = 0; field >= 0 && row < rows.rowCount(); ++row) {
        const QVariant value = rows.valueAt(row, field);
        if (value.isNull() || (found && *found != value.toLongLong()))
            return {};
        found = value.toLongLong();
    }
    return found;
}

struct Reference
{
    QString table;  // that holds the reference
    QString column;
    QString codes;  // the code table
    QString code;   // its key
};

} // namespace

QString DataSource::missingReference(Command command)
{
    QString table;
    const QString keyColumn = keyName(command);
    QList<Reference> references;
    const Reference sex{u"患者情報"_s, u"性別"_s, u"性別"_s, u"性別ID"_s};
    switch (command) {
    case Command::Patient: {
        table = u"入退院情報"_s;
        const QString episode = table;
        references = {{episode, u"ベッド番号"_s, u"ベッド番号"_s, u"ベッドID"_s},
                      {episode, u"病室番号"_s, u"病室番号"_s, u"病室ID"_s},
                      {episode, u"入院形態"_s, u"入院形態"_s, u"入院形態ID"_s},
                      sex,
                      {u"患者情報"_s, u"診断名①"_s, u"診断名(ICD10)"_s, u"診断ID"_s},
                      {u"患者情報"_s, u"診断名②"_s, u"診断名(ICD10)"_s, u"診断ID"_s},
                      {u"患者情報"_s, u"診断名③"_s, u"診断名(ICD10)"_s, u"診断ID"_s},
                      {episode, u"扱別"_s, u"扱別"_s, u"扱別ID"_s},
                      {episode, u"主治医①"_s, u"主治医"_s, u"主治医ID"_s},
                      {episode, u"主治医②"_s, u"主治医"_s, u"主治医ID"_s},
                      {episode, u"転帰"_s, u"転帰"_s, u"転帰ID"_s}};
        break;
    }
    case Command::Certificate:
        table = u"32条診断書"_s;
        references = {{table, u"主精神障害"_s, u"診断名(ICD10)"_s, u"診断ID"_s},
                      {table, u"従精神障害"_s, u"診断名(ICD10)"_s, u"診断ID"_s},
                      sex};
        break;
    case Command::CertificateRecord:
        // Its sex and items are joined loosely: only the record and its patient can be missing.
        table = certificates::kRecordTable.toString();
        break;
    default:
        return {};
    }
    const QVariant key = m_commands[size_t(command)].parameter(u"PrmNo"_s);
    connect();
    const auto rows = [this, &key](const QString &sql) {
        jet::Recordset found;
        found.openCommand(sql, &m_connection, {key});
        return found.rowCount();
    };
    QString missing;
    const QString from = u"`%1` INNER JOIN 患者情報 ON `%1`.カルテID = 患者情報.カルテID"_s.arg(table);
    if (rows(u"SELECT 患者情報.カルテID FROM %1 WHERE `%2`.`%3` = ?"_s.arg(from, table, keyColumn)) == 0) {
        missing = u"%1 の %2 %3 の行がありません。"_s.arg(table, keyColumn, key.toString());
    } else {
        for (const Reference &r : std::as_const(references)) {
            const QString sql = u"SELECT 患者情報.カルテID FROM (%1) LEFT JOIN `%2` ON `%3`.`%4` = `%2`.`%5` "
                                "WHERE `%6`.`%7` = ? AND `%2`.`%5` Is Null"_s
                                    .arg(from, r.codes, r.table, r.column, r.code, table, keyColumn);
            if (rows(sql) > 0) {
                missing = u"%1 の %2 が空か、%3 にないコードを指しています。"_s.arg(r.table, r.column, r.codes);
                break;
            }
        }
    }
    disconnectWhenIdle();
    return missing;
}

void DataSource::close(Command command)
{
    if (const std::unique_ptr<jet::Recordset> &result = m_results[size_t(command)])
        result->close();
    disconnectWhenIdle();
}

void DataSource::disconnectWhenIdle()
{
    for (const std::unique_ptr<jet::Recordset> &result : m_results)
        if (result && result->isOpen())
            return;
    m_connection.close();
}

db::audit::Event documentEvent(const QString &action, const QString &name, const QVariant &key,
                               const jet::Recordset &rows)
{
    db::audit::Event event{action, key.isNull() ? name : u"%1 キー %2"_s.arg(name, key.toString()), {}, {}};
    if (!key.isNull()) {
        event.chart = onePatient(rows, {u"カルテID"_s, u"患者情報.カルテID"_s, u"入退院情報.カルテID"_s});
        event.episode = onePatient(rows, {u"入退院ID"_s, u"入退院情報.入退院ID"_s});
    }
    return event;
}

} // namespace report
