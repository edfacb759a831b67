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

// The password that the server at the address accepted from the prompt in
// this process; none when libpq's own means gave one or none was needed.
// Only for a child process of ours that must connect likewise (pg_dump), in
// its environment.
std::optional<QString> acceptedPassword(const QString &address);

} // namespace jet
