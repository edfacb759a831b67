#pragma once

#include "db/accounts/passwords.h"
#include "db/accounts/rights.h"

#include <QDateTime>
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
    // For the gate role, which workstations log in as before anyone logs
    // in, rather than for the accounts.
    bool beforeLogin = false;

    bool operator==(const TableGrant &) const = default;
};

// The grants of the database's tables and stored queries: reading the
// patients' data takes the right to view records, writing follows the
// table map (writePermission).  The trail, its head and the change history
// are written by nobody directly: the server's append functions write them.
// The gate role reads the version tables that the start reads, and the
// codes of the diagnosis table that its probe opens.
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

// Before the password is tried, on any role of the server, the gate's among
// them: the end of the account's lock, none when it is not locked or there
// is no such account.  A lock whose time has passed is lifted, and
// committed, so that the server lets the role in again.
std::optional<QDateTime> serverLockEnd(jet::Connection &connection, const QString &loginId, const QDateTime &now);
// A failed login of an active account counted; the end of the lock it
// brings, none while the account is not locked.
std::optional<QDateTime> countServerFailure(jet::Connection &connection, const QString &loginId, const QDateTime &now);
bool serverHasAccounts(jet::Connection &connection);

// Throws, saying what the hospital's IT must do, where the connection's role
// cannot make the first administrator: the gate, or any role but the owner.
void requireOwnerForFirstAdministrator(jet::Connection &connection);

// The server's authenticator: the server's own login of the account's
// role decides, with the password as SCRAM proves it; the password is set
// as a SCRAM verifier made here, so that it never travels in a statement.
// A whole login admitted is where the process's connections learn to log in
// as that role (jet::setServerLogin).  An account copied from a file keeps
// its password: its file hash is checked once, then becomes its role's.
// Only the owner and the account itself read that hash, so before a login
// it is checked where the owner runs the program; the gate is refused with
// a reason that says so.
class ServerLogins : public Authenticator
{
public:
    bool check(jet::Connection &connection, const QString &loginId, const QString &password) override;
    void setPassword(jet::Connection &connection, const QString &loginId, const QString &password) override;
    void admit(jet::Connection &connection, const QString &loginId, const QString &password) override;
    std::unique_ptr<jet::Connection> accountConnection(jet::Connection &connection, const QString &loginId,
                                                       const QString &password) override;
};

} // namespace accounts
