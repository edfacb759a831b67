#include "app/windows.h"

#include "app/frmAbout.h"
#include "app/frmSelector.h"
#include "app/frmSplash.h"
#include "app/navigation.h"
#include "options/frmOptions.h"

namespace app {

void registerProgramWindows()
{
    registerWindow<frmSplash>(window::Splash);
    registerWindow<frmSelector>(window::Selector);
    registerWindow<frmAbout>(window::About);
    registerWindow<frmOptions>(window::Options);
}

} // namespace app
