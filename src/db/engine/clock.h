#pragma once

#include <QDateTime>

namespace jet {

// The one source of "now" for the SQL function Now() and every "today" of the
// program.  Tests fix it to a known moment.
class Clock
{
public:
    static QDateTime now();
    static QDate today() { return now().date(); }

    static void setFixed(const QDateTime &moment);
    static void setSystem();
    static bool isFixed();
};

} // namespace jet
