#include "appfixture.h"

#include "app/frmLogin.h"
#include "app/frmSelector.h"
#include "app/frmSplash.h"
#include "app/login.h"
#include "db/engine/filekey.h"
#include "db/filekey.h"

#include <QLabel>
#include <QLineEdit>

using namespace testing_support;
using namespace Qt::StringLiterals;
using toolkit::Forms;

namespace {

class ProtectedStart : public ProgramTest
{
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        makeDatabase(db::Generation::V2112);
        start();
    }
    void TearDown() override
    {
        ProgramTest::TearDown();
        jet::dropFileKey();
        accounts::setPasswordObserver(nullptr);
    }

    void start()
    {
        app::showWindow(app::window::Splash);
        Forms::find<frmSplash>()->timerTicked();
        settle();
    }

    static bool warned()
    {
        const frmSelector *menu = Forms::find<frmSelector>();
        return menu && !menu->findChild<QLabel *>(u"lblProtection"_s)->isHidden();
    }
};

TEST_F(ProtectedStart, TheAdministratorIsToldUntilTheFileIsProtectedAndThenTheLoginOpensIt)
{
    passLogin();
    EXPECT_TRUE(warned());

    toolkit::resetProgramState();
    app::endSession();
    settle();
    jet::releasePooledHandles(databasePath());
    db::filekey::protect(databasePath(), kTesterId, kTesterPassword);
    jet::dropFileKey();

    // The login comes before the start-up check, which could not open the file.
    start();
    frmLogin *login = Forms::find<frmLogin>();
    ASSERT_NE(login, nullptr);
    login->findChild<QLineEdit *>(u"txtLoginId"_s)->setText(kTesterId);
    login->findChild<QLineEdit *>(u"txtPassword"_s)->setText(u"Wrong-Pass-2026"_s);
    login->logIn();
    settle();
    // Staff not sealed in yet read there how to get in.
    const QString answer = login->findChild<QLabel *>(u"lblMessage"_s)->text();
    EXPECT_TRUE(answer.startsWith(u"ログインIDまたはパスワードが違います。\n"_s) && answer.contains(u"ユーザーの切り替え"_s))
        << answer.toStdString();
    EXPECT_EQ(Forms::find<frmSelector>(), nullptr);
    EXPECT_FALSE(jet::holdsFileKey());

    passLogin();
    ASSERT_NE(Forms::find<frmSelector>(), nullptr);
    EXPECT_EQ(app::loggedInAccount()->loginId, kTesterId);
    EXPECT_FALSE(warned());
}

} // namespace
