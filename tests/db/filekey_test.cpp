#include "db/filekey.h"

#include "db/accounts/extension.h"
#include "db/accounts/onetimecode.h"
#include "db/accounts/passwords.h"
#include "db/audit.h"
#include "db/engine/clock.h"
#include "db/engine/connection.h"
#include "db/engine/error.h"
#include "db/engine/filekey.h"
#include "db/engine/recordset.h"
#include "db/location.h"
#include "support/errors.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace accounts;
using testing_support::errorOf;

namespace {

const QString kAdminPassword = u"Kanri-Shiken-2026"_s;
const QString kNursePassword = u"Kango-Shiken-2026"_s;

// A ledger file with the trail and one administrator, under the published key.
class FileKeyTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_path = m_dir.filePath(u"norva2000.mdb"_s);
        jet::createDatabase(m_path, db::publishedPassword());
        withConnection([](jet::Connection &connection, StaffAccounts &staff) {
            db::audit::extendDatabase(connection);
            extendDatabase(connection);
            staff.createFirstAdministrator(u"kanri"_s, u"管理"_s, kAdminPassword);
            staff.setSettings(*staff.find(u"kanri"_s), {2, 15, 10});
        });
    }
    void TearDown() override
    {
        jet::releasePooledHandles(m_path);
        jet::dropFileKey();
        setPasswordObserver(nullptr);
        jet::Clock::setSystem();
    }

    template<typename Work>
    void withConnection(Work work)
    {
        {
            jet::Connection connection;
            connection.open(db::plainConnectionString(m_path));
            PasswordHashes hashes(HashCost::least());
            StaffAccounts staff(connection, hashes);
            work(connection, staff);
        }
        jet::releasePooledHandles(m_path);
    }

    bool opens()
    {
        try {
            withConnection([](jet::Connection &, StaffAccounts &staff) { staff.all(); });
            return true;
        } catch (const jet::Error &error) {
            EXPECT_EQ(error.number(), jet::err::DatabaseDamaged) << error.description().toStdString();
            return false;
        }
    }

    QTemporaryDir m_dir;
    QString m_path;
};

TEST_F(FileKeyTest, AProtectedFileOpensWithALoginOrTheRecoveryKeyAndNeverWithThePublishedOne)
{
    EXPECT_EQ(errorOf([&] { db::filekey::protect(m_path, u"kanri"_s, u"Wrong-Password-1"_s); }),
              jet::err::NotSupported);
    EXPECT_FALSE(db::filekey::isProtected(m_path));

    const QString recovery = db::filekey::protect(m_path, u"KANRI"_s, kAdminPassword);
    EXPECT_TRUE(QRegularExpression(u"^([0-9A-Z]{4}-){7}[0-9A-Z]{4}$"_s).match(recovery).hasMatch()) << recovery.toStdString();
    EXPECT_TRUE(db::filekey::isProtected(m_path));
    EXPECT_TRUE(opens());
    for (const QString &file : {m_path, db::filekey::keyFilePath(m_path)}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file.toStdString();
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), (QStringList{u"norva2000.mdb"_s, u"norva2000.mdb.key"_s,
                                                                       u"norva2000.mdb.key.lock"_s}));
    EXPECT_EQ(errorOf([&] { db::filekey::protect(m_path, u"kanri"_s, kAdminPassword); }), jet::err::NotSupported);

    // The stock shell with the published key reads nothing.
    jet::dropFileKey();
    QProcess shell;
    shell.start(u"sqlcipher"_s, {m_path, u"PRAGMA key='tamik4062'; SELECT count(*) FROM sqlite_master;"_s});
    ASSERT_TRUE(shell.waitForFinished());
    EXPECT_NE(shell.exitCode(), 0);
    EXPECT_TRUE(shell.readAllStandardOutput().trimmed().isEmpty());
    EXPECT_FALSE(opens());

    EXPECT_EQ(errorOf([&] { db::filekey::unlockWithRecoveryKey(m_path, u"0000-0000-0000-0000-0000-0000-0000-0000"_s); }),
              jet::err::NotSupported);
    EXPECT_FALSE(jet::holdsFileKey());
    // Copied from paper: lower case, no hyphens, an O for a zero.
    db::filekey::unlockWithRecoveryKey(m_path, recovery.toLower().remove(u'-').replace(u'0', u'o'));
    EXPECT_TRUE(opens());

    jet::dropFileKey();
    EXPECT_EQ(db::filekey::unlock(m_path, u"kanri"_s, kAdminPassword), std::nullopt);
    EXPECT_TRUE(opens());

    db::filekey::unprotect(m_path, u"kanri"_s, kAdminPassword);
    EXPECT_FALSE(jet::holdsFileKey());
    EXPECT_FALSE(db::filekey::isProtected(m_path));
    EXPECT_TRUE(opens());
}

TEST_F(FileKeyTest, WrongPasswordsAreCountedInTheKeyFileAndLockTheLoginIdForTheSetMinutes)
{
    db::filekey::protect(m_path, u"kanri"_s, kAdminPassword);
    jet::dropFileKey();
    const QDateTime nine(QDate(2026, 12, 10), QTime(9, 0));
    jet::Clock::setFixed(nine);

    // An unknown ID is answered as a wrong password is, and counts nothing.
    const std::optional<LoginResult> unknown = db::filekey::unlock(m_path, u"nobody"_s, kAdminPassword);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->outcome, LoginResult::Outcome::WrongPasswordOrId);
    const std::optional<LoginResult> first = db::filekey::unlock(m_path, u"kanri"_s, kNursePassword);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->reason, unknown->reason);
    EXPECT_TRUE(unknown->reason.startsWith(wrongPasswordOrId().reason)) << unknown->reason.toStdString();
    const std::optional<LoginResult> second = db::filekey::unlock(m_path, u"kanri"_s, kNursePassword);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->outcome, LoginResult::Outcome::Locked);
    // The right password waits for the lock as well.
    jet::Clock::setFixed(nine.addSecs(14 * 60));
    EXPECT_EQ(db::filekey::unlock(m_path, u"kanri"_s, kAdminPassword).value().outcome, LoginResult::Outcome::Locked);
    EXPECT_FALSE(jet::holdsFileKey());
    jet::Clock::setFixed(nine.addSecs(16 * 60));
    EXPECT_EQ(db::filekey::unlock(m_path, u"kanri"_s, kAdminPassword), std::nullopt);
    EXPECT_TRUE(opens());

    // An administrator's unlock lifts the key file's lock too.
    withConnection([](jet::Connection &, StaffAccounts &staff) {
        staff.create(*staff.find(u"kanri"_s), u"kango"_s, u"看護"_s, Role::Nurse, kNursePassword);
    });
    for (int attempt = 0; attempt < 2; ++attempt)
        db::filekey::unlock(m_path, u"kango"_s, kAdminPassword);
    EXPECT_EQ(db::filekey::unlock(m_path, u"kango"_s, kNursePassword).value().outcome, LoginResult::Outcome::Locked);
    withConnection([](jet::Connection &, StaffAccounts &staff) {
        staff.unlock(*staff.find(u"kanri"_s), staff.find(u"kango"_s)->id);
    });
    EXPECT_EQ(db::filekey::unlock(m_path, u"kango"_s, kNursePassword), std::nullopt);
}

TEST_F(FileKeyTest, PasswordsSetWhileTheKeyIsHeldAreSealedAndADisabledAccountLosesItsSeal)
{
    db::filekey::protect(m_path, u"kanri"_s, kAdminPassword);
    withConnection([](jet::Connection &, StaffAccounts &staff) {
        const Account nurse = staff.create(*staff.find(u"kanri"_s), u"kango"_s, u"看護"_s, Role::Nurse, kNursePassword);
        staff.changePassword(nurse, kNursePassword, kNursePassword + u"!"_s);
    });
    EXPECT_EQ(db::filekey::sealedLoginIds(m_path), (QStringList{u"kango"_s, u"kanri"_s}));
    jet::dropFileKey();
    EXPECT_TRUE(db::filekey::unlock(m_path, u"kango"_s, kNursePassword));
    EXPECT_EQ(db::filekey::unlock(m_path, u"kango"_s, kNursePassword + u"!"_s), std::nullopt);

    withConnection([](jet::Connection &, StaffAccounts &staff) {
        staff.disable(*staff.find(u"kanri"_s), staff.find(u"kango"_s)->id);
    });
    EXPECT_EQ(db::filekey::sealedLoginIds(m_path), QStringList{u"kanri"_s});
}

// As at the login window: no code, no protection; a wrong code counts
// towards the lock and is left in the trail.
TEST_F(FileKeyTest, AnAdministratorWithASecondFactorTurnsProtectionOnAndOffWithTheirCode)
{
    const QDateTime nine(QDate(2026, 12, 10), QTime(9, 0));
    jet::Clock::setFixed(nine);
    QString secret;
    withConnection([&secret, &nine](jet::Connection &, StaffAccounts &staff) {
        const CodeEnrolment enrolment = staff.beginCodeEnrolment(*staff.find(u"kanri"_s));
        staff.confirmCodeEnrolment(*staff.find(u"kanri"_s), enrolment, oneTimeCode(enrolment.secret, nine));
        secret = enrolment.secret;
    });
    const auto typed = [](const QString &code) { return [code] { return std::optional<QString>(code); }; };
    const auto codeAt = [&secret](const QDateTime &at) { return oneTimeCode(secret, at); };
    const auto wrongAt = [&](const QDateTime &at) { return codeAt(at).left(5) + (codeAt(at).endsWith(u'0') ? u'1' : u'0'); };

    jet::Clock::setFixed(nine.addSecs(60));
    EXPECT_EQ(errorOf([&] { db::filekey::protect(m_path, u"kanri"_s, kAdminPassword); }), jet::err::NotSupported);
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_EQ(errorOf([&] { db::filekey::protect(m_path, u"kanri"_s, kAdminPassword, typed(wrongAt(nine.addSecs(60)))); }),
                  jet::err::NotSupported);
    // Locked by the second wrong code, even the right one is refused.
    EXPECT_EQ(errorOf([&] { db::filekey::protect(m_path, u"kanri"_s, kAdminPassword, typed(codeAt(nine.addSecs(60)))); }),
              jet::err::NotSupported);
    EXPECT_FALSE(db::filekey::isProtected(m_path));
    withConnection([](jet::Connection &connection, StaffAccounts &staff) {
        EXPECT_EQ(staff.find(u"kanri"_s)->state, State::Locked);
        jet::Recordset failures;
        failures.open(u"SELECT Count(*) FROM `%1` WHERE 操作 = 'ログイン失敗'"_s.arg(db::audit::kTrailTable), &connection);
        EXPECT_EQ(failures.value(0).toInt(), 3); // two wrong codes and the locked account
    });

    const QDateTime later = nine.addSecs(16 * 60);
    jet::Clock::setFixed(later);
    db::filekey::protect(m_path, u"kanri"_s, kAdminPassword, typed(codeAt(later)));
    EXPECT_TRUE(db::filekey::isProtected(m_path));
    EXPECT_EQ(errorOf([&] { db::filekey::unprotect(m_path, u"kanri"_s, kAdminPassword); }), jet::err::NotSupported);
    jet::Clock::setFixed(later.addSecs(60));
    db::filekey::unprotect(m_path, u"kanri"_s, kAdminPassword, typed(codeAt(later.addSecs(60))));
    EXPECT_FALSE(db::filekey::isProtected(m_path));
}

TEST_F(FileKeyTest, ProtectionBrokenOffAtAnyStepLeavesTheFileUnderThePublishedKey)
{
    for (int broken = 1; broken <= db::filekey::kProtectionSteps; ++broken) {
        EXPECT_EQ(errorOf([&] {
                      db::filekey::protect(m_path, u"kanri"_s, kAdminPassword, {}, [broken](int step) {
                          if (step == broken)
                              throw jet::Error(jet::err::GeneralFailure, u"中断"_s);
                      });
                  }),
                  jet::err::GeneralFailure);
        EXPECT_FALSE(jet::holdsFileKey());
        EXPECT_FALSE(db::filekey::isProtected(m_path)) << broken;
        EXPECT_TRUE(opens()) << broken;
        EXPECT_FALSE(QFileInfo::exists(m_path + u".protecting"_s)) << broken;
    }

    // Killed once the key file was written, before the file was replaced:
    // the next login finds the file under the published key still, and the
    // key file that broken-off run left goes.
    ASSERT_TRUE(QFile::copy(m_path, m_path + u".before"_s));
    db::filekey::protect(m_path, u"kanri"_s, kAdminPassword);
    jet::dropFileKey();
    ASSERT_TRUE(QFile::remove(m_path));
    ASSERT_TRUE(QFile::rename(m_path + u".before"_s, m_path));
    EXPECT_EQ(db::filekey::unlock(m_path, u"kanri"_s, kAdminPassword), std::nullopt);
    EXPECT_FALSE(jet::holdsFileKey());
    EXPECT_FALSE(db::filekey::isProtected(m_path));
    EXPECT_TRUE(opens());
}

} // namespace
