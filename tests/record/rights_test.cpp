// A missing right greys out what needs it, and the write is refused on the
// database as well, so that a window that forgot to grey out cannot do it.

#include "app/windows.h"
#include "certificate/records/extension.h"
#include "db/accounts/accounts.h"
#include "db/accounts/extension.h"
#include "db/accounts/passwords.h"
#include "db/accounts/tablerights.h"
#include "db/audit.h"
#include "db/episodes.h"
#include "db/session.h"
#include "ledger/export.h"
#include "record/frmPt.h"
#include "recordfixture.h"
#include "support/backend.h"
#include "toolkit/binding.h"

#include <QTest>

using namespace Qt::StringLiterals;
using accounts::Right;
using accounts::Role;

namespace {

class RightsTest : public testing_support::RecordWindowTest
{
protected:
    explicit RightsTest(testing_support::Backend backend = testing_support::Backend::File) : RecordWindowTest(backend) {}

    void SetUp() override
    {
        RecordWindowTest::SetUp();
        program.services->setHomeFolder(folder.path());
        db::audit::extendDatabase(ward.connection());
        accounts::extendDatabase(ward.connection());
        admin = staff.createFirstAdministrator(u"kanri"_s, u"管理"_s, u"Kanri-Shiken-2026"_s);
        app::registerProgramWindows();
    }

    void TearDown() override
    {
        db::clearSessionAccount();
        toolkit::setOpeningObserver({});
        toolkit::setOpeningGate({});
        RecordWindowTest::TearDown();
    }

    void logInAs(const QString &loginId, Role role)
    {
        staff.create(admin, loginId, loginId, role, u"Shiken-Pass-2026"_s, false);
        db::setSessionAccount(loginId);
    }

    QAction *item(const QString &window, const char *name)
    {
        return app::findWindow(window)->findChild<QAction *>(QString::fromLatin1(name));
    }

    accounts::PasswordHashes hashes{accounts::HashCost::least()};
    accounts::StaffAccounts staff{ward.connection(), hashes};
    accounts::Account admin;
};

using Rights = testing_support::OnBothBackends<RightsTest>;
INSTANTIATE_TEST_SUITE_P(Ward, Rights, ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(Rights, ANurseFindsRegistrationAndExportGreyAndRefusedWhereTheyAreDone)
{
    logInAs(u"kango"_s, Role::Nurse);
    ASSERT_TRUE(app::showWindow(app::window::InpatientLedger));
    EXPECT_FALSE(item(app::window::InpatientLedger, "mnuFileNew")->isEnabled());
    EXPECT_FALSE(item(app::window::InpatientLedger, "mnuToolDataEx")->isEnabled());
    EXPECT_TRUE(item(app::window::InpatientLedger, "mnuReportAdmSum")->isEnabled());
    item(app::window::InpatientLedger, "mnuFileNew")->setEnabled(true); // the window's own code cannot give it back
    EXPECT_FALSE(item(app::window::InpatientLedger, "mnuFileNew")->isEnabled());

    jet::Connection window;
    db::openWindowConnection(window, folder.path());
    const int episodes = stored(u"SELECT COUNT(*) FROM 入退院情報"_s).toInt();
    try {
        db::registerEpisode(window, 4711);
        ADD_FAILURE() << "registered without the right";
    } catch (const jet::Error &e) {
        EXPECT_EQ(e.number(), jet::err::NoPermission);
        EXPECT_EQ(e.cause(), jet::Cause::Permission);
    }
    EXPECT_EQ(stored(u"SELECT COUNT(*) FROM 入退院情報"_s).toInt(), episodes);

    program.services->answerBox(toolkit::MessageResult::Yes);
    ledger::exportList(ledger::ExportList::Inpatients);
    EXPECT_EQ(boxes().last().text, u"「書き出し」の権限がないため、この操作はできません。"_s);
    EXPECT_FALSE(QFile::exists(QDir(folder.path()).filePath(u"ネモリア入院中.xlsx"_s)));
    EXPECT_TRUE(program.statuses.isEmpty());
}

TEST_P(Rights, AClerksRecordWindowIsReadOnlyAndClosesWithoutWriting)
{
    logInAs(u"jimu"_s, Role::Clerk);
    auto *record = open<frmPt>(app::window::InpatientLedger, 1);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->isReadOnly());
    EXPECT_FALSE(record->findChild<QAction *>(u"mnuFileSave"_s)->isEnabled());
    QLineEdit *name = field(record, "Text2");
    EXPECT_TRUE(name->isReadOnly());
    const QVariant before = stored(u"SELECT 氏名 FROM 患者情報 WHERE カルテID = 1001"_s);
    const QString reading = field(record, "Text4")->text();
    QTest::keyClicks(name, u"abc"_s); // nothing typed, nothing read into the kana field
    EXPECT_EQ(field(record, "Text4")->text(), reading);
    name->setText(u"書き換え"_s);
    EXPECT_TRUE(record->unload());
    EXPECT_EQ(stored(u"SELECT 氏名 FROM 患者情報 WHERE カルテID = 1001"_s), before);
    EXPECT_NE(app::findWindow(app::window::InpatientLedger), nullptr);
}

TEST_P(Rights, TheTrailIsNeverRewrittenAndADemotionTakesEffectAtTheNextWrite)
{
    logInAs(u"kango"_s, Role::Nurse);
    jet::Connection window;
    db::openWindowConnection(window, folder.path());
    jet::Recordset patient;
    patient.open(u"SELECT 氏名 FROM 患者情報 WHERE カルテID = 1001"_s, &window);
    patient.setValue(0, u"看護 記入"_s);
    patient.update();
    EXPECT_THROW(window.execute(u"DELETE FROM 監査記録"_s), jet::Error);

    staff.setRoleMay(admin, Role::Nurse, Right::EditRecords, false);
    patient.setValue(0, u"降格後"_s);
    EXPECT_THROW(patient.update(), jet::Error);
    EXPECT_EQ(patient.editMode(), jet::EditMode::InProgress); // the edit waits, nothing lost
    EXPECT_EQ(stored(u"SELECT 氏名 FROM 患者情報 WHERE カルテID = 1001"_s).toString(), u"看護 記入"_s);

    // Without the right to view, 開く is grey, the record opens by no other
    // way, and the ledger stays.
    staff.setRoleMay(admin, Role::Nurse, Right::ViewRecords, false);
    EXPECT_EQ(open<frmPt>(app::window::InpatientLedger, 1), nullptr);
    EXPECT_FALSE(app::moveTo(*app::findWindow(app::window::InpatientLedger), app::window::InpatientRecord));
    EXPECT_EQ(boxes().last().text, u"「記録の閲覧」の権限がないため、この操作はできません。"_s);
    EXPECT_TRUE(app::findWindow(app::window::InpatientLedger)->isVisible());
}

TEST_P(Rights, WithoutALoginNothingIsRefused)
{
    jet::Connection window;
    db::openWindowConnection(window, folder.path());
    EXPECT_GT(db::registerEpisode(window, 4711), 0);
    db::audit::append(window, {db::audit::action::Export.toString(), u"x.xlsx (1 行)"_s, {}, {}});
}

TEST_F(RightsTest, EveryTableOfTheWardHasItsRightsToWrite)
{
    certificates::extendDatabase(ward.connection());
    jet::Catalog catalog;
    catalog.setActiveConnection(&ward.connection());
    for (const QString &table : catalog.tables())
        EXPECT_TRUE(accounts::knownTables().contains(table)) << table.toStdString();
}

} // namespace
