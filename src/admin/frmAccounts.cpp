#include "admin/frmAccounts.h"
#include "ui_frmAccounts.h"

#include "admin/acting.h"
#include "db/accounts/authenticator.h"
#include "db/accounts/passwords.h"
#include "db/accounts/rights.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QHeaderView>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTableWidgetItem>

using namespace Qt::StringLiterals;
using accounts::Account;
using accounts::Right;
using accounts::Role;
using accounts::State;

namespace {

QString moment(const QDateTime &at)
{
    return at.isValid() ? at.toLocalTime().toString(u"yyyy/MM/dd H:mm"_s) : QString();
}

QString named(const Account &account)
{
    return u"%1（%2）"_s.arg(account.loginId, account.displayName);
}

void fillRoles(QComboBox *box)
{
    for (Role role : accounts::allRoles())
        box->addItem(accounts::roleName(role), int(role));
}

Role roleIn(const QComboBox *box)
{
    return Role(box->currentData().toInt());
}

} // namespace

frmAccounts::frmAccounts(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmAccounts>())
{
    ui->setupUi(this);
    fillRoles(ui->cboRole);
    fillRoles(ui->cboNewRole);
    ui->cboNewRole->setCurrentIndex(ui->cboNewRole->findData(int(Role::Nurse)));

    ui->tblAccounts->setColumnCount(8);
    ui->tblAccounts->setHorizontalHeaderLabels({u"ログインID"_s, u"表示名"_s, u"役割"_s, u"状態"_s, u"二要素"_s,
                                                u"パスワード"_s, u"最終ログイン"_s, u"ロック解除時刻"_s});
    // The display name takes the width the others leave, elided where it is
    // long, so that the state and the times stay in sight.
    ui->tblAccounts->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ui->tblAccounts->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    ui->tblAccounts->horizontalHeader()->setStretchLastSection(false);

    const QList<Role> roles = accounts::allRoles();
    const QList<Right> rights = accounts::allRights();
    ui->tblRights->setColumnCount(int(roles.size()));
    ui->tblRights->setRowCount(int(rights.size()));
    for (int column = 0; column < roles.size(); ++column)
        ui->tblRights->setHorizontalHeaderItem(column, new QTableWidgetItem(accounts::roleName(roles.at(column))));
    for (int row = 0; row < rights.size(); ++row)
        ui->tblRights->setVerticalHeaderItem(row, new QTableWidgetItem(accounts::rightName(rights.at(row))));
    ui->tblRights->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    connect(ui->tblAccounts, &QTableWidget::itemSelectionChanged, this, [this] { showSelected(); });
    connect(ui->cmdCreate, &QPushButton::clicked, this, [this] { create(); });
    connect(ui->cmdResetPassword, &QPushButton::clicked, this, [this] { resetPassword(); });
    connect(ui->cmdSetRole, &QPushButton::clicked, this, [this] { setRole(); });
    connect(ui->cmdDisable, &QPushButton::clicked, this, [this] { disable(); });
    connect(ui->cmdEnable, &QPushButton::clicked, this, [this] { enable(); });
    connect(ui->cmdUnlock, &QPushButton::clicked, this, [this] { unlock(); });
    connect(ui->cmdRemoveFactor, &QPushButton::clicked, this, [this] { removeSecondFactor(); });
    connect(ui->tblRights, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) { rightChanged(item); });
    connect(ui->cmdSaveSettings, &QPushButton::clicked, this, [this] { saveSettings(); });
    // Each page shows what another administrator may have changed meanwhile.
    connect(ui->tabPages, &QTabWidget::currentChanged, this, [this](int page) {
        act([this, page] {
            if (page == 0)
                showAccounts(selected() ? std::optional<int>(selected()->id) : std::nullopt);
            else if (page == 1)
                showRights();
            else
                showSettings();
        });
    });
    connect(ui->cmdClose, &QPushButton::clicked, this, [this] { toolkit::untrapped([this] { unload(); }); });
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, ui->cmdClose,
            &QPushButton::click);
}

frmAccounts::~frmAccounts() = default;

void frmAccounts::onLoad()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_authenticator = accounts::authenticatorFor(m_connection);
    m_staff = std::make_unique<accounts::StaffAccounts>(m_connection, *m_authenticator);
    m_by = admin::actingAccount(m_connection, *m_staff);
    if (!m_staff->may(m_by, Right::Accounts))
        throw jet::Error(jet::err::NotSupported,
                         u"職員アカウントの管理には「%1」の権限が要ります。"_s.arg(accounts::rightName(Right::Accounts)));
    showAccounts();
    showRights();
    showSettings();
}

void frmAccounts::onUnload(bool &)
{
    m_staff.reset();
    m_connection.close();
}

void frmAccounts::showAccounts(std::optional<int> select)
{
    m_shown = m_staff->all();
    const QSignalBlocker quiet(ui->tblAccounts);
    ui->tblAccounts->clearContents();
    ui->tblAccounts->setRowCount(int(m_shown.size()));
    int selectedRow = -1;
    for (int row = 0; row < m_shown.size(); ++row) {
        const Account &a = m_shown.at(row);
        const bool locked = a.state == State::Locked;
        const QStringList cells{a.loginId,
                                a.displayName,
                                accounts::roleName(a.role),
                                accounts::stateName(a.state),
                                a.secondFactor ? u"あり"_s : QString(),
                                a.mustChangePassword ? u"次回変更"_s : QString(),
                                moment(a.lastLogin),
                                locked ? moment(a.lockedUntil) : QString()};
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            item->setToolTip(cells.at(column));
            ui->tblAccounts->setItem(row, column, item);
        }
        if (select && a.id == *select)
            selectedRow = row;
    }
    if (selectedRow >= 0)
        ui->tblAccounts->selectRow(selectedRow);
    else
        ui->tblAccounts->clearSelection();
    showSelected();
}

std::optional<Account> frmAccounts::selected() const
{
    const QList<QTableWidgetItem *> items = ui->tblAccounts->selectedItems();
    if (items.isEmpty())
        return std::nullopt;
    return m_shown.value(items.first()->row());
}

void frmAccounts::showSelected()
{
    const std::optional<Account> account = selected();
    ui->lblSelected->setText(account ? named(*account) : u"一覧からアカウントを選んでください。"_s);
    if (account)
        ui->cboRole->setCurrentIndex(ui->cboRole->findData(int(account->role)));
    for (QWidget *control : {static_cast<QWidget *>(ui->cboRole), static_cast<QWidget *>(ui->cmdSetRole),
                             static_cast<QWidget *>(ui->txtTemporary), static_cast<QWidget *>(ui->txtTemporaryAgain),
                             static_cast<QWidget *>(ui->cmdResetPassword)})
        control->setEnabled(account.has_value());
    ui->cmdDisable->setEnabled(account && account->state != State::Disabled);
    ui->cmdEnable->setEnabled(account && account->state == State::Disabled);
    ui->cmdUnlock->setEnabled(account && account->state == State::Locked);
    ui->cmdRemoveFactor->setEnabled(account && account->secondFactor);
}

void frmAccounts::showRights()
{
    const QSignalBlocker quiet(ui->tblRights);
    const QList<Role> roles = accounts::allRoles();
    const QList<Right> rights = accounts::allRights();
    for (int row = 0; row < rights.size(); ++row) {
        for (int column = 0; column < roles.size(); ++column) {
            auto *item = new QTableWidgetItem;
            item->setData(Qt::CheckStateRole,
                          m_staff->roleMay(roles.at(column), rights.at(row)) ? Qt::Checked : Qt::Unchecked);
            // The administrators keep the right to administer, so that
            // somebody always can.
            const bool fixed = roles.at(column) == Role::Administrator && rights.at(row) == Right::Accounts;
            item->setFlags(fixed ? Qt::ItemIsUserCheckable : Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
            ui->tblRights->setItem(row, column, item);
        }
    }
}

void frmAccounts::showSettings()
{
    const accounts::AccountSettings settings = m_staff->settings();
    ui->spnFailures->setValue(settings.failuresBeforeLock);
    ui->spnLockMinutes->setValue(settings.lockMinutes);
    ui->spnIdleMinutes->setValue(settings.idleMinutes);
}

void frmAccounts::create()
{
    if (ui->txtPassword->text() != ui->txtPasswordAgain->text()) {
        admin::refuse(u"最初のパスワードと、もう一度入力したものが違います。"_s);
        return;
    }
    std::optional<Account> created;
    if (!act([&] {
            created = m_staff->create(m_by, ui->txtLoginId->text(), ui->txtDisplayName->text(),
                                      roleIn(ui->cboNewRole), ui->txtPassword->text());
        }))
        return;
    for (QLineEdit *box : {ui->txtLoginId, ui->txtDisplayName, ui->txtPassword, ui->txtPasswordAgain})
        box->clear();
    act([&] { showAccounts(created->id); });
    tell(u"%1 を作りました。最初のログインでパスワードの変更を求めます。"_s.arg(named(*created)));
}

void frmAccounts::resetPassword()
{
    const std::optional<Account> account = selected();
    if (!account)
        return;
    if (ui->txtTemporary->text() != ui->txtTemporaryAgain->text()) {
        admin::refuse(u"仮のパスワードと、もう一度入力したものが違います。"_s);
        return;
    }
    if (change(*account, [&] { m_staff->resetPassword(m_by, account->id, ui->txtTemporary->text()); },
               u"%1 のパスワードを再設定しました。次のログインで本人が変えます。"_s)) {
        ui->txtTemporary->clear();
        ui->txtTemporaryAgain->clear();
    }
}

void frmAccounts::setRole()
{
    const std::optional<Account> account = selected();
    const Role role = roleIn(ui->cboRole);
    if (account && account->role != role)
        change(*account, [&] { m_staff->setRole(m_by, account->id, role); },
               u"%1 の役割を"_s + accounts::roleName(role) + u"にしました。"_s);
}

void frmAccounts::disable()
{
    const std::optional<Account> account = selected();
    if (account && confirmed(u"%1 を無効にしますか？\n無効にしたアカウントではログインできません。"_s.arg(named(*account))))
        change(*account, [&] { m_staff->disable(m_by, account->id); }, u"%1 を無効にしました。"_s);
}

void frmAccounts::enable()
{
    if (const std::optional<Account> account = selected())
        change(*account, [&] { m_staff->enable(m_by, account->id); }, u"%1 を有効にしました。"_s);
}

void frmAccounts::unlock()
{
    if (const std::optional<Account> account = selected())
        change(*account, [&] { m_staff->unlock(m_by, account->id); }, u"%1 のロックを解除しました。"_s);
}

void frmAccounts::removeSecondFactor()
{
    const std::optional<Account> account = selected();
    if (account
        && confirmed(u"%1 の二要素認証を外しますか？\n次のログインでパスワードの変更を求めます。"_s.arg(named(*account))))
        change(*account, [&] { m_staff->removeSecondFactor(m_by, account->id); }, u"%1 の二要素認証を外しました。"_s);
}

bool frmAccounts::change(const Account &account, const std::function<void()> &work, const QString &done)
{
    if (!act(work))
        return false;
    act([&] { showAccounts(account.id); });
    tell(done.arg(named(account)));
    return true;
}

void frmAccounts::rightChanged(QTableWidgetItem *item)
{
    const Role role = accounts::allRoles().at(item->column());
    const Right right = accounts::allRights().at(item->row());
    const bool allowed = item->checkState() == Qt::Checked;
    const bool stored = act([&] { m_staff->setRoleMay(m_by, role, right, allowed); });
    // A refused change goes back to what the table holds.
    act([&] {
        const QSignalBlocker quiet(ui->tblRights);
        item->setCheckState(m_staff->roleMay(role, right) ? Qt::Checked : Qt::Unchecked);
    });
    if (stored)
        tell(u"%1の「%2」を%3にしました。"_s.arg(accounts::roleName(role), accounts::rightName(right),
                                               allowed ? u"許可"_s : u"不可"_s));
}

void frmAccounts::saveSettings()
{
    const accounts::AccountSettings settings{ui->spnFailures->value(), ui->spnLockMinutes->value(),
                                             ui->spnIdleMinutes->value()};
    if (act([&] { m_staff->setSettings(m_by, settings); }))
        tell(u"設定を保存しました。"_s);
}

bool frmAccounts::act(const std::function<void()> &change)
{
    ui->lblMessage->clear();
    return admin::attempt(change);
}

bool frmAccounts::confirmed(const QString &question)
{
    return toolkit::platform().messageBox({.text = question,
                                           .icon = toolkit::MessageIcon::Question,
                                           .buttons = toolkit::MessageButtons::YesNo,
                                           .defaultButton = 2})
        == toolkit::MessageResult::Yes;
}

void frmAccounts::tell(const QString &done)
{
    ui->lblMessage->setText(done);
}
