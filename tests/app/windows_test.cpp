#include "appfixture.h"
#include "support/labels.h"

#include "app/product.h"

#include "app/frmAbout.h"
#include "app/frmSelector.h"
#include "toolkit/help.h"
#include "db/location.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace testing_support;
using toolkit::Forms;

namespace {

class StartMenu : public ProgramTest
{
protected:
    frmSelector *showStartMenu()
    {
        app::showWindow(app::window::Selector);
        settle();
        return Forms::find<frmSelector>();
    }

    static void click(QWidget *window, const char *button)
    {
        auto *command = window->findChild<QPushButton *>(QString::fromLatin1(button));
        ASSERT_NE(command, nullptr) << button;
        command->click();
    }
};

TEST_F(StartMenu, ShowsBothVersionsAndTheFourChoices)
{
    makeDatabase(db::Generation::V2112);
    frmSelector *selector = showStartMenu();
    ASSERT_NE(selector, nullptr);
    EXPECT_EQ(selector->windowTitle(), QStringLiteral("ネモリア"));
    EXPECT_EQ(labelText(selector, "Label3"), QStringLiteral("データベース ver"));
    EXPECT_EQ(labelText(selector, "Label4"), QStringLiteral("2.112"));
    EXPECT_EQ(labelText(selector, "Label2"), app::kProgramVersionText);
    const QStringList captions = {QStringLiteral("入院診療支援（入院中の患者）"), QStringLiteral("外来診療支援（外来通院中の患者）"),
                                  QStringLiteral("すべての患者"), QStringLiteral("設定（オプション）")};
    for (int i = 0; i < captions.size(); ++i) {
        auto *command = selector->findChild<QPushButton *>(QStringLiteral("Command%1").arg(i + 1));
        ASSERT_NE(command, nullptr);
        EXPECT_EQ(command->text(), captions.at(i));
    }
}

TEST_F(StartMenu, ShowsTheVersionAsStored)
{
    makeDatabase(db::Generation::V2112);
    {
        jet::Connection connection;
        db::openWindowConnection(connection, folder.path());
        connection.execute(QStringLiteral("UPDATE バージョン SET バージョン = '2.112a'"));
    }
    EXPECT_EQ(labelText(showStartMenu(), "Label4"), QStringLiteral("2.112a"));
}

TEST_F(StartMenu, DatabaseWithoutVersionTableIsTooOld)
{
    makeDatabase(db::Generation::V2086);
    EXPECT_EQ(showStartMenu(), nullptr);
    ASSERT_EQ(platform->boxes().size(), 1);
    EXPECT_EQ(platform->boxes().first().request.text, kTooOld);
    EXPECT_EQ(platform->boxes().first().request.icon, toolkit::MessageIcon::Critical);
    EXPECT_EQ(exitStatus, 1);
}

TEST_F(StartMenu, DatabaseThatCannotBeOpenedEndsWithTheFatalErrorBox)
{
    writeLocationFile(databasePath());
    EXPECT_EQ(showStartMenu(), nullptr);
    EXPECT_EQ(boxTexts(), QStringList{kFatalText});
    EXPECT_EQ(exitStatus, 1);
}

TEST_F(StartMenu, LedgerButtonsOpenNothingWhileTheLedgersAreNotRegistered)
{
    makeDatabase(db::Generation::V2112);
    for (const QString &ledger : app::ledgerWindows())
        app::unregisterWindow(ledger);
    frmSelector *selector = showStartMenu();
    for (const char *button : {"Command1", "Command2", "Command3"})
        click(selector, button);
    settle();
    EXPECT_EQ(Forms::find<frmSelector>(), selector);
    EXPECT_TRUE(platform->boxes().isEmpty());
    EXPECT_FALSE(exitStatus.has_value());
}

// The ledger loads while the start menu is still there, so that a ledger that
// cannot load leaves the user in the menu; once it has, the menu goes.
TEST_F(StartMenu, LedgerButtonLeavesTheStartMenuOnceTheLedgerHasLoaded)
{
    const QList<std::pair<const char *, QString>> choices = {{"Command1", app::window::InpatientLedger},
                                                             {"Command2", app::window::OutpatientLedger},
                                                             {"Command3", app::window::AllPatientLedger}};
    makeDatabase(db::Generation::V2112);
    for (const auto &[button, ledger] : choices) {
        SCOPED_TRACE(button);
        bool startMenuThere = false;
        QString opened;
        for (const auto &[unused, name] : choices) {
            registerLazyStandIn<StandInLedger>(name, [&, name = name](StandInLedger &window) {
                window.loaded = [&, name] {
                    opened = name;
                    startMenuThere = Forms::find<frmSelector>() != nullptr;
                };
            });
        }
        // Return on the focused button, as a clerk without a mouse chooses.
        auto *focused = showStartMenu()->findChild<QPushButton *>(QString::fromLatin1(button));
        focused->setFocus();
        QTest::keyClick(focused, Qt::Key_Return);
        settle();
        EXPECT_EQ(opened, ledger);
        EXPECT_TRUE(startMenuThere);
        EXPECT_EQ(Forms::find<frmSelector>(), nullptr);
        ASSERT_NE(Forms::find<StandInLedger>(), nullptr);
        EXPECT_TRUE(Forms::find<StandInLedger>()->isVisible());
        EXPECT_FALSE(exitStatus.has_value());

        // Closing the ledger ends the program; the start menu does not return.
        Forms::find<StandInLedger>()->close();
        settle();
        EXPECT_EQ(exitStatus, 0);
        EXPECT_TRUE(Forms::loaded().isEmpty());
        exitStatus.reset();
    }
}

TEST_F(StartMenu, OptionsOpenModalAboveTheStartMenu)
{
    makeDatabase(db::Generation::V2112);
    bool modal = false;
    bool startMenuThere = false;
    registerLazyStandIn<StandInOptions>(app::window::Options, [&](StandInOptions &window) {
        window.loaded = [&, w = &window] {
            QTimer::singleShot(0, w, [&, w] {
                modal = w->isShownModal() && w->windowModality() == Qt::ApplicationModal;
                startMenuThere = Forms::find<frmSelector>() != nullptr;
                w->unload();
            });
        };
    });
    frmSelector *selector = showStartMenu();
    click(selector, "Command4");
    settle();
    EXPECT_TRUE(modal);
    EXPECT_TRUE(startMenuThere);
    EXPECT_EQ(Forms::find<frmSelector>(), selector);
    EXPECT_FALSE(exitStatus.has_value());
}

TEST_F(StartMenu, ClosingTheStartMenuEndsTheProgram)
{
    makeDatabase(db::Generation::V2112);
    showStartMenu()->close();
    settle();
    EXPECT_EQ(exitStatus, 0);
}

class AboutBox : public ProgramTest
{
protected:
    frmAbout *showAbout()
    {
        auto &about = Forms::get<frmAbout>();
        if (!about.isLoaded())
            return nullptr;
        about.show();
        about.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&about));
        return &about;
    }

    // A ledger under the box, recording its unload.
    bool *ledgerUnloaded()
    {
        registerLazyStandIn<StandInLedger>(app::window::InpatientLedger, [this](StandInLedger &window) {
            window.unloaded = [this] { unloadedLedger = true; };
        });
        app::showWindow(app::window::InpatientLedger);
        return &unloadedLedger;
    }

    bool unloadedLedger = false;
};

TEST_F(AboutBox, ShowsTheSameVersionsAsTheStartMenu)
{
    makeDatabase(db::Generation::V2112);
    frmAbout *about = showAbout();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowTitle(), QStringLiteral("バージョン情報"));
    EXPECT_EQ(labelText(about, "lblVersion"), app::kProgramVersionText);
    EXPECT_EQ(labelText(about, "Label2"), QStringLiteral("データベース ver"));
    EXPECT_EQ(labelText(about, "Label3"), QStringLiteral("2.112"));
    EXPECT_EQ(labelText(about, "lblDescription"),
              QStringLiteral("患者の入退院状況を管理し、日常業務で使用するレポートを作成します。"));
    EXPECT_EQ(about->findChild<QPushButton *>(QStringLiteral("cmdOK"))->text(), QStringLiteral("OK(&Q)"));
    EXPECT_EQ(testing_support::narrowLabels(about), QStringList());
}

TEST_F(AboutBox, EnterEscapeAndOkCloseIt)
{
    makeDatabase(db::Generation::V2112);
    registerLazyStandIn<StandInLedger>(app::window::InpatientLedger, [](StandInLedger &) {});
    app::showWindow(app::window::InpatientLedger);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_unknown}) {
        SCOPED_TRACE(key);
        frmAbout *about = showAbout();
        ASSERT_NE(about, nullptr);
        if (key == Qt::Key_unknown)
            about->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
        else
            QTest::keyClick(about, key);
        EXPECT_EQ(Forms::find<frmAbout>(), nullptr);
        settle();
    }
    EXPECT_NE(Forms::find<StandInLedger>(), nullptr);
    EXPECT_FALSE(exitStatus.has_value());
}

TEST_F(AboutBox, ShownModalFromALedgerReturnsToIt)
{
    makeDatabase(db::Generation::V2112);
    ledgerUnloaded();
    QTimer::singleShot(0, [] {
        if (frmAbout *about = Forms::find<frmAbout>())
            about->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
    });
    app::showModal(app::window::About);
    EXPECT_EQ(Forms::find<frmAbout>(), nullptr);
    EXPECT_FALSE(unloadedLedger);
    EXPECT_FALSE(exitStatus.has_value());
}

TEST_F(AboutBox, LoadErrorsUnloadTheLedgersAndEndTheProgram)
{
    struct Case {
        const char *name;
        std::optional<db::Generation> generation;
        QString text;
    };
    const QList<Case> cases = {{"database too old", db::Generation::V2086, kTooOld},
                               {"database missing", std::nullopt, kFatalText}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.generation)
            makeDatabase(*c.generation);
        else
            writeLocationFile(databasePath());
        bool *unloaded = ledgerUnloaded();
        EXPECT_EQ(showAbout(), nullptr);
        EXPECT_EQ(boxTexts(), QStringList{c.text});
        EXPECT_TRUE(*unloaded) << "the ledger's unload closes its recordsets and connection";
        EXPECT_EQ(exitStatus, 1);
        EXPECT_TRUE(Forms::loaded().isEmpty());
        TearDown();
        unloadedLedger = false;
        QFile::remove(databasePath());
    }
}

class Help : public ProgramTest
{
};

TEST_F(Help, OpensTheHelpFileWhenItIsThereAndTheManualOtherwise)
{
    const QDir programFolder(folder.path());
    toolkit::openHelpIndex();
    QFile helpFile(programFolder.filePath(QStringLiteral("Index.chm")));
    ASSERT_TRUE(helpFile.open(QIODevice::WriteOnly));
    helpFile.close();
    toolkit::openHelpIndex();
    EXPECT_EQ(platform->openedDocuments(),
              (QStringList{programFolder.filePath(QStringLiteral("manual/index.html")), helpFile.fileName()}));
    EXPECT_TRUE(platform->boxes().isEmpty());
}

TEST_F(Help, NothingToOpenItIsReportedAndTheProgramGoesOn)
{
    platform->setOpenDocumentResult(false);
    toolkit::openHelpIndex();
    settle();
    ASSERT_EQ(platform->boxes().size(), 1);
    EXPECT_TRUE(platform->boxes().first().request.text.contains(QStringLiteral("manual")));
    EXPECT_EQ(platform->boxes().first().request.icon, toolkit::MessageIcon::Exclamation);
    EXPECT_FALSE(toolkit::programHasEnded());
    EXPECT_FALSE(exitStatus.has_value());
}

} // namespace
