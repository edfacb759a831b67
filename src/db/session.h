#pragma once

#include <QString>

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

} // namespace db
