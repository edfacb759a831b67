#pragma once

#include "db/accounts/accounts.h"
#include "db/engine/connection.h"
#include "toolkit/form.h"

#include <QList>
#include <functional>
#include <memory>
#include <optional>

class QTableWidgetItem;

namespace Ui {
class frmAccounts;
}

// The administrator's window over the staff accounts: the accounts and what
// is done to one of them, the rights table of the roles, and the lock-out and
// screen-lock settings.  It acts as the account logged in, which must hold
// the right to administer accounts to open it; the accounts module asks for
// that right again at every change, so that a window left open after a
// demotion changes nothing.
class frmAccounts : public toolkit::Form
{
    Q_OBJECT

public:
    explicit frmAccounts(QWidget *parent = nullptr);
    ~frmAccounts() override;

protected:
    void onLoad() override;
    void onUnload(bool &cancel) override;

private:
    void showAccounts(std::optional<int> select = std::nullopt);
    void showSelected();
    void showRights();
    void showSettings();
    std::optional<accounts::Account> selected() const;

    void create();
    void resetPassword();
    void setRole();
    void disable();
    void enable();
    void unlock();
    void removeSecondFactor();
    void rightChanged(QTableWidgetItem *item);
    void saveSettings();

    // admin::attempt(), with the message of the change before cleared.
    bool act(const std::function<void()> &change);
    // Makes one change to the account, shows the list anew with the account
    // still chosen, and says what was done: `done` with %1 for the account.
    bool change(const accounts::Account &account, const std::function<void()> &work, const QString &done);
    bool confirmed(const QString &question);
    void tell(const QString &done);

    std::unique_ptr<Ui::frmAccounts> ui;
    jet::Connection m_connection;
    std::unique_ptr<accounts::Authenticator> m_authenticator;
    std::unique_ptr<accounts::StaffAccounts> m_staff;
    accounts::Account m_by;
    QList<accounts::Account> m_shown; // the list's rows, in order
};
