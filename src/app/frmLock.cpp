#include "app/frmLock.h"
#include "ui_frmLock.h"

#include "app/login.h"
#include "app/sessionwatch.h"
#include "db/accounts/authenticator.h"
#include "db/audit.h"
#include "db/location.h"
#include "db/session.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

using namespace Qt::StringLiterals;
using accounts::LoginResult;

frmLock::frmLock(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmLock>())
{
    ui->setupUi(this);
    ui->Label1->setFont(toolkit::japaneseFont(16));
    ui->lblCode->hide();
    ui->txtCode->hide();
    connect(ui->txtLoginId, &QLineEdit::returnPressed, ui->txtPassword, qOverload<>(&QWidget::setFocus));
    connect(ui->txtPassword, &QLineEdit::returnPressed, this, &frmLock::unlock);
    connect(ui->cmdUnlock, &QPushButton::clicked, this, &frmLock::unlock);
    connect(ui->cmdForceLogOff, &QPushButton::clicked, this, &frmLock::forceLogOff);
}

frmLock::~frmLock() = default;

void frmLock::onLoad()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_authenticator = accounts::authenticatorFor(m_connection);
    const auto &account = app::loggedInAccount();
    ui->lblUser->setText(u"%1 がログインしています。続けるには、この職員のパスワードを入力してください。"_s.arg(app::loggedInText()));
    ui->txtLoginId->setText(account ? account->loginId : QString());
    db::audit::append(m_connection, {db::audit::action::Lock.toString(), app::loggedInText(), {}, {}});
    ui->txtPassword->setFocus();
}

void frmLock::onUnload(bool &cancel)
{
    if (!m_released) {
        cancel = true;
        return;
    }
    m_authenticator.reset();
    m_connection.close();
}

std::optional<accounts::Account> frmLock::check(accounts::StaffAccounts &staff, bool codeRequired)
{
    const QString typedId = ui->txtLoginId->text().trimmed();
    const LoginResult result = staff.logIn(typedId, ui->txtPassword->text(), ui->txtCode->text());
    // The password alone opens one's own session; ending another's takes
    // the administrator's whole login.
    if (result.outcome == LoginResult::Outcome::LoggedIn
        || (!codeRequired && result.outcome == LoginResult::Outcome::CodeNeeded)) {
        ui->txtPassword->clear();
        return result.account ? result.account : staff.find(typedId);
    }
    if (result.outcome == LoginResult::Outcome::CodeNeeded) {
        ui->lblCode->show();
        ui->txtCode->show();
        ui->txtCode->setFocus();
    } else {
        db::audit::appendFailedLogin(m_connection, typedId, u"画面のロック: %1"_s.arg(result.reason));
        ui->txtPassword->clear();
        ui->txtCode->clear();
        ui->txtPassword->setFocus();
    }
    ui->lblMessage->setText(result.reason);
    return std::nullopt;
}

void frmLock::unlock()
{
    if (!app::isLoggedIn(ui->txtLoginId->text())) {
        ui->txtPassword->clear();
        ui->lblMessage->setText(u"ロックを解除できるのは、ログインしている職員だけです。"
                                u"管理者は「保存せずにログオフ（管理者）」を使ってください。"_s);
        return;
    }
    toolkit::trap(
        [this] {
            accounts::StaffAccounts staff(m_connection, *m_authenticator);
            if (!check(staff, false))
                return;
            db::audit::append(m_connection, {db::audit::action::Unlock.toString(), app::loggedInText(), {}, {}});
            release();
            if (app::SessionWatch *watch = app::sessionWatch())
                watch->unlock();
        },
        {toolkit::unreachableAnswer()});
}

void frmLock::forceLogOff()
{
    if (app::isLoggedIn(ui->txtLoginId->text())) {
        ui->txtPassword->clear();
        ui->lblMessage->setText(u"管理者のログインIDとパスワードを入力してください。"_s);
        return;
    }
    toolkit::trap(
        [this] {
            std::optional<accounts::Account> by;
            {
                // The locked account may read no other account's row, so the
                // administrator is checked as the login window checks, and
                // acts as themself until the session is ended.
                db::AccountsAsAtLogin asAtLogin;
                jet::Connection connection;
                db::openWindowConnection(connection, toolkit::platform().programFolder());
                const std::unique_ptr<accounts::Authenticator> authenticator = accounts::authenticatorFor(connection);
                accounts::StaffAccounts staff(connection, *authenticator);
                by = check(staff, true);
                // Asked as the administrator just admitted, who reads the
                // accounts where the role before the login may not.
                jet::Connection theirs;
                if (by)
                    db::openWindowConnection(theirs, toolkit::platform().programFolder());
                if (by && !accounts::StaffAccounts(theirs, *authenticator).may(*by, accounts::Right::Accounts)) {
                    ui->lblMessage->setText(u"ほかの職員をログオフできるのは管理者だけです。"_s);
                    by.reset();
                }
                if (by)
                    asAtLogin.keepAdmitted();
            }
            if (!by)
                return;
            release();
            app::forceLogOff(*by);
        },
        {toolkit::unreachableAnswer()});
}

void frmLock::release()
{
    m_released = true;
    unload();
}
