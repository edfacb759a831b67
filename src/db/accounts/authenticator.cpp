#include "db/accounts/authenticator.h"

#include "db/accounts/serverroles.h"
#include "db/engine/connection.h"
#include "db/engine/driver.h"

namespace accounts {

std::unique_ptr<Authenticator> authenticatorFor(jet::Connection &connection, const HashCost &fileCost)
{
    if (connection.driver().dialect() == jet::Dialect::Postgres)
        return std::make_unique<ServerLogins>();
    return std::make_unique<PasswordHashes>(fileCost);
}

} // namespace accounts
