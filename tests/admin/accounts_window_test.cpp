#include "admin/acting.h"
#include "admin/frmAccounts.h"
#include "admin/frmCodeEnrolment.h"
#include "app/navigation.h"
#include "db/accounts/accounts.h"
#include "db/accounts/extension.h"
#include "db/accounts/onetimecode.h"
#include "db/accounts/passwords.h"
#include "db/audit.h"
#include "db/engine/clock.h"
#include "db/session.h"
#include "support/scriptedplatform.h"
#include "support/tempdb.h"

#include <QColor>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace accounts;

namespace {

class AccountsWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile location(QDir(folder.path()).filePath(u"norva.txt"_s));
        ASSERT_TRUE(location.open(QIODevice::WriteOnly));
        location.write(ward.path().toUtf8() + "\r\n");
        extendDatabase(ward.connection());
        db::audit::extendDatabase(ward.connection());
        admin = staff.createFirstAdministrator(u"kanri"_s, u"管理 太郎"_s, u"Kanri-Shiken-2026"_s);
        db::setSessionAccount(u"kanri"_s);

        auto services = std::make_unique<toolkit::ScriptedPlatform>();
        scripted = services.get();
        scripted->setProgramFolder(folder.path());
        toolkit::setPlatform(std::move(services));
        toolkit::resetProgramState();
        toolkit::registerWindow<frmAccounts>(app::window::Accounts);
        toolkit::registerWindow<frmCodeEnrolment>(app::window::CodeEnrolment);
    }

    void TearDown() override
    {
        toolkit::resetProgramState();
        toolkit::unregisterWindow(app::window::Accounts);
        toolkit::unregisterWindow(app::window::CodeEnrolment);
        toolkit::setPlatform(nullptr);
        db::clearSessionAccount();
        jet::Clock::setSystem();
    }

    template <class T> T *child(QWidget &window, const char *name)
    {
        T *widget = window.findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    QString lastBox() const { return scripted->boxes().isEmpty() ? QString() : scripted->boxes().last().request.text; }

    void selectAccount(frmAccounts &window, const QString &loginId)
    {
        auto *list = child<QTableWidget>(window, "tblAccounts");
        for (int row = 0; row < list->rowCount(); ++row)
            if (list->item(row, 0)->text() == loginId)
                list->selectRow(row);
    }

    QTemporaryDir folder;
    testing_support::TempDatabase ward;
    PasswordHashes hashes{HashCost::least()};
    StaffAccounts staff{ward.connection(), hashes};
    Account admin;
    toolkit::ScriptedPlatform *scripted = nullptr;
};

TEST_F(AccountsWindowTest, CreatesAnAccountAndShowsEachRefusalWithItsReason)
{
    frmAccounts &window = toolkit::Forms::get<frmAccounts>();
    window.showModeless();
    const QString longest = u"a"_s.repeated(32);
    QTest::keyClicks(child<QLineEdit>(window, "txtLoginId"), longest);
    // Typed through an input method, as Japanese is.
    child<QLineEdit>(window, "txtDisplayName")->setText(u"看"_s.repeated(51));
    auto *role = child<QComboBox>(window, "cboNewRole");
    role->setCurrentIndex(role->findText(roleName(Role::Physician)));
    QTest::keyClicks(child<QLineEdit>(window, "txtPassword"), u"Shoki-Pass-2026"_s);
    QTest::keyClicks(child<QLineEdit>(window, "txtPasswordAgain"), u"Shoki-Pass-2026"_s);
    QTest::mouseClick(child<QPushButton>(window, "cmdCreate"), Qt::LeftButton);

    ASSERT_TRUE(scripted->boxes().isEmpty()) << lastBox().toStdString();
    const std::optional<Account> created = staff.find(longest);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->role, Role::Physician);
    EXPECT_EQ(created->displayName, u"看"_s.repeated(50));
    EXPECT_TRUE(created->mustChangePassword);
    EXPECT_EQ(child<QTableWidget>(window, "tblAccounts")->rowCount(), 2);
    EXPECT_TRUE(child<QLineEdit>(window, "txtPassword")->text().isEmpty());

    // The module's reason, as it gives it.
    QTest::keyClicks(child<QLineEdit>(window, "txtLoginId"), u"kango"_s);
    child<QLineEdit>(window, "txtDisplayName")->setText(u"看護 花子"_s);
    QTest::keyClicks(child<QLineEdit>(window, "txtPassword"), u"Short-1"_s);
    QTest::keyClicks(child<QLineEdit>(window, "txtPasswordAgain"), u"Short-1"_s);
    QTest::mouseClick(child<QPushButton>(window, "cmdCreate"), Qt::LeftButton);
    EXPECT_EQ(lastBox(), passwordProblem(u"Short-1"_s, u"kango"_s, false));
    EXPECT_FALSE(staff.find(u"kango"_s));

    // Nobody disables the last administrator.
    selectAccount(window, u"kanri"_s);
    scripted->answerBox(toolkit::MessageResult::Yes);
    QTest::mouseClick(child<QPushButton>(window, "cmdDisable"), Qt::LeftButton);
    EXPECT_EQ(lastBox(), u"最後の管理者は無効にできません。先に別の管理者のアカウントを作ってください。"_s);
    EXPECT_EQ(staff.read(admin.id).state, State::Active);
}

TEST_F(AccountsWindowTest, StoresRightsAndSettingsAndKeepsTheAdministratorsRightToAdminister)
{
    frmAccounts &window = toolkit::Forms::get<frmAccounts>();
    window.showModeless();
    auto *rights = child<QTableWidget>(window, "tblRights");
    const auto item = [&](Right right, Role role) {
        return rights->item(int(allRights().indexOf(right)), int(allRoles().indexOf(role)));
    };
    ASSERT_FALSE(staff.roleMay(Role::Nurse, Right::Export));
    item(Right::Export, Role::Nurse)->setCheckState(Qt::Checked);
    EXPECT_TRUE(staff.roleMay(Role::Nurse, Right::Export));

    QTableWidgetItem *kept = item(Right::Accounts, Role::Administrator);
    EXPECT_FALSE(kept->flags() & Qt::ItemIsEnabled);
    kept->setCheckState(Qt::Unchecked);
    EXPECT_EQ(lastBox(), u"管理者からアカウント管理の権限は外せません。"_s);
    EXPECT_EQ(item(Right::Accounts, Role::Administrator)->checkState(), Qt::Checked);
    EXPECT_TRUE(staff.roleMay(Role::Administrator, Right::Accounts));

    child<QSpinBox>(window, "spnFailures")->setValue(3);
    child<QSpinBox>(window, "spnLockMinutes")->setValue(30);
    child<QSpinBox>(window, "spnIdleMinutes")->setValue(5);
    QTest::mouseClick(child<QPushButton>(window, "cmdSaveSettings"), Qt::LeftButton);
    const AccountSettings stored = staff.settings();
    EXPECT_EQ(stored.failuresBeforeLock, 3);
    EXPECT_EQ(stored.lockMinutes, 30);
    EXPECT_EQ(stored.idleMinutes, 5);
}

TEST_F(AccountsWindowTest, OpensOnlyForAnAccountThatMayAdminister)
{
    staff.create(admin, u"kango"_s, u"看護 花子"_s, Role::Nurse, u"Kango-Shiken-2026"_s);
    db::setSessionAccount(u"kango"_s);
    admin::openAccounts();
    EXPECT_EQ(lastBox(), u"職員アカウントの管理には「アカウント管理」の権限が要ります。"_s);
    EXPECT_EQ(toolkit::Forms::find<frmAccounts>(), nullptr);
    db::clearSessionAccount();
    admin::openCodeEnrolment();
    EXPECT_EQ(lastBox(), u"この画面は、職員のアカウントでログインしてから開いてください。"_s);
    EXPECT_EQ(toolkit::Forms::find<frmCodeEnrolment>(), nullptr);
}

TEST_F(AccountsWindowTest, EnrolsTheSecondFactorWithTheCodeOfTheSecretShown)
{
    const QDateTime nine(QDate(2026, 12, 10), QTime(9, 0));
    jet::Clock::setFixed(nine);
    frmCodeEnrolment &window = toolkit::Forms::get<frmCodeEnrolment>();
    window.showModeless();
    const QString secret = child<QLabel>(window, "lblSecret")->text().remove(u' ');
    ASSERT_EQ(secret.size(), 32);
    // The quiet zone is white; the finder pattern's corner starts after it.
    const QImage image = child<QLabel>(window, "picCode")->pixmap().toImage();
    const int module = image.width() / (QrCode(codeEnrolmentUri(secret, u"kanri"_s)).size() + 8);
    EXPECT_GE(module, 5);
    EXPECT_EQ(image.pixelColor(4 * module - 1, 4 * module - 1), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(4 * module, 4 * module), QColor(Qt::black));

    QTest::keyClicks(child<QLineEdit>(window, "txtCode"), oneTimeCode(secret, nine.addSecs(-120)));
    QTest::mouseClick(child<QPushButton>(window, "cmdConfirm"), Qt::LeftButton);
    EXPECT_EQ(lastBox(), u"コードが違います。認証アプリに表示されている最新のコードを入力してください。"_s);
    EXPECT_FALSE(staff.read(admin.id).secondFactor);

    QTest::keyClicks(child<QLineEdit>(window, "txtCode"), oneTimeCode(secret, nine));
    QTest::mouseClick(child<QPushButton>(window, "cmdConfirm"), Qt::LeftButton);
    EXPECT_TRUE(staff.read(admin.id).secondFactor);
    EXPECT_EQ(toolkit::Forms::find<frmCodeEnrolment>(), nullptr);
}

} // namespace
