#pragma once

#include <QString>

#include <memory>

namespace jet {
class ServerLoginPause;
}

namespace db {

// Who acts in this process, as the audit trail and the change history record
// it: the account logged in, the workstation and the program's version.
struct Session
{
    // The login ID, or kSystemUserMark and the operating system's user name
    // while no account is logged in.
    QString account;
    QString workstation; // the host name
    QString programVersion;
    bool loggedIn = false;
};

// Marks an account that is the operating system's user rather than a login
// ID, e.g. "os:nurse1"; a login ID never holds a colon.
inline constexpr QStringView kSystemUserMark = u"os:";

const Session &session();

// The login sets the account; logging off returns to the system's user.
void setSessionAccount(const QString &loginId);
void clearSessionAccount();

// While it lives, the connections this process opens are those of no
// account, as before the login: on a server the location's own role rather
// than the logged-in account's, so that another account's login checked
// meanwhile does not move the process to its role unless kept.  The
// session's account stays as it is.
class AccountsAsAtLogin
{
public:
    AccountsAsAtLogin();
    ~AccountsAsAtLogin();
    AccountsAsAtLogin(const AccountsAsAtLogin &) = delete;
    AccountsAsAtLogin &operator=(const AccountsAsAtLogin &) = delete;

    // The account admitted meanwhile stays the connections' account after
    // it goes, rather than the one logged in before.
    void keepAdmitted();

private:
    std::unique_ptr<jet::ServerLoginPause> m_pause;
};

} // namespace db
