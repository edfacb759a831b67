#pragma once

#include "db/engine/error.h"

#include <functional>

namespace testing_support {

// The engine's number of the error the work raises, or 0 when it raises none.
inline qint32 errorOf(const std::function<void()> &work)
{
    try {
        work();
    } catch (const jet::Error &e) {
        return e.number();
    }
    return 0;
}

} // namespace testing_support
