#include "appfixture.h"

#include "app/frmChangePassword.h"
#include "app/frmLock.h"
#include "app/frmSelector.h"
#include "app/frmSplash.h"
#include "app/sessionwatch.h"
#include "certificate/records/extension.h"
#include "db/accounts/onetimecode.h"
#include "db/accounts/passwords.h"
#include "db/codetables.h"
#include "db/engine/clock.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "db/session.h"
#include "record/frmFindPt.h"
#include "toolkit/datagrid.h"

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

using namespace testing_support;
using namespace Qt::StringLiterals;
using toolkit::Forms;

namespace {

const QDateTime kMorning(QDate(2026, 12, 11), QTime(9, 0), Qt::UTC);
const QString kNursePassword = u"Kango-Pass-2026"_s;

// A ward of one patient in one admission, started as the program starts,
// its first administrator the fixture's account.
class Login : public ProgramTest
{
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        jet::Clock::setFixed(kMorning);
        makeDatabase(db::Generation::V2112);
        jet::Connection connection;
        connection.open(db::plainConnectionString(databasePath()));
        db::addCommonEntries(connection);
        certificates::extendDatabase(connection);
        connection.execute(u"INSERT INTO 患者情報 (カルテID, 氏名) VALUES (1001, '山田花子')"_s);
        connection.execute(u"INSERT INTO 入退院情報 (カルテID, 外入の別) VALUES (1001, 0)"_s);
        app::showWindow(app::window::Splash);
        Forms::find<frmSplash>()->timerTicked();
        passLogin();
    }

    void TearDown() override
    {
        ProgramTest::TearDown();
        jet::Clock::setSystem();
    }

    accounts::Account addNurse(bool mustChange)
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(databasePath()));
        accounts::PasswordHashes hashes(accounts::HashCost::least());
        accounts::StaffAccounts staff(connection, hashes);
        return staff.create(*staff.find(kTesterId), u"kango"_s, u"看護 花子"_s, accounts::Role::Nurse, kNursePassword,
                            mustChange);
    }

    static void press(QWidget *window, const char *button)
    {
        ASSERT_NE(window, nullptr);
        window->findChild<QPushButton *>(QString::fromLatin1(button))->click();
        settle();
    }

    static QLineEdit *edit(QWidget *window, const char *name)
    {
        return window->findChild<QLineEdit *>(QString::fromLatin1(name));
    }

    // Typed as a person types: the ID, Tab, the password, Return.
    void typeLogin(const QString &loginId, const QString &password)
    {
        frmLogin *login = Forms::find<frmLogin>();
        ASSERT_NE(login, nullptr);
        login->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(login));
        edit(login, "txtLoginId")->clear();
        edit(login, "txtLoginId")->setFocus();
        QTest::keyClicks(QApplication::focusWidget(), loginId);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), edit(login, "txtPassword"));
        QTest::keyClicks(QApplication::focusWidget(), password);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        settle();
    }

    // "action account detail" of each row of the trail.
    QStringList events()
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(databasePath()));
        jet::Recordset rows;
        // The session's own events, without the accounts' changes (the fixture's account made).
        rows.open(u"SELECT 操作 & ' ' & アカウント & ' ' & 詳細 FROM 監査記録 WHERE 操作 <> 'アカウント作成' ORDER BY 記録番号"_s,
                  &connection);
        QStringList found;
        for (; !rows.eof(); rows.moveNext())
            found.append(rows.value(0).toString());
        return found;
    }

    // The all-patient record of the patient, with a finding typed and not yet saved.
    frmFindPt *recordWithAnEdit()
    {
        press(Forms::find<frmSelector>(), "Command3");
        toolkit::Form *ledger = app::findWindow(app::window::AllPatientLedger);
        toolkit::DataGrid *grid = toolkit::DataGrid::of(ledger, u"DataGrid1"_s);
        grid->setCurrentRow(0);
        emit grid->clicked();
        ledger->findChild<QAction *>(u"mnuFileOpen"_s)->trigger();
        settle();
        frmFindPt *record = Forms::find<frmFindPt>();
        record->findChild<QPlainTextEdit *>(u"Text25"_s)->insertPlainText(u"異常なし"_s);
        return record;
    }

    QString storedFinding()
    {
        jet::Connection connection;
        connection.open(db::plainConnectionString(databasePath()));
        jet::Recordset rows;
        rows.open(u"SELECT `検査(ＣＴ)` FROM 検査情報"_s, &connection);
        return rows.eof() ? QString() : rows.value(0).toString();
    }
};

TEST_F(Login, TheFirstAdministratorLogsOffAndBackInWithTabAndReturn)
{
    frmSelector *menu = Forms::find<frmSelector>();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(labelText(menu, "lblSession"), u"ログイン中: 試験 管理者（管理者）"_s);
    EXPECT_EQ(db::session().account, kTesterId);

    press(menu, "cmdLogOff");
    EXPECT_EQ(Forms::find<frmSelector>(), nullptr);
    EXPECT_FALSE(db::session().loggedIn);
    typeLogin(kTesterId, kTesterPassword);
    ASSERT_NE(Forms::find<frmSelector>(), nullptr);

    press(Forms::find<frmSelector>(), "cmdSwitchUser");
    EXPECT_EQ(labelText(Forms::find<frmLogin>(), "lblPrevious"), u"試験 管理者（管理者） からユーザーを切り替えます。"_s);
    EXPECT_EQ(events(), (QStringList{u"ログイン tester 試験 管理者（管理者）"_s, u"ログオフ tester 試験 管理者（管理者）"_s,
                                     u"ログイン tester 試験 管理者（管理者）"_s, u"ログオフ tester 試験 管理者（管理者）"_s}));
    EXPECT_FALSE(exitStatus.has_value());
    press(Forms::find<frmLogin>(), "cmdCancel");
    EXPECT_EQ(exitStatus, 0);
}

// A ledger names the account, switches user and logs off as the start menu does; so does the program's end.
TEST_F(Login, ALedgerNamesTheAccountAndItsMenuSwitchesUserAndLogsOff)
{
    const auto fromLedger = [this](const QString &item) {
        press(Forms::find<frmSelector>(), "Command1");
        toolkit::Form *ledger = app::findWindow(app::window::InpatientLedger);
        EXPECT_EQ(labelText(ledger, "lblSessionUser"), u"ログイン中: 試験 管理者（管理者）"_s);
        ledger->findChild<QAction *>(item)->trigger();
        settle();
    };
    fromLedger(u"mnuFileSwitchUser"_s);
    EXPECT_EQ(labelText(Forms::find<frmLogin>(), "lblPrevious"), u"試験 管理者（管理者） からユーザーを切り替えます。"_s);
    typeLogin(kTesterId, kTesterPassword);
    fromLedger(u"mnuFileLogOff"_s);
    typeLogin(kTesterId, kTesterPassword);
    fromLedger(u"mnuFileClose"_s);
    app::endSessionAtExit();
    EXPECT_EQ(events().filter(u"ログオフ"_s).size(), 3);
}

// The reason shows in the window; the trail keeps the ID only where it names
// an account, never a password typed into the ID's box.
TEST_F(Login, RefusalsAreShownAndRecordedWithoutAPassword)
{
    press(Forms::find<frmSelector>(), "cmdLogOff");
    frmLogin *login = Forms::find<frmLogin>();
    typeLogin(kTesterId, u"Wrong-Pass-2026"_s);
    EXPECT_EQ(labelText(login, "lblMessage"), u"ログインIDまたはパスワードが違います。"_s);
    EXPECT_TRUE(edit(login, "txtPassword")->text().isEmpty());
    typeLogin(kTesterPassword, kTesterPassword);
    EXPECT_EQ(labelText(login, "lblMessage"), u"ログインIDまたはパスワードが違います。"_s);
    const QStringList written = events().mid(2);
    ASSERT_EQ(written.size(), 2);
    EXPECT_TRUE(written[0].startsWith(u"ログイン失敗 os:"_s)) << written[0].toStdString();
    EXPECT_TRUE(written[0].contains(u"ログインID tester"_s));
    EXPECT_FALSE(written.join(u' ').contains(kTesterPassword));
    EXPECT_FALSE(written.join(u' ').contains(u"Wrong-Pass"_s));
    EXPECT_EQ(Forms::find<frmSelector>(), nullptr);
}

// An initial password is changed before the start menu, the rules' reason
// showing as it is typed; then the second factor asks for a code.
TEST_F(Login, AnInitialPasswordIsChangedFirstAndASecondFactorAsksForItsCode)
{
    accounts::Account nurse = addNurse(true);
    press(Forms::find<frmSelector>(), "cmdLogOff");
    // The change window is modal over the login: filled in once it shows.
    QString shownProblem;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *change = Forms::find<frmChangePassword>();
        if (!change || !change->isVisible())
            return;
        poll.stop();
        edit(change, "txtCurrent")->setText(kNursePassword);
        QTest::keyClicks(edit(change, "txtNew"), u"kango"_s);
        shownProblem = labelText(change, "lblProblem");
        edit(change, "txtNew")->setText(u"Kango-Mine-2026"_s);
        edit(change, "txtAgain")->setText(u"Kango-Mine-2026"_s);
        change->change();
    });
    poll.start();
    typeLogin(u"kango"_s, kNursePassword);
    EXPECT_FALSE(shownProblem.isEmpty());
    ASSERT_NE(Forms::find<frmSelector>(), nullptr);

    jet::Connection connection;
    connection.open(db::plainConnectionString(databasePath()));
    accounts::PasswordHashes hashes(accounts::HashCost::least());
    accounts::StaffAccounts staff(connection, hashes);
    nurse = staff.read(nurse.id);
    EXPECT_FALSE(nurse.mustChangePassword);
    EXPECT_TRUE(events().contains(u"パスワード変更 kango kango（看護 花子）"_s)) << events().join(u" / ").toStdString();
    const accounts::CodeEnrolment enrolment = staff.beginCodeEnrolment(nurse);
    staff.confirmCodeEnrolment(nurse, enrolment, accounts::oneTimeCode(enrolment.secret, kMorning));

    press(Forms::find<frmSelector>(), "cmdLogOff");
    frmLogin *login = Forms::find<frmLogin>();
    typeLogin(u"kango"_s, u"Kango-Mine-2026"_s);
    EXPECT_TRUE(edit(login, "txtCode")->isVisible());
    EXPECT_EQ(labelText(login, "lblMessage"), u"認証アプリに表示されている6桁のコードを入力してください。"_s);
    jet::Clock::setFixed(kMorning.addSecs(90));
    edit(login, "txtCode")->setText(accounts::oneTimeCode(enrolment.secret, kMorning.addSecs(600)));
    login->logIn();
    EXPECT_EQ(labelText(login, "lblMessage"), u"コードが違います。認証アプリに表示されている最新のコードを入力してください。"_s);
    edit(login, "txtCode")->setText(accounts::oneTimeCode(enrolment.secret, kMorning.addSecs(90)));
    login->logIn();
    settle();
    EXPECT_NE(Forms::find<frmSelector>(), nullptr);
    EXPECT_EQ(db::session().account, u"kango"_s);
}

// Idle, every window is covered and the edit waits; the own password opens
// the lock, an administrator's ends the session without writing the edit.
TEST_F(Login, TheIdleLockKeepsTheEditAndAnAdministratorEndsTheSessionUnsaved)
{
    addNurse(false);
    press(Forms::find<frmSelector>(), "cmdLogOff");
    typeLogin(u"kango"_s, kNursePassword);
    frmFindPt *record = recordWithAnEdit();
    ASSERT_NE(record, nullptr);
    app::SessionWatch *watch = app::sessionWatch();
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(labelText(record, "lblSessionUser"), u"ログイン中: 看護 花子（看護師）"_s);

    jet::Clock::setFixed(kMorning.addSecs(9 * 60));
    watch->check();
    EXPECT_FALSE(watch->isLocked());
    jet::Clock::setFixed(kMorning.addSecs(10 * 60));
    watch->check();
    ASSERT_TRUE(watch->isLocked());
    frmLock *lock = Forms::find<frmLock>();
    ASSERT_NE(lock, nullptr);
    const QWidget *cover = record->findChild<QWidget *>(u"sessionCover"_s);
    ASSERT_NE(cover, nullptr);
    EXPECT_TRUE(cover->isVisible());
    EXPECT_EQ(cover->geometry(), record->rect());
    EXPECT_EQ(record->windowTitle(), u"ネモリア（ロック中）"_s);

    edit(lock, "txtPassword")->setText(u"Kango-Wrong-2026"_s);
    press(lock, "cmdUnlock");
    EXPECT_TRUE(watch->isLocked());
    edit(lock, "txtPassword")->setText(kNursePassword);
    press(lock, "cmdUnlock");
    EXPECT_FALSE(watch->isLocked());
    EXPECT_EQ(record->findChild<QWidget *>(u"sessionCover"_s), nullptr);
    EXPECT_EQ(record->findChild<QPlainTextEdit *>(u"Text25"_s)->toPlainText(), u"異常なし"_s);

    watch->lock();
    lock = Forms::find<frmLock>();
    edit(lock, "txtLoginId")->setText(kTesterId);
    edit(lock, "txtPassword")->setText(kTesterPassword);
    press(lock, "cmdForceLogOff");
    EXPECT_EQ(Forms::find<frmFindPt>(), nullptr);
    ASSERT_NE(Forms::find<frmLogin>(), nullptr);
    EXPECT_EQ(Forms::loaded().size(), 1);
    EXPECT_TRUE(storedFinding().isEmpty());
    QStringList actions;
    for (const QString &event : events()) {
        if (event.contains(u"ロック"_s) || event.startsWith(u"ログイン失敗"_s) || event.startsWith(u"強制"_s))
            actions << event.section(u' ', 0, 1);
    }
    EXPECT_EQ(actions, (QStringList{u"ロック kango"_s, u"ログイン失敗 kango"_s, u"ロック解除 kango"_s, u"ロック kango"_s,
                                    u"強制ログオフ tester"_s}));
}

} // namespace
