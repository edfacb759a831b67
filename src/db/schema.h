#pragma once

#include "db/engine/catalog.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace db {

// The schema generations a database file may be in.  Old files predate the
// ICD code and the extended certificate; 2.086 files predate the version
// table, the outpatient flag and the welfare-handbook certificate.
enum class Generation { Old, V2086, V2112 };

// Creates a database at path, a file or a server's database, with every
// table, code-table placeholder row and stored query of the generation, all
// in one transaction.  Throws jet::Error(err::GeneralFailure) when the file
// exists or the server's database is not empty; a file left half-made by a
// failure is removed before the error is passed on.
void createDatabase(const QString &path, Generation generation);

// Tells SQLite's planner that the chart number singles out one patient in
// both indexes that begin with it, so that joining an episode to its
// patient's principal diagnosis reads the index that carries the diagnosis
// instead of the patient's whole row.  The table is taken to be as large as
// the planner assumes without statistics, so that no other plan changes
// (measured statistics of the few rows of the code tables would turn the
// lists' joins around).  Part of creating a database; an upgrade that
// rebuilds the patient table sets them again.
void setPlannerStatistics(jet::Catalog &catalog);

// The tables of a generation, in the order they are created.
QList<jet::TableDef> tables(Generation generation);

// What a file lacks of a generation's tables and columns, as "table" or
// "table.column" in the generation's order.  A run of an upgrade broken off
// part-way leaves a file that claims a generation without having all of it.
QStringList missingFrom(const jet::Catalog &catalog, Generation generation);

// A column an upgrade appends to an existing table.
struct AddedColumn
{
    QString table;
    jet::ColumnDef column;
};

// What the upgrade to 2.086 appends, in its order: the ICD code, then the
// certificate's Yes/No, Long, fixed Text(50) and Memo columns.  None carries
// a default; the upgrade sets those of the two diagnosis references afterwards.
QList<AddedColumn> columnsAddedBy2086();
// The index of the diagnosis table that the upgrade to 2.086 drops.
inline constexpr QStringView kDiagnosisNameIndex = u"診断名";

// What the upgrade to 2.112 appends after creating its two tables: the
// episode's outpatient flag, out-of-hours frequency and precautions, then the
// certificate's Yes/No and fixed Text(50) columns.
QList<AddedColumn> columnsAddedBy2112();
jet::TableDef versionTable();
jet::TableDef outOfHoursTable();
// The index of 2.112 episodes that the outpatient ledger lists through.
jet::IndexDef outpatientIndex();
// The rows of a new out-of-hours table, in insertion order (IDs 1 to 10).
QStringList outOfHoursRows();
inline constexpr QStringView kCurrentVersion = u"2.112";

// Stored query names.
inline constexpr QStringView kInpatientListQuery = u"Q_現在入院者リスト";
inline constexpr QStringView kInpatientCountQuery = u"Q_現在入院者全集計";
inline constexpr QStringView kInpatientAverageAgeQuery = u"Q_現在入院者平均年齢";
inline constexpr QStringView kInpatientAverageStayQuery = u"Q_現在入院者平均入院日数";
inline constexpr QStringView kLedgerCountQuery = u"Q_台帳患者数";
inline constexpr QStringView kPsychotherapyFirstQuery = u"Q_入院精神療法(4週間以内)";
inline constexpr QStringView kPsychotherapySecondQuery = u"Q_入院精神療法(5週間から3ヶ月以内)";
inline constexpr QStringView kPsychotherapyThirdQuery = u"Q_入院精神療法(3ヶ月以上)";

// The in-patient list is stored as the concatenation of these pieces; the
// ward's choice of room order is the last piece.
inline constexpr QStringView kInpatientListSelect =
    u"SELECT 病室番号.病室番号 AS 病室番号, ベッド番号.ベッド番号 AS ベッド番号, 患者情報.かな氏名 AS かな氏名, "
    u"患者情報.氏名 AS 氏名, 患者情報.生年月日 AS 生年月日, 入退院情報.入院日 AS 入院日, 入退院情報.退院日 AS 退院日, "
    u"入退院情報.一時診断名 AS 一時診断名, 入退院情報.ポリクリ AS ポリクリ, 入退院情報.入退院ID AS 入退院ID, "
    u"患者情報.性別 AS 性別, 入退院情報.カルテID AS カルテID, 入退院情報.現病歴 AS 現病歴, 主治医.主治医, "
    u"主治医_1.主治医, 入院形態.略称 AS 略称, ROUND((DateDiff('d', 患者情報.生年月日-1, Now()) / 365.25), 0) AS 年齢, "
    u"IIf(DateDiff('d', 入退院情報.入院日, Now()) <=7, '新', '') AS 新規入院, "
    u"DateDiff('d', 入退院情報.入院日, Now()) AS 入院日数, DateDiff('d', 入退院情報.退院日, Now()) AS 入院条件 ";
inline constexpr QStringView kInpatientListFrom =
    u"FROM 患者情報 INNER JOIN ((病室番号 INNER JOIN (入院形態 INNER JOIN (主治医 INNER JOIN (ベッド番号 INNER JOIN "
    u"入退院情報 ON ベッド番号.ベッドID = 入退院情報.ベッド番号) ON 主治医.主治医ID = 入退院情報.主治医①) ON "
    u"入院形態.入院形態ID = 入退院情報.入院形態) ON 病室番号.病室ID = 入退院情報.病室番号) INNER JOIN 主治医 AS 主治医_1 "
    u"ON 入退院情報.主治医② = 主治医_1.主治医ID) ON 患者情報.カルテID = 入退院情報.カルテID ";
inline constexpr QStringView kInpatientListWhere =
    u"WHERE DateDiff('d', 入退院情報.入院日, Now()) >= 0 AND (DateDiff('d', 入退院情報.退院日, Now()) <= 0 OR "
    u"DateDiff('d', 入退院情報.退院日, Now()) Is Null) ";
inline constexpr QStringView kInpatientListAscending = u"ORDER BY 病室番号.病室番号, ベッド番号.ベッド番号;";
inline constexpr QStringView kInpatientListDescending = u"ORDER BY 病室番号.病室番号 DESC, ベッド番号.ベッド番号;";

enum class RoomOrder { Ascending, Descending };
QString inpatientListSql(RoomOrder order);
// The list's last piece for an order, and the order a stored list text ends with.
QStringView inpatientListOrder(RoomOrder order);
RoomOrder roomOrderOf(const QString &inpatientListText);

// The stored queries of a new database as name and Jet text, the in-patient
// list first since the summaries read it.
struct StoredQuery
{
    QString name;
    QString jetSql;
};
QList<StoredQuery> storedQueries();

} // namespace db
