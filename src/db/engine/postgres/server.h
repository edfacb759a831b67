#pragma once

// A ledger on a PostgreSQL server: how a location names one, how a message
// names it, and how the program opens it.

#include "db/engine/connection.h"
#include "db/engine/driver.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace jet {

// Whether a location names a server rather than a file: a libpq URI
// (postgresql://…, postgres://…) or a libpq keyword string (host=… dbname=…).
bool isServerAddress(const QString &location);

// The server as a message names it: host:port/dbname, with the defaults that
// libpq applies, a socket folder marked as such, and never a user or password.
QString describeServer(const QString &address);


// Opens a connection to the server.  Throws Error naming the server, with
// Cause::ConnectionLost when it cannot be reached, Cause::Authentication when
// it refuses the user or password, err::FileNotFound when the database is
// not there.
std::unique_ptr<Driver> openServer(const QString &address);

// Whether the server at the address lets `role` in with `password`: one
// connection, closed at once, that neither the pool nor setServerLogin()
// hears of.  A role the server does not know, or one it does not let log
// in, is refused like a wrong password.  Throws Error as openServer() does
// when the server cannot be reached.
bool serverAccepts(const QString &address, const QString &role, const QString &password);

// The login role that every server connection the process opens from now on
// logs in as, with its password, whatever user the address names: a staff
// account's own role once its login succeeded.  Idle pooled connections of
// another role are closed; an open one keeps its role until it closes, so
// that whoever holds one across a login reopens it.  Kept in this process's
// memory only.  An empty role returns to the address's own user.
void setServerLogin(const QString &role, const QString &password);
// The role set, empty when none is.
QString serverLoginRole();

// While it lives, the connections opened are the address's own user's again,
// as before any login; the login set before is put back when it goes.
class ServerLoginPause
{
public:
    ServerLoginPause();
    ~ServerLoginPause();
    ServerLoginPause(const ServerLoginPause &) = delete;
    ServerLoginPause &operator=(const ServerLoginPause &) = delete;

    // Keeps whatever login is set when it goes, instead of the one before.
    void keep() { m_kept = true; }

private:
    QString m_role;
    QString m_password;
    bool m_kept = false;
};

// Whether the connection may change the database's tables: a file's may; a
// server's when its role owns the database (a staff account's role does
// not).
bool ownsDatabase(Connection &connection);

// Throws Error(err::GeneralFailure) with a message that names the role and
// what to do, when the connection's server role does not own the database
// and so cannot change its tables; a file's connection may.
void requireDatabaseOwner(Connection &connection);

// The password that the server at the address accepted from the prompt in
// this process; none when libpq's own means gave one or none was needed.
// Only for a child process of ours that must connect likewise (pg_dump), in
// its environment.
std::optional<QString> acceptedPassword(const QString &address);

} // namespace jet
