#include "db/accounts/serverroles.h"

#include "db/accounts/extension.h"
#include "db/accounts/tablerights.h"
#include "db/audit.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/postgres/pgdriver.h"
#include "db/engine/postgres/server.h"
#include "db/engine/transaction.h"
#include "db/location.h"

#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>

namespace accounts {

using namespace Qt::StringLiterals;

namespace {

// The columns of its own row that every account writes: its login's
// bookkeeping, its must-change flag and its second factor.  Its role and
// its name are the administrators'.
const QStringList kOwnColumns{u"状態"_s,   u"要変更"_s,         u"二要素"_s,      u"二要素使用"_s,
                              u"失敗回数"_s, u"ロック解除時刻"_s, u"最終ログイン"_s};

const char *privilegeOf(Write write)
{
    switch (write) {
    case Write::Insert:
        return "INSERT";
    case Write::Update:
        return "UPDATE";
    case Write::Delete:
        return "DELETE";
    }
    Q_UNREACHABLE();
}

QString script()
{
    QFile file(u":/db/accounts/serverroles.sql"_s);
    if (!file.open(QIODevice::ReadOnly))
        throw jet::Error(jet::err::GeneralFailure, u"サーバー用の職員ロールの定義がプログラムにありません。"_s);
    return QString::fromUtf8(file.readAll());
}

QString edition(const QString &script)
{
    static const QRegularExpression line(u"COMMENT ON SCHEMA norva IS '([^']*)'"_s);
    return line.match(script).captured(1);
}

jet::postgres::PgDriver &serverOf(jet::Connection &connection)
{
    return static_cast<jet::postgres::PgDriver &>(connection.driver());
}

// One statement in the server's own SQL, its ? markers bound in order, and
// the rows it returns.
QList<QVariantList> query(jet::Connection &connection, const QString &sql, const QVariantList &parameters = {})
{
    const std::unique_ptr<jet::DriverResult> result = connection.driver().prepare(sql);
    result->bindAll(parameters);
    QList<QVariantList> rows;
    while (result->step()) {
        QVariantList row;
        for (int c = 0; c < result->columnCount(); ++c)
            row.append(result->column(c));
        rows.append(row);
    }
    return rows;
}

// The one value a server function returns; null when it returns no row.
QVariant value(jet::Connection &connection, const QString &sql, const QVariantList &parameters = {})
{
    const QList<QVariantList> rows = query(connection, sql, parameters);
    return rows.isEmpty() ? QVariant() : rows[0][0];
}

std::optional<QDateTime> lockEnd(const QVariant &end)
{
    return end.isNull() ? std::nullopt : std::optional<QDateTime>(end.toDateTime());
}

QString grantText(const TableGrant &grant)
{
    return QStringList{grant.table, grant.privilege, grant.right ? rightName(*grant.right) : QString(),
                       grant.columns.join(u','), grant.beforeLogin ? u"gate"_s : QString()}
        .join(u'|');
}

// Whether the server's side is this program's edition, with the accounts'
// triggers where the accounts are and the grants of these tables.
bool isCurrent(jet::Connection &connection, const QString &wantedEdition, const QList<TableGrant> &wanted)
{
    const QList<QVariantList> state = query(
        connection,
        u"SELECT obj_description(to_regnamespace('norva'), 'pg_namespace'), "
        "to_regclass('public.\"職員\"') IS NULL OR EXISTS (SELECT FROM pg_trigger WHERE tgname = 'norva_account' "
        "AND tgrelid = to_regclass('public.\"職員\"'))"_s);
    // An earlier edition's table of rights may lack a column read below.
    if (state.isEmpty() || state[0][0].toString() != wantedEdition || !state[0][1].toBool())
        return false;
    QStringList stored;
    for (const QVariantList &row :
         query(connection, u"SELECT table_name, privilege, coalesce(right_name, ''), coalesce(array_to_string(columns, ','), ''), "
                           "CASE WHEN before_login THEN 'gate' ELSE '' END FROM norva.table_rights"_s))
        stored.append(QStringList{row[0].toString(), row[1].toString(), row[2].toString(), row[3].toString(),
                                  row[4].toString()}
                          .join(u'|'));
    QStringList expected;
    for (const TableGrant &grant : wanted)
        expected.append(grantText(grant));
    stored.sort();
    expected.sort();
    return stored == expected;
}

void requireRoleCreation(jet::Connection &connection)
{
    if (!value(connection, u"SELECT rolcreaterole OR rolsuper FROM pg_roles WHERE rolname = current_user"_s).toBool())
        throw jet::Error(jet::err::GeneralFailure,
                         u"サーバー %1 で職員アカウントのロールを作るには、データベースの所有者のロール %2 に CREATEROLE "
                         "が必要です。サーバーで scripts/pg-setup をもう一度実行してください。"_s
                             .arg(serverOf(connection).databaseName(), serverOf(connection).loginRole()));
}

} // namespace

QList<TableGrant> tableGrants(const QStringList &tables, const QStringList &views)
{
    QList<TableGrant> grants;
    const auto grant = [&grants](const QString &table, const char *privilege, std::optional<Right> right,
                                 const QStringList &columns = {}) {
        grants.append({table, QString::fromLatin1(privilege), right, columns});
    };
    for (const QString &table : tables) {
        // What the start reads before anyone logs in: each part's version,
        // and whether the diagnoses have their codes.
        if (table.endsWith(u"バージョン"_s))
            grants.append({table, u"SELECT"_s, std::nullopt, {}, true});
        if (table == u"診断名(ICD10)"_s)
            grants.append({table, u"SELECT"_s, std::nullopt, {u"ICDコード"_s}, true});
        if (table == db::audit::kTrailTable) {
            grant(table, "SELECT", Right::Audit);
            continue;
        }
        if (table == db::audit::kHistoryTable) {
            // The record windows show the history of the fields they show.
            grant(table, "SELECT", Right::Audit);
            grant(table, "SELECT", Right::ViewRecords);
            continue;
        }
        if (table == db::audit::kHeadTable) {
            grant(table, "SELECT", std::nullopt);
            continue;
        }
        if (table == kAccountTable) {
            // Which rows each account sees and writes, the server's row
            // policies decide: its own, or all of them with the right Accounts.
            grant(table, "SELECT", std::nullopt);
            for (Write write : {Write::Insert, Write::Update, Write::Delete})
                grant(table, privilegeOf(write), Right::Accounts);
            grant(table, "UPDATE", std::nullopt, kOwnColumns);
            continue;
        }
        // A patient's data is read with the right to view records, or with
        // a right that changes it; the code tables and the program's own by
        // every account.
        const WritePermission update = writePermission(table, Write::Update);
        const bool patientData = update.kind == WritePermission::Kind::AnyOf
            && (update.rights.contains(Right::EditRecords) || update.rights.contains(Right::Certificates));
        if (patientData) {
            grant(table, "SELECT", Right::ViewRecords);
            for (Right right : update.rights)
                grant(table, "SELECT", right);
        } else {
            grant(table, "SELECT", std::nullopt);
        }
        for (Write write : {Write::Insert, Write::Update, Write::Delete}) {
            const WritePermission permission = writePermission(table, write);
            if (permission.kind == WritePermission::Kind::Anyone)
                grant(table, privilegeOf(write), std::nullopt);
            else if (permission.kind == WritePermission::Kind::AnyOf)
                for (Right right : permission.rights)
                    grant(table, privilegeOf(write), right);
        }
    }
    // The stored queries read the patients' tables with their owner's rights.
    for (const QString &view : views)
        grant(view, "SELECT", Right::ViewRecords);
    return grants;
}

void updateServerRoles(jet::Connection &connection)
{
    jet::Driver &db = connection.driver();
    if (db.dialect() != jet::Dialect::Postgres)
        return;
    const QString text = script();
    const QList<TableGrant> wanted = tableGrants(db.tables(), db.views());
    // A start extends the trail and then the accounts, each of which brings
    // the roles up to date: the second finds the same session and tables
    // as the first left current, and asks the server nothing.
    static QMutex lastCurrentMutex;
    static QString lastCurrent;
    QStringList state{QString::number(quintptr(&db)), connection.dataSource()};
    for (const TableGrant &grant : wanted)
        state.append(grantText(grant));
    const QString key = state.join(u'\n');
    {
        QMutexLocker locker(&lastCurrentMutex);
        if (lastCurrent == key)
            return;
    }
    const auto remember = [&] {
        QMutexLocker locker(&lastCurrentMutex);
        lastCurrent = key;
    };
    if (isCurrent(connection, edition(text), wanted)) {
        remember();
        return;
    }
    jet::requireDatabaseOwner(connection);
    requireRoleCreation(connection);
    jet::Transaction transaction(connection);
    // Two workstations starting a new version at once take turns, and the
    // second finds the work done: the catalogue refuses two changes of one
    // function or grant at the same time.
    query(connection, u"SELECT pg_advisory_xact_lock(hashtext('norva roles'))"_s);
    if (isCurrent(connection, edition(text), wanted)) {
        transaction.commit();
        remember();
        return;
    }
    db.exec(text);
    db.exec(u"DELETE FROM norva.table_rights"_s);
    for (const TableGrant &grant : wanted)
        query(connection,
              u"INSERT INTO norva.table_rights (table_name, privilege, right_name, columns, before_login) "
              "VALUES (?, ?, ?, string_to_array(nullif(?, ''), ','), ?)"_s,
              {grant.table, grant.privilege, grant.right ? QVariant(rightName(*grant.right)) : QVariant(),
               grant.columns.join(u','), grant.beforeLogin});
    query(connection, u"SELECT norva.grant_rights()"_s);
    if (db.findObject(kAccountTable.toString()))
        query(connection, u"SELECT norva.sync_account(\"ログインID\", \"役割\", \"状態\") FROM public.\"職員\""_s);
    transaction.commit();
    remember();
}

QString serverRole(jet::Connection &connection, const QString &loginId)
{
    return value(connection, u"SELECT norva.account_role(?)"_s, {loginId}).toString();
}

std::optional<QDateTime> serverLockEnd(jet::Connection &connection, const QString &loginId, const QDateTime &now)
{
    return lockEnd(value(connection, u"SELECT norva.lock_end(?, ?)"_s, {loginId, now}));
}

std::optional<QDateTime> countServerFailure(jet::Connection &connection, const QString &loginId, const QDateTime &now)
{
    return lockEnd(value(connection, u"SELECT norva.count_failure(?, ?)"_s, {loginId, now}));
}

bool serverHasAccounts(jet::Connection &connection)
{
    return value(connection, u"SELECT norva.has_accounts()"_s).toBool();
}

void requireOwnerForFirstAdministrator(jet::Connection &connection)
{
    if (jet::ownsDatabase(connection))
        return;
    throw jet::Error(jet::err::GeneralFailure,
                     u"サーバー %1 のデータベースにはまだ職員アカウントがありません。最初の管理者は、システム管理者が"
                     "データベースの所有者のロールでつないで作ります。所有者のロールのアドレス (scripts/pg-setup が表示するもの) "
                     "を所在ファイル norva.txt に書いた端末でプログラムを一度起動するよう、システム管理者に依頼してください "
                     "(今のロール %2 はログイン前のロールです)。"_s
                         .arg(serverOf(connection).databaseName(), serverOf(connection).loginRole()));
}

bool ServerLogins::check(jet::Connection &connection, const QString &loginId, const QString &password)
{
    const QString role = serverRole(connection, loginId);
    if (!value(connection, u"SELECT norva.has_copied_password(?)"_s, {loginId}).toBool())
        return jet::serverAccepts(connection.dataSource(), role, password);
    // The owner reads the hash, and so does the account on its own row; the
    // gate may not read the column at all.
    const QList<QVariantList> readable =
        query(connection, u"SELECT has_column_privilege('public.\"職員\"', 'パスワード', 'SELECT')"_s);
    const QList<QVariantList> hash = readable.isEmpty() || !readable[0][0].toBool()
        ? QList<QVariantList>()
        : query(connection, u"SELECT \"パスワード\" FROM public.\"職員\" WHERE \"ログインID\" = ? AND \"パスワード\" <> ''"_s,
                {loginId});
    if (hash.isEmpty())
        throw jet::Error(jet::err::NotSupported,
                         u"このアカウントはデータベースファイルから移されたもので、サーバーでのパスワードがまだありません。"
                         "最初のログインはデータベースの所有者のロールでつないだ端末で行うか、管理者にパスワードの再設定を"
                         "依頼してください。"_s);
    const bool accepted = verifyPassword(hash[0][0].toString().toLatin1(), password);
    // Its role's password from now on; setting it forgets the file's hash.
    if (accepted)
        setPassword(connection, loginId, password);
    return accepted;
}

// Only a login that succeeded whole moves the process to the account's role:
// a right password whose code is still to come, or a refused account, moves
// nothing.
void ServerLogins::admit(jet::Connection &connection, const QString &loginId, const QString &password)
{
    jet::setServerLogin(serverRole(connection, loginId), password);
}

std::unique_ptr<jet::Connection> ServerLogins::accountConnection(jet::Connection &connection, const QString &loginId,
                                                               const QString &password)
{
    // Only this connection logs in as the account: the process's others
    // stay as they were until the whole login is admitted.
    const jet::ServerLoginPause restored;
    jet::setServerLogin(serverRole(connection, loginId), password);
    auto own = std::make_unique<jet::Connection>();
    own->open(db::plainConnectionString(connection.dataSource()));
    return own;
}

void ServerLogins::setPassword(jet::Connection &connection, const QString &loginId, const QString &password)
{
    const QString role = serverRole(connection, loginId);
    query(connection, u"SELECT norva.set_password(?, ?)"_s, {loginId, serverOf(connection).passwordVerifier(password, role)});
    // The process's later connections log in with the new password.
    if (jet::serverLoginRole() == role)
        jet::setServerLogin(role, password);
}

} // namespace accounts
