#include "db/engine/jetdate.h"

#include "db/engine/clock.h"

#include <QRegularExpression>
#include <cmath>

namespace jet {

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;
} // namespace

double toDayNumber(const QDate &date)
{
    return double(kEpoch.daysTo(date));
}

double toDayNumber(const QDateTime &moment)
{
    const double days = double(kEpoch.daysTo(moment.date()));
    const double fraction = moment.time().msecsSinceStartOfDay() / kMsPerDay;
    // Negative day numbers carry the time of day as a positive offset from midnight.
    return days >= 0 ? days + fraction : days - fraction;
}

QDateTime fromDayNumber(double dayNumber)
{
    const double whole = std::trunc(dayNumber);
    double fraction = std::fabs(dayNumber - whole);
    qint64 ms = qint64(std::llround(fraction * kMsPerDay));
    qint64 days = qint64(whole);
    if (ms >= qint64(kMsPerDay)) {
        ms -= qint64(kMsPerDay);
        days += dayNumber >= 0 ? 1 : -1;
    }
    return QDateTime(kEpoch.addDays(days), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

double nowDayNumber()
{
    if (Clock::isFixed())
        return toDayNumber(Clock::now());
    // The local offset is taken afresh once a second; in between the UTC clock is advanced.
    static qint64 baseUtc = 0;
    static double baseDay = 0;
    const qint64 utc = QDateTime::currentMSecsSinceEpoch();
    if (baseUtc == 0 || utc < baseUtc || utc - baseUtc >= 1000) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(utc);
        baseUtc = utc;
        baseDay = toDayNumber(local);
    }
    return baseDay + double(utc - baseUtc) / kMsPerDay;
}

std::optional<QDateTime> parseJetDate(const QString &input)
{
    static const QRegularExpression ymd(
        QStringLiteral(R"(^\s*(\d{4})\s*[/\-.]\s*(\d{1,2})\s*[/\-.]\s*(\d{1,2})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?)?\s*$)"));
    static const QRegularExpression mdy(
        QStringLiteral(R"(^\s*(\d{1,2})\s*[/\-]\s*(\d{1,2})\s*[/\-]\s*(\d{4})(?:\s+(\d{1,2}):(\d{2})(?::(\d{2}))?)?\s*$)"));

    int year = 0, month = 0, day = 0;
    QRegularExpressionMatch m = ymd.match(input);
    int timeGroup = 4;
    if (m.hasMatch()) {
        year = m.captured(1).toInt();
        month = m.captured(2).toInt();
        day = m.captured(3).toInt();
    } else {
        m = mdy.match(input);
        if (!m.hasMatch())
            return std::nullopt;
        month = m.captured(1).toInt();
        day = m.captured(2).toInt();
        year = m.captured(3).toInt();
    }
    const QDate date(year, month, day);
    if (!date.isValid() || year < 100)
        return std::nullopt;
    QTime time(0, 0);
    if (!m.captured(timeGroup).isEmpty()) {
        time = QTime(m.captured(timeGroup).toInt(), m.captured(timeGroup + 1).toInt(),
                     m.captured(timeGroup + 2).isEmpty() ? 0 : m.captured(timeGroup + 2).toInt());
        if (!time.isValid())
            return std::nullopt;
    }
    return QDateTime(date, time);
}

} // namespace jet
