#pragma once

#include "db/accounts/accounts.h"
#include "db/engine/connection.h"
#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmLogin;
}
namespace accounts {
class Authenticator;
}

// The login window, between the version probe and the start menu: the login
// ID, Tab, the password and Return, then the one-time code when the account
// has a second factor, and a new password first when it must change its own.
// Closing it ends the program as closing the start menu does.  Handed a text,
// it says who was logged in before.
class frmLogin : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmLogin(QWidget *parent = nullptr);
    ~frmLogin() override;

public slots:
    void logIn();

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void openDatabase();
    void showCode(bool shown);
    void refuse(const accounts::LoginResult &result, const QString &typedId);
    bool passwordChanged(accounts::StaffAccounts &staff, const accounts::Account &account);

    std::unique_ptr<Ui::frmLogin> ui;
    jet::Connection m_connection;
    std::unique_ptr<accounts::Authenticator> m_authenticator;
};
