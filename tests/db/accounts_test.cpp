#include "db/accounts/accounts.h"
#include "db/accounts/extension.h"
#include "db/accounts/onetimecode.h"
#include "db/accounts/passwords.h"
#include "db/audit.h"

#include "db/engine/clock.h"
#include "db/engine/error.h"
#include "db/engine/recordset.h"
#include "support/backend.h"
#include "support/errors.h"

#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace accounts;
using testing_support::Backend;
using testing_support::errorOf;
using Outcome = LoginResult::Outcome;

namespace {

const QDateTime kNine(QDate(2026, 12, 10), QTime(9, 0));
const QString kAdminPassword = u"Kanri-Shiken-2026"_s;
const QString kNursePassword = u"Kango-Shiken-2026"_s;

TEST(PasswordRules, EachRuleRefusesWithItsOwnReason)
{
    EXPECT_EQ(passwordProblem(u"Abcdefgh-1234"_s, u"tanaka"_s, false), QString());
    // Thirteen, or eight with a second factor.
    EXPECT_NE(passwordProblem(u"Abcdefgh-123"_s, u"tanaka"_s, false), QString());
    EXPECT_EQ(passwordProblem(u"Abcd-123"_s, u"tanaka"_s, true), QString());
    EXPECT_NE(passwordProblem(u"Abc-123"_s, u"tanaka"_s, true), QString());
    // Three kinds of four: kana count towards the length, not as a kind.
    EXPECT_NE(passwordProblem(u"abcdefghijklmnop"_s, u"tanaka"_s, false), QString());
    EXPECT_NE(passwordProblem(u"あいうえおかきくけこさし1A"_s, u"tanaka"_s, false), QString());
    EXPECT_EQ(passwordProblem(u"あいうえおかきくけこさa1A"_s, u"tanaka"_s, false), QString());
    EXPECT_EQ(passwordProblem(u"ABCDEFGHIJK1!"_s, u"tanaka"_s, false), QString());
    // Never the login ID, in whatever case.
    EXPECT_EQ(passwordProblem(u"Nurse-Station7"_s, u"nurse-station7"_s, false),
              u"ログインIDと同じパスワードは使えません。"_s);
    // Characters as the user sees them: eight, though sixteen UTF-16 units.
    EXPECT_NE(passwordProblem(u"𠮷𠮷𠮷𠮷𠮷𠮷1a"_s, u"x"_s, false), QString());
}

// While typing, an empty box is not yet wrong, but a repeat typed first or differently is.
TEST(PasswordRules, ANewPasswordTypedTwiceIsJudgedAsTypedAndOnceFinished)
{
    EXPECT_EQ(newPasswordProblem({}, u"Abcdefgh-1234"_s, u"x"_s, false, Typing::Ongoing), u"確認のパスワードが一致しません。"_s);
    EXPECT_EQ(newPasswordProblem(u"Abcdefgh-1234"_s, {}, u"x"_s, false, Typing::Ongoing), QString());
    EXPECT_EQ(newPasswordProblem(u"Abcdefgh-1234"_s, {}, u"x"_s, false, Typing::Finished), u"確認のパスワードが一致しません。"_s);
    EXPECT_EQ(newPasswordProblem({}, {}, u"x"_s, false, Typing::Finished), u"新しいパスワードを入力してください。"_s);
}

TEST(PasswordHashing, Argon2idStringsVerifyAndACheapOneIsRenewedAtTheProgramsCost)
{
    const QByteArray hash = hashPassword(kAdminPassword, HashCost::least());
    EXPECT_TRUE(hash.startsWith("$argon2id$"));
    EXPECT_NE(hash, hashPassword(kAdminPassword, HashCost::least())); // salted
    EXPECT_TRUE(verifyPassword(hash, kAdminPassword));
    EXPECT_FALSE(verifyPassword(hash, kAdminPassword + u"x"_s));
    EXPECT_FALSE(needsRehash(hash, HashCost::least()));
    EXPECT_TRUE(needsRehash(hash, HashCost::interactive()));

    // The demo's cheap hashes are renewed at the program's cost at a login
    // (a cost a little above the least, to keep the test quick).
    testing_support::BackendDatabase db(Backend::File);
    extendDatabase(db.connection());
    PasswordHashes cheap(HashCost::least());
    StaffAccounts(db.connection(), cheap).createFirstAdministrator(u"kanri"_s, u"管理"_s, kAdminPassword);
    const HashCost higher{HashCost::least().operations + 1, HashCost::least().memory};
    PasswordHashes program(higher);
    EXPECT_FALSE(program.check(db.connection(), u"kanri"_s, kNursePassword));
    EXPECT_TRUE(program.check(db.connection(), u"kanri"_s, kAdminPassword));
    jet::Recordset stored;
    stored.open(u"SELECT パスワード FROM 職員"_s, &db.connection());
    EXPECT_FALSE(needsRehash(stored.value(0).toString().toLatin1(), higher));
}

TEST(OneTimeCodes, MatchTheRfc6238VectorWithinOneStepAndEnrolAsAppsExpect)
{
    // RFC 6238's SHA-1 key "12345678901234567890" in base32; its eight-digit
    // codes end in these six.
    const QString key = u"GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"_s;
    EXPECT_EQ(oneTimeCode(key, QDateTime::fromSecsSinceEpoch(59)), u"287082"_s);
    EXPECT_EQ(oneTimeCode(key, QDateTime::fromSecsSinceEpoch(1111111109)), u"081804"_s);
    EXPECT_EQ(oneTimeCode(key, QDateTime::fromSecsSinceEpoch(20000000000)), u"353130"_s);
    const QDateTime at = QDateTime::fromSecsSinceEpoch(1111111109);
    EXPECT_EQ(matchingCodeStep(key, u"081804"_s, at), 1111111109 / 30);
    EXPECT_EQ(matchingCodeStep(key, u"081804"_s, at.addSecs(30)), 1111111109 / 30);
    EXPECT_EQ(matchingCodeStep(key, u"081804"_s, at.addSecs(-30)), 1111111109 / 30);
    EXPECT_EQ(matchingCodeStep(key, u"081804"_s, at.addSecs(90)), std::nullopt);
    EXPECT_EQ(matchingCodeStep(key, u"08180"_s, at), std::nullopt);

    const QString secret = newCodeSecret();
    EXPECT_EQ(secret.size(), 32);
    const QUrl uri(codeEnrolmentUri(secret, u"kango.sato"_s));
    EXPECT_EQ(uri.scheme(), u"otpauth"_s);
    EXPECT_EQ(uri.path(), u"/ネモリア:kango.sato"_s);
    EXPECT_EQ(QUrlQuery(uri).queryItemValue(u"secret"_s), secret);
    EXPECT_EQ(QUrlQuery(uri).queryItemValue(u"issuer"_s), u"ネモリア"_s);
    const QrCode qr(uri.toString());
    EXPECT_GE(qr.size(), 21);
    EXPECT_TRUE(qr.dark(0, 0) && qr.dark(6, 6) && !qr.dark(7, 7)); // a finder pattern's corner
}

class StaffAccountsTest : public ::testing::Test
{
protected:
    explicit StaffAccountsTest(Backend backend) : db(backend)
    {
        jet::Clock::setFixed(kNine);
        extendDatabase(db.connection());
        admin = staff.createFirstAdministrator(u"Kanri"_s, u"管理 太郎"_s, kAdminPassword);
        nurse = staff.create(admin, u"kango"_s, u"看護 花子"_s, Role::Nurse, kNursePassword);
    }
    ~StaffAccountsTest() { jet::Clock::setSystem(); }

    testing_support::BackendDatabase db;
    PasswordHashes hashes{HashCost::least()};
    StaffAccounts staff{db.connection(), hashes};
    Account admin;
    Account nurse;
};

using Accounts = testing_support::OnBothBackends<StaffAccountsTest>;
INSTANTIATE_TEST_SUITE_P(Ward, Accounts, ::testing::Values(Backend::File, Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(Accounts, FiveFailuresLockForFifteenMinutesAndAnUnknownIdGetsTheSameAnswer)
{
    EXPECT_EQ(admin.role, Role::Administrator);
    EXPECT_FALSE(admin.mustChangePassword);
    const LoginResult unknown = staff.logIn(u"nobody"_s, kNursePassword);
    const LoginResult wrong = staff.logIn(u"kango"_s, u"Kango-Shiken-2025"_s);
    EXPECT_EQ(unknown.outcome, Outcome::WrongPasswordOrId);
    EXPECT_EQ(wrong.outcome, unknown.outcome);
    EXPECT_EQ(wrong.reason, unknown.reason);
    // A success clears the count, so that the lock-out needs five in a row.
    EXPECT_EQ(staff.logIn(u"KANGO"_s, kNursePassword).outcome, Outcome::LoggedIn);
    EXPECT_EQ(staff.read(nurse.id).failures, 0);
    EXPECT_EQ(staff.read(nurse.id).lastLogin, kNine);
    for (int attempt = 1; attempt <= 4; ++attempt)
        EXPECT_EQ(staff.logIn(u"kango"_s, u"wrong"_s).outcome, Outcome::WrongPasswordOrId) << attempt;
    EXPECT_EQ(staff.logIn(u"kango"_s, u"wrong"_s).outcome, Outcome::Locked);
    // The right password does not open it while it lasts.
    jet::Clock::setFixed(kNine.addSecs(14 * 60 + 59));
    EXPECT_EQ(staff.logIn(u"kango"_s, kNursePassword).outcome, Outcome::Locked);
    jet::Clock::setFixed(kNine.addSecs(15 * 60));
    const LoginResult after = staff.logIn(u"kango"_s, kNursePassword);
    ASSERT_EQ(after.outcome, Outcome::LoggedIn) << after.reason.toStdString();
    EXPECT_EQ(after.account->failures, 0);
    EXPECT_EQ(after.account->state, State::Active);

    // The administrator's settings, and the administrator's unlock.
    staff.setSettings(admin, {2, 60, 10});
    staff.logIn(u"kango"_s, u"wrong"_s);
    EXPECT_EQ(staff.logIn(u"kango"_s, u"wrong"_s).outcome, Outcome::Locked);
    staff.unlock(admin, nurse.id);
    EXPECT_EQ(staff.logIn(u"kango"_s, kNursePassword).outcome, Outcome::LoggedIn);
    staff.disable(admin, nurse.id);
    EXPECT_EQ(staff.logIn(u"kango"_s, kNursePassword).outcome, Outcome::Disabled);
    EXPECT_EQ(staff.logIn(u"kango"_s, u"wrong"_s).outcome, Outcome::WrongPasswordOrId);
}

TEST_P(Accounts, ANewOrResetPasswordMustBeChangedAndOnlyAnAdministratorResetsOne)
{
    LoginResult first = staff.logIn(u"kango"_s, kNursePassword);
    ASSERT_EQ(first.outcome, Outcome::LoggedIn);
    EXPECT_TRUE(first.account->mustChangePassword);
    EXPECT_EQ(errorOf([&] { staff.changePassword(nurse, kNursePassword, kNursePassword); }),
              jet::err::InvalidArgument);
    EXPECT_EQ(errorOf([&] { staff.changePassword(nurse, u"wrong"_s, u"Hanako-Byoto-05"_s); }), jet::err::NotSupported);
    staff.changePassword(nurse, kNursePassword, u"Hanako-Byoto-05"_s);
    EXPECT_FALSE(staff.logIn(u"kango"_s, u"Hanako-Byoto-05"_s).account->mustChangePassword);

    EXPECT_EQ(errorOf([&] { staff.resetPassword(nurse, admin.id, u"Nottaken-Over-1"_s); }), jet::err::NotSupported);
    EXPECT_EQ(errorOf([&] { staff.create(nurse, u"x"_s, u"x"_s, Role::Administrator, kNursePassword); }),
              jet::err::NotSupported);
    EXPECT_EQ(errorOf([&] { staff.resetPassword(admin, nurse.id, u"short1A!"_s); }), jet::err::InvalidArgument);
    staff.resetPassword(admin, nurse.id, u"Karino-Pass-777"_s);
    EXPECT_EQ(staff.logIn(u"kango"_s, u"Hanako-Byoto-05"_s).outcome, Outcome::WrongPasswordOrId);
    EXPECT_TRUE(staff.logIn(u"kango"_s, u"Karino-Pass-777"_s).account->mustChangePassword);
    EXPECT_EQ(errorOf([&] { staff.create(admin, u"KANGO"_s, u"x"_s, Role::Nurse, kNursePassword); }),
              jet::err::NotSupported);
    EXPECT_EQ(errorOf([&] { staff.createFirstAdministrator(u"other"_s, u"x"_s, kAdminPassword); }),
              jet::err::NotSupported);
}

TEST_P(Accounts, TheLastAdministratorCannotBeDisabledOrDemoted)
{
    EXPECT_EQ(errorOf([&] { staff.disable(admin, admin.id); }), jet::err::NotSupported);
    EXPECT_EQ(errorOf([&] { staff.setRole(admin, admin.id, Role::Physician); }), jet::err::NotSupported);
    EXPECT_EQ(errorOf([&] { staff.setRoleMay(admin, Role::Administrator, Right::Accounts, false); }),
              jet::err::NotSupported);
    const Account second = staff.create(admin, u"kanri2"_s, u"管理 次郎"_s, Role::Nurse, kAdminPassword);
    staff.setRole(admin, second.id, Role::Administrator);
    staff.setRole(admin, admin.id, Role::Physician);
    EXPECT_EQ(errorOf([&] { staff.disable(second, second.id); }), jet::err::NotSupported);
    // A disabled administrator administers nothing.
    staff.setRole(second, admin.id, Role::Administrator);
    staff.disable(second, admin.id);
    EXPECT_EQ(errorOf([&] { staff.enable(admin, admin.id); }), jet::err::NotSupported);
    EXPECT_FALSE(staff.may(admin, Right::Accounts));
}

TEST_P(Accounts, TheDefaultRightsKeepAdministrationFromClinicalRolesAndCanBeChanged)
{
    EXPECT_TRUE(staff.may(admin, Right::Audit));
    EXPECT_FALSE(staff.may(admin, Right::EditRecords));
    EXPECT_TRUE(staff.may(nurse, Right::EditRecords));
    for (Right right : {Right::Accounts, Right::Audit, Right::Options, Right::Maintenance, Right::Certificates})
        EXPECT_FALSE(staff.may(nurse, right)) << rightName(right).toStdString();
    EXPECT_TRUE(staff.roleMay(Role::Physician, Right::Certificates));
    EXPECT_TRUE(staff.roleMay(Role::Clerk, Right::RegisterEpisodes));
    EXPECT_FALSE(staff.roleMay(Role::Clerk, Right::EditRecords));
    staff.setRoleMay(admin, Role::Nurse, Right::Export, true);
    EXPECT_TRUE(staff.may(nurse, Right::Export));
    // A demotion takes effect on an account already logged in.
    staff.setRole(admin, nurse.id, Role::Clerk);
    EXPECT_FALSE(staff.may(nurse, Right::EditRecords));
}

TEST_P(Accounts, TheSecondFactorTakesEachCodeOnceAndLetsAShorterPasswordThrough)
{
    const CodeEnrolment enrolment = staff.beginCodeEnrolment(nurse);
    EXPECT_EQ(errorOf([&] { staff.confirmCodeEnrolment(nurse, enrolment, u"000000"_s); }), jet::err::InvalidArgument);
    staff.confirmCodeEnrolment(nurse, enrolment, oneTimeCode(enrolment.secret, kNine));
    staff.changePassword(nurse, kNursePassword, u"Kango-8!"_s);

    EXPECT_EQ(staff.logIn(u"kango"_s, u"Kango-8!"_s).outcome, Outcome::CodeNeeded);
    // The code that enrolled is spent; so is each one that logs in.
    EXPECT_EQ(staff.logIn(u"kango"_s, u"Kango-8!"_s, oneTimeCode(enrolment.secret, kNine)).outcome,
              Outcome::WrongCode);
    jet::Clock::setFixed(kNine.addSecs(30));
    const QString next = oneTimeCode(enrolment.secret, kNine.addSecs(30));
    EXPECT_EQ(staff.logIn(u"kango"_s, u"Kango-8!"_s, next).outcome, Outcome::LoggedIn);
    EXPECT_EQ(staff.logIn(u"kango"_s, u"Kango-8!"_s, next).outcome, Outcome::WrongCode);
    EXPECT_EQ(staff.read(nurse.id).failures, 1);

    // Without it the short password must go.
    staff.removeSecondFactor(nurse, nurse.id);
    EXPECT_TRUE(staff.logIn(u"kango"_s, u"Kango-8!"_s).account->mustChangePassword);
}

TEST_P(Accounts, EachChangeLeavesOneEventNamingTheAccountAndNeverItsPassword)
{
    db::audit::extendDatabase(db.connection());
    staff.create(admin, u"ishi"_s, u"医師 一郎"_s, Role::Nurse, u"Ishi-Shiken-2026"_s);
    const Account doctor = *staff.find(u"ishi"_s);
    staff.setRole(admin, doctor.id, Role::Physician);
    staff.setRole(admin, doctor.id, Role::Physician); // no change, no event
    staff.resetPassword(admin, nurse.id, u"Karino-Pass-777"_s);
    staff.changePassword(nurse, u"Karino-Pass-777"_s, u"Hanako-Byoto-05"_s);
    staff.disable(admin, nurse.id);
    staff.enable(admin, nurse.id);
    staff.setSettings(admin, {2, 15, 10});
    staff.logIn(u"kango"_s, u"wrong"_s);
    staff.logIn(u"kango"_s, u"wrong"_s);
    staff.unlock(admin, nurse.id);
    const CodeEnrolment enrolment = staff.beginCodeEnrolment(nurse);
    staff.confirmCodeEnrolment(nurse, enrolment, oneTimeCode(enrolment.secret, kNine));
    staff.removeSecondFactor(admin, nurse.id);
    staff.setRoleMay(admin, Role::Nurse, Right::Export, true);
    EXPECT_EQ(errorOf([&] { staff.disable(nurse, admin.id); }), jet::err::NotSupported); // refused, no event

    jet::Recordset events;
    events.open(u"SELECT 操作, 詳細 FROM 監査記録 ORDER BY 記録番号"_s, &db.connection());
    QStringList seen;
    for (; !events.eof(); events.moveNext()) {
        const QString detail = events.value(1).toString();
        for (const QString &password : {u"Karino-Pass-777"_s, u"Hanako-Byoto-05"_s, u"Ishi-Shiken-2026"_s})
            EXPECT_FALSE(detail.contains(password)) << detail.toStdString();
        // A login's own events are not the accounts' changes.
        if (!events.value(0).toString().contains(u"ログイン"_s))
            seen.append(events.value(0).toString() + u" "_s + detail);
    }
    const QString kango = u"kango（看護 花子）"_s;
    EXPECT_EQ(seen, (QStringList{u"アカウント作成 ishi（医師 一郎）、看護師"_s,
                                 u"役割変更 ishi（医師 一郎）、看護師 → 医師"_s,
                                 u"パスワード再設定 "_s + kango,
                                 u"パスワード変更 "_s + kango,
                                 u"無効化 "_s + kango,
                                 u"有効化 "_s + kango,
                                 u"設定変更 ロックまでの失敗回数 5回 → 2回"_s,
                                 u"アカウントのロック解除 "_s + kango,
                                 u"二要素登録 "_s + kango,
                                 u"二要素削除 "_s + kango,
                                 u"権限変更 看護師、書き出し 不可 → 許可"_s}));
    EXPECT_TRUE(db::audit::verify(db.connection()).sound());
}

} // namespace
