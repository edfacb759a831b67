#pragma once

#include "app/frmFirstAdmin.h"
#include "app/frmLogin.h"
#include "app/login.h"
#include "app/navigation.h"
#include "app/windows.h"
#include "db/schema.h"
#include "toolkit/form.h"
#include "support/scriptedplatform.h"
#include "toolkit/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace testing_support {

// A window standing in for one that is built elsewhere (a ledger, an upgrade
// window), recording what the program did with it.
class StandInWindow : public toolkit::Form
{
public:
    std::function<void()> loaded;
    std::function<void()> unloaded;

protected:
    void onLoad() override
    {
        if (loaded)
            loaded();
    }
    void onUnload(bool &) override
    {
        if (unloaded)
            unloaded();
    }
};

// Distinct classes, since the registry keeps one window of each class.
class StandInLedger : public StandInWindow {};
class StandInUpgrade : public StandInWindow {};
class StandInOptions : public StandInWindow {};

// A program folder in a temporary folder, with the scripted platform
// services pointing at it and the program's end recorded instead of exiting.
class ProgramTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto services = std::make_unique<toolkit::ScriptedPlatform>();
        platform = services.get();
        services->setProgramFolder(folder.path());
        services->setHomeFolder(folder.path());
        toolkit::setPlatform(std::move(services));
        toolkit::resetProgramState();
        toolkit::setExitHandler([this](int status) { exitStatus = status; });
        app::registerProgramWindows();
    }

    void TearDown() override
    {
        settle();
        toolkit::resetProgramState();
        app::endSession();
        settle();
        toolkit::setExitHandler({});
        for (const QString &name : standIns)
            app::unregisterWindow(name);
    }

    // Lets posted work run: the end-of-program check, deferred deletes.
    static void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    static bool waitFor(const std::function<bool()> &condition, int timeoutMs = 3000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            QTest::qWait(20);
        }
        return true;
    }

    // Past the login as the fixture's own account: registered as the first
    // administrator when the program asks for one, logged in otherwise.
    void passLogin()
    {
        settle();
        const auto type = [](QWidget *window, const char *field, const QString &text) {
            window->findChild<QLineEdit *>(QString::fromLatin1(field))->setText(text);
        };
        if (auto *first = toolkit::Forms::find<frmFirstAdmin>()) {
            type(first, "txtLoginId", kTesterId);
            type(first, "txtDisplayName", QStringLiteral("試験 管理者"));
            type(first, "txtPassword", kTesterPassword);
            type(first, "txtPassword2", kTesterPassword);
            first->registerAdministrator();
        } else if (auto *login = toolkit::Forms::find<frmLogin>()) {
            type(login, "txtLoginId", kTesterId);
            type(login, "txtPassword", kTesterPassword);
            login->logIn();
        }
        settle();
    }

    static inline const QString kTesterId = QStringLiteral("tester");
    static inline const QString kTesterPassword = QStringLiteral("Tester-Pass-2026");

    QString databasePath() const { return QDir(folder.path()).filePath(QStringLiteral("norva2000.mdb")); }

    void writeLocationFile(const QString &text)
    {
        QFile file(QDir(folder.path()).filePath(QStringLiteral("norva.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }

    void makeDatabase(db::Generation generation)
    {
        db::createDatabase(databasePath(), generation);
        writeLocationFile(databasePath() + QLatin1Char('\n'));
    }

    // The stand-in is registered but not loaded until the program opens it.
    template <class T>
    void registerLazyStandIn(const QString &name, const std::function<void(T &)> &prepare)
    {
        app::registerWindow(name, app::WindowEntry{
                                      [] { return static_cast<toolkit::Form *>(toolkit::Forms::find<T>()); },
                                      [prepare]() -> toolkit::Form & {
                                          if (T *loaded = toolkit::Forms::find<T>())
                                              return *loaded;
                                          auto *window = new T;
                                          prepare(*window);
                                          window->load();
                                          return *window;
                                      },
                                      [] { toolkit::Forms::unload<T>(); }});
        standIns.append(name);
    }

    static QString labelText(QWidget *window, const char *name)
    {
        auto *label = window->findChild<QLabel *>(QString::fromLatin1(name));
        return label ? label->text() : QStringLiteral("<no label %1>").arg(QString::fromLatin1(name));
    }

    QStringList boxTexts() const
    {
        QStringList texts;
        for (const auto &box : platform->boxes())
            texts.append(box.request.text);
        return texts;
    }

    QTemporaryDir folder;
    toolkit::ScriptedPlatform *platform = nullptr;
    std::optional<int> exitStatus;
    QStringList standIns;
};

inline const QString kFatalText =
    QStringLiteral("問題が発生したため、ネモリアを終了します。\nご不便をおかけして申し訳ありません。");
inline const QString kAcquisitionFailed = QStringLiteral("データベース norva2000.mdb の取得に失敗しました。");
inline const QString kTooOld = QStringLiteral("データベースが古いため表示できません。コンバートしてください。");

} // namespace testing_support
