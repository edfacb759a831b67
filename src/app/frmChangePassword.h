#pragma once

#include "db/accounts/accounts.h"
#include "db/accounts/passwords.h"
#include "db/engine/connection.h"
#include "toolkit/form.h"

#include <memory>
#include <optional>

namespace Ui {
class frmChangePassword;
}
namespace accounts {
class Authenticator;
}

// The owner's change of a password: the current one, the new one twice.
// Opened modal, handed the login ID, from the start menu or from the login
// of an account that must change its password first.  Why the new password
// may not be used shows as it is typed.
class frmChangePassword : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmChangePassword(QWidget *parent = nullptr);
    ~frmChangePassword() override;

public slots:
    void change();

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    QString problem(accounts::Typing typing) const;

    std::unique_ptr<Ui::frmChangePassword> ui;
    jet::Connection m_connection;
    std::unique_ptr<accounts::Authenticator> m_authenticator;
    std::optional<accounts::Account> m_account;
};
