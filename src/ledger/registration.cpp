#include "ledger/registration.h"

#include "app/navigation.h"
#include "db/episodes.h"
#include "toolkit/errortrap.h"
#include "toolkit/form.h"
#include "toolkit/platform.h"

#include <limits>
#include <stdexcept>

namespace ledger {

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QChar(0x3000);
}

// Full-width digits, signs and point as their ASCII forms; anything else as it is.
QChar halfWidth(QChar c)
{
    if (c.unicode() >= 0xFF10 && c.unicode() <= 0xFF19)
        return QChar(char16_t(u'0' + (c.unicode() - 0xFF10)));
    switch (c.unicode()) {
    case 0xFF0B:
        return QLatin1Char('+');
    case 0xFF0D:
    case 0x2212:
        return QLatin1Char('-');
    case 0xFF0E:
        return QLatin1Char('.');
    default:
        return c;
    }
}

QString prompt(const toolkit::Form &ledger)
{
    const QString text = QStringLiteral("作成したい新規患者のカルテIDを入力してください");
    if (app::findWindow(app::window::InpatientLedger) == &ledger)
        return text;
    return text + QStringLiteral("。");
}

void run(toolkit::Form &ledger, jet::Connection &connection)
{
    toolkit::PlatformServices &services = toolkit::platform();
    const QString answer = services.inputBox(prompt(ledger), QStringLiteral("ネモリア"));
    if (answer.isEmpty())
        return;
    std::optional<qint32> chart;
    QString refusal = QStringLiteral("半角数字で入力してください。");
    try {
        chart = chartNumber(answer);
    } catch (const std::overflow_error &) {
        // An eleven-digit typo is the user's to mend, not the program's end.
        refusal = QStringLiteral("カルテIDは -2147483648 から 2147483647 までの半角数字で入力してください。");
    }
    if (!chart) {
        toolkit::MessageBoxRequest box;
        box.text = refusal;
        box.icon = toolkit::MessageIcon::Exclamation;
        services.messageBox(box);
        return;
    }
    const qint64 episode = db::registerEpisode(connection, *chart);
    if (app::isRegistered(app::window::NewPatient))
        app::moveTo(ledger, app::window::NewPatient, episode);
    else
        app::moveTo(ledger, app::window::AllPatientLedger);
}

} // namespace

std::optional<qint32> chartNumber(const QString &answer)
{
    qsizetype begin = 0;
    qsizetype end = answer.size();
    while (begin < end && isBlank(answer.at(begin)))
        ++begin;
    while (end > begin && isBlank(answer.at(end - 1)))
        --end;

    QString text;
    for (qsizetype i = begin; i < end; ++i)
        text.append(halfWidth(answer.at(i)));

    bool negative = false;
    qsizetype i = 0;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    QString whole;
    QString fraction;
    bool point = false;
    for (; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('.') && !point)
            point = true;
        else if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            (point ? fraction : whole).append(c);
        else
            return std::nullopt;
    }
    if (whole.isEmpty() && fraction.isEmpty())
        return std::nullopt;

    // Decimal digits decide the rounding, so that 12.5 is exactly a half.
    const auto outOfRange = [] { return std::overflow_error("chart number outside the 32-bit range"); };
    qint64 magnitude = 0;
    for (QChar c : whole) {
        magnitude = magnitude * 10 + (c.unicode() - u'0');
        if (magnitude > qint64(std::numeric_limits<qint32>::max()) + 1)
            throw outOfRange();
    }
    if (!fraction.isEmpty()) {
        const QChar first = fraction.at(0);
        const bool exactHalf = first == QLatin1Char('5')
            && std::all_of(fraction.cbegin() + 1, fraction.cend(), [](QChar c) { return c == QLatin1Char('0'); });
        if (first > QLatin1Char('5') || (first == QLatin1Char('5') && !exactHalf) || (exactHalf && magnitude % 2 == 1))
            ++magnitude;
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        throw outOfRange();
    return qint32(value);
}

void registerPatient(toolkit::Form &ledger, jet::Connection &connection)
{
    // Nothing was registered and the ledger stays, so the user may try again.
    toolkit::trap([&ledger, &connection] { run(ledger, connection); },
                  {toolkit::lockedAnswer(QStringLiteral("ほかの端末がデータベースを使用しているため、登録できませんでした。"
                                                        "しばらくしてから、もう一度登録してください。"))});
}

} // namespace ledger
