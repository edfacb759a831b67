#pragma once

#include "db/accounts/accounts.h"

#include <QString>
#include <optional>

namespace jet {
class Connection;
}
namespace toolkit {
class Form;
}

namespace app {

class SessionWatch;

// The account logged in on this workstation as it was at its login; none
// before the first login and after a log-off.
const std::optional<accounts::Account> &loggedInAccount();
// "表示名（役割）" of that account; empty without one.
QString loggedInText();
// Whether a login ID typed in a window names the account logged in.
bool isLoggedIn(const QString &loginId);

// The end of a login: the session acts as the account, the trail records the
// login, the idle lock starts watching and the start menu takes the place of
// the window `from`.
void completeLogin(jet::Connection &connection, const accounts::Account &account, toolkit::Form &from);

// Logging off from the start menu: every window unloads as it always does
// (a record window writes its edits), the trail records the log-off and the
// login window comes back, saying who was logged in when `switching` user.
// False, with the session as it was, when a window keeps its edits because
// it could not write them.
bool logOff(bool switching);

// The session's items in a window's menu, where it has them (the ledgers'
// 患者 menu, which stands in for the start menu once a ledger is open): log
// off, switch user and change one's password, as the start menu's buttons
// do; greyed while nobody is logged in.
void wireSessionItems(toolkit::Form &window);

// The program's end, however the last window went (閉じる on a ledger),
// ends the session too: the trail records the log-off of whoever was still
// logged in.
void endSessionAtExit();

// An administrator's end of a locked session: every window unloads without
// writing anything, the trail records who ended whose session, and the
// login window comes back.
void forceLogOff(const accounts::Account &administrator);

// The watch over the session logged in: nullptr while nobody is.
SessionWatch *sessionWatch();
// Forgets the account logged in, without a row in the trail: for a start
// afresh in the same process (the tests).
void endSession();

} // namespace app
