#include "app/login.h"

#include "app/firststart.h"
#include "app/navigation.h"
#include "app/sessionwatch.h"
#include "db/accounts/authenticator.h"
#include "db/audit.h"
#include "db/engine/connection.h"
#include "db/location.h"
#include "db/session.h"
#include "report/launch.h"
#include "toolkit/errortrap.h"
#include "toolkit/form.h"
#include "toolkit/platform.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace app {

namespace {

std::optional<accounts::Account> &current()
{
    static std::optional<accounts::Account> account;
    return account;
}

QPointer<SessionWatch> &watch()
{
    static QPointer<SessionWatch> instance;
    return instance;
}

// The newest window first: a record window's unload shows its ledger again,
// and a ledger's unloads the options window it opened.  A window that comes
// back each time it goes cannot hold the loop for ever.
// The documents shown beside the windows go last, as they hold nothing
// unsaved but still show a patient.
bool unloadEveryWindow()
{
    for (int tries = 0; tries < 100 && !toolkit::Forms::loaded().isEmpty(); ++tries) {
        if (!toolkit::Forms::loaded().constLast()->unload())
            return false;
    }
    if (!toolkit::Forms::loaded().isEmpty())
        return false;
    report::closeAllDocuments();
    return true;
}

// On a connection of its own, since every window has gone with its own.
// A trail out of reach is said in a box and does not keep the user from
// the login window.
void appendEvent(QStringView action, const QString &detail)
{
    toolkit::trap(
        [&] {
            jet::Connection connection;
            db::openWindowConnection(connection, toolkit::platform().programFolder());
            db::audit::append(connection, {action.toString(), detail, {}, {}});
        },
        {toolkit::unreachableAnswer()});
}

void showLogin(const QString &previous)
{
    toolkit::untrapped([&previous] {
        showWindow(window::Login, previous.isEmpty() ? QVariant() : QVariant(previous));
    });
}

} // namespace

const std::optional<accounts::Account> &loggedInAccount()
{
    return current();
}

QString loggedInText()
{
    if (!current())
        return {};
    return u"%1（%2）"_s.arg(current()->displayName, accounts::roleName(current()->role));
}

bool isLoggedIn(const QString &loginId)
{
    return current() && current()->loginId.compare(loginId.trimmed(), Qt::CaseInsensitive) == 0;
}

SessionWatch *sessionWatch()
{
    return watch();
}

void endSession()
{
    delete watch();
    current().reset();
    db::clearSessionAccount();
}

void completeLogin(jet::Connection &connection, const accounts::Account &account, toolkit::Form &from)
{
    db::setSessionAccount(account.loginId);
    current() = account;
    int idleMinutes = 0;
    try {
        db::audit::append(connection, {db::audit::action::Login.toString(), loggedInText(), {}, {}});
        const auto authenticator = accounts::authenticatorFor(connection);
        idleMinutes = accounts::StaffAccounts(connection, *authenticator).settings().idleMinutes;
    } catch (...) {
        endSession();
        throw;
    }
    delete watch();
    watch() = new SessionWatch(idleMinutes, qApp);
    if (!moveTo(from, window::Selector)) {
        endSession();
        return;
    }
    // Over the start menu, whose options window the guide points to, once
    // the menu is on the screen.
    QTimer::singleShot(0, qApp, [] {
        if (toolkit::programHasEnded())
            return;
        guideNewLedger(toolkit::platform().programFolder());
        if (!toolkit::programHasEnded())
            offerCertificateRecords(toolkit::platform().programFolder());
    });
}

bool logOff(bool switching)
{
    const QString who = loggedInText();
    if (!unloadEveryWindow())
        return false;
    appendEvent(db::audit::action::Logoff, who);
    endSession();
    showLogin(switching ? u"%1 からユーザーを切り替えます。"_s.arg(who) : QString());
    return true;
}

void endSessionAtExit()
{
    if (!current())
        return;
    appendEvent(db::audit::action::Logoff, loggedInText());
    endSession();
}

void wireSessionItems(toolkit::Form &window)
{
    // A window hidden and shown again is heard opening again.
    static const char *const wired = "sessionItemsWired";
    if (window.property(wired).toBool())
        return;
    window.setProperty(wired, true);
    const auto wire = [&window](const QString &name, void (*act)()) {
        auto *item = window.findChild<QAction *>(name);
        if (!item)
            return;
        item->setEnabled(current().has_value());
        QObject::connect(item, &QAction::triggered, &window, [act] { toolkit::untrapped(act); });
    };
    wire(u"mnuFileLogOff"_s, [] { logOff(false); });
    wire(u"mnuFileSwitchUser"_s, [] { logOff(true); });
    wire(u"mnuFilePassword"_s, [] { showModal(window::ChangePassword, current()->loginId); });
}

void forceLogOff(const accounts::Account &administrator)
{
    const QString who = current() ? u"%1 %2"_s.arg(current()->loginId, loggedInText()) : QString();
    const QString shown = loggedInText();
    {
        toolkit::DiscardingEdits discarding;
        // A window that will not go even unsaved cannot be left on screen
        // for whoever logs in next.
        if (!unloadEveryWindow())
            toolkit::endProgram(1);
    }
    // The administrator is the one who acted.
    db::setSessionAccount(administrator.loginId);
    appendEvent(db::audit::action::ForcedLogoff, u"%1 を保存せずにログオフ"_s.arg(who));
    endSession();
    showLogin(u"%1 は管理者がログオフしました。保存していなかった変更は破棄されています。"_s.arg(shown));
}

} // namespace app
