#include "db/accounts/passwords.h"

#include "db/accounts/extension.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"

#include <sodium.h>

namespace accounts {

using namespace Qt::StringLiterals;

namespace {

void initialiseSodium()
{
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw jet::Error(jet::err::GeneralFailure, u"暗号ライブラリ（libsodium）を初期化できません。"_s);
}

// The password's bytes, wiped when they go.
class PasswordBytes
{
public:
    explicit PasswordBytes(const QString &password) : m_bytes(password.toUtf8()) {}
    ~PasswordBytes() { sodium_memzero(m_bytes.data(), size_t(m_bytes.size())); }
    PasswordBytes(const PasswordBytes &) = delete;
    PasswordBytes &operator=(const PasswordBytes &) = delete;

    const char *data() const { return m_bytes.constData(); }
    unsigned long long size() const { return (unsigned long long)m_bytes.size(); }

private:
    QByteArray m_bytes;
};

} // namespace

QString passwordProblem(const QString &password, const QString &loginId, bool secondFactor)
{
    const QList<uint> characters = password.toUcs4();
    const qsizetype least = secondFactor ? 8 : 13;
    if (characters.size() < least)
        return secondFactor ? u"パスワードは8文字以上にしてください。"_s
                            : u"パスワードは13文字以上にしてください（二要素認証を使うアカウントでは8文字以上）。"_s;
    bool upper = false, lower = false, digit = false, symbol = false;
    for (uint c : characters) {
        // Letters without case (kana, kanji) lengthen a password but are none
        // of the four kinds; every other visible character is a symbol.
        if (QChar::isUpper(c))
            upper = true;
        else if (QChar::isLower(c))
            lower = true;
        else if (QChar::isDigit(c))
            digit = true;
        else if (!QChar::isLetter(c) && QChar::isPrint(c))
            symbol = true;
    }
    if (int(upper) + int(lower) + int(digit) + int(symbol) < 3)
        return u"パスワードには英大文字、英小文字、数字、記号のうち3種類以上を混ぜてください。"_s;
    if (password.compare(loginId, Qt::CaseInsensitive) == 0)
        return u"ログインIDと同じパスワードは使えません。"_s;
    return {};
}

QString newPasswordProblem(const QString &password, const QString &again, const QString &loginId, bool secondFactor,
                           Typing typing)
{
    const bool finished = typing == Typing::Finished;
    if (password.isEmpty() && finished)
        return u"新しいパスワードを入力してください。"_s;
    if (!password.isEmpty()) {
        if (QString rules = passwordProblem(password, loginId, secondFactor); !rules.isEmpty())
            return rules;
    }
    // A repeat typed first, or differently, is wrong at once.
    if ((finished || !again.isEmpty()) && again != password)
        return u"確認のパスワードが一致しません。"_s;
    return {};
}

HashCost HashCost::interactive()
{
    return {crypto_pwhash_argon2id_OPSLIMIT_INTERACTIVE, crypto_pwhash_argon2id_MEMLIMIT_INTERACTIVE};
}

HashCost HashCost::least()
{
    return {crypto_pwhash_argon2id_OPSLIMIT_MIN, crypto_pwhash_argon2id_MEMLIMIT_MIN};
}

QByteArray hashPassword(const QString &password, const HashCost &cost)
{
    initialiseSodium();
    const PasswordBytes bytes(password);
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(hash, bytes.data(), bytes.size(), cost.operations, cost.memory,
                              crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        throw jet::Error(jet::err::GeneralFailure, u"パスワードの保存に必要なメモリーが足りません。"_s);
    return QByteArray(hash);
}

bool verifyPassword(const QByteArray &hash, const QString &password)
{
    initialiseSodium();
    const PasswordBytes bytes(password);
    return crypto_pwhash_str_verify(hash.constData(), bytes.data(), bytes.size()) == 0;
}

bool needsRehash(const QByteArray &hash, const HashCost &cost)
{
    initialiseSodium();
    return crypto_pwhash_str_needs_rehash(hash.constData(), cost.operations, cost.memory) != 0;
}

PasswordHashes::PasswordHashes(const HashCost &cost) : m_cost(cost)
{
    char random[32];
    initialiseSodium();
    randombytes_buf(random, sizeof random);
    m_decoy = hashPassword(QString::fromLatin1(QByteArray(random, sizeof random).toBase64()), cost);
}

bool PasswordHashes::check(jet::Connection &connection, const QString &loginId, const QString &password)
{
    jet::Recordset row;
    row.openCommand(u"SELECT パスワード FROM `%1` WHERE ログインID = ?"_s.arg(kAccountTable), &connection, {loginId},
                    jet::CursorType::ForwardOnly);
    const QByteArray stored = row.eof() ? QByteArray() : row.value(0).toString().toLatin1();
    row.close();
    if (stored.isEmpty()) {
        verifyPassword(m_decoy, password);
        return false;
    }
    if (!verifyPassword(stored, password))
        return false;
    if (needsRehash(stored, m_cost))
        setPassword(connection, loginId, password);
    return true;
}

void PasswordHashes::setPassword(jet::Connection &connection, const QString &loginId, const QString &password)
{
    connection.execute(u"UPDATE `%1` SET パスワード = ? WHERE ログインID = ?"_s.arg(kAccountTable),
                       {QString::fromLatin1(hashPassword(password, m_cost)), loginId});
}

void Authenticator::admit(jet::Connection &, const QString &, const QString &) {}

std::unique_ptr<jet::Connection> Authenticator::accountConnection(jet::Connection &, const QString &, const QString &)
{
    return nullptr;
}

} // namespace accounts
