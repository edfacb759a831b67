#pragma once

#include "toolkit/form.h"
#include "support/scriptedplatform.h"
#include "toolkit/platform.h"

#include <QCoreApplication>
#include <QEvent>
#include <QList>
#include <QString>
#include <memory>
#include <ostream>

// Failures show Japanese text as text rather than as code units.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace testing_support {

// For the life of a test: the platform services scripted, the program's ends
// recorded instead of ending the test program, and everything undone afterwards.
class ScriptedProgram
{
public:
    ScriptedProgram()
    {
        toolkit::resetProgramState();
        auto scripted = std::make_unique<toolkit::ScriptedPlatform>();
        services = scripted.get();
        toolkit::setPlatform(std::move(scripted));
        toolkit::setExitHandler([this](int status) { statuses << status; });
    }
    ~ScriptedProgram()
    {
        toolkit::resetProgramState();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        toolkit::setExitHandler({});
        toolkit::setPlatform(nullptr);
    }
    ScriptedProgram(const ScriptedProgram &) = delete;
    ScriptedProgram &operator=(const ScriptedProgram &) = delete;

    toolkit::ScriptedPlatform *services = nullptr;
    QList<int> statuses;
};

} // namespace testing_support
