#pragma once

namespace app {

// Asks the user, in a small dialog, for a database server's password that
// none of the workstation's own settings gives, whenever a connection needs
// it.  The password stays in the process; it is never written anywhere.
void askForServerPasswords();

} // namespace app
