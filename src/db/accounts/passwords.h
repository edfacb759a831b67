#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <memory>

namespace jet {
class Connection;
}

namespace accounts {

// Why a password may not be used, as the window shows it; empty when it may.
// At least 13 characters mixing at least three of upper case, lower case,
// digits and symbols, or at least 8 so mixed on an account with a second
// factor; never the login ID.  Characters are counted as the user sees them.
QString passwordProblem(const QString &password, const QString &loginId, bool secondFactor);

// Whether the user has finished typing a new password: while they type, a
// box still empty is not yet wrong; once they ask for it to be used, it is.
enum class Typing { Ongoing, Finished };

// Why a new password, typed in one box and again in the next, may not be
// used; empty when it may.  Every window that takes a new password asks
// this, so that they answer alike: the rules above, then the repeat.
QString newPasswordProblem(const QString &password, const QString &again, const QString &loginId, bool secondFactor,
                           Typing typing);

// The work an Argon2id hash costs.  The program uses libsodium's interactive
// limits.  The least cost is for the tests, so that a suite of many logins
// stays fast, and for the demo hospital's passwords, which are published
// anyway.  A hash of another cost is replaced at its next successful check.
struct HashCost
{
    unsigned long long operations;
    std::size_t memory;

    static HashCost interactive();
    static HashCost least();
};

// libsodium's crypto_pwhash_str: an Argon2id string that carries its salt and
// cost.  Throws jet::Error(err::GeneralFailure) when the memory is not there.
QByteArray hashPassword(const QString &password, const HashCost &cost);
// Constant time for a given cost, whatever the password.
bool verifyPassword(const QByteArray &hash, const QString &password);
bool needsRehash(const QByteArray &hash, const HashCost &cost);

// Whether a password is an account's, and setting it.  On a file the
// Argon2id hash in the account's row answers; a server's authenticator lets
// the server's own login decide.
class Authenticator
{
public:
    virtual ~Authenticator() = default;

    // A login ID without an account costs the same time as a wrong password,
    // so that the time taken does not tell the two apart.
    virtual bool check(jet::Connection &connection, const QString &loginId, const QString &password) = 0;
    // The password has passed the rules; the account's row exists.
    virtual void setPassword(jet::Connection &connection, const QString &loginId, const QString &password) = 0;
    // The whole login succeeded, second factor and all: where the
    // authenticator's own connections follow the account, from now on.
    virtual void admit(jet::Connection &connection, const QString &loginId, const QString &password);
    // Where a login, its password proved, reads and writes the account's own
    // row: null for the caller's connection, or a connection of its own
    // that logs in as the account.
    virtual std::unique_ptr<jet::Connection> accountConnection(jet::Connection &connection, const QString &loginId,
                                                               const QString &password);
};

// The file's authenticator: the hash in the accounts table.
class PasswordHashes : public Authenticator
{
public:
    explicit PasswordHashes(const HashCost &cost = HashCost::interactive());

    bool check(jet::Connection &connection, const QString &loginId, const QString &password) override;
    void setPassword(jet::Connection &connection, const QString &loginId, const QString &password) override;

private:
    HashCost m_cost;
    // Verified in place of a missing account's hash.
    QByteArray m_decoy;
};

} // namespace accounts
