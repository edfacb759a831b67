// The Jet functions that translated SQL calls, as SQLite user functions.
// They take and give dates as Jet day numbers and text as Jet prints it.

#include "db/engine/clock.h"
#include "db/engine/error.h"
#include "db/engine/jetdate.h"
#include "db/engine/jetsql.h"
#include "db/engine/sqlite/sqlfunctions.h"

#include <sqlite3.h>

#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <optional>

namespace jet::sql {

namespace {

constexpr qint64 kMsPerDay = 86400000;
const QDate kEpoch(1899, 12, 30);

// A function that cannot go on reports through SQLite; the engine turns the
// failed step into its own error.
struct Failure
{
    const char *message;
};

[[noreturn]] void fail(const char *message)
{
    throw Failure{message};
}

bool isNull(sqlite3_value *v)
{
    return sqlite3_value_type(v) == SQLITE_NULL;
}

QString textOf(sqlite3_value *v)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(v)), sqlite3_value_bytes(v));
}

void resultText(sqlite3_context *ctx, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

// Jet prints whole numbers without a fraction and others with up to 15
// significant digits.
QString formatNumber(double value)
{
    if (value == std::trunc(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    QString text = QString::number(value, 'g', 15);
    text.replace(QLatin1Char('e'), QLatin1Char('E'));
    return text;
}

QString jetText(sqlite3_value *v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return QString::number(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return formatNumber(sqlite3_value_double(v));
    default:
        return textOf(v);
    }
}

std::optional<double> numberFromText(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || text.trimmed().isEmpty())
        return std::nullopt;
    return value;
}

// A number argument; text that reads as a number counts, other text is a type mismatch.
double numberOf(sqlite3_value *v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return double(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return sqlite3_value_double(v);
    default:
        if (const std::optional<double> value = numberFromText(textOf(v)))
            return *value;
        fail("Data type mismatch");
    }
}

// A date argument as a day number; text is read as Jet reads dates.
double dayNumberOf(sqlite3_value *v)
{
    if (sqlite3_value_type(v) == SQLITE_TEXT || sqlite3_value_type(v) == SQLITE_BLOB) {
        const QString text = textOf(v);
        if (const std::optional<QDateTime> moment = parseJetDate(text))
            return toDayNumber(*moment);
        if (const std::optional<double> value = numberFromText(text))
            return *value;
        fail("Data type mismatch");
    }
    return numberOf(v);
}

qint64 integerOf(sqlite3_value *v)
{
    const double value = numberOf(v);
    if (!std::isfinite(value) || std::fabs(value) > 9e15)
        fail("Overflow");
    return qint64(std::llround(value));
}

// Halves go to the even neighbour, as Jet's Round and its integer conversions do.
double roundHalfEven(double value)
{
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff > 0.5)
        return floor + 1;
    if (diff < 0.5)
        return floor;
    return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

// A point in time on one linear scale: Jet's negative day numbers count the
// time of day forwards from midnight, so -1.25 lies after -1.
struct Moment
{
    qint64 day;
    qint64 ms;
    qint64 linearMs() const { return day * kMsPerDay + ms; }
    QDate date() const { return kEpoch.addDays(day); }
};

Moment momentOf(double dayNumber)
{
    if (!std::isfinite(dayNumber) || std::fabs(dayNumber) > 3e6)
        fail("Invalid date");
    Moment m;
    m.day = qint64(std::trunc(dayNumber));
    m.ms = qint64(std::llround(std::fabs(dayNumber - double(m.day)) * double(kMsPerDay)));
    if (m.ms >= kMsPerDay) {
        m.ms -= kMsPerDay;
        m.day += dayNumber >= 0 ? 1 : -1;
    }
    return m;
}

qint64 floorDiv(qint64 a, qint64 b)
{
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

enum class Interval { Year, Quarter, Month, Day, Weekday, Week, Hour, Minute, Second };

Interval intervalOf(sqlite3_value *v)
{
    const QString text = jetText(v).toLower();
    if (text == QLatin1String("yyyy"))
        return Interval::Year;
    if (text == QLatin1String("q"))
        return Interval::Quarter;
    if (text == QLatin1String("m"))
        return Interval::Month;
    if (text == QLatin1String("d") || text == QLatin1String("y"))
        return Interval::Day;
    if (text == QLatin1String("w"))
        return Interval::Weekday;
    if (text == QLatin1String("ww"))
        return Interval::Week;
    if (text == QLatin1String("h"))
        return Interval::Hour;
    if (text == QLatin1String("n"))
        return Interval::Minute;
    if (text == QLatin1String("s"))
        return Interval::Second;
    fail("Invalid procedure call or argument");
}

qint64 dateDiff(Interval interval, const Moment &a, const Moment &b)
{
    switch (interval) {
    case Interval::Year:
        return b.date().year() - a.date().year();
    case Interval::Quarter:
        return (b.date().year() * 4 + (b.date().month() - 1) / 3) - (a.date().year() * 4 + (a.date().month() - 1) / 3);
    case Interval::Month:
        return (b.date().year() * 12 + b.date().month()) - (a.date().year() * 12 + a.date().month());
    case Interval::Day:
        return b.day - a.day;
    case Interval::Weekday:
        return (b.day - a.day) / 7;
    case Interval::Week:
        // Day 0 is a Saturday; weeks begin on Sunday.
        return floorDiv(b.day + 6, 7) - floorDiv(a.day + 6, 7);
    case Interval::Hour:
        return floorDiv(b.linearMs(), 3600000) - floorDiv(a.linearMs(), 3600000);
    case Interval::Minute:
        return floorDiv(b.linearMs(), 60000) - floorDiv(a.linearMs(), 60000);
    case Interval::Second:
        return floorDiv(b.linearMs(), 1000) - floorDiv(a.linearMs(), 1000);
    }
    return 0;
}

double dateAdd(Interval interval, qint64 count, double dayNumber)
{
    const QDateTime moment = fromDayNumber(dayNumber);
    QDateTime result;
    switch (interval) {
    case Interval::Year:
        result = moment.addYears(int(count));
        break;
    case Interval::Quarter:
        result = moment.addMonths(int(count * 3));
        break;
    case Interval::Month:
        result = moment.addMonths(int(count));
        break;
    case Interval::Day:
    case Interval::Weekday:
        result = moment.addDays(count);
        break;
    case Interval::Week:
        result = moment.addDays(count * 7);
        break;
    case Interval::Hour:
        result = moment.addMSecs(count * 3600000);
        break;
    case Interval::Minute:
        result = moment.addMSecs(count * 60000);
        break;
    case Interval::Second:
        result = moment.addMSecs(count * 1000);
        break;
    }
    // Jet's dates run from the year 100 to 9999.
    if (!result.isValid() || result.date().year() < 100 || result.date().year() > 9999)
        fail("Invalid date");
    return toDayNumber(result);
}

// Jet's Like: * any run, ? one character, # one digit, [list], [!list] and
// ranges [a-z]; letters match regardless of case.
bool likeMatch(const QList<uint> &text, qsizetype t, const QList<uint> &pattern, qsizetype p)
{
    while (p < pattern.size()) {
        const uint pc = pattern[p];
        if (pc == '*') {
            while (p < pattern.size() && pattern[p] == '*')
                ++p;
            if (p == pattern.size())
                return true;
            for (qsizetype k = t; k <= text.size(); ++k) {
                if (likeMatch(text, k, pattern, p))
                    return true;
            }
            return false;
        }
        if (t >= text.size())
            return false;
        const uint tc = text[t];
        if (pc == '?') {
            ++p;
        } else if (pc == '#') {
            if (tc < '0' || tc > '9')
                return false;
            ++p;
        } else if (pc == '[') {
            qsizetype q = p + 1;
            bool negate = false;
            if (q < pattern.size() && pattern[q] == '!') {
                negate = true;
                ++q;
            }
            bool matched = false;
            bool closed = false;
            while (q < pattern.size()) {
                if (pattern[q] == ']') {
                    closed = true;
                    break;
                }
                const uint low = pattern[q];
                uint high = low;
                if (q + 2 < pattern.size() && pattern[q + 1] == '-' && pattern[q + 2] != ']') {
                    high = pattern[q + 2];
                    q += 2;
                }
                if (tc >= low && tc <= high)
                    matched = true;
                ++q;
            }
            if (!closed)
                fail("Invalid pattern string");
            if (matched == negate)
                return false;
            p = q + 1;
        } else {
            if (pc != tc)
                return false;
            ++p;
        }
        ++t;
    }
    return t == text.size();
}

// Each function runs inside this guard, so that Failure never crosses SQLite's C frames.
template<typename F>
void guarded(sqlite3_context *ctx, F &&body)
{
    try {
        body();
    } catch (const Failure &failure) {
        sqlite3_result_error(ctx, failure.message, -1);
    } catch (const std::exception &e) {
        sqlite3_result_error(ctx, e.what(), -1);
    }
}

bool anyNull(int argc, sqlite3_value **argv)
{
    for (int i = 0; i < argc; ++i) {
        if (isNull(argv[i]))
            return true;
    }
    return false;
}

// --- the functions ---------------------------------------------------------

void fnDateDiff(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (anyNull(argc, argv))
            return sqlite3_result_null(ctx);
        const Interval interval = intervalOf(argv[0]);
        sqlite3_result_int64(ctx, dateDiff(interval, momentOf(dayNumberOf(argv[1])), momentOf(dayNumberOf(argv[2]))));
    });
}

void fnDateAdd(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (anyNull(argc, argv))
            return sqlite3_result_null(ctx);
        const Interval interval = intervalOf(argv[0]);
        const double day = dayNumberOf(argv[2]);
        momentOf(day);
        const double count = std::trunc(numberOf(argv[1]));
        // Beyond this no count lands on a date Jet can hold, and the products below stay in range.
        if (std::fabs(count) > 1e8)
            fail("Invalid procedure call or argument");
        sqlite3_result_double(ctx, dateAdd(interval, qint64(count), day));
    });
}

void fnNow(sqlite3_context *ctx, int, sqlite3_value **)
{
    sqlite3_result_double(ctx, nowDayNumber());
}

void fnDate(sqlite3_context *ctx, int, sqlite3_value **)
{
    sqlite3_result_double(ctx, toDayNumber(Clock::today()));
}

template<int (QDate::*part)() const>
void fnDatePart(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            return sqlite3_result_null(ctx);
        sqlite3_result_int(ctx, (momentOf(dayNumberOf(argv[0])).date().*part)());
    });
}

template<qint64 unitMs, qint64 modulus>
void fnTimePart(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            return sqlite3_result_null(ctx);
        sqlite3_result_int64(ctx, (momentOf(dayNumberOf(argv[0])).ms / unitMs) % modulus);
    });
}

void fnConcat(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        // Null & Null stays Null; with one Null the other operand stands alone.
        if (isNull(argv[0]) && isNull(argv[1]))
            return sqlite3_result_null(ctx);
        const QString left = isNull(argv[0]) ? QString() : jetText(argv[0]);
        const QString right = isNull(argv[1]) ? QString() : jetText(argv[1]);
        resultText(ctx, left + right);
    });
}

void fnMid(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (anyNull(argc, argv))
            return sqlite3_result_null(ctx);
        const qint64 start = integerOf(argv[1]);
        const qint64 length = argc > 2 ? integerOf(argv[2]) : -1;
        if (start < 1 || (argc > 2 && length < 0))
            fail("Invalid procedure call or argument");
        // Codes and other ASCII texts are cut as bytes: the statistics call this
        // three times for each of 100,000 episodes.
        if (sqlite3_value_type(argv[0]) == SQLITE_TEXT) {
            const auto *bytes = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
            const int size = sqlite3_value_bytes(argv[0]);
            if (std::all_of(bytes, bytes + size, [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
                const qint64 from = std::min<qint64>(start - 1, size);
                const qint64 count = length < 0 ? size - from : std::min<qint64>(length, size - from);
                return sqlite3_result_text(ctx, bytes + from, int(count), SQLITE_TRANSIENT);
            }
        }
        const QString text = jetText(argv[0]);
        if (start > text.size())
            return resultText(ctx, QString());
        resultText(ctx, text.mid(start - 1, length < 0 ? -1 : qsizetype(std::min<qint64>(length, text.size()))));
    });
}

template<bool fromRight>
void fnSide(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (anyNull(argc, argv))
            return sqlite3_result_null(ctx);
        const qint64 length = integerOf(argv[1]);
        if (length < 0)
            fail("Invalid procedure call or argument");
        const QString text = jetText(argv[0]);
        const qsizetype n = qsizetype(std::min<qint64>(length, text.size()));
        resultText(ctx, fromRight ? text.right(n) : text.left(n));
    });
}

void fnLen(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            return sqlite3_result_null(ctx);
        sqlite3_result_int64(ctx, jetText(argv[0]).size());
    });
}

bool isTrimmed(QChar c)
{
    // A Japanese system's Trim also removes the full-width blank.
    return c == QLatin1Char(' ') || c == QChar(0x3000);
}

template<bool left, bool right>
void fnTrim(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            return sqlite3_result_null(ctx);
        const QString text = jetText(argv[0]);
        qsizetype begin = 0;
        qsizetype end = text.size();
        while (left && begin < end && isTrimmed(text[begin]))
            ++begin;
        while (right && end > begin && isTrimmed(text[end - 1]))
            --end;
        resultText(ctx, text.mid(begin, end - begin));
    });
}

template<bool upper>
void fnCase(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            return sqlite3_result_null(ctx);
        const QString text = jetText(argv[0]);
        resultText(ctx, upper ? text.toUpper() : text.toLower());
    });
}

void fnRound(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (anyNull(argc, argv))
            return sqlite3_result_null(ctx);
        const qint64 places = argc > 1 ? integerOf(argv[1]) : 0;
        if (places < 0 || places > 15)
            fail("Invalid procedure call or argument");
        if (sqlite3_value_numeric_type(argv[0]) == SQLITE_INTEGER)
            return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
        const double value = numberOf(argv[0]);
        const double scale = std::pow(10.0, double(places));
        // Writing the scaled value with 15 digits drops the binary noise of
        // the multiplication, so 0.125 * 100 stays the tie 12.5.
        const double scaled = QString::number(value * scale, 'g', 15).toDouble();
        sqlite3_result_double(ctx, roundHalfEven(scaled) / scale);
    });
}

template<double (*op)(double)>
void fnWhole(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            return sqlite3_result_null(ctx);
        if (sqlite3_value_numeric_type(argv[0]) == SQLITE_INTEGER)
            return sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
        sqlite3_result_double(ctx, op(numberOf(argv[0])));
    });
}

double floorOf(double v)
{
    return std::floor(v);
}

double truncOf(double v)
{
    return std::trunc(v);
}

void fnVal(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            fail("Invalid use of Null");
        // Val skips blanks anywhere and reads the longest number at the start.
        QString text = jetText(argv[0]);
        text.remove(QRegularExpression(QStringLiteral("[ \\t\\r\\n]")));
        static const QRegularExpression number(QStringLiteral(R"(^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?)"));
        const QRegularExpressionMatch m = number.match(text);
        sqlite3_result_double(ctx, m.hasMatch() ? m.captured(0).toDouble() : 0.0);
    });
}

void fnCStr(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            fail("Invalid use of Null");
        resultText(ctx, jetText(argv[0]));
    });
}

void fnCLng(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            fail("Invalid use of Null");
        const double value = roundHalfEven(numberOf(argv[0]));
        if (value > 2147483647.0 || value < -2147483648.0)
            fail("Overflow");
        sqlite3_result_int64(ctx, qint64(value));
    });
}

void fnCDbl(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            fail("Invalid use of Null");
        sqlite3_result_double(ctx, numberOf(argv[0]));
    });
}

void fnCDate(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]))
            fail("Invalid use of Null");
        const double day = dayNumberOf(argv[0]);
        momentOf(day);
        sqlite3_result_double(ctx, day);
    });
}

void fnLike(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (isNull(argv[0]) || isNull(argv[1]))
            return sqlite3_result_null(ctx);
        const QList<uint> text = jetText(argv[0]).toCaseFolded().toUcs4();
        const QList<uint> pattern = jetText(argv[1]).toCaseFolded().toUcs4();
        sqlite3_result_int(ctx, likeMatch(text, 0, pattern, 0) ? 1 : 0);
    });
}

template<bool remainder>
void fnIntegerDivision(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (anyNull(argc, argv))
            return sqlite3_result_null(ctx);
        // Both operands are rounded to whole numbers first.
        const double a = roundHalfEven(numberOf(argv[0]));
        const double b = roundHalfEven(numberOf(argv[1]));
        if (b == 0)
            fail("Division by zero");
        if (std::fabs(a) > 9e15 || std::fabs(b) > 9e15)
            fail("Overflow");
        const qint64 x = qint64(a);
        const qint64 y = qint64(b);
        sqlite3_result_int64(ctx, remainder ? x % y : x / y);
    });
}

void fnPow(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    guarded(ctx, [&] {
        if (anyNull(argc, argv))
            return sqlite3_result_null(ctx);
        const double result = std::pow(numberOf(argv[0]), numberOf(argv[1]));
        if (!std::isfinite(result))
            fail("Invalid procedure call or argument");
        sqlite3_result_double(ctx, result);
    });
}

using Function = void (*)(sqlite3_context *, int, sqlite3_value **);

struct Registration
{
    const char *name;
    int argc;
    Function function;
    bool deterministic = true;
};

} // namespace

void registerFunctions(sqlite3 *db)
{
    static const Registration registrations[] = {
        {"jet_datediff", 3, fnDateDiff},
        {"jet_dateadd", 3, fnDateAdd},
        {"jet_now", 0, fnNow, false},
        {"jet_date", 0, fnDate, false},
        {"jet_year", 1, fnDatePart<&QDate::year>},
        {"jet_month", 1, fnDatePart<&QDate::month>},
        {"jet_day", 1, fnDatePart<&QDate::day>},
        {"jet_hour", 1, fnTimePart<3600000, 24>},
        {"jet_minute", 1, fnTimePart<60000, 60>},
        {"jet_second", 1, fnTimePart<1000, 60>},
        {"jet_concat", 2, fnConcat},
        {"jet_mid", 2, fnMid},
        {"jet_mid", 3, fnMid},
        {"jet_left", 2, fnSide<false>},
        {"jet_right", 2, fnSide<true>},
        {"jet_len", 1, fnLen},
        {"jet_trim", 1, fnTrim<true, true>},
        {"jet_ltrim", 1, fnTrim<true, false>},
        {"jet_rtrim", 1, fnTrim<false, true>},
        {"jet_ucase", 1, fnCase<true>},
        {"jet_lcase", 1, fnCase<false>},
        {"jet_round", 1, fnRound},
        {"jet_round", 2, fnRound},
        {"jet_int", 1, fnWhole<floorOf>},
        {"jet_fix", 1, fnWhole<truncOf>},
        {"jet_val", 1, fnVal},
        {"jet_cstr", 1, fnCStr},
        {"jet_clng", 1, fnCLng},
        {"jet_cdbl", 1, fnCDbl},
        {"jet_cdate", 1, fnCDate},
        {"jet_like", 2, fnLike},
        {"jet_idiv", 2, fnIntegerDivision<false>},
        {"jet_mod", 2, fnIntegerDivision<true>},
        {"jet_pow", 2, fnPow},
    };
    for (const Registration &r : registrations) {
        const int flags = SQLITE_UTF8 | (r.deterministic ? SQLITE_DETERMINISTIC : 0);
        const int rc = sqlite3_create_function_v2(db, r.name, r.argc, flags, nullptr, r.function,
                                                  nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            throw Error(err::GeneralFailure,
                        QStringLiteral("Cannot register the SQL function %1: %2")
                            .arg(QLatin1String(r.name), QString::fromUtf8(sqlite3_errstr(rc))));
    }
}

} // namespace jet::sql
