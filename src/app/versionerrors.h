#pragma once

#include "toolkit/errortrap.h"

#include <functional>

namespace app {

// How the windows that show the stored version answer a failure to read it.
// `then` runs after the box, before the program ends.
toolkit::ErrorTable versionLoadAnswers(const std::function<void()> &then = {});

} // namespace app
