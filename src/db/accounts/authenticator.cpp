#include "db/accounts/authenticator.h"

namespace accounts {

std::unique_ptr<Authenticator> authenticatorFor(jet::Connection &)
{
    return std::make_unique<PasswordHashes>(HashCost::interactive());
}

} // namespace accounts
