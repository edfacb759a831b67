#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace accounts {

// Time-based one-time codes as authenticator apps make them: HMAC-SHA-1,
// six digits, a new code every 30 seconds.
inline constexpr int kCodeDigits = 6;
inline constexpr int kCodeStepSeconds = 30;

// A new random secret of 160 bits, in base32 as the apps take it.
QString newCodeSecret();

// The code of a secret at a moment; throws jet::Error(err::InvalidArgument)
// for a secret that is not base32.
QString oneTimeCode(const QString &secret, const QDateTime &at);

// The time step of the code that matches, within one step either side of the
// moment, so that a phone's clock a little off still logs in; nothing when
// none does.
std::optional<qint64> matchingCodeStep(const QString &secret, const QString &code, const QDateTime &at);

// What an app scans: otpauth://totp/ネモリア:ID?secret=…&issuer=ネモリア…
QString codeEnrolmentUri(const QString &secret, const QString &loginId);

// A QR code's modules, for a window to paint: dark(x, y) for x and y below size.
class QrCode
{
public:
    // Throws jet::Error(err::GeneralFailure) when the text does not fit a QR code.
    explicit QrCode(const QString &text);

    int size() const { return m_size; }
    bool dark(int x, int y) const { return m_modules.at(y * m_size + x) != 0; }

private:
    int m_size = 0;
    QByteArray m_modules;
};

} // namespace accounts
