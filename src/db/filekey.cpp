#include "db/filekey.h"

#include "db/accounts/extension.h"
#include "db/accounts/passwords.h"
#include "db/audit.h"
#include "db/engine/administration.h"
#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/filekey.h"
#include "db/engine/files.h"
#include "db/engine/postgres/server.h"
#include "db/location.h"
#include "db/session.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QScopeGuard>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sodium.h>
#include <sys/file.h>
#include <unistd.h>

namespace db::filekey {

using namespace Qt::StringLiterals;

namespace {

constexpr int kFormat = 1;
constexpr int kFileIdBytes = 16;
constexpr int kCheckBytes = 16;
// 160 bits: beyond guessing, so the recovery key needs no slow derivation,
// and 32 characters in eight groups of four on paper.
constexpr int kRecoveryBytes = 20;
const char kRecoveryAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";

[[noreturn]] void fail(const QString &what, const QString &path, const QString &cause)
{
    throw jet::Error(jet::err::GeneralFailure, u"%1 '%2' (%3)"_s.arg(what, path, cause));
}

QString systemCause()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

void initialiseSodium()
{
    if (sodium_init() < 0)
        throw jet::Error(jet::err::GeneralFailure, u"暗号ライブラリ（libsodium）を初期化できません。"_s);
}

// Bytes in libsodium's guarded memory, locked against swapping and wiped
// when they go.
class Secret
{
public:
    explicit Secret(std::size_t size) : m_size(size)
    {
        initialiseSodium();
        m_data = static_cast<unsigned char *>(sodium_malloc(size));
        if (!m_data)
            throw jet::Error(jet::err::GeneralFailure, u"鍵を置くメモリを確保できません。"_s);
    }
    ~Secret() { sodium_free(m_data); }
    Secret(const Secret &) = delete;
    Secret &operator=(const Secret &) = delete;

    unsigned char *data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    unsigned char *m_data = nullptr;
    std::size_t m_size;
};

struct Seal
{
    QByteArray salt;
    quint64 operations = 0;
    quint64 memory = 0;
    QByteArray nonce;
    QByteArray sealed;
    int failures = 0;
    QDateTime lockedUntil;
};

struct KeyFile
{
    QByteArray fileId;
    QByteArray check;
    int failuresBeforeLock = accounts::kDefaultFailuresBeforeLock;
    int lockMinutes = accounts::kDefaultLockMinutes;
    Seal recovery;
    QMap<QString, Seal> accounts;
};

QJsonObject sealObject(const Seal &seal)
{
    QJsonObject object{{u"nonce"_s, QString::fromLatin1(seal.nonce.toBase64())},
                       {u"sealed"_s, QString::fromLatin1(seal.sealed.toBase64())}};
    if (!seal.salt.isEmpty()) {
        object.insert(u"salt"_s, QString::fromLatin1(seal.salt.toBase64()));
        object.insert(u"operations"_s, double(seal.operations));
        object.insert(u"memory"_s, double(seal.memory));
        object.insert(u"failures"_s, seal.failures);
        if (seal.lockedUntil.isValid())
            object.insert(u"lockedUntil"_s, seal.lockedUntil.toUTC().toString(Qt::ISODate));
    }
    return object;
}

Seal sealOf(const QJsonObject &object)
{
    const auto bytes = [&object](const QString &name) {
        return QByteArray::fromBase64(object.value(name).toString().toLatin1());
    };
    Seal seal;
    seal.salt = bytes(u"salt"_s);
    seal.operations = quint64(object.value(u"operations"_s).toDouble());
    seal.memory = quint64(object.value(u"memory"_s).toDouble());
    seal.nonce = bytes(u"nonce"_s);
    seal.sealed = bytes(u"sealed"_s);
    seal.failures = object.value(u"failures"_s).toInt();
    seal.lockedUntil = QDateTime::fromString(object.value(u"lockedUntil"_s).toString(), Qt::ISODate);
    return seal;
}

KeyFile readKeyFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(u"鍵ファイルを読めません:"_s, path, file.errorString());
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    KeyFile key;
    key.fileId = QByteArray::fromBase64(root.value(u"file"_s).toString().toLatin1());
    key.check = QByteArray::fromBase64(root.value(u"check"_s).toString().toLatin1());
    key.failuresBeforeLock = root.value(u"failuresBeforeLock"_s).toInt(accounts::kDefaultFailuresBeforeLock);
    key.lockMinutes = root.value(u"lockMinutes"_s).toInt(accounts::kDefaultLockMinutes);
    key.recovery = sealOf(root.value(u"recovery"_s).toObject());
    const QJsonObject seals = root.value(u"accounts"_s).toObject();
    for (auto it = seals.begin(); it != seals.end(); ++it)
        key.accounts.insert(it.key(), sealOf(it.value().toObject()));
    if (root.value(u"format"_s).toInt() != kFormat || key.fileId.size() != kFileIdBytes
        || key.check.size() != kCheckBytes)
        fail(u"鍵ファイルを読めません:"_s, path, u"ネモリアの鍵ファイルではないか、壊れています"_s);
    return key;
}

// Whole or not at all: a half-written key file would lock everyone out.
void writeKeyFile(const QString &path, const KeyFile &key)
{
    QJsonObject seals;
    for (auto it = key.accounts.begin(); it != key.accounts.end(); ++it)
        seals.insert(it.key(), sealObject(it.value()));
    const QJsonObject root{{u"format"_s, kFormat},
                           {u"file"_s, QString::fromLatin1(key.fileId.toBase64())},
                           {u"check"_s, QString::fromLatin1(key.check.toBase64())},
                           {u"failuresBeforeLock"_s, key.failuresBeforeLock},
                           {u"lockMinutes"_s, key.lockMinutes},
                           {u"recovery"_s, sealObject(key.recovery)},
                           {u"accounts"_s, seals}};
    jet::PartialFile partial(path);
    if (!partial.created())
        fail(u"鍵ファイルを作れません:"_s, path, QString::fromLocal8Bit(std::strerror(partial.error())));
    {
        QFile file(partial.name());
        if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 || !file.flush())
            fail(u"鍵ファイルに書き込めません:"_s, path, file.errorString());
    }
    if (const int error = partial.place(true))
        fail(u"鍵ファイルを置き換えられません:"_s, path, QString::fromLocal8Bit(std::strerror(error)));
}

// Held while the key file is read, changed and written, so that two
// workstations counting failures or sealing anew do not undo each other.
class KeyFileLock
{
public:
    explicit KeyFileLock(const QString &keyFile)
    {
        const QString path = keyFile + u".lock"_s;
        const bool made = !QFileInfo::exists(path);
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0)
            fail(u"鍵ファイルの錠を開けません:"_s, path, systemCause());
        if (made)
            jet::restrictNewFile(path);
        if (::flock(m_fd, LOCK_EX) != 0) {
            ::close(m_fd);
            fail(u"鍵ファイルの錠を掛けられません:"_s, path, systemCause());
        }
    }
    ~KeyFileLock() { ::close(m_fd); }
    KeyFileLock(const KeyFileLock &) = delete;
    KeyFileLock &operator=(const KeyFileLock &) = delete;

private:
    int m_fd = -1;
};

QString normalised(const QString &loginId)
{
    return loginId.trimmed().toLower();
}

// Binds a seal to its file and to whom it belongs, so that a seal copied to
// another account's place or from another file's key file opens nothing.
QByteArray associatedData(const KeyFile &key, const QString &loginId)
{
    return "norva-file-key\0"_ba + key.fileId + '\0' + loginId.toUtf8();
}

QByteArray checkOf(const unsigned char *fileKey)
{
    static const QByteArray context("norva-file-key-check");
    QByteArray check(kCheckBytes, '\0');
    crypto_generichash(reinterpret_cast<unsigned char *>(check.data()), kCheckBytes,
                       reinterpret_cast<const unsigned char *>(context.constData()), context.size(), fileKey,
                       jet::kFileKeyBytes);
    return check;
}

Seal seal(const KeyFile &key, const QString &owner, const unsigned char *keyEncryptionKey, const unsigned char *fileKey)
{
    Seal s;
    s.nonce.resize(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
    randombytes_buf(s.nonce.data(), s.nonce.size());
    s.sealed.resize(jet::kFileKeyBytes + crypto_aead_xchacha20poly1305_ietf_ABYTES);
    const QByteArray data = associatedData(key, owner);
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        reinterpret_cast<unsigned char *>(s.sealed.data()), nullptr, fileKey, jet::kFileKeyBytes,
        reinterpret_cast<const unsigned char *>(data.constData()), data.size(), nullptr,
        reinterpret_cast<const unsigned char *>(s.nonce.constData()), keyEncryptionKey);
    return s;
}

bool openSeal(const KeyFile &key, const QString &owner, const Seal &s, const unsigned char *keyEncryptionKey,
          unsigned char *fileKey)
{
    const QByteArray data = associatedData(key, owner);
    return s.nonce.size() == crypto_aead_xchacha20poly1305_ietf_NPUBBYTES
        && s.sealed.size() == jet::kFileKeyBytes + crypto_aead_xchacha20poly1305_ietf_ABYTES
        && crypto_aead_xchacha20poly1305_ietf_decrypt(
               fileKey, nullptr, nullptr, reinterpret_cast<const unsigned char *>(s.sealed.constData()),
               s.sealed.size(), reinterpret_cast<const unsigned char *>(data.constData()), data.size(),
               reinterpret_cast<const unsigned char *>(s.nonce.constData()), keyEncryptionKey)
        == 0
        && checkOf(fileKey) == key.check;
}

// Argon2id of the password under the seal's salt and cost.
void passwordKey(const QString &password, const Seal &s, const Secret &out)
{
    QByteArray bytes = password.toUtf8();
    const int rc = crypto_pwhash(out.data(), out.size(), bytes.constData(), bytes.size(),
                                 reinterpret_cast<const unsigned char *>(s.salt.constData()), s.operations,
                                 std::size_t(s.memory), crypto_pwhash_ALG_ARGON2ID13);
    sodium_memzero(bytes.data(), bytes.size());
    if (rc != 0)
        throw jet::Error(jet::err::GeneralFailure, u"鍵の導出に必要なメモリを確保できません。"_s);
}

Seal sealUnderPassword(const KeyFile &key, const QString &loginId, const QString &password,
                       const unsigned char *fileKey)
{
    Seal salted;
    salted.salt.resize(crypto_pwhash_SALTBYTES);
    randombytes_buf(salted.salt.data(), salted.salt.size());
    const accounts::HashCost cost = accounts::HashCost::interactive();
    salted.operations = cost.operations;
    salted.memory = cost.memory;
    Secret kek(crypto_aead_xchacha20poly1305_ietf_KEYBYTES);
    passwordKey(password, salted, kek);
    Seal s = seal(key, loginId, kek.data(), fileKey);
    s.salt = salted.salt;
    s.operations = salted.operations;
    s.memory = salted.memory;
    return s;
}

bool openWithPassword(const KeyFile &key, const QString &loginId, const Seal &s, const QString &password,
                      unsigned char *fileKey)
{
    if (s.salt.size() != crypto_pwhash_SALTBYTES || s.operations < crypto_pwhash_OPSLIMIT_MIN
        || s.memory < crypto_pwhash_MEMLIMIT_MIN || s.memory > crypto_pwhash_MEMLIMIT_SENSITIVE)
        return false;
    Secret kek(crypto_aead_xchacha20poly1305_ietf_KEYBYTES);
    passwordKey(password, s, kek);
    return openSeal(key, loginId, s, kek.data(), fileKey);
}

// The recovery seal's owner: no login ID is empty.
const QString kRecoveryOwner;

void recoveryKeyEncryptionKey(const KeyFile &key, const unsigned char *recovery, const Secret &out)
{
    crypto_generichash(out.data(), out.size(), recovery, kRecoveryBytes,
                       reinterpret_cast<const unsigned char *>(key.fileId.constData()), key.fileId.size());
}

QString recoveryText(const unsigned char *bytes)
{
    QString text;
    int bits = 0;
    unsigned buffer = 0;
    for (int i = 0; i < kRecoveryBytes; ++i) {
        buffer = (buffer << 8) | bytes[i];
        bits += 8;
        while (bits >= 5) {
            if (!text.isEmpty() && text.size() % 5 == 4)
                text += u'-';
            text += QLatin1Char(kRecoveryAlphabet[(buffer >> (bits - 5)) & 31]);
            bits -= 5;
        }
    }
    return text;
}

// Read as written, forgiving what a person copying from paper mixes up.
bool recoveryBytes(const QString &text, unsigned char *bytes)
{
    QByteArray symbols;
    for (QChar c : text.toUpper()) {
        if (c == u'-' || c.isSpace())
            continue;
        char symbol = c.toLatin1();
        if (symbol == 'O')
            symbol = '0';
        if (symbol == 'I' || symbol == 'L')
            symbol = '1';
        const char *at = std::strchr(kRecoveryAlphabet, symbol);
        if (symbol == 0 || !at)
            return false;
        symbols += char(at - kRecoveryAlphabet);
    }
    if (symbols.size() != kRecoveryBytes * 8 / 5)
        return false;
    unsigned buffer = 0;
    int bits = 0;
    int n = 0;
    for (char symbol : symbols) {
        buffer = (buffer << 5) | unsigned(symbol);
        bits += 5;
        if (bits >= 8) {
            bytes[n++] = (buffer >> (bits - 8)) & 0xff;
            bits -= 8;
        }
    }
    return true;
}

// The seal of each account is renewed whenever the process, holding the
// key, learns the account's password; a password it has already sealed in
// this run is passed over, so that a login costs no second derivation.
class KeyFileKeeper final : public accounts::PasswordObserver
{
public:
    void remember(const QString &keyFile, const QString &loginId, const QString &password)
    {
        m_sealed.insert(keyFile + QChar(0) + loginId, fingerprint(password));
    }

    void passwordKnown(jet::Connection &connection, const QString &loginId, const QString &password) override
    {
        const QString keyFile = keyFilePath(connection.dataSource());
        if (!jet::holdsFileKey() || jet::isServerAddress(connection.dataSource()) || !QFileInfo::exists(keyFile)
            || m_sealed.value(keyFile + QChar(0) + loginId) == fingerprint(password))
            return;
        const accounts::AccountSettings limits = accounts::readSettings(connection);
        KeyFileLock lock(keyFile);
        KeyFile key = readKeyFile(keyFile);
        Secret fileKey(jet::kFileKeyBytes);
        if (!jet::copyHeldFileKey(fileKey.data()) || checkOf(fileKey.data()) != key.check)
            return;
        key.accounts.insert(loginId, sealUnderPassword(key, loginId, password, fileKey.data()));
        key.failuresBeforeLock = limits.failuresBeforeLock;
        key.lockMinutes = limits.lockMinutes;
        writeKeyFile(keyFile, key);
        remember(keyFile, loginId, password);
    }

    // Removed rather than kept inert: a copy of the file and its key file
    // taken away must not open with the password of someone who has left.
    void accountDisabled(jet::Connection &connection, const QString &loginId) override
    {
        const QString keyFile = keyFilePath(connection.dataSource());
        m_sealed.remove(keyFile + QChar(0) + loginId);
        if (jet::isServerAddress(connection.dataSource()) || !QFileInfo::exists(keyFile))
            return;
        KeyFileLock lock(keyFile);
        KeyFile key = readKeyFile(keyFile);
        if (key.accounts.remove(loginId) > 0)
            writeKeyFile(keyFile, key);
    }

    // Failed unseals lock the login ID in the key file, and an
    // administrator's unlock lifts that lock as well.
    void accountUnlocked(jet::Connection &connection, const QString &loginId) override
    {
        const QString keyFile = keyFilePath(connection.dataSource());
        if (jet::isServerAddress(connection.dataSource()) || !QFileInfo::exists(keyFile))
            return;
        KeyFileLock lock(keyFile);
        KeyFile key = readKeyFile(keyFile);
        const auto found = key.accounts.find(loginId);
        if (found == key.accounts.end() || (found->failures == 0 && !found->lockedUntil.isValid()))
            return;
        found->failures = 0;
        found->lockedUntil = QDateTime();
        writeKeyFile(keyFile, key);
    }

private:
    QByteArray fingerprint(const QString &password)
    {
        if (m_salt.isEmpty()) {
            m_salt.resize(crypto_generichash_KEYBYTES);
            randombytes_buf(m_salt.data(), m_salt.size());
        }
        const QByteArray bytes = password.toUtf8();
        QByteArray out(crypto_generichash_BYTES, '\0');
        crypto_generichash(reinterpret_cast<unsigned char *>(out.data()), out.size(),
                           reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size(),
                           reinterpret_cast<const unsigned char *>(m_salt.constData()), m_salt.size());
        return out;
    }

    QByteArray m_salt;
    QHash<QString, QByteArray> m_sealed;
};

KeyFileKeeper &keeper()
{
    static KeyFileKeeper instance;
    accounts::setPasswordObserver(&instance);
    return instance;
}

bool opensWith(const QString &databasePath, const QString &password)
{
    try {
        jet::Connection connection;
        connection.open(plainConnectionString(databasePath, password));
        connection.close();
        jet::releasePooledHandles(databasePath);
        return true;
    } catch (const jet::Error &error) {
        if (error.number() != jet::err::DatabaseDamaged)
            throw;
        return false;
    }
}

// Gives the process the key.  A key file that a broken-off protection left
// beside a file still under the published password is removed, and the
// file opens as before.
void hold(const QString &databasePath, const unsigned char *fileKey)
{
    jet::holdFileKey(fileKey);
    if (!opensWith(databasePath, jet::heldKeyPassword()) && opensWith(databasePath, publishedPassword())) {
        jet::dropFileKey();
        QFile::remove(keyFilePath(databasePath));
    }
}

void syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        if (fd >= 0)
            ::close(fd);
        fail(u"ファイルを同期できません:"_s, path, systemCause());
    }
    ::close(fd);
}

void replaceDurably(const QString &from, const QString &to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        fail(u"ファイルを置き換えられません:"_s, to, systemCause());
    syncFile(QFileInfo(to).absolutePath());
}

jet::Error refusal(const QString &reason)
{
    return jet::Error(jet::err::NotSupported, reason);
}

// Refuses unless an active administrator logs in, as at the login window:
// their one-time code is asked when they have a second factor, and a refused
// login counts towards their account's lock and is left in the trail.  The
// trail then names them with the event; the connection string opens the
// database as it is keyed now.
accounts::AccountSettings requireAdministrator(const QString &databasePath, const QString &connectionString,
                                               const QString &loginId, const QString &password,
                                               const CodeQuestion &askCode, const QString &event)
{
    const auto release = qScopeGuard([&databasePath] { jet::releasePooledHandles(databasePath); });
    jet::Connection connection;
    connection.open(connectionString);
    if (accounts::extensionVersion(connection) == 0)
        throw refusal(u"このデータベースにはまだ職員アカウントがありません。最初の管理者を作ってから保護してください。"_s);
    accounts::PasswordHashes hashes;
    accounts::StaffAccounts staff(connection, hashes);
    accounts::LoginResult result = staff.logIn(loginId, password);
    if (result.outcome == accounts::LoginResult::Outcome::CodeNeeded) {
        const std::optional<QString> code = askCode ? askCode() : std::nullopt;
        if (!code || code->trimmed().isEmpty())
            throw refusal(result.reason);
        result = staff.logIn(loginId, password, *code);
    }
    if (result.outcome != accounts::LoginResult::Outcome::LoggedIn) {
        audit::appendFailedLogin(connection, loginId, result.reason);
        throw refusal(result.reason);
    }
    if (result.account->role != accounts::Role::Administrator)
        throw refusal(u"データの保護とその解除は、管理者のアカウントで行ってください。"_s);
    // Sealed under a password that only its owner is to know.
    if (result.account->mustChangePassword)
        throw refusal(u"パスワードの変更がまだです。ネモリアにログインしてパスワードを変えてから、もう一度実行してください。"_s);
    // Named for this event only: the process logs no one in.
    const Session before = session();
    const auto restore = qScopeGuard([&before] {
        if (before.loggedIn)
            setSessionAccount(before.account);
        else
            clearSessionAccount();
    });
    setSessionAccount(result.account->loginId);
    audit::append(connection, {audit::action::Maintenance.toString(), event, {}, {}});
    return staff.settings();
}

// A login ID without a seal is answered as a wrong password is, so that the
// key file does not tell which IDs exist; the second sentence tells staff
// not yet sealed how to get a seal.
accounts::LoginResult wrongPasswordOrNoSeal()
{
    accounts::LoginResult answer = accounts::wrongPasswordOrId();
    answer.reason += u"\nデータの保護が始まってからまだ一度もログインしていない方は、管理者にパスワードのリセットを頼むか、"
                     u"ほかの職員がログインしている端末の「ユーザーの切り替え」からログインしてください。"_s;
    return answer;
}

} // namespace

QString keyFilePath(const QString &databasePath)
{
    return databasePath + u".key"_s;
}

bool isProtected(const QString &location)
{
    return !jet::isServerAddress(location) && QFileInfo::exists(keyFilePath(location));
}

bool needsUnlock(const QString &location)
{
    return isProtected(location) && !jet::holdsFileKey();
}

QString protect(const QString &databasePath, const QString &loginId, const QString &password,
                const CodeQuestion &askCode, const ProtectionHook &hook)
{
    const auto step = [&hook](int number) {
        if (hook)
            hook(number);
    };
    initialiseSodium();
    const QString keyFile = keyFilePath(databasePath);
    if (jet::isServerAddress(databasePath))
        throw refusal(u"サーバーのデータベースは、サーバーの認証と暗号化が守ります。ファイルの鍵はありません。"_s);
    if (jet::holdsFileKey() || (QFileInfo::exists(keyFile) && !opensWith(databasePath, publishedPassword())))
        throw refusal(u"このデータベースは既に保護されています。"_s);
    const QString id = normalised(loginId);
    const accounts::AccountSettings limits = requireAdministrator(
        databasePath, plainConnectionString(databasePath, publishedPassword()), id, password, askCode, u"データの保護"_s);

    const QString work = databasePath + u".protecting"_s;
    jet::closeDatabaseFile(databasePath);
    jet::ExclusiveDatabase database(databasePath, publishedPassword());
    if (const QStringList stuck = jet::removeLeftover(work, publishedPassword()); !stuck.isEmpty())
        fail(u"前回の保護が残したファイルを削除できません:"_s, work, stuck.join(u", "_s));

    Secret fileKey(jet::kFileKeyBytes);
    randombytes_buf(fileKey.data(), fileKey.size());
    Secret recovery(kRecoveryBytes);
    randombytes_buf(recovery.data(), recovery.size());
    KeyFile key;
    key.fileId.resize(kFileIdBytes);
    randombytes_buf(key.fileId.data(), key.fileId.size());
    key.check = checkOf(fileKey.data());
    key.failuresBeforeLock = limits.failuresBeforeLock;
    key.lockMinutes = limits.lockMinutes;
    {
        Secret kek(crypto_aead_xchacha20poly1305_ietf_KEYBYTES);
        recoveryKeyEncryptionKey(key, recovery.data(), kek);
        key.recovery = seal(key, kRecoveryOwner, kek.data(), fileKey.data());
    }
    key.accounts.insert(id, sealUnderPassword(key, id, password, fileKey.data()));

    bool keyFileWritten = false;
    jet::holdFileKey(fileKey.data());
    try {
        step(1);
        database.exportTo(work, jet::heldKeyPassword());
        step(2);
        syncFile(work);
        jet::keepAttributes(work, databasePath);
        step(3);
        {
            KeyFileLock lock(keyFile);
            writeKeyFile(keyFile, key);
            keyFileWritten = true;
        }
        step(4);
        database.release();
        replaceDurably(work, databasePath);
    } catch (...) {
        jet::dropFileKey();
        jet::removeLeftover(work, publishedPassword());
        if (keyFileWritten)
            QFile::remove(keyFile);
        throw;
    }
    keeper().remember(keyFile, id, password);
    return recoveryText(recovery.data());
}

void unprotect(const QString &databasePath, const QString &loginId, const QString &password,
               const CodeQuestion &askCode)
{
    if (!isProtected(databasePath) || !jet::holdsFileKey())
        throw refusal(u"保護されていないか、鍵が開かれていないデータベースです。"_s);
    requireAdministrator(databasePath, plainConnectionString(databasePath), normalised(loginId), password, askCode,
                         u"データの保護の解除"_s);
    const QString work = databasePath + u".unprotecting"_s;
    jet::closeDatabaseFile(databasePath);
    jet::ExclusiveDatabase database(databasePath, jet::heldKeyPassword());
    if (const QStringList stuck = jet::removeLeftover(work, publishedPassword()); !stuck.isEmpty())
        fail(u"前回の解除が残したファイルを削除できません:"_s, work, stuck.join(u", "_s));
    try {
        database.exportTo(work, publishedPassword());
        syncFile(work);
        jet::keepAttributes(work, databasePath);
        database.release();
        replaceDurably(work, databasePath);
    } catch (...) {
        jet::removeLeftover(work, publishedPassword());
        throw;
    }
    // Left behind by a kill before this line, the key file goes at the next
    // unlock, which finds the file under the published password.
    jet::dropFileKey();
    QFile::remove(keyFilePath(databasePath));
    QFile::remove(keyFilePath(databasePath) + u".lock"_s);
}

std::optional<accounts::LoginResult> unlock(const QString &databasePath, const QString &loginId,
                                            const QString &password)
{
    initialiseSodium();
    const QString id = normalised(loginId);
    const QString keyFile = keyFilePath(databasePath);
    const QDateTime now = jet::Clock::now();
    KeyFileLock lock(keyFile);
    KeyFile key = readKeyFile(keyFile);
    const auto found = key.accounts.find(id);
    if (found == key.accounts.end()) {
        // As long as a wrong password takes, so that the time does not tell
        // which IDs have a seal.  Not counted: there is nothing to lock.
        Seal decoy;
        decoy.salt.resize(crypto_pwhash_SALTBYTES);
        const accounts::HashCost cost = accounts::HashCost::interactive();
        decoy.operations = cost.operations;
        decoy.memory = cost.memory;
        Secret kek(crypto_aead_xchacha20poly1305_ietf_KEYBYTES);
        passwordKey(password, decoy, kek);
        return wrongPasswordOrNoSeal();
    }
    Seal &s = *found;
    if (s.lockedUntil.isValid() && now < s.lockedUntil)
        return accounts::lockedUntil(s.lockedUntil.toLocalTime());
    Secret fileKey(jet::kFileKeyBytes);
    if (!openWithPassword(key, id, s, password, fileKey.data())) {
        ++s.failures;
        const bool locking = s.failures >= key.failuresBeforeLock;
        if (locking) {
            s.failures = 0;
            s.lockedUntil = now.addSecs(qint64(key.lockMinutes) * 60);
        }
        writeKeyFile(keyFile, key);
        return locking ? accounts::lockedUntil(s.lockedUntil.toLocalTime()) : wrongPasswordOrNoSeal();
    }
    if (s.failures != 0 || s.lockedUntil.isValid()) {
        s.failures = 0;
        s.lockedUntil = QDateTime();
        writeKeyFile(keyFile, key);
    }
    hold(databasePath, fileKey.data());
    keeper().remember(keyFile, id, password);
    return std::nullopt;
}

void unlockWithRecoveryKey(const QString &databasePath, const QString &recoveryKey)
{
    initialiseSodium();
    const KeyFile key = readKeyFile(keyFilePath(databasePath));
    Secret recovery(kRecoveryBytes);
    Secret fileKey(jet::kFileKeyBytes);
    Secret kek(crypto_aead_xchacha20poly1305_ietf_KEYBYTES);
    const bool read = recoveryBytes(recoveryKey, recovery.data());
    if (read)
        recoveryKeyEncryptionKey(key, recovery.data(), kek);
    if (!read || !openSeal(key, kRecoveryOwner, key.recovery, kek.data(), fileKey.data()))
        throw refusal(u"回復キーが違います。"_s);
    hold(databasePath, fileKey.data());
    keeper();
}

bool warnsUnprotected(jet::Connection &connection)
{
    const QString location = connection.dataSource();
    return !jet::isServerAddress(location) && !jet::holdsFileKey() && !isProtected(location);
}

void copyKeyFile(const QString &databasePath, const QString &copyPath)
{
    if (!isProtected(databasePath) || jet::isServerAddress(copyPath))
        return;
    KeyFile key;
    {
        KeyFileLock lock(keyFilePath(databasePath));
        key = readKeyFile(keyFilePath(databasePath));
    }
    // The copy's login failures are its own.
    for (Seal &s : key.accounts) {
        s.failures = 0;
        s.lockedUntil = QDateTime();
    }
    writeKeyFile(keyFilePath(copyPath), key);
}

QStringList sealedLoginIds(const QString &databasePath)
{
    return readKeyFile(keyFilePath(databasePath)).accounts.keys();
}

} // namespace db::filekey
