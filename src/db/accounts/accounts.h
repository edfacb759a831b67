#pragma once

#include "db/accounts/rights.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace jet {
class Connection;
class Error;
}

namespace accounts {

class Authenticator;
class QrCode;

enum class State { Active, Locked, Disabled };

struct Account
{
    int id = 0;
    QString loginId;
    QString displayName;
    Role role = Role::Clerk;
    State state = State::Active;
    bool mustChangePassword = false;
    bool secondFactor = false;
    int failures = 0;
    QDateTime lockedUntil;
    QDateTime lastLogin;
};

// What an administrator sets for every account.
struct AccountSettings
{
    int failuresBeforeLock = 0;
    int lockMinutes = 0;
    int idleMinutes = 0; // before the screen locks
};

// What a login came to.  A refusal's reason is the window's message.
struct LoginResult
{
    enum class Outcome {
        LoggedIn,
        CodeNeeded, // the password was right; ask for the one-time code
        WrongPasswordOrId,
        WrongCode,
        Locked,
        Disabled,
    };
    Outcome outcome = Outcome::WrongPasswordOrId;
    QString reason;
    // Set on LoggedIn: the window asks for a new password first when the
    // account must change it.
    std::optional<Account> account;
};

// A second factor being enrolled: the app scans the QR code of the URI, and
// the first code it shows confirms it.
struct CodeEnrolment
{
    QString secret;
    QString uri;
};

// The ward's staff accounts in one database, with the accounts extension in
// place (extendDatabase()).  The time is jet::Clock's, so that a test fixes
// it.  Every refusal throws jet::Error(err::NotSupported) with the reason the
// window shows; input that breaks a rule, err::InvalidArgument.  Whoever acts
// on other accounts is named and must hold the right Accounts, read anew from
// the database each time, so that a window left open after a demotion can
// no longer write.
class StaffAccounts
{
public:
    StaffAccounts(jet::Connection &connection, Authenticator &authenticator);

    // The first account of a database without accounts: an administrator.
    Account createFirstAdministrator(const QString &loginId, const QString &displayName, const QString &password);
    bool hasAccounts() const;

    // The new account must change its password at its first login; only the
    // demo hospital's published accounts keep theirs.
    Account create(const Account &by, const QString &loginId, const QString &displayName, Role role,
                   const QString &initialPassword, bool mustChangePassword = true);
    std::optional<Account> find(const QString &loginId) const;
    Account read(int id) const;
    QList<Account> all() const;

    LoginResult logIn(const QString &loginId, const QString &password, const QString &code = {});

    // The owner's change; the current password is asked again.
    void changePassword(const Account &account, const QString &currentPassword, const QString &newPassword);
    // An administrator's reset: the owner must change it at the next login.
    void resetPassword(const Account &by, int id, const QString &temporaryPassword);
    void setRole(const Account &by, int id, Role role);
    void disable(const Account &by, int id);
    void enable(const Account &by, int id);
    void unlock(const Account &by, int id);

    // The owner's second factor: the enrolment is kept once a code of it is
    // right.  Removing it asks for a new password at the next login, since a
    // password of fewer than 13 characters may have leant on it.
    CodeEnrolment beginCodeEnrolment(const Account &account) const;
    void confirmCodeEnrolment(const Account &account, const CodeEnrolment &enrolment, const QString &code);
    void removeSecondFactor(const Account &by, int id);

    // Disabled accounts may nothing; the rights table answers for the others.
    bool may(const Account &account, Right right) const;
    bool roleMay(Role role, Right right) const;
    // The administrators keep the right Accounts, so that someone can always
    // administer.
    void setRoleMay(const Account &by, Role role, Right right, bool allowed);

    AccountSettings settings() const;
    void setSettings(const Account &by, const AccountSettings &settings);

private:
    // What the login learns of an account before its password is tried;
    // none for a login ID without an account on a file.
    struct BeforeLogin
    {
        State state = State::Active;
        QDateTime lockedUntil;
    };
    std::optional<BeforeLogin> beforeLogin(const QString &loginId, const QDateTime &now);
    std::optional<QDateTime> countFailure(const QString &loginId, const QDateTime &now);

    void requireRight(const Account &by, Right right) const;
    void requireOtherAdministrator(int id, const QString &refusal) const;
    void setState(int id, State state);

    jet::Connection &m_connection;
    Authenticator &m_authenticator;
};

// Told of an account's password whenever the program learns it -- set by
// its creation, a change or a reset, or proved by a login -- and of an
// account disabled, each after the change is committed, so that what is kept
// elsewhere under the password follows it; and of a lock lifted, so that a
// count kept elsewhere is lifted with it.  What it throws reaches the
// caller, the database's change standing.
class PasswordObserver
{
public:
    virtual ~PasswordObserver() = default;
    virtual void passwordKnown(jet::Connection &connection, const QString &loginId, const QString &password) = 0;
    virtual void accountDisabled(jet::Connection &connection, const QString &loginId) = 0;
    // An administrator lifted the account's lock.
    virtual void accountUnlocked(jet::Connection &connection, const QString &loginId) = 0;
};

// Throws, saying what to do, where the first administrator cannot be made
// through this connection: on a server, by any role but the database's
// owner, such as the workstations' role before a login.
void requireFirstAdministratorPossible(jet::Connection &connection);

// One for the process, or none (nullptr); not owned.
void setPasswordObserver(PasswordObserver *observer);

// The settings as settings() reads them, for those who hold no accounts object.
AccountSettings readSettings(jet::Connection &connection);

// A refusal that does not tell an unknown login ID from a wrong password,
// and one for a login ID locked until the time given.
LoginResult wrongPasswordOrId();
LoginResult lockedUntil(const QDateTime &until);

// The name of a state as the window shows it and the table stores it.
QString stateName(State state);

// Why a display name cannot be used, as the window shows it; empty when it
// can.  At most kDisplayNameLength characters (extension.h).
QString displayNameProblem(const QString &displayName);

// Whether an error is one of StaffAccounts' refusals (err::NotSupported) or
// a broken rule (err::InvalidArgument), whose text is the reason to show,
// rather than a failure of the database.
bool isRefusal(const jet::Error &error);

// Why a login ID cannot be used, as the window shows it; empty when it can.
// Half-width letters, digits, '.', '_' and '-', at most 32; upper and lower
// case are the same ID.
QString loginIdProblem(const QString &loginId);

} // namespace accounts
