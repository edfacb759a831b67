#pragma once

#include <QDateTime>
#include <optional>

namespace jet {

// Jet keeps a date as a day number: whole days since 1899-12-30, the fraction
// being the time of day.  Before that day the integer part counts backwards
// while the fraction still counts forward from midnight (-1.25 is 1899-12-29 06:00).
double toDayNumber(const QDateTime &moment);
double toDayNumber(const QDate &date);
QDateTime fromDayNumber(double dayNumber);

// The clock's now as a day number.  SQL calls Now() for every row of a list,
// and converting the system time to local time each time is what would cost.
double nowDayNumber();

// Reads the date forms Jet accepts in #...# literals and text conversions:
// year/month/day (1985/1/1, 1985-01-01), month/day/year (US form, as Jet reads
// #4/1/2003#), optionally followed by a time h:mm[:ss].  Returns nothing for an
// impossible or unreadable date.
std::optional<QDateTime> parseJetDate(const QString &text);

} // namespace jet
