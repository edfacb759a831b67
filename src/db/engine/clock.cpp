#include "db/engine/clock.h"

#include <atomic>
#include <optional>

namespace jet {

namespace {
std::optional<QDateTime> &fixedMoment()
{
    static std::optional<QDateTime> moment;
    return moment;
}

std::atomic<quint64> changes{0};
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
    ++changes;
}

void Clock::setSystem()
{
    fixedMoment().reset();
    ++changes;
}

quint64 Clock::generation()
{
    return changes.load();
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
