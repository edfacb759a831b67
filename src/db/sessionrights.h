#pragma once

#include "db/accounts/rights.h"

#include <QList>
#include <QString>

namespace jet {
class Connection;
}

namespace db {

// What the account logged in in this process may do, read anew from the
// database each time, so that an administrator's change of a role's rights
// or a disabled account takes effect at the next action.  While no account
// is logged in (the tools, the tests, a database without accounts) every
// right is held: nothing is refused.
struct SessionRights
{
    bool everything = false;
    QList<accounts::Right> granted;

    bool may(accounts::Right right) const { return everything || granted.contains(right); }
};
SessionRights sessionRights(jet::Connection &connection);
bool sessionMay(jet::Connection &connection, accounts::Right right);

// The text a refusal shows, naming the right that is missing.
QString refusalText(accounts::Right right);
// Throws jet::Error(err::NoPermission) with Cause::Permission and that text
// when the session may not.
void requireSessionMay(jet::Connection &connection, accounts::Right right);

// Refuses, on this connection, every row write that the session's rights do
// not allow (accounts::writePermission), before it is made.
void guardWrites(jet::Connection &connection);

} // namespace db
