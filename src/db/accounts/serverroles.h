#pragma once

#include "db/accounts/passwords.h"
#include "db/accounts/rights.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace jet {
class Connection;
}

namespace accounts {

// What the group of a right, or every account (no right), may do with one
// table or stored query of a server's database.  Columns: only those.
struct TableGrant
{
    QString table;
    QString privilege; // SELECT, INSERT, UPDATE or DELETE
    std::optional<Right> right;
    QStringList columns;

    bool operator==(const TableGrant &) const = default;
};

// The grants of the database's tables and stored queries: reading the
// patients' data takes the right to view records, writing follows the
// table map (writePermission).  The trail, its head and the change history
// are written by nobody directly: the server's append functions write them.
QList<TableGrant> tableGrants(const QStringList &tables, const QStringList &views);

// On a server: installs, or brings up to date, what makes the accounts
// the server's own (serverroles.sql): a login role per account, a group
// role per job with the grants of the rights table, the trail's append
// functions, and a role for every account that has none yet.  Nothing when
// all is current, and nothing on a file.  Changing it needs the database's
// owner with CREATEROLE; any other role is told so in a message that says
// what to do.
void updateServerRoles(jet::Connection &connection);

// The login role of an account on the server.
QString serverRole(jet::Connection &connection, const QString &loginId);

// The server's authenticator: the server's own login of the account's
// role decides, with the password as SCRAM proves it; the password is set
// as a SCRAM verifier made here, so that it never travels in a statement.
// A whole login admitted is where the process's connections learn to log in
// as that role (jet::setServerLogin).  An account copied from a file keeps
// its password: its file hash is checked once, then becomes its role's.
class ServerLogins : public Authenticator
{
public:
    bool check(jet::Connection &connection, const QString &loginId, const QString &password) override;
    void setPassword(jet::Connection &connection, const QString &loginId, const QString &password) override;
    void admit(jet::Connection &connection, const QString &loginId, const QString &password) override;
};

} // namespace accounts
