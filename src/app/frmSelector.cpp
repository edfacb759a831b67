#include "app/frmSelector.h"
#include "ui_frmSelector.h"

#include "admin/acting.h"
#include "app/login.h"
#include "app/navigation.h"
#include "app/product.h"
#include "app/versionerrors.h"
#include "db/filekey.h"
#include "db/location.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

using namespace Qt::StringLiterals;

frmSelector::frmSelector(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmSelector>())
{
    ui->setupUi(this);
    ui->Picture1->setPixmap(app::productPicture(72, devicePixelRatioF()));
    setWindowIcon(QIcon(app::productPicture(64)));
    ui->Label1->setFont(toolkit::japaneseFont(20));
    ui->Label2->setText(app::kProgramVersionText);
    // Return chooses the focused button, so that the menu works without a mouse.
    for (QPushButton *button : {ui->Command1, ui->Command2, ui->Command3, ui->Command4}) {
        button->setFont(toolkit::japaneseFont(12));
        button->setAutoDefault(true);
    }

    connect(ui->Command1, &QPushButton::clicked, this, [this] { openLedger(app::window::InpatientLedger); });
    connect(ui->Command2, &QPushButton::clicked, this, [this] { openLedger(app::window::OutpatientLedger); });
    connect(ui->Command3, &QPushButton::clicked, this, [this] { openLedger(app::window::AllPatientLedger); });
    connect(ui->Command4, &QPushButton::clicked, this,
            [] { toolkit::untrapped([] { app::showModal(app::window::Options); }); });

    ui->lblProtection->hide();
    const bool loggedIn = app::loggedInAccount().has_value();
    ui->lblSession->setText(loggedIn ? u"ログイン中: %1"_s.arg(app::loggedInText()) : u"ログインしていません"_s);
    for (QPushButton *button : {ui->cmdLogOff, ui->cmdSwitchUser, ui->cmdPassword, ui->cmdCodeEnrolment})
        button->setEnabled(loggedIn);
    // The login window takes the start menu's place, as the one main window.
    connect(ui->cmdLogOff, &QPushButton::clicked, this, [] { toolkit::untrapped([] { app::logOff(false); }); });
    connect(ui->cmdSwitchUser, &QPushButton::clicked, this, [] { toolkit::untrapped([] { app::logOff(true); }); });
    connect(ui->cmdPassword, &QPushButton::clicked, this, [] {
        toolkit::untrapped([] { app::showModal(app::window::ChangePassword, app::loggedInAccount()->loginId); });
    });
    connect(ui->cmdCodeEnrolment, &QPushButton::clicked, this, [] { admin::openCodeEnrolment(); });
    connect(ui->cmdAccounts, &QPushButton::clicked, this, [] { admin::openAccounts(); });
    connect(ui->cmdAudit, &QPushButton::clicked, this,
            [] { toolkit::untrapped([] { app::showModal(app::window::Audit); }); });
}

frmSelector::~frmSelector() = default;

void frmSelector::onLoad()
{
    toolkit::trap(
        [this] {
            db::openWindowConnection(m_connection, toolkit::platform().programFolder());
            ui->lblProtection->setVisible(db::filekey::warnsUnprotected(m_connection));
            m_version.open(QStringLiteral("SELECT * FROM バージョン"), &m_connection, jet::CursorType::Dynamic);
            m_binding = new toolkit::RecordBinding(this);
            m_binding->setRecordset(&m_version);
            m_binding->bindLabel(ui->Label4, QStringLiteral("バージョン"));
        },
        app::versionLoadAnswers());
}

void frmSelector::onUnload(bool &)
{
    delete m_binding;
    m_binding = nullptr;
    m_version.close();
    m_connection.close();
}

// A failure while the ledger loads is the ledger's to answer.
void frmSelector::openLedger(const QString &ledger)
{
    toolkit::untrapped([this, &ledger] { app::moveTo(*this, ledger); });
}
