#include "db/session.h"

#include "db/engine/postgres/server.h"

#include <QSysInfo>
#include <QtGlobal>

#include <pwd.h>
#include <unistd.h>

namespace db {

namespace {

// The account database's name for the process's user, not $USER, which
// whoever starts the program may set as they like.
QString systemUser()
{
    const uid_t uid = ::getuid();
    const passwd *entry = ::getpwuid(uid);
    const QString name = entry && entry->pw_name ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
    return kSystemUserMark.toString() + name;
}

Session &current()
{
    static Session instance{systemUser(), QSysInfo::machineHostName(), QStringLiteral(NORVA_VERSION), false};
    return instance;
}

} // namespace

const Session &session()
{
    return current();
}

void setSessionAccount(const QString &loginId)
{
    current().account = loginId;
    current().loggedIn = true;
}

void clearSessionAccount()
{
    current().account = systemUser();
    current().loggedIn = false;
    // A server's connections opened from now on are the location's role's
    // again, not the account's that logged off.
    jet::setServerLogin({}, {});
}

AccountsAsAtLogin::AccountsAsAtLogin() : m_pause(std::make_unique<jet::ServerLoginPause>()) {}

AccountsAsAtLogin::~AccountsAsAtLogin() = default;

void AccountsAsAtLogin::keepAdmitted()
{
    m_pause->keep();
}

} // namespace db
