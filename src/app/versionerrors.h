#pragma once

#include "toolkit/errortrap.h"

#include <functional>

namespace app {

// How the windows that show the stored version answer a failure to read it.
// `then` runs after the box, before the program ends.
toolkit::ErrorTable versionLoadAnswers(const std::function<void()> &then = {});

// How the program answers a damaged database file, whenever a read or a save
// meets it: the box names the file and the tools that check and restore it.
toolkit::ErrorTable damagedDatabaseAnswers();

} // namespace app
