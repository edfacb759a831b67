#include "db/accounts/accounts.h"

#include "db/accounts/extension.h"
#include "db/accounts/onetimecode.h"
#include "db/accounts/passwords.h"
#include "db/accounts/serverroles.h"
#include "db/audit.h"
#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/driver.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "db/engine/transaction.h"

#include <QStringList>

namespace accounts {

using namespace Qt::StringLiterals;

namespace {

const QString kColumns = u"職員ID, ログインID, 表示名, 役割, 状態, 要変更, 二要素, 失敗回数, ロック解除時刻, 最終ログイン"_s;

QString table()
{
    return u"`%1`"_s.arg(kAccountTable);
}

jet::Error refused(const QString &reason)
{
    return jet::Error(jet::err::NotSupported, reason);
}

jet::Error invalid(const QString &reason)
{
    return jet::Error(jet::err::InvalidArgument, reason);
}

QString normalised(const QString &loginId)
{
    return loginId.trimmed().toLower();
}

State stateNamed(const QString &name)
{
    if (name == kLocked)
        return State::Locked;
    if (name == kDisabled)
        return State::Disabled;
    return State::Active;
}

Account accountOf(const jet::Recordset &row)
{
    Account a;
    a.id = row.value(0).toInt();
    a.loginId = row.value(1).toString();
    a.displayName = row.value(2).toString();
    // A role name the program does not know is shown as a clerk's; may()
    // grants it nothing.
    a.role = roleNamed(row.value(3).toString()).value_or(Role::Clerk);
    a.state = stateNamed(row.value(4).toString());
    a.mustChangePassword = row.value(5).toBool();
    a.secondFactor = !row.value(6).toString().isEmpty();
    a.failures = row.value(7).toInt();
    a.lockedUntil = row.value(8).toDateTime();
    a.lastLogin = row.value(9).toDateTime();
    return a;
}

std::optional<Account> readWhere(jet::Connection &connection, const QString &criterion, const QVariant &value)
{
    jet::Recordset row;
    row.openCommand(u"SELECT %1 FROM %2 WHERE %3 = ?"_s.arg(kColumns, table(), criterion), &connection, {value},
                    jet::CursorType::ForwardOnly);
    if (row.eof())
        return std::nullopt;
    return accountOf(row);
}

// The account acted on, as the audit trail names it.
QString named(const Account &account)
{
    return u"%1（%2）"_s.arg(account.loginId, account.displayName);
}

// In the change's own transaction, so that the trail holds every change
// kept and none undone.
void record(jet::Connection &connection, QStringView action, const QString &detail)
{
    db::audit::append(connection, {action.toString(), detail, std::nullopt, std::nullopt});
}

QString allowedText(bool allowed)
{
    return allowed ? u"許可"_s : u"不可"_s;
}

LoginResult refusal(LoginResult::Outcome outcome, const QString &reason)
{
    LoginResult result;
    result.outcome = outcome;
    result.reason = reason;
    return result;
}

bool isServer(jet::Connection &connection)
{
    return connection.driver().dialect() == jet::Dialect::Postgres;
}

PasswordObserver *passwordObserver = nullptr;

void tellPassword(jet::Connection &connection, const QString &loginId, const QString &password)
{
    if (passwordObserver)
        passwordObserver->passwordKnown(connection, loginId, password);
}

} // namespace

void requireFirstAdministratorPossible(jet::Connection &connection)
{
    if (isServer(connection))
        requireOwnerForFirstAdministrator(connection);
}

void setPasswordObserver(PasswordObserver *observer)
{
    passwordObserver = observer;
}

// An unknown login ID and a wrong password get the same answer, so that
// nobody learns which IDs exist by trying them.
LoginResult wrongPasswordOrId()
{
    return refusal(LoginResult::Outcome::WrongPasswordOrId, u"ログインIDまたはパスワードが違います。"_s);
}

LoginResult lockedUntil(const QDateTime &until)
{
    return refusal(LoginResult::Outcome::Locked,
                   u"ログインの失敗が続いたため、このアカウントは %1 までロックされています。管理者に解除を依頼することもできます。"_s
                       .arg(until.toString(u"H:mm"_s)));
}

QString stateName(State state)
{
    switch (state) {
    case State::Active:
        return kActive.toString();
    case State::Locked:
        return kLocked.toString();
    case State::Disabled:
        return kDisabled.toString();
    }
    Q_UNREACHABLE();
}

QString displayNameProblem(const QString &displayName)
{
    const QString name = displayName.trimmed();
    if (name.isEmpty())
        return u"表示名を入力してください。"_s;
    if (name.size() > kDisplayNameLength)
        return u"表示名は%1文字以内で入力してください。"_s.arg(kDisplayNameLength);
    return {};
}

bool isRefusal(const jet::Error &error)
{
    return error.number() == jet::err::NotSupported || error.number() == jet::err::InvalidArgument;
}

QString loginIdProblem(const QString &loginId)
{
    const QString id = loginId.trimmed();
    bool plain = !id.isEmpty() && id.size() <= 32;
    for (QChar c : id)
        plain = plain && c.unicode() < 0x80 && (c.isLetterOrNumber() || c == u'.' || c == u'_' || c == u'-');
    return plain ? QString() : u"ログインIDは32文字以内の半角英数字と「.」「_」「-」で入力してください。"_s;
}

StaffAccounts::StaffAccounts(jet::Connection &connection, Authenticator &authenticator)
    : m_connection(connection), m_authenticator(authenticator)
{
}

bool StaffAccounts::hasAccounts() const
{
    // Asked before anyone logs in, where a server's gate role reads no account.
    if (isServer(m_connection))
        return serverHasAccounts(m_connection);
    jet::Recordset rows;
    rows.open(u"SELECT Count(*) AS 数 FROM %1"_s.arg(table()), &m_connection, jet::CursorType::ForwardOnly,
              jet::LockType::ReadOnly);
    return rows.value(0).toInt() > 0;
}

Account StaffAccounts::createFirstAdministrator(const QString &loginId, const QString &displayName,
                                                const QString &password)
{
    jet::Transaction transaction(m_connection);
    if (hasAccounts())
        throw refused(u"このデータベースには既にアカウントがあります。最初の管理者は作れません。"_s);
    const QString id = normalised(loginId);
    if (const QString problem = loginIdProblem(id); !problem.isEmpty())
        throw invalid(problem);
    if (const QString problem = passwordProblem(password, id, false); !problem.isEmpty())
        throw invalid(problem);
    if (const QString problem = displayNameProblem(displayName); !problem.isEmpty())
        throw invalid(problem);
    m_connection.execute(u"INSERT INTO %1 (ログインID, 表示名, 役割, 状態, 要変更) VALUES (?, ?, ?, ?, ?)"_s.arg(table()),
                         {id, displayName.trimmed(), roleName(Role::Administrator), kActive.toString(), false});
    m_authenticator.setPassword(m_connection, id, password);
    const Account created = *find(id);
    record(m_connection, db::audit::action::AccountCreated, u"%1、%2"_s.arg(named(created), roleName(created.role)));
    transaction.commit();
    tellPassword(m_connection, id, password);
    return created;
}

Account StaffAccounts::create(const Account &by, const QString &loginId, const QString &displayName, Role role,
                              const QString &initialPassword, bool mustChangePassword)
{
    jet::Transaction transaction(m_connection);
    requireRight(by, Right::Accounts);
    const QString id = normalised(loginId);
    if (const QString problem = loginIdProblem(id); !problem.isEmpty())
        throw invalid(problem);
    if (const QString problem = displayNameProblem(displayName); !problem.isEmpty())
        throw invalid(problem);
    if (const QString problem = passwordProblem(initialPassword, id, false); !problem.isEmpty())
        throw invalid(problem);
    if (find(id))
        throw refused(u"ログインID「%1」は既に使われています。"_s.arg(id));
    m_connection.execute(u"INSERT INTO %1 (ログインID, 表示名, 役割, 状態, 要変更) VALUES (?, ?, ?, ?, ?)"_s.arg(table()),
                         {id, displayName.trimmed(), roleName(role), kActive.toString(), mustChangePassword});
    m_authenticator.setPassword(m_connection, id, initialPassword);
    const Account created = *find(id);
    record(m_connection, db::audit::action::AccountCreated, u"%1、%2"_s.arg(named(created), roleName(created.role)));
    transaction.commit();
    tellPassword(m_connection, id, initialPassword);
    return created;
}

std::optional<Account> StaffAccounts::find(const QString &loginId) const
{
    return readWhere(m_connection, u"ログインID"_s, normalised(loginId));
}

Account StaffAccounts::read(int id) const
{
    std::optional<Account> account = readWhere(m_connection, u"職員ID"_s, id);
    if (!account)
        throw jet::Error(jet::err::RecordDeleted, u"このアカウントは見つかりません。一覧を開き直してください。"_s);
    return *account;
}

QList<Account> StaffAccounts::all() const
{
    jet::Recordset rows;
    rows.open(u"SELECT %1 FROM %2 ORDER BY ログインID"_s.arg(kColumns, table()), &m_connection,
              jet::CursorType::ForwardOnly, jet::LockType::ReadOnly);
    QList<Account> found;
    for (; !rows.eof(); rows.moveNext())
        found.append(accountOf(rows));
    return found;
}

LoginResult StaffAccounts::logIn(const QString &loginId, const QString &password, const QString &code)
{
    const QString id = normalised(loginId);
    const QDateTime now = jet::Clock::now();
    const std::optional<BeforeLogin> before = loginIdProblem(id).isEmpty() ? beforeLogin(id, now) : std::nullopt;
    // A locked account is not asked for its password at all, so that
    // guessing goes no further while it lasts.
    if (before && before->state == State::Locked)
        return lockedUntil(before->lockedUntil);
    jet::Transaction transaction(m_connection);
    const bool passwordRight = m_authenticator.check(m_connection, id, password);
    const auto fail = [&](const LoginResult &answer) {
        if (before->state != State::Active)
            return answer;
        jet::Transaction counting(m_connection);
        const std::optional<QDateTime> until = countFailure(id, now);
        counting.commit();
        return until ? lockedUntil(*until) : answer;
    };
    if (!before) {
        transaction.commit();
        return wrongPasswordOrId();
    }
    if (!passwordRight) {
        transaction.commit();
        return fail(wrongPasswordOrId());
    }
    // What the password check wrote (a server role's password set from a
    // copied hash) is the server's before the account logs in with it.
    transaction.commit();

    // The rest reads and writes the account's own row, as the account.
    const std::unique_ptr<jet::Connection> ownConnection = m_authenticator.accountConnection(m_connection, id, password);
    jet::Connection &own = ownConnection ? *ownConnection : m_connection;
    std::optional<jet::Transaction> work(std::in_place, own);
    // Ended before the count, which on a file shares its connection.
    const auto failOwn = [&](const LoginResult &answer) {
        work.reset();
        return fail(answer);
    };
    const std::optional<Account> account = readWhere(own, u"ログインID"_s, id);
    if (!account)
        return failOwn(wrongPasswordOrId());
    if (account->state == State::Disabled)
        return refusal(LoginResult::Outcome::Disabled,
                       u"このアカウントは無効にされています。管理者に問い合わせてください。"_s);
    if (account->secondFactor) {
        if (code.trimmed().isEmpty()) {
            work->commit();
            return refusal(LoginResult::Outcome::CodeNeeded, u"認証アプリに表示されている6桁のコードを入力してください。"_s);
        }
        jet::Recordset factor;
        factor.openCommand(u"SELECT 二要素, 二要素使用 FROM %1 WHERE 職員ID = ?"_s.arg(table()), &own, {account->id},
                           jet::CursorType::ForwardOnly);
        const QString secret = factor.value(0).toString();
        const qint64 lastUsed = factor.value(1).toLongLong();
        factor.close();
        const std::optional<qint64> step = matchingCodeStep(secret, code, now);
        if (!step)
            return failOwn(refusal(LoginResult::Outcome::WrongCode, u"コードが違います。認証アプリに表示されている最新のコードを入力してください。"_s));
        // Taken only where no workstation took it or a later one meanwhile.
        if (*step <= lastUsed
            || own.execute(u"UPDATE %1 SET 二要素使用 = ? WHERE 職員ID = ? AND 二要素使用 < ?"_s.arg(table()),
                           {*step, account->id, *step})
                   != 1)
            return failOwn(refusal(LoginResult::Outcome::WrongCode,
                                   u"このコードは既に使われています。認証アプリに次のコードが表示されてから入力してください。"_s));
    }
    own.execute(u"UPDATE %1 SET 状態 = ?, 失敗回数 = 0, ロック解除時刻 = NULL, 最終ログイン = ? WHERE 職員ID = ?"_s.arg(table()),
                {kActive.toString(), now, account->id});
    LoginResult result;
    result.outcome = LoginResult::Outcome::LoggedIn;
    result.account = readWhere(own, u"職員ID"_s, account->id);
    work->commit();
    m_authenticator.admit(m_connection, id, password);
    tellPassword(m_connection, id, password);
    return result;
}

std::optional<StaffAccounts::BeforeLogin> StaffAccounts::beforeLogin(const QString &loginId, const QDateTime &now)
{
    // The server tells the gate of a lock only: an unknown ID, like a
    // disabled account's role, fails at the server's own login.
    if (isServer(m_connection)) {
        if (const std::optional<QDateTime> until = serverLockEnd(m_connection, loginId, now))
            return BeforeLogin{State::Locked, *until};
        return BeforeLogin{State::Active, {}};
    }
    const std::optional<Account> account = find(loginId);
    if (!account)
        return std::nullopt;
    if (account->state == State::Locked && !(account->lockedUntil.isValid() && now < account->lockedUntil)) {
        // Lifted on its own, before the password is tried.
        jet::Transaction lifting(m_connection);
        m_connection.execute(u"UPDATE %1 SET 状態 = ?, 失敗回数 = 0, ロック解除時刻 = NULL WHERE 職員ID = ?"_s.arg(table()),
                             {kActive.toString(), account->id});
        lifting.commit();
        return BeforeLogin{State::Active, {}};
    }
    return BeforeLogin{account->state, account->lockedUntil};
}

// Counted where it is stored, so that failures on two workstations at once
// are both counted.
std::optional<QDateTime> StaffAccounts::countFailure(const QString &loginId, const QDateTime &now)
{
    if (isServer(m_connection))
        return countServerFailure(m_connection, loginId, now);
    const Account account = *find(loginId);
    m_connection.execute(u"UPDATE %1 SET 失敗回数 = 失敗回数 + 1 WHERE 職員ID = ?"_s.arg(table()), {account.id});
    const AccountSettings limits = settings();
    if (read(account.id).failures < limits.failuresBeforeLock)
        return std::nullopt;
    const QDateTime until = now.addSecs(qint64(limits.lockMinutes) * 60);
    m_connection.execute(u"UPDATE %1 SET 状態 = ?, ロック解除時刻 = ? WHERE 職員ID = ?"_s.arg(table()),
                         {kLocked.toString(), until, account.id});
    return until;
}

void StaffAccounts::changePassword(const Account &account, const QString &currentPassword,
                                   const QString &newPassword)
{
    jet::Transaction transaction(m_connection);
    const Account stored = read(account.id);
    if (!m_authenticator.check(m_connection, stored.loginId, currentPassword))
        throw refused(u"現在のパスワードが違います。"_s);
    if (newPassword == currentPassword)
        throw invalid(u"新しいパスワードには、今までと違うものを入力してください。"_s);
    if (const QString problem = passwordProblem(newPassword, stored.loginId, stored.secondFactor); !problem.isEmpty())
        throw invalid(problem);
    m_authenticator.setPassword(m_connection, stored.loginId, newPassword);
    m_connection.execute(u"UPDATE %1 SET 要変更 = ? WHERE 職員ID = ?"_s.arg(table()), {false, stored.id});
    record(m_connection, db::audit::action::PasswordChanged, named(stored));
    transaction.commit();
    tellPassword(m_connection, stored.loginId, newPassword);
}

void StaffAccounts::resetPassword(const Account &by, int id, const QString &temporaryPassword)
{
    jet::Transaction transaction(m_connection);
    requireRight(by, Right::Accounts);
    const Account stored = read(id);
    if (const QString problem = passwordProblem(temporaryPassword, stored.loginId, stored.secondFactor);
        !problem.isEmpty())
        throw invalid(problem);
    m_authenticator.setPassword(m_connection, stored.loginId, temporaryPassword);
    // A forgotten password is what locks an account most often: the reset
    // lifts the lock as well.
    m_connection.execute(u"UPDATE %1 SET 要変更 = ?, 失敗回数 = 0, ロック解除時刻 = NULL, 状態 = ? WHERE 職員ID = ?"_s.arg(table()),
                         {true, stored.state == State::Disabled ? kDisabled.toString() : kActive.toString(), id});
    record(m_connection, db::audit::action::PasswordReset, named(stored));
    transaction.commit();
    // A disabled account's password stays unknown to everything but its hash.
    if (stored.state != State::Disabled)
        tellPassword(m_connection, stored.loginId, temporaryPassword);
}

void StaffAccounts::setRole(const Account &by, int id, Role role)
{
    jet::Transaction transaction(m_connection);
    requireRight(by, Right::Accounts);
    if (role != Role::Administrator)
        requireOtherAdministrator(id, u"最後の管理者の役割は変えられません。先に別の管理者のアカウントを作ってください。"_s);
    const Account stored = read(id);
    if (stored.role == role)
        return;
    m_connection.execute(u"UPDATE %1 SET 役割 = ? WHERE 職員ID = ?"_s.arg(table()), {roleName(role), id});
    record(m_connection, db::audit::action::RoleChanged,
           u"%1、%2 → %3"_s.arg(named(stored), roleName(stored.role), roleName(role)));
    transaction.commit();
}

void StaffAccounts::disable(const Account &by, int id)
{
    jet::Transaction transaction(m_connection);
    requireRight(by, Right::Accounts);
    requireOtherAdministrator(id, u"最後の管理者は無効にできません。先に別の管理者のアカウントを作ってください。"_s);
    const Account stored = read(id);
    if (stored.state == State::Disabled)
        return;
    setState(id, State::Disabled);
    record(m_connection, db::audit::action::AccountDisabled, named(stored));
    transaction.commit();
    if (passwordObserver)
        passwordObserver->accountDisabled(m_connection, stored.loginId);
}

void StaffAccounts::enable(const Account &by, int id)
{
    jet::Transaction transaction(m_connection);
    requireRight(by, Right::Accounts);
    const Account stored = read(id);
    if (stored.state != State::Disabled)
        return;
    setState(id, State::Active);
    record(m_connection, db::audit::action::AccountEnabled, named(stored));
    transaction.commit();
}

void StaffAccounts::unlock(const Account &by, int id)
{
    jet::Transaction transaction(m_connection);
    requireRight(by, Right::Accounts);
    const Account stored = read(id);
    // The key file counts the failures of a login that could not open the
    // database, so its lock is lifted even where the account's row is not locked.
    if (stored.state == State::Locked) {
        setState(id, State::Active);
        record(m_connection, db::audit::action::AccountUnlocked, named(stored));
    }
    transaction.commit();
    if (passwordObserver)
        passwordObserver->accountUnlocked(m_connection, stored.loginId);
}

void StaffAccounts::setState(int id, State state)
{
    if (m_connection.execute(u"UPDATE %1 SET 状態 = ?, 失敗回数 = 0, ロック解除時刻 = NULL WHERE 職員ID = ?"_s.arg(table()),
                             {stateName(state), id})
        != 1)
        read(id);
}

CodeEnrolment StaffAccounts::beginCodeEnrolment(const Account &account) const
{
    const Account stored = read(account.id);
    CodeEnrolment enrolment;
    enrolment.secret = newCodeSecret();
    enrolment.uri = codeEnrolmentUri(enrolment.secret, stored.loginId);
    return enrolment;
}

void StaffAccounts::confirmCodeEnrolment(const Account &account, const CodeEnrolment &enrolment, const QString &code)
{
    const std::optional<qint64> step = matchingCodeStep(enrolment.secret, code, jet::Clock::now());
    if (!step)
        throw invalid(u"コードが違います。認証アプリに表示されている最新のコードを入力してください。"_s);
    jet::Transaction transaction(m_connection);
    const Account stored = read(account.id);
    m_connection.execute(u"UPDATE %1 SET 二要素 = ?, 二要素使用 = ? WHERE 職員ID = ?"_s.arg(table()),
                         {enrolment.secret, *step, account.id});
    record(m_connection, db::audit::action::SecondFactorEnrolled, named(stored));
    transaction.commit();
}

void StaffAccounts::removeSecondFactor(const Account &by, int id)
{
    jet::Transaction transaction(m_connection);
    if (by.id != id)
        requireRight(by, Right::Accounts);
    // Without a second factor there is no shorter password to replace.
    const Account stored = read(id);
    if (!stored.secondFactor)
        return;
    m_connection.execute(u"UPDATE %1 SET 二要素 = NULL, 二要素使用 = 0, 要変更 = ? WHERE 職員ID = ?"_s.arg(table()),
                         {true, id});
    record(m_connection, db::audit::action::SecondFactorRemoved, named(stored));
    transaction.commit();
}

bool StaffAccounts::may(const Account &account, Right right) const
{
    // The role as stored: one the program does not know is granted nothing.
    jet::Recordset row;
    row.openCommand(u"SELECT 職員.状態, 役割権限.許可 FROM %1 AS 職員 INNER JOIN `%2` AS 役割権限 ON 職員.役割 = 役割権限.役割 "
                    "WHERE 職員.職員ID = ? AND 役割権限.権限 = ?"_s.arg(table(), kRightsTable),
                    &m_connection, {account.id, rightName(right)}, jet::CursorType::ForwardOnly);
    return !row.eof() && row.value(0).toString() != kDisabled && row.value(1).toBool();
}

bool StaffAccounts::roleMay(Role role, Right right) const
{
    jet::Recordset row;
    row.openCommand(u"SELECT 許可 FROM `%1` WHERE 役割 = ? AND 権限 = ?"_s.arg(kRightsTable), &m_connection,
                    {roleName(role), rightName(right)}, jet::CursorType::ForwardOnly);
    return !row.eof() && row.value(0).toBool();
}

void StaffAccounts::setRoleMay(const Account &by, Role role, Right right, bool allowed)
{
    jet::Transaction transaction(m_connection);
    requireRight(by, Right::Accounts);
    if (role == Role::Administrator && right == Right::Accounts && !allowed)
        throw refused(u"管理者からアカウント管理の権限は外せません。"_s);
    const bool before = roleMay(role, right);
    if (before == allowed)
        return;
    if (m_connection.execute(u"UPDATE `%1` SET 許可 = ? WHERE 役割 = ? AND 権限 = ?"_s.arg(kRightsTable),
                             {allowed, roleName(role), rightName(right)})
        == 0)
        m_connection.execute(u"INSERT INTO `%1` (役割, 権限, 許可) VALUES (?, ?, ?)"_s.arg(kRightsTable),
                             {roleName(role), rightName(right), allowed});
    record(m_connection, db::audit::action::RightsChanged,
           u"%1、%2 %3 → %4"_s.arg(roleName(role), rightName(right), allowedText(before), allowedText(allowed)));
    transaction.commit();
}

AccountSettings StaffAccounts::settings() const
{
    return readSettings(m_connection);
}

AccountSettings readSettings(jet::Connection &connection)
{
    jet::Recordset row;
    row.open(u"SELECT ロック回数, ロック分, 画面ロック分 FROM `%1` ORDER BY 設定ID"_s.arg(kSettingsTable), &connection,
             jet::CursorType::ForwardOnly, jet::LockType::ReadOnly);
    if (row.eof())
        return {kDefaultFailuresBeforeLock, kDefaultLockMinutes, kDefaultIdleMinutes};
    return {row.value(0).toInt(), row.value(1).toInt(), row.value(2).toInt()};
}

void StaffAccounts::setSettings(const Account &by, const AccountSettings &settings)
{
    if (settings.failuresBeforeLock < 1 || settings.lockMinutes < 1 || settings.idleMinutes < 1)
        throw invalid(u"ロックまでの回数、ロックの時間と画面ロックまでの時間は、どれも1以上にしてください。"_s);
    jet::Transaction transaction(m_connection);
    requireRight(by, Right::Accounts);
    const AccountSettings before = this->settings();
    QStringList changes;
    const auto compare = [&changes](const QString &name, int from, int to, const QString &unit) {
        if (from != to)
            changes.append(u"%1 %2%4 → %3%4"_s.arg(name).arg(from).arg(to).arg(unit));
    };
    compare(u"ロックまでの失敗回数"_s, before.failuresBeforeLock, settings.failuresBeforeLock, u"回"_s);
    compare(u"ロックの時間"_s, before.lockMinutes, settings.lockMinutes, u"分"_s);
    compare(u"画面ロックまでの時間"_s, before.idleMinutes, settings.idleMinutes, u"分"_s);
    if (changes.isEmpty())
        return;
    m_connection.execute(u"DELETE FROM `%1`"_s.arg(kSettingsTable));
    m_connection.execute(u"INSERT INTO `%1` (ロック回数, ロック分, 画面ロック分) VALUES (?, ?, ?)"_s.arg(kSettingsTable),
                         {settings.failuresBeforeLock, settings.lockMinutes, settings.idleMinutes});
    record(m_connection, db::audit::action::SettingsChanged, changes.join(u"、"_s));
    transaction.commit();
}

void StaffAccounts::requireRight(const Account &by, Right right) const
{
    if (!may(by, right))
        throw refused(u"この操作を行う権限がありません（%1）。"_s.arg(rightName(right)));
}

void StaffAccounts::requireOtherAdministrator(int id, const QString &refusal) const
{
    const Account target = read(id);
    if (target.role != Role::Administrator || target.state == State::Disabled)
        return;
    jet::Recordset others;
    others.openCommand(u"SELECT Count(*) AS 数 FROM %1 WHERE 役割 = ? AND 状態 <> ? AND 職員ID <> ?"_s.arg(table()),
                       &m_connection, {roleName(Role::Administrator), kDisabled.toString(), id},
                       jet::CursorType::ForwardOnly);
    if (others.value(0).toInt() == 0)
        throw refused(refusal);
}

} // namespace accounts
