#include "db/accounts/accounts.h"
#include "db/accounts/extension.h"
#include "db/accounts/serverroles.h"
#include "db/audit.h"
#include "db/check.h"
#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/postgres/pgdriver.h"
#include "db/engine/postgres/server.h"
#include "db/location.h"
#include "db/schema.h"
#include "db/session.h"
#include "support/testserver.h"

#include <QDir>
#include <QFile>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace accounts;
using namespace testing_support;

namespace {

const QString kAdminPassword = u"Kanri-Shiken-2026"_s;
const QString kNursePassword = u"Kango-Shiken-2026"_s;

// A ledger on the test server with an administrator and a nurse, opened as
// its owner, as the program is before anyone logs in.
class ServerAccounts : public ::testing::Test
{
protected:
    ServerAccounts()
    {
        // Every statement of the program's sessions goes to the server's log.
        server.exec("ALTER DATABASE \"" + server.name() + "\" SET log_statement = 'all'");
        db::createDatabase(location, db::Generation::V2112);
        connection.open(db::plainConnectionString(location));
        // The accounts before the trail, as the demo makes them.
        extendDatabase(connection);
        db::audit::extendDatabase(connection);
        administrator = staff.createFirstAdministrator(u"kanri"_s, u"管理 太郎"_s, kAdminPassword);
        nurse = staff.create(administrator, u"kango"_s, u"看護 花子"_s, Role::Nurse, kNursePassword, false);
        nurseRole = serverRole(connection, u"kango"_s);
    }
    ~ServerAccounts() override
    {
        jet::setServerLogin({}, {});
        connection.close();
        jet::releasePooledHandles(location);
    }

    // What the server answers a statement of the role's own session, as
    // psql would send it: its SQLSTATE, empty when it succeeds.
    QByteArray asRole(const QString &role, const QString &password, const QByteArray &sql)
    {
        const QByteArray user = role.toUtf8(), secret = password.toUtf8(), info = server.conninfo();
        const char *keys[] = {"dbname", "user", "password", nullptr};
        const char *values[] = {info.constData(), user.constData(), secret.constData(), nullptr};
        PGconn *session = PQconnectdbParams(keys, values, 1);
        QByteArray state = "no login";
        if (PQstatus(session) == CONNECTION_OK) {
            PGresult *result = PQexec(session, sql.constData());
            state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
            PQclear(result);
        }
        PQfinish(session);
        return state;
    }

    ServerDatabase server{testServerConninfo()};
    const QString location = QString::fromUtf8(server.conninfo());
    jet::Connection connection;
    ServerLogins logins;
    StaffAccounts staff{connection, logins};
    Account administrator, nurse;
    QString nurseRole;
};

TEST_F(ServerAccounts, EachAccountIsARoleOfItsJobThatTheServerLetsInWithItsPasswordOnly)
{
    // Named after the database, so that two ledgers' roles never meet.
    ASSERT_TRUE(nurseRole.endsWith(u".kango"_s));
    const QByteArray prefix = nurseRole.chopped(6).toUtf8();
    EXPECT_TRUE(jet::serverAccepts(location, nurseRole, kNursePassword));
    EXPECT_FALSE(jet::serverAccepts(location, nurseRole, kAdminPassword));
    EXPECT_FALSE(jet::serverAccepts(location, nurseRole + u"x"_s, kNursePassword));
    EXPECT_TRUE(server.value("SELECT pg_has_role('" + nurseRole.toUtf8() + "', '" + prefix + "_nurse', 'MEMBER')").toBool());
    EXPECT_TRUE(server.value("SELECT rolpassword FROM pg_authid WHERE rolname = '" + nurseRole.toUtf8() + "'")
                    .toString()
                    .startsWith(u"SCRAM-SHA-256$"_s));

    // Only its verifier travelled: neither password is in a statement the
    // server logged, though the verifiers are.
    QFile log(QDir(server.value("SELECT current_setting('data_directory')").toString()).filePath(u"../server.log"_s));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    EXPECT_TRUE(logged.contains("SCRAM-SHA-256$"));
    EXPECT_FALSE(logged.contains(kNursePassword.toUtf8()));
    EXPECT_FALSE(logged.contains(kAdminPassword.toUtf8()));
}

TEST_F(ServerAccounts, TheServerRefusesANurseWhatTheRightsTableDoesNotGrantAndFollowsItsChanges)
{
    const auto nurseSays = [&](const char *sql) { return asRole(nurseRole, kNursePassword, sql); };
    EXPECT_EQ(nurseSays("SELECT count(*) FROM \"入退院情報\""), "");
    EXPECT_EQ(nurseSays("DELETE FROM \"入退院情報\""), "42501");
    // Another account's row, its second factor among it, is not the nurse's to see.
    EXPECT_EQ(nurseSays("SELECT 1 / (1 - count(*))::int FROM \"職員\" WHERE \"ログインID\" = 'kanri'"), "");
    EXPECT_EQ(nurseSays("UPDATE \"職員\" SET \"役割\" = '管理者' WHERE \"ログインID\" = 'kango'"), "42501");

    staff.setRoleMay(administrator, Role::Nurse, Right::RegisterEpisodes, true);
    EXPECT_EQ(nurseSays("DELETE FROM \"入退院情報\" WHERE false"), "");
    staff.setRoleMay(administrator, Role::Nurse, Right::RegisterEpisodes, false);
    EXPECT_EQ(nurseSays("DELETE FROM \"入退院情報\" WHERE false"), "42501");

    // A clerk now: the job's group changes with the role.
    staff.setRole(administrator, nurse.id, Role::Clerk);
    EXPECT_EQ(nurseSays("DELETE FROM \"入退院情報\" WHERE false"), "");
    EXPECT_EQ(nurseSays("DELETE FROM \"32条診断書\" WHERE false"), "42501");
}

TEST_F(ServerAccounts, AnAccountsRoleAppendsToTheTrailThroughTheProgramAndRewritesNothing)
{
    db::audit::append(connection, {u"テスト"_s, u"ログイン前"_s, {}, {}});
    jet::setServerLogin(nurseRole, kNursePassword);
    {
        jet::Connection own;
        own.open(db::plainConnectionString(location));
        db::audit::append(own, {u"テスト"_s, u"看護師として"_s, 12, {}});
    }
    jet::setServerLogin({}, {});
    const db::audit::Verification verified = db::audit::verify(connection);
    EXPECT_TRUE(verified.sound()) << verified.findings.join(u'\n').toStdString();
    EXPECT_EQ(server.value("SELECT \"アカウント\" FROM \"監査記録\" WHERE \"詳細\" = '看護師として'").toString(), u"kango"_s);

    const auto nurseSays = [&](const char *sql) { return asRole(nurseRole, kNursePassword, sql); };
    EXPECT_EQ(nurseSays("SELECT count(*) FROM \"監査記録\""), "42501"); // the right Audit is the administrators'
    for (const char *rewrite : {"UPDATE \"監査記録\" SET \"詳細\" = ''", "DELETE FROM \"監査記録\"",
                                "INSERT INTO \"監査記録\" (\"記録番号\") VALUES (99)", "UPDATE \"監査記録先頭\" SET \"件数\" = 0",
                                "DELETE FROM \"変更履歴\""})
        EXPECT_EQ(nurseSays(rewrite), "42501") << rewrite;
    EXPECT_EQ(asRole(serverRole(connection, u"kanri"_s), kAdminPassword, "DELETE FROM \"監査記録\""), "42501");
}

TEST_F(ServerAccounts, FailedLoginsLockTheRoleOnTheServerUntilTheLockIsLifted)
{
    const QDateTime nine(QDate(2026, 12, 10), QTime(9, 0));
    jet::Clock::setFixed(nine);
    for (int attempt = 0; attempt < 5; ++attempt)
        staff.logIn(u"kango"_s, u"Wrong-Password-1"_s);
    EXPECT_EQ(staff.read(nurse.id).state, State::Locked);
    EXPECT_FALSE(jet::serverAccepts(location, nurseRole, kNursePassword));

    // Fifteen minutes on, the lock is lifted and committed before the password is tried.
    jet::Clock::setFixed(nine.addSecs(16 * 60));
    EXPECT_EQ(staff.logIn(u"kango"_s, kNursePassword).outcome, LoginResult::Outcome::LoggedIn);
    EXPECT_EQ(jet::serverLoginRole(), nurseRole);
    EXPECT_TRUE(jet::serverAccepts(location, nurseRole, kNursePassword));
    jet::Clock::setSystem();

    staff.disable(administrator, nurse.id);
    EXPECT_FALSE(jet::serverAccepts(location, nurseRole, kNursePassword));
}

// A locked nurse's workstation: an administrator who ends her session is
// checked on connections of no account, and her role is the process's again
// afterwards.
TEST_F(ServerAccounts, AnAdministratorIsCheckedOverALockedSessionAsAtTheLogin)
{
    ASSERT_EQ(staff.logIn(u"kango"_s, kNursePassword).outcome, LoginResult::Outcome::LoggedIn);
    ASSERT_EQ(jet::serverLoginRole(), nurseRole);
    const auto administratorAsSeenFromANewConnection = [&] {
        jet::Connection own;
        own.open(db::plainConnectionString(location));
        ServerLogins ownLogins;
        StaffAccounts seen(own, ownLogins);
        return seen.logIn(u"kanri"_s, kAdminPassword).outcome;
    };
    {
        db::AccountsAsAtLogin asAtLogin;
        EXPECT_EQ(administratorAsSeenFromANewConnection(), LoginResult::Outcome::LoggedIn);
    }
    EXPECT_EQ(jet::serverLoginRole(), nurseRole);
    // Ending her session, the administrator acts as themself.
    {
        db::AccountsAsAtLogin asAtLogin;
        ASSERT_EQ(administratorAsSeenFromANewConnection(), LoginResult::Outcome::LoggedIn);
        asAtLogin.keepAdmitted();
    }
    EXPECT_EQ(jet::serverLoginRole(), serverRole(connection, u"kanri"_s));
}

// As norva-db copy leaves it: an account whose file hash came with the rows.
TEST_F(ServerAccounts, ACopiedAccountsFilePasswordBecomesItsRolesAtItsFirstLogin)
{
    PasswordHashes hashes(HashCost::least());
    StaffAccounts copied(connection, hashes);
    copied.create(administrator, u"psw"_s, u"福祉 次郎"_s, Role::SocialWorker, kNursePassword, false);
    const QString role = serverRole(connection, u"psw"_s);
    EXPECT_FALSE(jet::serverAccepts(location, role, kNursePassword));
    EXPECT_EQ(staff.logIn(u"psw"_s, kAdminPassword).outcome, LoginResult::Outcome::WrongPasswordOrId);
    EXPECT_EQ(staff.logIn(u"psw"_s, kNursePassword).outcome, LoginResult::Outcome::LoggedIn);
    EXPECT_TRUE(jet::serverAccepts(location, role, kNursePassword));
    EXPECT_TRUE(server.value("SELECT \"パスワード\" FROM \"職員\" WHERE \"ログインID\" = 'psw'").isNull());
}

} // namespace

// A workstation before anyone logs in: the gate role reads no patient, no
// account's hash or secret, and writes nothing but a failed login.
class GateRole : public ServerAccounts
{
protected:
    GateRole()
    {
        gate = server.value("SELECT norva.gate_role()").toString();
        server.exec("ALTER ROLE \"" + gate.toUtf8() + "\" PASSWORD '" + kGatePassword + "'");
        jet::setServerLogin(gate, QString::fromLatin1(kGatePassword));
        atGate.open(db::plainConnectionString(location));
    }
    ~GateRole() override { atGate.close(); }

    static constexpr const char *kGatePassword = "Gate-Shiken-2026";
    QString gate;
    jet::Connection atGate;
    ServerLogins gateLogins;
    StaffAccounts throughGate{atGate, gateLogins};
};

TEST_F(GateRole, ReadsAndWritesNothingButWhatTheLoginNeeds)
{
    const auto gateSays = [&](const char *sql) { return asRole(gate, QString::fromLatin1(kGatePassword), sql); };
    EXPECT_EQ(gateSays("SELECT count(*) FROM \"バージョン\""), "");
    for (const char *refused :
         {"SELECT count(*) FROM \"患者情報\"", "SELECT count(*) FROM \"入退院情報\"", "SELECT count(*) FROM \"Q_現在入院者リスト\"",
          "SELECT \"パスワード\" FROM \"職員\"", "SELECT \"二要素\" FROM \"職員\"", "SELECT count(*) FROM \"監査記録\"",
          "SELECT count(*) FROM \"変更履歴\"", "UPDATE \"職員\" SET \"失敗回数\" = 0",
          "INSERT INTO \"監査記録\" (\"記録番号\") VALUES (99)", "UPDATE \"監査記録先頭\" SET \"件数\" = 0",
          "SELECT norva.append_event('t', 'a', 'w', 'v', '保存', 1, 1, 'd')",
          "SELECT norva.set_password('kango', 'SCRAM-SHA-256$x')", "SELECT norva.sync_account('kango', '管理者', '有効')"})
        EXPECT_EQ(gateSays(refused), "42501") << refused;
    // Failures it counts lock an account for the limit, whatever time the caller gives.
    for (int failure = 0; failure < 5; ++failure)
        EXPECT_EQ(gateSays("SELECT norva.count_failure('kango', '2199-01-01')"), "");
    EXPECT_TRUE(server.value("SELECT \"ロック解除時刻\" < localtimestamp + interval '1 hour' FROM \"職員\" WHERE \"ログインID\" = 'kango'")
                    .toBool());
}

TEST_F(GateRole, LogsANurseInWhoThenWorksAsHerself)
{
    // The start before the login finds everything current and reads on.
    EXPECT_NO_THROW({
        jet::updateServerSide(atGate);
        db::requireLedger(atGate);
        db::audit::extendDatabase(atGate);
        extendDatabase(atGate);
    });
    EXPECT_TRUE(throughGate.hasAccounts());
    const LoginResult result = throughGate.logIn(u"kango"_s, kNursePassword);
    ASSERT_EQ(result.outcome, LoginResult::Outcome::LoggedIn) << result.reason.toStdString();
    EXPECT_EQ(result.account->loginId, u"kango"_s);
    EXPECT_EQ(jet::serverLoginRole(), nurseRole);
    jet::Connection hers;
    hers.open(db::plainConnectionString(location));
    EXPECT_NO_THROW(hers.execute(u"UPDATE 患者情報 SET 氏名 = 氏名 WHERE false"_s));
    db::audit::append(hers, {db::audit::action::Login.toString(), u"看護 花子"_s, {}, {}});
    EXPECT_EQ(server.value("SELECT \"アカウント\" FROM \"監査記録\" WHERE \"操作\" = 'ログイン'").toString(), u"kango"_s);
    EXPECT_FALSE(server.value("SELECT \"最終ログイン\" FROM \"職員\" WHERE \"ログインID\" = 'kango'").isNull());
}

TEST_F(GateRole, CountsWrongPasswordsAndLocksAndRecordsOnlyTheFailure)
{
    LoginResult last;
    for (int attempt = 0; attempt < 5; ++attempt) {
        last = throughGate.logIn(u"kango"_s, u"Wrong-Password-1"_s);
        db::audit::appendFailedLogin(atGate, u"kango"_s, last.reason);
    }
    EXPECT_EQ(last.outcome, LoginResult::Outcome::Locked);
    EXPECT_EQ(throughGate.logIn(u"kango"_s, kNursePassword).outcome, LoginResult::Outcome::Locked);
    EXPECT_FALSE(jet::serverAccepts(location, nurseRole, kNursePassword));
    db::audit::appendFailedLogin(atGate, u"Typed-Into-The-Id-Box-1"_s, u"ログインIDまたはパスワードが違います。"_s);
    EXPECT_EQ(server.value("SELECT count(*) FROM \"監査記録\" WHERE \"操作\" = 'ログイン失敗' AND \"詳細\" LIKE 'ログインID kango:%'")
                  .toInt(),
              5);
    EXPECT_EQ(server.value("SELECT \"詳細\" FROM \"監査記録\" ORDER BY \"記録番号\" DESC LIMIT 1").toString(),
              u"登録のないログインID: ログインIDまたはパスワードが違います。"_s);
    const db::audit::Verification verified = db::audit::verify(connection);
    EXPECT_TRUE(verified.sound()) << verified.findings.join(u'\n').toStdString();
}

// What only the owner may do is said, with what the hospital's IT must run.
TEST_F(GateRole, AStartThatNeedsTheOwnerSaysWhatToDo)
{
    const auto messageOf = [](const std::function<void()> &work) {
        try {
            work();
        } catch (const jet::Error &error) {
            return error.description();
        }
        return QString();
    };
    EXPECT_TRUE(messageOf([&] { requireFirstAdministratorPossible(atGate); }).contains(u"norva.txt"_s));
    EXPECT_TRUE(messageOf([&] { requireFirstAdministratorPossible(connection); }).isEmpty());
    server.exec("COMMENT ON SCHEMA norva IS 'ネモリア 職員ロール 0'");
    EXPECT_TRUE(messageOf([&] { updateServerRoles(atGate); }).contains(u"norva-db update"_s));
    // A copied account's file hash is the owner's and the account's to read.
    server.exec("UPDATE \"職員\" SET \"パスワード\" = 'x' WHERE \"ログインID\" = 'kango'");
    EXPECT_TRUE(messageOf([&] { throughGate.logIn(u"kango"_s, kNursePassword); }).contains(u"所有者"_s));
}

// A start extends the trail and then the accounts: the server's roles are
// checked once, not again by the second.
TEST_F(ServerAccounts, AStartChecksTheServerRolesOnce)
{
    const auto roundTripsOf = [](const std::function<void()> &work) {
        const qint64 before = jet::postgres::PgDriver::roundTripsOfProcess();
        work();
        return jet::postgres::PgDriver::roundTripsOfProcess() - before;
    };
    jet::Connection starting;
    starting.open(db::plainConnectionString(location));
    const qint64 checked = roundTripsOf([&] { db::audit::extendDatabase(starting); });
    const qint64 again = roundTripsOf([&] { extendDatabase(starting); });
    // Each reads its version; only the first asks whether the roles are current.
    EXPECT_LE(again + 2, checked);
}
