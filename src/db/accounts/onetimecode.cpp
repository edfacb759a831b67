#include "db/accounts/onetimecode.h"

#include "db/engine/error.h"

#include <QUrl>
#include <QUrlQuery>
#include <liboath/oath.h>
#include <qrencode.h>
#include <sodium.h>

#include <cstdlib>
#include <memory>

namespace accounts {

using namespace Qt::StringLiterals;

namespace {

void initialiseOath()
{
    static const bool ready = oath_init() == OATH_OK;
    if (!ready)
        throw jet::Error(jet::err::GeneralFailure, u"ワンタイムコードのライブラリ（liboath）を初期化できません。"_s);
}

// The secret's bytes, wiped when they go.
class SecretBytes
{
public:
    explicit SecretBytes(const QString &base32)
    {
        initialiseOath();
        const QByteArray text = base32.toLatin1();
        if (oath_base32_decode(text.constData(), size_t(text.size()), &m_bytes, &m_size) != OATH_OK || m_size == 0)
            throw jet::Error(jet::err::InvalidArgument, u"二要素認証の秘密鍵が壊れています。"_s);
    }
    ~SecretBytes()
    {
        sodium_memzero(m_bytes, m_size);
        std::free(m_bytes);
    }
    SecretBytes(const SecretBytes &) = delete;
    SecretBytes &operator=(const SecretBytes &) = delete;

    const char *data() const { return m_bytes; }
    size_t size() const { return m_size; }

private:
    char *m_bytes = nullptr;
    size_t m_size = 0;
};

} // namespace

QString newCodeSecret()
{
    initialiseOath();
    if (sodium_init() < 0)
        throw jet::Error(jet::err::GeneralFailure, u"暗号ライブラリ（libsodium）を初期化できません。"_s);
    char raw[20];
    randombytes_buf(raw, sizeof raw);
    char *encoded = nullptr;
    size_t length = 0;
    const int status = oath_base32_encode(raw, sizeof raw, &encoded, &length);
    sodium_memzero(raw, sizeof raw);
    if (status != OATH_OK)
        throw jet::Error(jet::err::GeneralFailure, u"二要素認証の秘密鍵を作れません。"_s);
    const QString secret = QString::fromLatin1(encoded, qsizetype(length));
    std::free(encoded);
    return secret;
}

QString oneTimeCode(const QString &secret, const QDateTime &at)
{
    const SecretBytes key(secret);
    char code[kCodeDigits + 1] = {};
    if (oath_totp_generate(key.data(), key.size(), time_t(at.toSecsSinceEpoch()), kCodeStepSeconds, 0, kCodeDigits,
                           code)
        != OATH_OK)
        throw jet::Error(jet::err::InvalidArgument, u"ワンタイムコードを計算できません。"_s);
    return QString::fromLatin1(code);
}

std::optional<qint64> matchingCodeStep(const QString &secret, const QString &code, const QDateTime &at)
{
    const QString typed = code.trimmed();
    if (typed.size() != kCodeDigits)
        return std::nullopt;
    for (QChar c : typed)
        if (c < u'0' || c > u'9')
            return std::nullopt;
    const SecretBytes key(secret);
    int position = 0;
    uint64_t step = 0;
    const int found = oath_totp_validate3(key.data(), key.size(), time_t(at.toSecsSinceEpoch()), kCodeStepSeconds, 0,
                                          1, &position, &step, typed.toLatin1().constData());
    if (found < 0)
        return std::nullopt;
    return qint64(step);
}

QString codeEnrolmentUri(const QString &secret, const QString &loginId)
{
    const QString issuer = u"ネモリア"_s;
    QUrl uri;
    uri.setScheme(u"otpauth"_s);
    uri.setHost(u"totp"_s);
    uri.setPath(u"/"_s + issuer + u":"_s + loginId);
    QUrlQuery query;
    query.addQueryItem(u"secret"_s, secret);
    query.addQueryItem(u"issuer"_s, issuer);
    query.addQueryItem(u"algorithm"_s, u"SHA1"_s);
    query.addQueryItem(u"digits"_s, QString::number(kCodeDigits));
    query.addQueryItem(u"period"_s, QString::number(kCodeStepSeconds));
    uri.setQuery(query);
    return QString::fromLatin1(uri.toEncoded());
}

QrCode::QrCode(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(bytes.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code)
        throw jet::Error(jet::err::GeneralFailure, u"QRコードを作れません。"_s);
    m_size = code->width;
    m_modules.resize(qsizetype(m_size) * m_size);
    // The lowest bit of each of libqrencode's bytes is the module's colour.
    for (qsizetype i = 0; i < m_modules.size(); ++i)
        m_modules[i] = char(code->data[i] & 1);
}

} // namespace accounts
