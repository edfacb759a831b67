#define SQLITE_HAS_CODEC 1
#include "db/engine/filekey.h"

#include "db/engine/error.h"
#include "db/engine/sqlite/sqlite_support.h"

#include <sodium.h>
#include <sqlite3.h>

namespace jet {

namespace {

// SQLCipher takes a raw key, without its own key derivation, as the text x'…'
// of 64 hex digits.
constexpr int kRawKeyTextBytes = 2 * kFileKeyBytes + 3;

// The key as SQLCipher's raw-key text, in guarded memory of libsodium.
class HeldKey
{
public:
    ~HeldKey() { drop(); }

    void hold(const unsigned char *key)
    {
        if (sodium_init() < 0)
            throw Error(err::GeneralFailure, QStringLiteral("暗号ライブラリを初期化できません。"));
        char *text = static_cast<char *>(sodium_malloc(kRawKeyTextBytes + 1));
        if (!text)
            throw Error(err::GeneralFailure, QStringLiteral("鍵を置くメモリを確保できません。"));
        text[0] = 'x';
        text[1] = '\'';
        sodium_bin2hex(text + 2, 2 * kFileKeyBytes + 1, key, kFileKeyBytes);
        text[kRawKeyTextBytes - 1] = '\'';
        text[kRawKeyTextBytes] = '\0';
        sodium_mprotect_readonly(text);
        drop();
        m_text = text;
    }
    void drop()
    {
        // sodium_free wipes the memory before giving it back.
        sodium_free(m_text);
        m_text = nullptr;
    }
    const char *text() const { return m_text; }

private:
    char *m_text = nullptr;
};

HeldKey &held()
{
    static HeldKey key;
    return key;
}

} // namespace

void holdFileKey(const unsigned char *key)
{
    held().hold(key);
}

void dropFileKey()
{
    held().drop();
}

bool holdsFileKey()
{
    return held().text() != nullptr;
}

bool copyHeldFileKey(unsigned char *key)
{
    const char *text = held().text();
    return text
        && sodium_hex2bin(key, kFileKeyBytes, text + 2, 2 * kFileKeyBytes, nullptr, nullptr, nullptr) == 0;
}

QString heldKeyPassword()
{
    // No one types a control character into a password box.
    return QStringLiteral("\x01held-file-key");
}

namespace detail {

int keyHandle(sqlite3 *db, const char *schema, const QString &password)
{
    if (password != heldKeyPassword()) {
        const QByteArray bytes = password.toUtf8();
        return sqlite3_key_v2(db, schema, bytes.constData(), int(bytes.size()));
    }
    if (!holdsFileKey())
        return SQLITE_AUTH;
    return sqlite3_key_v2(db, schema, held().text(), kRawKeyTextBytes);
}

void attachKeyed(sqlite3 *db, const QString &path, const QString &schema, const QString &password)
{
    const bool heldKey = password == heldKeyPassword();
    if (heldKey && !holdsFileKey())
        raise(db, SQLITE_AUTH, QStringLiteral("ATTACH"));
    const QByteArray bytes = heldKey ? QByteArray() : password.toUtf8();
    Statement attach(db, QStringLiteral("ATTACH DATABASE ? AS %1 KEY ?;").arg(schema));
    attach.bind(1, path);
    // Bound where it lies, so that no copy of the key is left in SQLite's memory.
    if (heldKey)
        sqlite3_bind_blob(attach.get(), 2, held().text(), kRawKeyTextBytes, SQLITE_STATIC);
    else
        sqlite3_bind_blob(attach.get(), 2, bytes.constData(), int(bytes.size()), SQLITE_STATIC);
    attach.step();
}

} // namespace detail

} // namespace jet
