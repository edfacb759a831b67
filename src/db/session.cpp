#include "db/session.h"

#include <QSysInfo>
#include <QtGlobal>

namespace db {

namespace {

QString systemUser()
{
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        name = qEnvironmentVariable("LOGNAME");
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
}

} // namespace db
