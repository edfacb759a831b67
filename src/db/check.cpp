#include "db/check.h"

#include "db/engine/administration.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "db/schema.h"

using namespace Qt::StringLiterals;

namespace db {

namespace {

struct CodeReference
{
    QString table;
    QString key;
    QString column;
    QString codeTable;
    QString codeKey;
};

QList<CodeReference> codeReferences()
{
    const QString patients = u"患者情報"_s, episodes = u"入退院情報"_s, certificates = u"32条診断書"_s;
    const QString diagnoses = u"診断名(ICD10)"_s;
    return {
        {patients, u"カルテID"_s, u"性別"_s, u"性別"_s, u"性別ID"_s},
        {patients, u"カルテID"_s, u"診断名①"_s, diagnoses, u"診断ID"_s},
        {patients, u"カルテID"_s, u"診断名②"_s, diagnoses, u"診断ID"_s},
        {patients, u"カルテID"_s, u"診断名③"_s, diagnoses, u"診断ID"_s},
        {patients, u"カルテID"_s, u"介護度"_s, u"介護度"_s, u"介護度ID"_s},
        {patients, u"カルテID"_s, u"障害者等級"_s, u"障害者等級"_s, u"障害者等級ID"_s},
        {episodes, u"入退院ID"_s, u"入院形態"_s, u"入院形態"_s, u"入院形態ID"_s},
        {episodes, u"入退院ID"_s, u"病室番号"_s, u"病室番号"_s, u"病室ID"_s},
        {episodes, u"入退院ID"_s, u"ベッド番号"_s, u"ベッド番号"_s, u"ベッドID"_s},
        {episodes, u"入退院ID"_s, u"主治医①"_s, u"主治医"_s, u"主治医ID"_s},
        {episodes, u"入退院ID"_s, u"主治医②"_s, u"主治医"_s, u"主治医ID"_s},
        {episodes, u"入退院ID"_s, u"扱別"_s, u"扱別"_s, u"扱別ID"_s},
        {episodes, u"入退院ID"_s, u"転帰"_s, u"転帰"_s, u"転帰ID"_s},
        {episodes, u"入退院ID"_s, u"時間外頻度"_s, u"時間外頻度"_s, u"時間外頻度ID"_s},
        {certificates, u"カルテID"_s, u"主精神障害"_s, diagnoses, u"診断ID"_s},
        {certificates, u"カルテID"_s, u"従精神障害"_s, diagnoses, u"診断ID"_s},
    };
}

QString quoted(const QString &name)
{
    return u"`%1`"_s.arg(name);
}

bool hasColumn(const jet::Catalog &catalog, const QString &table, const QString &column)
{
    if (!catalog.tables().contains(table))
        return false;
    for (const jet::ColumnDef &def : catalog.columns(table))
        if (def.name == column)
            return true;
    return false;
}

// The generation the file claims, by its version row or, before the version
// table, by the ICD code; whether the file has all of it is checked apart.
void readGeneration(const jet::Catalog &catalog, jet::Connection &connection, CheckReport &report)
{
    if (catalog.tables().contains(u"バージョン"_s)) {
        jet::Recordset version;
        version.open(u"SELECT バージョン FROM バージョン"_s, &connection);
        report.generation = version.eof() ? kCurrentVersion.toString() : version.value(0).toString();
        if (version.eof())
            report.missing.append(u"バージョン"_s);
        report.missing += missingFrom(catalog, Generation::V2112);
        return;
    }
    const bool v2086 = hasColumn(catalog, u"診断名(ICD10)"_s, u"ICDコード"_s);
    report.generation = v2086 ? u"2.086"_s : u"old"_s;
    report.missing = missingFrom(catalog, v2086 ? Generation::V2086 : Generation::Old);
}

void readContents(jet::Connection &connection, CheckReport &report)
{
    jet::Catalog catalog;
    catalog.setActiveConnection(&connection);
    readGeneration(catalog, connection, report);

    for (const QString &table : {u"患者情報"_s, u"入退院情報"_s, u"検査情報"_s, u"診断情報"_s, u"32条診断書"_s}) {
        if (!catalog.tables().contains(table))
            continue; // named among the missing
        jet::Recordset count;
        count.open(u"SELECT count(*) FROM %1"_s.arg(quoted(table)), &connection);
        report.counts.append({table, count.value(0).toLongLong()});
    }

    const QStringList present = catalog.tables();
    if (!present.contains(u"入退院情報"_s) || !present.contains(u"検査情報"_s) || !present.contains(u"診断情報"_s))
        return;
    // DISTINCT: an episode with several examination or diagnosis rows is
    // named once.
    jet::Recordset orphans;
    orphans.open(u"SELECT DISTINCT 入退院情報.入退院ID FROM (入退院情報 LEFT JOIN 検査情報 ON 入退院情報.入退院ID = 検査情報.入退院ID) "
                 "LEFT JOIN 診断情報 ON 入退院情報.入退院ID = 診断情報.入退院ID "
                 "WHERE 検査情報.入退院ID Is Null OR 診断情報.入退院ID Is Null ORDER BY 入退院情報.入退院ID"_s,
                 &connection);
    for (; !orphans.eof(); orphans.moveNext())
        report.episodesWithoutCompanions.append(orphans.value(0).toLongLong());

    for (const CodeReference &ref : codeReferences()) {
        if (!hasColumn(catalog, ref.table, ref.column))
            continue; // a column an upgrade has not added yet
        const QString column = u"%1.%2"_s.arg(quoted(ref.table), quoted(ref.column));
        const QString code = u"%1.%2"_s.arg(quoted(ref.codeTable), quoted(ref.codeKey));
        jet::Recordset dangling;
        dangling.open(u"SELECT DISTINCT %1.%2, %3 FROM %1 LEFT JOIN %4 ON %3 = %5 WHERE %3 Is Not Null AND %5 Is Null "
                      "ORDER BY %1.%2"_s.arg(quoted(ref.table), quoted(ref.key), column, quoted(ref.codeTable), code),
                      &connection);
        for (; !dangling.eof(); dangling.moveNext())
            report.danglingReferences.append(
                {ref.table, ref.column, dangling.value(0).toLongLong(), dangling.value(1).toLongLong()});
    }
}

} // namespace

CheckReport checkDatabase(const QString &path)
{
    jet::Connection connection;
    connection.open(plainConnectionString(path));

    // SQLite's own check comes first: on a damaged file the reads below may
    // stop at the first bad page, and the administrator needs the whole list
    // of what is damaged to choose between repair and restore.
    CheckReport report;
    report.integrity = jet::integrityCheck(connection, &report.integritySkipped);
    try {
        readContents(connection, report);
    } catch (const jet::Error &e) {
        if (e.cause() != jet::Cause::Corrupt || report.integrity == QStringList{u"ok"_s})
            throw;
        report.unreadable = e.description();
    }
    return report;
}

void requireLedger(jet::Connection &connection)
{
    const QString name = jet::describeDataSource(connection.dataSource());
    jet::Catalog catalog;
    catalog.setActiveConnection(&connection);
    const QStringList present = catalog.tables();
    QStringList missing;
    for (const jet::TableDef &table : tables(Generation::Old))
        if (!present.contains(table.name))
            missing.append(table.name);
    if (!missing.isEmpty())
        throw jet::Error(jet::err::GeneralFailure,
                         u"データベース %1 はネモリアの台帳ではありません（台帳の表 %2 がありません）。"
                         u"場所のファイル norva.txt が台帳のデータベースを指しているか確かめてください。"_s
                             .arg(name, missing.mid(0, 3).join(u"、"_s) + (missing.size() > 3 ? u"など"_s : QString())));
    if (!present.contains(u"バージョン"_s))
        return;
    jet::Recordset version;
    version.open(u"SELECT バージョン FROM バージョン"_s, &connection, jet::CursorType::ForwardOnly, jet::LockType::ReadOnly);
    for (; !version.eof(); version.moveNext()) {
        // Only a number is a generation; any other text is shown, as ever.
        bool isNumber = false;
        const double stored = version.value(0).toString().trimmed().toDouble(&isNumber);
        if (isNumber && stored > kCurrentVersion.toString().toDouble())
            throw jet::Error(jet::err::GeneralFailure,
                             u"データベース %1 は、このプログラム（ver%2 の台帳まで）より新しい ver%3 の台帳です。"
                             u"このプログラムでは開けません。新しいネモリアで開いてください。"_s
                                 .arg(name, kCurrentVersion.toString(), version.value(0).toString().trimmed()));
    }
}

QString damagedFileAdvice()
{
    return QStringLiteral("管理者が「norva-db check」でファイルを調べ、「norva-db restore」でバックアップから戻してください。");
}

} // namespace db
