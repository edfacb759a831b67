#pragma once

#include "db/accounts/passwords.h"

#include <memory>

namespace jet {
class Connection;
}

namespace accounts {

// The authenticator the login asks about the database the connection
// reaches: on a file, the Argon2id hashes in the accounts table; on a
// server, the server's own login of each account's role (ServerLogins).
// A file's hashes are made at `fileCost`.
std::unique_ptr<Authenticator> authenticatorFor(jet::Connection &connection,
                                                const HashCost &fileCost = HashCost::interactive());

} // namespace accounts
