#include "admin/acting.h"

#include "app/navigation.h"
#include "db/accounts/extension.h"
#include "db/engine/error.h"
#include "db/session.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

namespace admin {

using namespace Qt::StringLiterals;

accounts::Account actingAccount(jet::Connection &connection, const accounts::StaffAccounts &staff)
{
    const db::Session &who = db::session();
    std::optional<accounts::Account> account;
    if (who.loggedIn && accounts::extensionVersion(connection) > 0)
        account = staff.find(who.account);
    if (!account)
        throw jet::Error(jet::err::NotSupported, u"この画面は、職員のアカウントでログインしてから開いてください。"_s);
    return *account;
}

bool attempt(const std::function<void()> &change)
{
    bool done = false;
    toolkit::trap(
        [&] {
            try {
                change();
                done = true;
            } catch (const jet::Error &e) {
                // The accounts module's refusals, each with its reason.
                if (!accounts::isRefusal(e) && e.number() != jet::err::RecordDeleted)
                    throw;
                refuse(e.description());
            }
        },
        {toolkit::unreachableAnswer(),
         toolkit::lockedAnswer(u"ほかの端末がデータベースを使用しているため、変更できませんでした。"
                               "しばらくしてから、もう一度操作してください。"_s)});
    return done;
}

void refuse(const QString &reason)
{
    toolkit::platform().messageBox({.text = reason, .icon = toolkit::MessageIcon::Exclamation});
}

void openModal(const QString &window)
{
    toolkit::untrapped([&window] {
        try {
            app::showModal(window);
        } catch (const jet::Error &e) {
            if (e.number() != jet::err::NotSupported)
                throw;
            refuse(e.description());
        }
    });
}

void openAccounts()
{
    openModal(app::window::Accounts);
}

void openCodeEnrolment()
{
    openModal(app::window::CodeEnrolment);
}

} // namespace admin
