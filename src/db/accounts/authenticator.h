#pragma once

#include "db/accounts/passwords.h"

#include <memory>

namespace jet {
class Connection;
}

namespace accounts {

// The authenticator the login asks about the database the connection
// reaches: on a file, the Argon2id hashes in the accounts table.
std::unique_ptr<Authenticator> authenticatorFor(jet::Connection &connection);

} // namespace accounts
