#include "db/accounts/extension.h"

#include "db/accounts/rights.h"
#include "db/accounts/serverroles.h"
#include "db/columndefs.h"
#include "db/engine/catalog.h"
#include "db/engine/connection.h"
#include "db/extension.h"

namespace accounts {

using namespace Qt::StringLiterals;
using jet::DataType;
using jet::IndexDef;
using jet::TableDef;
using namespace db::columns;

namespace {

TableDef accountTable()
{
    TableDef table;
    table.name = kAccountTable.toString();
    // パスワード holds an Argon2id string (about 100 characters); on a server
    // whose own login checks the password it stays empty.  二要素 is the
    // one-time codes' secret in base32, 二要素使用 the time step of the last
    // code accepted, so that a code is never taken twice.
    table.columns = {
        autoNumber(u"職員ID"_s),
        column(u"ログインID"_s, DataType::Text, 32),
        column(u"表示名"_s, DataType::Text, kDisplayNameLength),
        column(u"役割"_s, DataType::Text, 20),
        column(u"パスワード"_s, DataType::Text, 255),
        column(u"二要素"_s, DataType::Text, 64),
        column(u"二要素使用"_s, DataType::Long, 0, 0),
        column(u"状態"_s, DataType::Text, 10, kActive.toString()),
        column(u"要変更"_s, DataType::YesNo, 0, 0),
        column(u"失敗回数"_s, DataType::Long, 0, 0),
        column(u"ロック解除時刻"_s, DataType::Date),
        column(u"最終ログイン"_s, DataType::Date),
    };
    table.indexes = {primaryKey(u"職員ID"_s), IndexDef{u"ログインID"_s, {u"ログインID"_s}, false, true}};
    return table;
}

TableDef rightsTable()
{
    TableDef table;
    table.name = kRightsTable.toString();
    table.columns = {autoNumber(u"役割権限ID"_s), column(u"役割"_s, DataType::Text, 20),
                     column(u"権限"_s, DataType::Text, 30), column(u"許可"_s, DataType::YesNo, 0, 0)};
    table.indexes = {primaryKey(u"役割権限ID"_s), IndexDef{u"役割権限"_s, {u"役割"_s, u"権限"_s}, false, true}};
    return table;
}

// One row: what an administrator sets for every account.
TableDef settingsTable()
{
    TableDef table;
    table.name = kSettingsTable.toString();
    table.columns = {autoNumber(u"設定ID"_s), column(u"ロック回数"_s, DataType::Long),
                     column(u"ロック分"_s, DataType::Long), column(u"画面ロック分"_s, DataType::Long)};
    table.indexes = {primaryKey(u"設定ID"_s)};
    return table;
}

db::Extension extension()
{
    db::Extension ours;
    ours.versionTable = kVersionTable.toString();
    ours.title = u"職員アカウント"_s;
    ours.steps = {
        [](jet::Catalog &catalog, jet::Connection &connection) {
            for (const TableDef &table : {accountTable(), rightsTable(), settingsTable()})
                catalog.createTable(table);
            const QString grant = u"INSERT INTO `%1` (役割, 権限, 許可) VALUES (?, ?, ?)"_s.arg(kRightsTable);
            for (Role role : allRoles())
                for (Right right : allRights())
                    connection.execute(grant, {roleName(role), rightName(right), allowedByDefault(role, right)});
            connection.execute(u"INSERT INTO `%1` (ロック回数, ロック分, 画面ロック分) VALUES (?, ?, ?)"_s.arg(kSettingsTable),
                               {kDefaultFailuresBeforeLock, kDefaultLockMinutes, kDefaultIdleMinutes});
        },
    };
    Q_ASSERT(ours.currentVersion() == kExtensionVersion);
    return ours;
}

} // namespace

int extensionVersion(jet::Connection &connection)
{
    return db::extensionVersion(connection, extension());
}

void extendDatabase(jet::Connection &connection)
{
    db::extendDatabase(connection, extension());
    // On a server each account is a login role of its own.
    updateServerRoles(connection);
}

} // namespace accounts
