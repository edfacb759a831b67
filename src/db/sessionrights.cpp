#include "db/sessionrights.h"

#include "db/accounts/extension.h"
#include "db/accounts/tablerights.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/session.h"

#include <QStringList>

namespace db {

using namespace Qt::StringLiterals;

SessionRights sessionRights(jet::Connection &connection)
{
    if (!session().loggedIn)
        return {true, {}};
    // A role the program does not know, an account gone or disabled: nothing.
    jet::Recordset rows;
    rows.openCommand(u"SELECT 役割権限.権限, 役割権限.許可, 職員.状態 FROM `%1` AS 職員 INNER JOIN `%2` AS 役割権限 "
                     "ON 職員.役割 = 役割権限.役割 WHERE 職員.ログインID = ?"_s.arg(accounts::kAccountTable,
                                                                               accounts::kRightsTable),
                     &connection, {session().account.trimmed().toLower()}, jet::CursorType::ForwardOnly);
    SessionRights rights;
    for (; !rows.eof(); rows.moveNext()) {
        if (rows.value(2).toString() == accounts::kDisabled)
            return {};
        const std::optional<accounts::Right> right = accounts::rightNamed(rows.value(0).toString());
        if (right && rows.value(1).toBool())
            rights.granted.append(*right);
    }
    return rights;
}

bool sessionMay(jet::Connection &connection, accounts::Right right)
{
    return sessionRights(connection).may(right);
}

QString refusalText(accounts::Right right)
{
    return u"「%1」の権限がないため、この操作はできません。"_s.arg(accounts::rightName(right));
}

void requireSessionMay(jet::Connection &connection, accounts::Right right)
{
    if (!sessionMay(connection, right))
        throw jet::Error(jet::err::NoPermission, refusalText(right), jet::Cause::Permission);
}

namespace {

accounts::Write writeOf(jet::WriteIntent::Kind kind)
{
    switch (kind) {
    case jet::WriteIntent::Kind::Insert:
        return accounts::Write::Insert;
    case jet::WriteIntent::Kind::Update:
        return accounts::Write::Update;
    case jet::WriteIntent::Kind::Delete:
        return accounts::Write::Delete;
    }
    Q_UNREACHABLE();
}

QString refusalOfWrite(jet::Connection &connection, const jet::WriteIntent &intent)
{
    if (!session().loggedIn)
        return {};
    const accounts::WritePermission permission = accounts::writePermission(intent.table, writeOf(intent.kind));
    if (permission.kind == accounts::WritePermission::Kind::Anyone)
        return {};
    if (permission.kind == accounts::WritePermission::Kind::AnyOf) {
        const SessionRights held = sessionRights(connection);
        if (held.everything || permission.allows(held.granted))
            return {};
        QStringList names;
        for (accounts::Right right : permission.rights)
            names.append(u"「%1」"_s.arg(accounts::rightName(right)));
        return u"%1の権限がないため、テーブル '%2' に書き込めません。"_s.arg(names.join(u"または"_s), intent.table);
    }
    return u"テーブル '%1' は書き換えられません。"_s.arg(intent.table);
}

} // namespace

void guardWrites(jet::Connection &connection)
{
    connection.setWriteGuard(refusalOfWrite);
}

} // namespace db
