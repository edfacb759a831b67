#pragma once

namespace app {

// Registers every window of the program under its name with the navigation
// service, so that windows open each other by name.
void registerProgramWindows();

} // namespace app
