#include "app/frmSplash.h"
#include "ui_frmSplash.h"

#include "app/navigation.h"
#include "app/product.h"
#include "db/accounts/accounts.h"
#include "db/accounts/authenticator.h"
#include "db/accounts/extension.h"
#include "db/audit.h"
#include "db/check.h"
#include "db/engine/catalog.h"
#include "db/engine/error.h"
#include "db/filekey.h"
#include "db/location.h"
#include "db/schema.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QTimer>

namespace {

toolkit::MessageBoxRequest errorBox(const QString &text)
{
    toolkit::MessageBoxRequest box;
    box.text = text;
    box.icon = toolkit::MessageIcon::Critical;
    return box;
}

const QString kTo2086 = QStringLiteral("データベースを ver2.086 にコンバートします。");
const QString kTo2112 = QStringLiteral("データベースを ver2.112 にコンバートします。");

} // namespace

frmSplash::frmSplash(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmSplash>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    ui->Image1->setPixmap(app::productPicture(112, devicePixelRatioF()));
    ui->Label1->setFont(toolkit::japaneseFont(24));
    ui->Label1->setText(app::kShortNameAndVersion);
    ui->Label2->setFont(toolkit::japaneseFont(9));
    setWindowIcon(QIcon(app::productPicture(64)));

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &frmSplash::timerTicked);
}

frmSplash::~frmSplash() = default;

void frmSplash::onLoad()
{
    m_timer->start();
}

void frmSplash::onUnload(bool &)
{
    m_timer->stop();
    m_versionProbe.close();
    m_icdProbe.close();
    m_connection.close();
}

void frmSplash::timerTicked()
{
    if (m_probed)
        return;
    m_probed = true;
    m_timer->stop();

    // Tested in this order: a failed open first, then the newer generation's
    // table, then the older generation's column.
    const toolkit::ErrorTable answers = {
        // The second line names the path that was tried and why it failed.
        {jet::err::GeneralFailure, errorBox(QStringLiteral("データベース norva2000.mdb の取得に失敗しました。")), {}, true, true},
        // A server says so when the database it is asked for is not there.
        {jet::err::FileNotFound, errorBox(QStringLiteral("データベース norva2000.mdb の取得に失敗しました。")), {}, true, true},
        {jet::err::TableMissing, errorBox(kTo2112),
         [this] { announceUpgrade(app::window::UpgradeTo2112); }, false},
        {jet::err::ColumnMissing, errorBox(kTo2086),
         [this] { announceUpgrade(app::window::UpgradeTo2086); }, false},
    };
    toolkit::trap([this] { probe(); }, answers);
}

void frmSplash::probe()
{
    // A protected file opens only with the key a login unseals, so the login
    // comes first.  Only this version protects a file, with its trail and
    // its accounts: there is nothing to upgrade.
    if (db::filekey::needsUnlock(db::readDatabasePath(toolkit::platform().programFolder()))) {
        app::showWindow(app::window::Login);
        if (!toolkit::programHasEnded())
            unload();
        return;
    }
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    // Neither an empty database nor a newer program's ledger is offered an upgrade.
    db::requireLedger(m_connection);
    // The column came with ver2.086 and the table with ver2.112, so a file
    // lacking both is sent to the older upgrade first.
    m_icdProbe.open(QStringLiteral("SELECT ICDコード FROM `診断名(ICD10)`"), &m_connection, jet::CursorType::Dynamic);
    // An upgrade of the earlier program broken off part-way leaves the ICD
    // code or the version table without the rest of its generation, or the
    // table without its row; the upgrades complete such a file, so it is
    // offered the one it lacks instead of failing in the first ledger.
    jet::Catalog catalog;
    catalog.setActiveConnection(&m_connection);
    if (!db::missingFrom(catalog, db::Generation::V2086).isEmpty()) {
        offerUpgrade(kTo2086, app::window::UpgradeTo2086);
        return;
    }
    m_versionProbe.open(QStringLiteral("SELECT * FROM バージョン"), &m_connection, jet::CursorType::Dynamic);
    if (m_versionProbe.eof() || !db::missingFrom(catalog, db::Generation::V2112).isEmpty()) {
        offerUpgrade(kTo2112, app::window::UpgradeTo2112);
        return;
    }

    // A server's ledger made by an earlier version of the program gets this
    // version's Jet functions and learns to tell the other workstations'
    // lists of its changes.
    jet::updateServerSide(m_connection);
    // The audit trail is no choice of the user's: a database without it gets
    // it here, and a program that cannot add it does not open the ledgers.
    db::audit::extendDatabase(m_connection);

    // Nobody reaches the ledgers without an account, so a database without
    // the accounts gets them here, after the trail that records the logins;
    // a program that cannot add them (a read-only file) does not open the
    // ledgers, as with the trail.
    accounts::extendDatabase(m_connection);
    const bool hasAccounts =
        accounts::StaffAccounts(m_connection, *accounts::authenticatorFor(m_connection)).hasAccounts();
    if (!hasAccounts)
        accounts::requireFirstAdministratorPossible(m_connection);

    // The login window loads (and opens its own connection) before the
    // splash window goes, so the program never runs without a window.
    app::showWindow(hasAccounts ? app::window::Login : app::window::FirstAdministrator);
    if (toolkit::programHasEnded())
        return;
    unload();
}

void frmSplash::offerUpgrade(const QString &text, const QString &upgradeWindow)
{
    toolkit::platform().messageBox(errorBox(text));
    announceUpgrade(upgradeWindow);
}

// The upgrade windows are optional parts of the program: without one the
// announcement is all the user gets, and the program ends normally.
void frmSplash::announceUpgrade(const QString &upgradeWindow)
{
    app::showWindow(upgradeWindow);
    if (toolkit::programHasEnded())
        return;
    unload();
}
