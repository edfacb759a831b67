#include "app/frmChangePassword.h"
#include "ui_frmChangePassword.h"

#include "app/login.h"
#include "app/navigation.h"
#include "db/accounts/accounts.h"
#include "db/accounts/authenticator.h"
#include "db/accounts/passwords.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QShortcut>

using namespace Qt::StringLiterals;

frmChangePassword::frmChangePassword(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmChangePassword>())
{
    ui->setupUi(this);
    ui->lblReason->hide();
    const auto typed = [this] { ui->lblProblem->setText(problem(accounts::Typing::Ongoing)); };
    connect(ui->txtNew, &QLineEdit::textEdited, this, typed);
    connect(ui->txtAgain, &QLineEdit::textEdited, this, typed);
    connect(ui->txtCurrent, &QLineEdit::returnPressed, ui->txtNew, qOverload<>(&QWidget::setFocus));
    connect(ui->txtNew, &QLineEdit::returnPressed, ui->txtAgain, qOverload<>(&QWidget::setFocus));
    connect(ui->txtAgain, &QLineEdit::returnPressed, this, &frmChangePassword::change);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmChangePassword::change);
    connect(ui->cmdCancel, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, ui->cmdCancel,
            &QPushButton::click);
}

frmChangePassword::~frmChangePassword() = default;

void frmChangePassword::onLoad()
{
    const QString loginId = app::takeHanded(app::window::ChangePassword).toString();
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_authenticator = accounts::authenticatorFor(m_connection);
    m_account = accounts::StaffAccounts(m_connection, *m_authenticator).find(loginId);
    if (!m_account)
        throw jet::Error(jet::err::RecordDeleted, u"このアカウントは見つかりません。"_s);
    ui->lblFor->setText(u"%1（%2）のパスワードを変更します。"_s.arg(m_account->displayName, m_account->loginId));
    ui->lblReason->setVisible(m_account->mustChangePassword);
    ui->txtCurrent->setFocus();
}

void frmChangePassword::onUnload(bool &)
{
    m_authenticator.reset();
    m_connection.close();
}

QString frmChangePassword::problem(accounts::Typing typing) const
{
    return accounts::newPasswordProblem(ui->txtNew->text(), ui->txtAgain->text(), m_account->loginId,
                                        m_account->secondFactor, typing);
}

void frmChangePassword::change()
{
    if (const QString refusal = problem(accounts::Typing::Finished); !refusal.isEmpty()) {
        ui->lblProblem->setText(refusal);
        return;
    }
    bool changed = false;
    // The account's own refusals (a wrong current password) are the
    // window's message; anything else is answered as anywhere.
    toolkit::trap(
        [&] {
            try {
                accounts::StaffAccounts(m_connection, *m_authenticator)
                    .changePassword(*m_account, ui->txtCurrent->text(), ui->txtNew->text());
                changed = true;
            } catch (const jet::Error &error) {
                if (!accounts::isRefusal(error))
                    throw;
                ui->lblProblem->setText(error.description());
                ui->txtCurrent->clear();
                ui->txtCurrent->setFocus();
            }
        },
        {toolkit::unreachableAnswer()});
    if (changed)
        toolkit::untrapped([this] { unload(); });
}
