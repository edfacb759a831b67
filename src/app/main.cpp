#include "app/firststart.h"
#include "app/login.h"
#include "app/navigation.h"
#include "app/product.h"
#include "app/screenshots.h"
#include "app/serverpassword.h"
#include "app/versionerrors.h"
#include "db/engine/clock.h"
#include "app/windows.h"
#include "toolkit/binding.h"
#include "toolkit/errortrap.h"
#include "toolkit/form.h"
#include "toolkit/platform.h"

#include <QApplication>

#include <memory>

int main(int argc, char **argv)
{
    jet::readTimeZoneOnce();
    QApplication application(argc, argv);
    QApplication::setApplicationName(app::kProductName);
    QApplication::setApplicationVersion(app::kVersion);
    QApplication::setWindowIcon(QIcon(app::productPicture(64)));
    auto desktop = std::make_unique<toolkit::DesktopPlatform>();
    toolkit::DesktopPlatform &services = *desktop;
    toolkit::setPlatform(std::move(desktop));
    toolkit::useJapaneseFonts(application);
    toolkit::useJapaneseTexts(application);
    // The toolkit's own exit also ends a program whose end comes before the main loop runs.
    toolkit::setExitHandler({});
    app::registerProgramWindows();
    toolkit::setStandingAnswers(app::damagedDatabaseAnswers());
    app::askForServerPasswords();

    // NORVA_SCREENSHOTS=folder: pictures of the windows instead of a session.
    std::unique_ptr<app::ScreenshotTour> tour;
    if (const QString folder = qEnvironmentVariable("NORVA_SCREENSHOTS"); !folder.isEmpty())
        tour = std::make_unique<app::ScreenshotTour>(folder);

    toolkit::untrapped([&services] {
        services.setProgramFolder(
            app::sessionProgramFolder(QCoreApplication::applicationDirPath(), app::userProgramFolder()));
        app::showWindow(app::window::Splash);
    });
    const int status = application.exec();
    app::endSessionAtExit();
    return status;
}
