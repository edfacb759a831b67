#include "app/frmLogin.h"
#include "ui_frmLogin.h"

#include "app/login.h"
#include "app/navigation.h"
#include "app/product.h"
#include "db/accounts/authenticator.h"
#include "db/audit.h"
#include "db/session.h"
#include "db/filekey.h"
#include "db/location.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

using namespace Qt::StringLiterals;
using accounts::LoginResult;

frmLogin::frmLogin(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmLogin>())
{
    ui->setupUi(this);
    ui->Picture1->setPixmap(app::productPicture(64, devicePixelRatioF()));
    setWindowIcon(QIcon(app::productPicture(64)));
    ui->Label1->setFont(toolkit::japaneseFont(18));
    ui->lblPrevious->hide();
    showCode(false);
    // Tab goes on to the password; Return there, or in the code, logs in.
    connect(ui->txtLoginId, &QLineEdit::returnPressed, ui->txtPassword, qOverload<>(&QWidget::setFocus));
    connect(ui->txtPassword, &QLineEdit::returnPressed, this, &frmLogin::logIn);
    connect(ui->txtCode, &QLineEdit::returnPressed, this, &frmLogin::logIn);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmLogin::logIn);
    connect(ui->cmdCancel, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
}

frmLogin::~frmLogin() = default;

void frmLogin::onLoad()
{
    if (const QVariant previous = app::takeHanded(app::window::Login); previous.isValid()) {
        ui->lblPrevious->setText(previous.toString());
        ui->lblPrevious->show();
    }
    // A protected file opens once the password typed has unsealed its key.
    if (!db::filekey::needsUnlock(db::readDatabasePath(toolkit::platform().programFolder())))
        openDatabase();
    ui->txtLoginId->setFocus();
}

void frmLogin::openDatabase()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_authenticator = accounts::authenticatorFor(m_connection);
}

void frmLogin::onUnload(bool &)
{
    m_authenticator.reset();
    m_connection.close();
}

void frmLogin::showCode(bool shown)
{
    ui->lblCode->setVisible(shown);
    ui->txtCode->setVisible(shown);
    if (!shown)
        ui->txtCode->clear();
}

void frmLogin::logIn()
{
    const QString typedId = ui->txtLoginId->text().trimmed();
    if (typedId.isEmpty()) {
        ui->lblMessage->setText(u"ログインIDを入力してください。"_s);
        ui->txtLoginId->setFocus();
        return;
    }
    toolkit::trap(
        [&] {
            if (!m_connection.isOpen()) {
                // Refused before the database opens, the failure is counted
                // in the key file rather than the trail.
                const QString location = db::readDatabasePath(toolkit::platform().programFolder());
                if (const std::optional<LoginResult> refusal =
                        db::filekey::unlock(location, typedId, ui->txtPassword->text())) {
                    ui->lblMessage->setText(refusal->reason);
                    ui->txtPassword->clear();
                    ui->txtPassword->setFocus();
                    return;
                }
                openDatabase();
            }
            accounts::StaffAccounts staff(m_connection, *m_authenticator);
            const LoginResult result = staff.logIn(typedId, ui->txtPassword->text(), ui->txtCode->text());
            if (result.outcome == LoginResult::Outcome::CodeNeeded) {
                showCode(true);
                ui->lblMessage->setText(result.reason);
                ui->txtCode->setFocus();
                return;
            }
            if (result.outcome != LoginResult::Outcome::LoggedIn) {
                refuse(result, typedId);
                return;
            }
            // Opened again as the account now logged in: on a server, the
            // role before the login reads no account and writes no trail.
            m_connection.close();
            db::openWindowConnection(m_connection, toolkit::platform().programFolder());
            if (result.account->mustChangePassword && !passwordChanged(staff, *result.account)) {
                ui->txtPassword->clear();
                showCode(false);
                ui->lblMessage->setText(u"新しいパスワードに変えるまでは、ログインできません。"_s);
                ui->txtPassword->setFocus();
                return;
            }
            const accounts::Account account = staff.read(result.account->id);
            ui->txtPassword->clear();
            showCode(false);
            app::completeLogin(m_connection, account, *this);
        },
        {toolkit::unreachableAnswer()});
}

void frmLogin::refuse(const LoginResult &result, const QString &typedId)
{
    db::audit::appendFailedLogin(m_connection, typedId, result.reason);
    ui->lblMessage->setText(result.reason);
    if (result.outcome == LoginResult::Outcome::WrongCode) {
        ui->txtCode->clear();
        ui->txtCode->setFocus();
        return;
    }
    ui->txtPassword->clear();
    showCode(false);
    ui->txtPassword->setFocus();
}

bool frmLogin::passwordChanged(accounts::StaffAccounts &staff, const accounts::Account &account)
{
    // The change is the owner's own act, so the trail names them, though
    // their login is complete only once it is made.
    db::setSessionAccount(account.loginId);
    app::showModal(app::window::ChangePassword, account.loginId);
    db::clearSessionAccount();
    return !staff.read(account.id).mustChangePassword;
}
