#include "db/engine/clock.h"

#include <optional>

namespace jet {

namespace {
std::optional<QDateTime> &fixedMoment()
{
    static std::optional<QDateTime> moment;
    return moment;
}
} // namespace

QDateTime Clock::now()
{
    if (fixedMoment())
        return *fixedMoment();
    return QDateTime::currentDateTime();
}

void Clock::setFixed(const QDateTime &moment)
{
    fixedMoment() = moment;
}

void Clock::setSystem()
{
    fixedMoment().reset();
}

bool Clock::isFixed()
{
    return fixedMoment().has_value();
}

void readTimeZoneOnce()
{
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
}

} // namespace jet
