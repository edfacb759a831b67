#pragma once

#include "db/accounts/accounts.h"
#include "db/engine/connection.h"
#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmLock;
}
namespace accounts {
class Authenticator;
}

// The lock box over the covered windows of an idle session.  The password
// of the account logged in opens it, a wrong one counting as a failed login;
// an administrator's ends the session without saving anything of it.  It
// goes only through one of those two.
class frmLock : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmLock(QWidget *parent = nullptr);
    ~frmLock() override;

public slots:
    void unlock();
    void forceLogOff();

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    // The account whose password and code were typed; none after a refusal,
    // which the window then shows.
    std::optional<accounts::Account> check(accounts::StaffAccounts &staff, bool codeRequired);
    void release();

    std::unique_ptr<Ui::frmLock> ui;
    jet::Connection m_connection;
    std::unique_ptr<accounts::Authenticator> m_authenticator;
    bool m_released = false;
};
