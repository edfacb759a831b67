#pragma once

#include "db/accounts/accounts.h"
#include "db/engine/connection.h"
#include "toolkit/form.h"

#include <memory>

namespace Ui {
class frmCodeEnrolment;
}

// One's own second factor: the QR code of a new secret for an authenticator
// app to scan, the secret as text for an app that cannot scan, and the first
// code the app shows, which confirms the enrolment.  For the account logged
// in; nothing is stored until the code is right.
class frmCodeEnrolment : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmCodeEnrolment(QWidget *parent = nullptr);
    ~frmCodeEnrolment() override;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void confirm();
    void remove();

    std::unique_ptr<Ui::frmCodeEnrolment> ui;
    jet::Connection m_connection;
    std::unique_ptr<accounts::Authenticator> m_authenticator;
    std::unique_ptr<accounts::StaffAccounts> m_staff;
    accounts::Account m_account;
    accounts::CodeEnrolment m_enrolment;
};
