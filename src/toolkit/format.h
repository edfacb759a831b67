#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>

namespace toolkit {

// The short date form of a Japanese desktop.
QString shortDateFormat();

// Formats a date with the tokens of the platform's date formatting, letters
// in either case: ggg/gg/g era name, initial and letter; ee/e year in the era
// with and without a leading zero; yyyy/yy Western year, y day of the year;
// mm/m month, dd/d day.  A run of token letters of another length, "\x" and
// "..." are copied literally, as is every other character.  Before 明治 the
// era name is empty and the era year is the Western year.  An empty format is
// the short date form.  An invalid date gives the empty text.
QString formatDate(const QDate &date, const QString &format);
QString formatDate(const QDateTime &moment, const QString &format);

// Formats a bound value for display with the platform's Format semantics.
// Dates take the date tokens above.  Numbers, and texts that read as a
// decimal number, take a number format: up to four sections separated by
// ";" (positive; negative; zero; Null), an empty or missing section falling
// back to the first; placeholders 0 and #, one decimal point, rounding half
// away from zero; "\x" and "..." literal; every other character, letters
// included, copied unchanged.  Any other text is returned unchanged.  Null
// (an invalid variant) gives the fourth section's text, or the empty text.
QString formatValue(const QVariant &value, const QString &format);

// The value a bound date field writes back for its text: Null for an empty or
// blank text, the date at midnight for year/month/day with a four-digit year.
// Throws jet::Error(jet::err::UpdateCancelled) for any other text.
QVariant dateFromText(const QString &text);

} // namespace toolkit
