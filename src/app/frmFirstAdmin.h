#pragma once

#include "db/accounts/passwords.h"
#include "db/engine/connection.h"
#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmFirstAdmin;
}
namespace accounts {
class Authenticator;
}

// The first start on a database without accounts: the first administrator's
// login ID, display name and password, with the rules and the steps that
// follow; registered, the administrator is logged in.  Closing it ends the
// program.
class frmFirstAdmin : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmFirstAdmin(QWidget *parent = nullptr);
    ~frmFirstAdmin() override;

public slots:
    void registerAdministrator();

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    QString problem(accounts::Typing typing) const;

    std::unique_ptr<Ui::frmFirstAdmin> ui;
    jet::Connection m_connection;
    std::unique_ptr<accounts::Authenticator> m_authenticator;
};
