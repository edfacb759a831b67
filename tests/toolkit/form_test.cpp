#include "toolkit/errortrap.h"
#include "toolkit/form.h"
#include "toolkit/platform.h"

#include "db/engine/error.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include "support/scripted.h"

#include <gtest/gtest.h>

using namespace toolkit;

namespace {

// What the windows' handlers did, in order.
QStringList journal;

class frmFirst : public Form
{
public:
    bool cancelUnload = false;
    int loads = 0;
    QStringList visibleDuringLoad;

protected:
    void onLoad() override
    {
        ++loads;
        journal << QStringLiteral("load first");
        if (isVisible())
            visibleDuringLoad << QStringLiteral("first");
    }
    void onUnload(bool &cancel) override
    {
        journal << QStringLiteral("unload first");
        cancel = cancelUnload;
    }
};

class frmSecond : public Form
{
public:
    std::function<void()> clickHandler;
    QPushButton *Command1 = nullptr;

    frmSecond()
    {
        Command1 = new QPushButton(this);
        setCentralWidget(Command1);
        connect(Command1, &QPushButton::clicked, this, [this] { trap(clickHandler); });
    }

protected:
    void onLoad() override { journal << QStringLiteral("load second"); }
    void onUnload(bool &) override { journal << QStringLiteral("unload second"); }
};

class frmThird : public Form
{
protected:
    void onUnload(bool &) override { journal << QStringLiteral("unload third"); }
};

class FormTest : public ::testing::Test
{
protected:
    void SetUp() override { journal.clear(); }
    // Lets the posted end-of-program check and deferred deletions run.
    static void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // Runs the action from inside the next event loop, i.e. inside a modal show.
    static void whenModal(std::function<void()> action) { QTimer::singleShot(0, qApp, std::move(action)); }

    testing_support::ScriptedProgram program;
    ScriptedPlatform *services = program.services;
    QList<int> &statuses = program.statuses;
};

TEST_F(FormTest, OneUnseenInstancePerClassLoadedOnce)
{
    EXPECT_EQ(Forms::find<frmFirst>(), nullptr);
    frmFirst &first = Forms::get<frmFirst>();
    EXPECT_TRUE(first.isLoaded());
    EXPECT_FALSE(first.isVisible());
    EXPECT_EQ(&Forms::get<frmFirst>(), &first);
    EXPECT_EQ(Forms::find<frmFirst>(), &first);
    first.showModeless();
    first.load();
    EXPECT_TRUE(first.isVisible());
    EXPECT_EQ(first.loads, 1);
    EXPECT_TRUE(first.visibleDuringLoad.isEmpty());

    frmSecond &second = Forms::get<frmSecond>();
    EXPECT_EQ(Forms::loaded(), (QList<Form *>{&first, &second}));
    EXPECT_EQ(Forms::find<frmThird>(), nullptr);
}

TEST_F(FormTest, UnloadRunsTheHandlerThenDeletesUnlessCancelled)
{
    frmFirst &first = Forms::get<frmFirst>();
    first.showModeless();
    first.cancelUnload = true;
    EXPECT_FALSE(first.unload());
    EXPECT_TRUE(first.isLoaded());
    EXPECT_TRUE(first.isVisible());

    first.cancelUnload = false;
    QPointer<frmFirst> watched(&first);
    EXPECT_TRUE(first.unload());
    EXPECT_FALSE(first.isVisible());
    EXPECT_EQ(Forms::find<frmFirst>(), nullptr);
    settle();
    EXPECT_TRUE(watched.isNull());
    EXPECT_EQ(journal, (QStringList{"load first", "unload first", "unload first"}));

    // A new instance after the unload loads afresh.
    EXPECT_EQ(Forms::get<frmFirst>().loads, 1);
    Forms::unload<frmThird>();
    EXPECT_EQ(journal.size(), 4);
}

TEST_F(FormTest, CloseBoxUnloadsAndCanBeCancelled)
{
    frmFirst &first = Forms::get<frmFirst>();
    first.showModeless();
    first.cancelUnload = true;
    first.close();
    EXPECT_TRUE(first.isVisible());
    EXPECT_TRUE(first.isLoaded());
    first.cancelUnload = false;
    first.close();
    EXPECT_EQ(Forms::find<frmFirst>(), nullptr);
    EXPECT_FALSE(first.isVisible());
}

TEST_F(FormTest, ProgramEndsWhenTheLastWindowUnloadsOnceTheHandlerIsDone)
{
    Forms::get<frmFirst>().showModeless();
    Forms::get<frmSecond>().load(); // unseen windows keep the program running
    Forms::unload<frmFirst>();
    settle();
    EXPECT_TRUE(statuses.isEmpty());

    // A handler that unloads the last window and then shows another.
    Forms::unload<frmSecond>();
    Forms::get<frmThird>().showModeless();
    settle();
    EXPECT_TRUE(statuses.isEmpty());

    Forms::unload<frmThird>();
    settle();
    EXPECT_EQ(statuses, QList<int>{0});
    EXPECT_FALSE(programHasEnded());
}

TEST_F(FormTest, ModalShowWaitsUntilHiddenOrUnloaded)
{
    frmSecond &second = Forms::get<frmSecond>();
    bool shownModal = false;
    whenModal([&] {
        shownModal = second.isVisible() && second.windowModality() == Qt::ApplicationModal && second.isShownModal();
        journal << QStringLiteral("inside");
        second.hide();
    });
    second.showModal();
    journal << QStringLiteral("after");
    EXPECT_TRUE(shownModal);
    EXPECT_FALSE(second.isShownModal());
    EXPECT_TRUE(second.isLoaded());

    // Shown modeless afterwards, it is modal no more.
    second.showModeless();
    EXPECT_EQ(second.windowModality(), Qt::NonModal);
    second.hide();

    whenModal([&] { second.unload(); });
    second.showModal();
    journal << QStringLiteral("after unload");
    EXPECT_EQ(journal, (QStringList{"load second", "inside", "after", "unload second", "after unload"}));
    EXPECT_EQ(Forms::find<frmSecond>(), nullptr);
}

TEST_F(FormTest, WindowsComeIntoViewCentredAndWhollyOnTheScreen)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    frmFirst &first = Forms::get<frmFirst>();
    first.resize(area.width() + 200, 200); // wider than the screen
    first.move(area.right() - 50, area.bottom() - 50);
    first.showModeless();
    EXPECT_TRUE(area.contains(first.frameGeometry())) << "cut to the screen and moved onto it";

    first.resize(300, 200);
    first.hide();
    first.showModeless();
    EXPECT_EQ(first.frameGeometry().center(), area.center());

    first.move(area.topLeft());
    frmSecond &second = Forms::get<frmSecond>();
    second.resize(100, 80);
    QPoint centre;
    whenModal([&] {
        centre = second.frameGeometry().center();
        second.hide();
    });
    second.showModal();
    EXPECT_LE((centre - first.frameGeometry().center()).manhattanLength(), 2) << "over the window it belongs to";
}

TEST_F(FormTest, EndingTheProgramInsideNestedModalWindowsStopsEverythingAtOnce)
{
    QPointer<frmFirst> first(&Forms::get<frmFirst>());
    first->showModeless();
    QPointer<frmSecond> second(&Forms::get<frmSecond>());
    QPointer<frmThird> third;
    bool afterEnd = false;
    bool afterInnerModal = false;
    bool afterOuterModal = false;

    second->clickHandler = [&] {
        third = &Forms::get<frmThird>();
        whenModal([&] {
            trap([&] {
                // A helper with a trap of its own, inside the handler's code.
                trap([] { throw jet::Error(jet::err::GeneralFailure, QStringLiteral("書き込めません")); });
                afterEnd = true;
            });
        });
        third->showModal();
        afterInnerModal = true;
    };
    whenModal([&] { second->Command1->click(); });
    trap([&] {
        second->showModal();
        afterOuterModal = true;
    });

    EXPECT_FALSE(afterEnd);
    EXPECT_FALSE(afterInnerModal);
    EXPECT_FALSE(afterOuterModal);
    EXPECT_TRUE(programHasEnded());
    EXPECT_EQ(statuses, QList<int>{1});
    EXPECT_EQ(journal, (QStringList{"load first", "load second"})); // no unload handler ran
    ASSERT_EQ(services->boxes().size(), 1);
    EXPECT_EQ(services->boxes().first().request.text, fatalErrorBox().text);
    EXPECT_TRUE(Forms::loaded().isEmpty());
    for (QWidget *window : QList<QWidget *>{first, second, third})
        EXPECT_FALSE(window && window->isVisible());
    settle();
    EXPECT_TRUE(first.isNull() && second.isNull() && third.isNull());
    EXPECT_EQ(statuses, QList<int>{1}); // the end is not also a last-window end
}

TEST_F(FormTest, EndProgramUnwindsItsCallerAndEndsOnlyOnce)
{
    Forms::get<frmFirst>();
    bool after = false;
    EXPECT_THROW(
        {
            endProgram(3);
            after = true;
        },
        ProgramEnded);
    EXPECT_THROW(endProgram(4), ProgramEnded);
    EXPECT_FALSE(after);
    EXPECT_EQ(statuses, QList<int>{3});
    EXPECT_TRUE(journal.filter("unload").isEmpty());

    resetProgramState();
    EXPECT_FALSE(programHasEnded());
}

TEST_F(FormTest, DesktopExitReachesAMainLoopThatStartsAfterTheEnd)
{
    setExitHandler({});
    Forms::get<frmFirst>();
    EXPECT_THROW(endProgram(5), ProgramEnded);
    QObject watchdog;
    QTimer::singleShot(5000, &watchdog, [] { QCoreApplication::exit(-99); });
    EXPECT_EQ(QApplication::exec(), 5);
}

} // namespace
