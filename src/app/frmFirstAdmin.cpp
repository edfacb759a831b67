#include "app/frmFirstAdmin.h"
#include "ui_frmFirstAdmin.h"

#include "app/login.h"
#include "db/accounts/accounts.h"
#include "db/accounts/authenticator.h"
#include "db/accounts/passwords.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

using namespace Qt::StringLiterals;

frmFirstAdmin::frmFirstAdmin(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmFirstAdmin>())
{
    ui->setupUi(this);
    ui->Label1->setFont(toolkit::japaneseFont(16));
    const auto typed = [this] { ui->lblProblem->setText(problem(accounts::Typing::Ongoing)); };
    for (QLineEdit *field : {ui->txtLoginId, ui->txtPassword, ui->txtPassword2})
        connect(field, &QLineEdit::textEdited, this, typed);
    connect(ui->txtPassword2, &QLineEdit::returnPressed, this, &frmFirstAdmin::registerAdministrator);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmFirstAdmin::registerAdministrator);
    connect(ui->cmdCancel, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
}

frmFirstAdmin::~frmFirstAdmin() = default;

void frmFirstAdmin::onLoad()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_authenticator = accounts::authenticatorFor(m_connection);
    ui->txtLoginId->setFocus();
}

void frmFirstAdmin::onUnload(bool &)
{
    m_authenticator.reset();
    m_connection.close();
}

// What is wrong so far; while the fields are being filled in, one still
// empty is not yet wrong.
QString frmFirstAdmin::problem(accounts::Typing typing) const
{
    const bool finished = typing == accounts::Typing::Finished;
    const QString loginId = ui->txtLoginId->text().trimmed();
    if (loginId.isEmpty() && finished)
        return u"ログインIDを入力してください。"_s;
    if (QString wrong = loginId.isEmpty() ? QString() : accounts::loginIdProblem(loginId); !wrong.isEmpty())
        return wrong;
    if (QString wrong = finished ? accounts::displayNameProblem(ui->txtDisplayName->text()) : QString();
        !wrong.isEmpty())
        return wrong;
    return accounts::newPasswordProblem(ui->txtPassword->text(), ui->txtPassword2->text(), loginId, false, typing);
}

void frmFirstAdmin::registerAdministrator()
{
    if (const QString refusal = problem(accounts::Typing::Finished); !refusal.isEmpty()) {
        ui->lblProblem->setText(refusal);
        return;
    }
    toolkit::trap(
        [this] {
            accounts::Account administrator;
            try {
                administrator = accounts::StaffAccounts(m_connection, *m_authenticator)
                                    .createFirstAdministrator(ui->txtLoginId->text().trimmed(),
                                                              ui->txtDisplayName->text(), ui->txtPassword->text());
            } catch (const jet::Error &error) {
                // Another workstation registered one meanwhile, or a rule
                // the fields did not show.
                if (!accounts::isRefusal(error))
                    throw;
                ui->lblProblem->setText(error.description());
                return;
            }
            ui->txtPassword->clear();
            ui->txtPassword2->clear();
            app::completeLogin(m_connection, administrator, *this);
        },
        {toolkit::unreachableAnswer()});
}
