#include "toolkit/format.h"

#include "db/engine/error.h"
#include "toolkit/eras.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

namespace toolkit {

namespace {

QString padded(int number, int width)
{
    return QStringLiteral("%1").arg(number, width, 10, QLatin1Char('0'));
}

// One date token: the letter (lower case) and how often it is repeated.
// Returns nothing for a length the platform does not know, so that the run
// is copied as it stands.
std::optional<QString> dateField(char16_t letter, qsizetype run, const QDate &date, const std::optional<Era> &era)
{
    switch (letter) {
    case u'g':
        if (run > 3)
            return std::nullopt;
        if (!era)
            return QString();
        return run == 3 ? era->name : run == 2 ? era->initial : era->letter;
    case u'e': {
        if (run > 2)
            return std::nullopt;
        const int year = era ? eraYear(*era, date) : date.year();
        return run == 2 ? padded(year, 2) : QString::number(year);
    }
    case u'y':
        if (run == 1)
            return QString::number(date.dayOfYear());
        if (run == 2)
            return padded(date.year() % 100, 2);
        if (run == 4)
            return padded(date.year(), 4);
        return std::nullopt;
    case u'm':
        if (run > 2)
            return std::nullopt;
        return run == 2 ? padded(date.month(), 2) : QString::number(date.month());
    case u'd':
        if (run > 2)
            return std::nullopt;
        return run == 2 ? padded(date.day(), 2) : QString::number(date.day());
    default:
        return std::nullopt;
    }
}

bool isDateLetter(char16_t letter)
{
    return letter == u'g' || letter == u'e' || letter == u'y' || letter == u'm' || letter == u'd';
}

// Reads a literal that starts at `i` ("\x" or "...") into `out`; returns the
// index after it, or -1 when no literal starts there.
qsizetype readLiteral(const QString &format, qsizetype i, QString &out)
{
    const QChar c = format.at(i);
    if (c == u'\\') {
        if (i + 1 < format.size())
            out += format.at(i + 1);
        return i + 2;
    }
    if (c == u'"') {
        qsizetype end = format.indexOf(u'"', i + 1);
        if (end < 0)
            end = format.size();
        out += QStringView(format).mid(i + 1, end - i - 1);
        return end + 1;
    }
    return -1;
}

// The magnitude of a number as decimal digits, so that rounding works on the
// digits the user sees rather than on the binary fraction (12.345 -> 12.35).
struct Decimal
{
    QString integer;  // no leading zeros; empty for a magnitude below 1
    QString fraction; // as many digits as known
    bool negative = false;

    bool isZero() const
    {
        for (const QString *part : {&integer, &fraction}) {
            for (QChar c : *part) {
                if (c != u'0')
                    return false;
            }
        }
        return true;
    }

    void stripLeadingZeros()
    {
        qsizetype n = 0;
        while (n < integer.size() && integer.at(n) == u'0')
            ++n;
        integer.remove(0, n);
    }

    bool roundsAway(qsizetype places) const
    {
        for (qsizetype i = places; i < fraction.size(); ++i) {
            if (fraction.at(i) != u'0')
                return true;
        }
        return false;
    }

    void roundTo(qsizetype places)
    {
        if (fraction.size() <= places) {
            fraction = fraction.leftJustified(places, u'0');
            return;
        }
        const bool up = fraction.at(places) >= u'5';
        fraction.truncate(places);
        if (!up)
            return;
        QString digits = integer + fraction;
        qsizetype i = digits.size() - 1;
        while (i >= 0 && digits.at(i) == u'9') {
            digits[i] = u'0';
            --i;
        }
        if (i < 0)
            digits.prepend(u'1');
        else
            digits[i] = QChar(digits.at(i).unicode() + 1);
        integer = digits.left(digits.size() - places);
        fraction = digits.right(places);
        stripLeadingZeros();
    }
};

Decimal decimalOf(double value)
{
    Decimal d;
    d.negative = std::signbit(value) && value != 0;
    // Fifteen significant digits, as the platform converts a Double to text.
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific, 14);
    const QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    const qsizetype e = text.indexOf(u'e');
    const QString mantissa = text.left(e).remove(u'.');
    const int exponent = text.mid(e + 1).toInt();
    if (exponent >= 0) {
        const QString digits = mantissa.leftJustified(exponent + 1, u'0');
        d.integer = digits.left(exponent + 1);
        d.fraction = digits.mid(exponent + 1);
    } else {
        d.fraction = QString(-exponent - 1, u'0') + mantissa;
    }
    d.stripLeadingZeros();
    return d;
}

Decimal decimalOf(qint64 value)
{
    Decimal d;
    d.negative = value < 0;
    const quint64 magnitude = d.negative ? 0 - quint64(value) : quint64(value);
    d.integer = QString::number(magnitude);
    d.stripLeadingZeros();
    return d;
}

// Texts are formatted as numbers when they read as one: an optional sign,
// digits and one decimal point, blanks around them allowed.
std::optional<Decimal> decimalOfText(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^([+-]?)([0-9]*)(?:\\.([0-9]*))?$"));
    const QRegularExpressionMatch match = number.match(text.trimmed());
    if (!match.hasMatch() || match.capturedLength(2) + match.capturedLength(3) == 0)
        return std::nullopt;
    Decimal d;
    d.negative = match.captured(1) == u"-";
    d.integer = match.captured(2);
    d.fraction = match.captured(3);
    d.stripLeadingZeros();
    return d;
}

std::optional<Decimal> decimalOfValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return decimalOf(qint64(value.toBool() ? -1 : 0));
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return decimalOf(value.toLongLong());
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        if (!std::isfinite(value.toDouble()))
            return std::nullopt;
        return decimalOf(value.toDouble());
    default:
        return std::nullopt;
    }
}

// ";" separates sections unless it is escaped or quoted.
QStringList splitSections(const QString &format)
{
    QStringList sections(1);
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        if (c == u';') {
            sections.append(QString());
            ++i;
        } else if (c == u'\\' || c == u'"') {
            const qsizetype start = i;
            QString ignored;
            i = std::min(readLiteral(format, i, ignored), format.size());
            sections.last() += QStringView(format).mid(start, i - start);
        } else {
            sections.last() += c;
            ++i;
        }
    }
    return sections;
}

struct NumberItem
{
    enum Kind { Zero, Hash, Point, Literal };
    Kind kind;
    QString text;
};

class NumberSection
{
public:
    explicit NumberSection(const QString &format)
    {
        bool afterPoint = false;
        for (qsizetype i = 0; i < format.size();) {
            QString literal;
            const qsizetype next = readLiteral(format, i, literal);
            if (next >= 0) {
                appendLiteral(literal);
                i = next;
                continue;
            }
            const QChar c = format.at(i++);
            if (c == u'0' || c == u'#') {
                m_items.push_back({c == u'0' ? NumberItem::Zero : NumberItem::Hash, {}});
                if (afterPoint)
                    ++m_fractionPlaces;
                else
                    ++m_integerPlaces;
            } else if (c == u'.' && !afterPoint) {
                m_items.push_back({NumberItem::Point, {}});
                afterPoint = true;
            } else {
                appendLiteral(c);
            }
        }
    }

    qsizetype fractionPlaces() const { return m_fractionPlaces; }

    // `number` must already be rounded to fractionPlaces().
    QString render(const Decimal &number) const
    {
        const bool showsNumber = m_integerPlaces + m_fractionPlaces > 0
            || std::any_of(m_items.begin(), m_items.end(),
                           [](const NumberItem &item) { return item.kind == NumberItem::Point; });
        if (!showsNumber)
            return literals();

        const QString &digits = number.integer;
        qsizetype lastFractionShown = -1;
        for (qsizetype i = 0; i < number.fraction.size(); ++i) {
            if (number.fraction.at(i) != u'0')
                lastFractionShown = i;
        }
        qsizetype place = 0;
        for (const NumberItem &item : m_items) {
            if (item.kind == NumberItem::Zero && place >= m_integerPlaces)
                lastFractionShown = std::max(lastFractionShown, place - m_integerPlaces);
            if (item.kind == NumberItem::Zero || item.kind == NumberItem::Hash)
                ++place;
        }

        QString out;
        place = 0;
        bool integerWritten = false;
        for (const NumberItem &item : m_items) {
            switch (item.kind) {
            case NumberItem::Literal:
                out += item.text;
                break;
            case NumberItem::Point:
                // Without integer placeholders the integer digits still show.
                if (m_integerPlaces == 0 && !integerWritten) {
                    out += digits;
                    integerWritten = true;
                }
                out += u'.';
                break;
            case NumberItem::Zero:
            case NumberItem::Hash:
                if (place < m_integerPlaces) {
                    out += integerDigit(digits, place, item.kind == NumberItem::Zero);
                } else {
                    const qsizetype f = place - m_integerPlaces;
                    if (f <= lastFractionShown)
                        out += number.fraction.at(f);
                }
                ++place;
                break;
            }
        }
        return out;
    }

    QString literals() const
    {
        QString out;
        for (const NumberItem &item : m_items) {
            if (item.kind == NumberItem::Literal)
                out += item.text;
        }
        return out;
    }

private:
    void appendLiteral(const QString &text)
    {
        if (!m_items.empty() && m_items.back().kind == NumberItem::Literal)
            m_items.back().text += text;
        else
            m_items.push_back({NumberItem::Literal, text});
    }

    // Digits fill the integer placeholders from the right; the leftmost one
    // takes every digit that is left over, so no digit is ever lost.
    QString integerDigit(const QString &digits, qsizetype place, bool zero) const
    {
        const qsizetype fromRight = m_integerPlaces - 1 - place;
        if (fromRight >= digits.size())
            return zero ? QStringLiteral("0") : QString();
        if (place == 0)
            return digits.left(digits.size() - fromRight);
        return digits.at(digits.size() - 1 - fromRight);
    }

    std::vector<NumberItem> m_items;
    qsizetype m_integerPlaces = 0;
    qsizetype m_fractionPlaces = 0;
};

QString generalNumber(Decimal number)
{
    while (number.fraction.endsWith(u'0'))
        number.fraction.chop(1);
    QString out = number.integer.isEmpty() ? QStringLiteral("0") : number.integer;
    if (!number.fraction.isEmpty())
        out += u'.' + number.fraction;
    if (number.negative && !number.isZero())
        out.prepend(u'-');
    return out;
}

// `storedText` is the text a number was read from: it is shown unchanged
// when the format would round away some of its digits, because a free-text
// column such as an estimated month ("1998.5") must not be shown as another
// figure.
QString formatNumber(Decimal number, const QString &format, const QString *storedText = nullptr)
{
    if (format.isEmpty())
        return generalNumber(number);
    const QStringList sections = splitSections(format);
    auto section = [&sections](qsizetype index) {
        return index < sections.size() && !sections.at(index).isEmpty() ? sections.at(index)
                                                                         : sections.first();
    };
    if (number.isZero())
        number.negative = false;
    const bool ownNegativeSection = number.negative && sections.size() > 1 && !sections.at(1).isEmpty();
    const NumberSection chosen(number.isZero() ? section(2) : number.negative ? section(1) : section(0));
    if (storedText && number.roundsAway(chosen.fractionPlaces()))
        return *storedText;
    number.roundTo(chosen.fractionPlaces());
    const QString text = chosen.render(number);
    // A negative number that rounds to zero loses its sign rather than show "-0".
    if (number.negative && !ownNegativeSection && !number.isZero())
        return u'-' + text;
    return text;
}

} // namespace

QString shortDateFormat()
{
    return QStringLiteral("yyyy/MM/dd");
}

QString formatDate(const QDate &date, const QString &format)
{
    if (!date.isValid())
        return {};
    const QString pattern = format.isEmpty() ? shortDateFormat() : format;
    const std::optional<Era> era = eraOf(date);
    QString out;
    for (qsizetype i = 0; i < pattern.size();) {
        const qsizetype next = readLiteral(pattern, i, out);
        if (next >= 0) {
            i = next;
            continue;
        }
        const char16_t letter = pattern.at(i).toLower().unicode();
        if (!isDateLetter(letter)) {
            out += pattern.at(i++);
            continue;
        }
        qsizetype run = 1;
        while (i + run < pattern.size() && pattern.at(i + run).toLower() == QChar(letter))
            ++run;
        const std::optional<QString> field = dateField(letter, run, date, era);
        out += field ? *field : pattern.mid(i, run);
        i += run;
    }
    return out;
}

QString formatDate(const QDateTime &moment, const QString &format)
{
    return moment.isValid() ? formatDate(moment.date(), format) : QString();
}

QString formatValue(const QVariant &value, const QString &format)
{
    if (!value.isValid() || value.isNull()) {
        const QStringList sections = splitSections(format);
        return sections.size() > 3 ? NumberSection(sections.at(3)).literals() : QString();
    }
    switch (value.typeId()) {
    case QMetaType::QDate:
        return formatDate(value.toDate(), format);
    case QMetaType::QDateTime:
        return formatDate(value.toDateTime(), format);
    default:
        break;
    }
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        const std::optional<Decimal> number = decimalOfText(text);
        return number ? formatNumber(*number, format, &text) : text;
    }
    if (const std::optional<Decimal> number = decimalOfValue(value))
        return formatNumber(*number, format);
    return value.toString();
}

QVariant dateFromText(const QString &text)
{
    const QString entry = text.trimmed();
    if (entry.isEmpty())
        return QVariant();
    static const QRegularExpression yearMonthDay(QStringLiteral("^([0-9]{4})/([0-9]{1,2})/([0-9]{1,2})$"));
    const QRegularExpressionMatch match = yearMonthDay.match(entry);
    if (match.hasMatch()) {
        const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
        // The engine keeps no date before the year 100.
        if (date.isValid() && date.year() >= 100)
            return QDateTime(date, QTime(0, 0));
    }
    throw jet::Error(jet::err::UpdateCancelled, QStringLiteral("操作は取り消されました。"));
}

} // namespace toolkit
