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
    // Counts the changes of setFixed() and setSystem(), so that a server
    // session tells its server of a change once, and only then.
    static quint64 generation();
};

// Names the system's zone file in TZ where TZ is unset: without it the C
// library looks at /etc/localtime again for every local time it converts,
// and the engine converts one for every date it reads.  For a program's
// start, before any thread runs.
void readTimeZoneOnce();

} // namespace jet
