#include "certificate/records/extension.h"

#include "db/accounts/serverroles.h"
#include "db/columndefs.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/extension.h"

namespace certificates {

using namespace Qt::StringLiterals;
using jet::ColumnDef;
using jet::DataType;
using jet::IndexDef;
using jet::TableDef;
using namespace db::columns;

namespace {

TableDef recordTable()
{
    TableDef table;
    table.name = kRecordTable.toString();
    // A correction is a new row of the same series; the series is the ID of
    // its first version, so that every version of a certificate is found by it.
    // Code references start at the placeholder row, as in the 2003 tables.
    table.columns = {
        autoNumber(u"診断書ID"_s),
        key(u"系列ID"_s),
        key(u"版"_s),
        column(u"前版ID"_s, DataType::Long),
        key(u"カルテID"_s),
        column(u"自立支援医療"_s, DataType::YesNo),
        column(u"手帳"_s, DataType::YesNo),
        column(u"様式"_s, DataType::Text, 20),
        column(u"都道府県様式"_s, DataType::Text, 30),
        column(u"記載日"_s, DataType::Date),
        column(u"主治医"_s, DataType::Long, 0, 1),
        column(u"医師氏名"_s, DataType::Text, 50),
        column(u"状態"_s, DataType::Long, 0, 0),
        column(u"発行日"_s, DataType::Date),
        column(u"主精神障害"_s, DataType::Long, 0, 1),
        column(u"主病名"_s, DataType::Text, 100),
        column(u"主ICD"_s, DataType::Text, 20),
        column(u"従精神障害"_s, DataType::Long, 0, 1),
        column(u"従病名"_s, DataType::Text, 100),
        column(u"従ICD"_s, DataType::Text, 20),
        column(u"自立支援医療開始"_s, DataType::Date),
        column(u"自立支援医療終了"_s, DataType::Date),
        column(u"手帳開始"_s, DataType::Date),
        column(u"手帳終了"_s, DataType::Date),
    };
    // A patient's certificates are listed newest first; the versions of one
    // certificate are found by their series.
    table.indexes = {primaryKey(u"診断書ID"_s),
                     IndexDef{u"カルテID"_s, {u"カルテID"_s, u"記載日"_s}, false, false},
                     IndexDef{u"系列ID"_s, {u"系列ID"_s, u"版"_s}, false, false}};
    return table;
}

TableDef itemTable()
{
    TableDef table;
    table.name = kItemTable.toString();
    table.columns = {
        autoNumber(u"項目ID"_s),
        key(u"診断書ID"_s),
        column(u"群"_s, DataType::Text, 20),
        column(u"項目"_s, DataType::Text, 30),
        column(u"値"_s, DataType::Text, 20),
        column(u"自由記載"_s, DataType::Memo),
    };
    table.indexes = {primaryKey(u"項目ID"_s), IndexDef{u"診断書ID"_s, {u"診断書ID"_s}, false, false}};
    return table;
}

// The hospital's choices for its certificates, one row: the prefecture's
// variant of the forms and how many months before the end of validity a
// renewal is listed.
TableDef settingsTable()
{
    TableDef table;
    table.name = kSettingsTable.toString();
    table.columns = {autoNumber(u"設定ID"_s), column(u"都道府県様式"_s, DataType::Text, 30),
                     column(u"更新案内月数"_s, DataType::Long)};
    table.indexes = {primaryKey(u"設定ID"_s)};
    return table;
}

// Each step brings the extension from the version before it to its own.
db::Extension extension()
{
    db::Extension ours;
    ours.versionTable = kVersionTable.toString();
    ours.title = u"診断書記録"_s;
    ours.steps = {
        [](jet::Catalog &catalog, jet::Connection &connection) {
            for (const TableDef &table : {recordTable(), itemTable(), settingsTable()})
                catalog.createTable(table);
            connection.execute(u"INSERT INTO `%1` (都道府県様式, 更新案内月数) VALUES (?, ?)"_s.arg(kSettingsTable),
                               {kDefaultVariant.toString(), kDefaultRenewalMonths});
        },
    };
    Q_ASSERT(ours.currentVersion() == kExtensionVersion);
    return ours;
}

} // namespace

QList<QString> extensionTables()
{
    return {kRecordTable.toString(), kItemTable.toString(), kSettingsTable.toString(), kVersionTable.toString()};
}

int extensionVersion(jet::Connection &connection)
{
    return db::extensionVersion(connection, extension());
}

void extendDatabase(jet::Connection &connection)
{
    db::extendDatabase(connection, extension());
    // On a server the staff's roles are granted the new tables by their rights.
    accounts::updateServerRoles(connection);
}

} // namespace certificates
