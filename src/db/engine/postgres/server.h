#pragma once

// A ledger on a PostgreSQL server: how a location names one, how a message
// names it, and how the program opens it.

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

// Asked for the password when the server wants one that none of libpq's own
// means (~/.pgpass, PGPASSFILE, a service file) gives; `server` is as
// describeServer() names it.  Nothing, or no prompt installed, opens nothing.
// A password that the server accepts is kept in this process's memory for
// later connections to the same address, and nowhere else.
using PasswordPrompt = std::function<std::optional<QString>(const QString &server)>;
void setPasswordPrompt(PasswordPrompt prompt);

// Opens a connection to the server.  Throws Error naming the server, with
// Cause::ConnectionLost when it cannot be reached, Cause::Authentication when
// it refuses the user or password, err::FileNotFound when the database is
// not there.
std::unique_ptr<Driver> openServer(const QString &address);

} // namespace jet
