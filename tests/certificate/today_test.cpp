#include "app/firststart.h"
#include "certificate/frmCertList.h"
#include "certificate/frmCertToday.h"
#include "certificate/frmRenewals.h"
#include "certificate/records/extension.h"
#include "db/accounts/accounts.h"
#include "db/accounts/extension.h"
#include "db/accounts/serverroles.h"
#include "db/audit.h"
#include "db/engine/postgres/server.h"
#include "db/session.h"
#include "ledger/frmAmbuPts.h"
#include "record/recordfixture.h"
#include "toolkit/platform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTimer>

#include <functional>

using namespace Qt::StringLiterals;
using certificates::CertificateBook;
using certificates::Item;
using certificates::Kind;

namespace {

class TodayCertificateTest : public testing_support::RecordWindowTest
{
protected:
    void SetUp() override
    {
        RecordWindowTest::SetUp();
        registerWindow<frmAmbuPts>(app::window::OutpatientLedger);
        registerWindow<frmCertList>(app::window::CertificateList);
        registerWindow<frmCertToday>(app::window::TodayCertificate);
        registerWindow<frmRenewals>(app::window::Renewals);
    }

    // Runs `steps` in the modal window T once it is shown, then closes it as
    // the user does.
    template <class T>
    static void inside(bool &ran, const std::function<void(T *)> &steps)
    {
        QTimer::singleShot(0, [&ran, steps] {
            T *window = toolkit::Forms::find<T>();
            ran = window && window->isVisible();
            if (!ran)
                return;
            steps(window);
            if (toolkit::Forms::find<T>())
                window->close();
        });
    }

    // The outpatient ledger on its row of the patient of episode 5 (伊達政子, 1004).
    frmAmbuPts *ledgerOnDate()
    {
        app::showWindow(app::window::OutpatientLedger);
        auto *ledger = toolkit::Forms::find<frmAmbuPts>();
        toolkit::DataGrid *grid = toolkit::DataGrid::of(ledger, u"DataGrid1"_s);
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            if (grid->value(row, u"入退院ID"_s).toInt() == 5)
                grid->setCurrentRow(row);
        return ledger;
    }

    static QString cell(const QWidget *window, const char *grid, int row, int column)
    {
        const QTableWidgetItem *item = field<QTableWidget>(window, grid)->item(row, column);
        return item ? item->text() : QString();
    }

    template <class T>
    static T *named(const QWidget *window, const QString &name)
    {
        auto *widget = window->findChild<T *>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }

    static QDate today() { return toolkit::platform().now().date(); }
};

TEST_F(TodayCertificateTest, ACertificateIsWrittenIssuedKeptFromEditsAndCorrectedAsANewVersion)
{
    certificates::extendDatabase(ward.connection());
    frmAmbuPts *ledger = ledgerOnDate();
    QAction *entry = ledger->findChild<QAction *>(u"mnuToolCertificates"_s);
    ASSERT_TRUE(entry->isVisible());

    bool listed = false, written = false, reopened = false, copied = false;
    inside<frmCertList>(listed, [&](frmCertList *list) {
        inside<frmCertToday>(written, [](frmCertToday *window) {
            named<QCheckBox>(window, u"CheckBox_c1_ア"_s)->click();
            field<QPlainTextEdit>(window, "PlainTextEdit_history_course")->setPlainText(u"十年前に発症。"_s);
        });
        list->findChild<QAction *>(u"mnuNewMedical"_s)->trigger();
        ASSERT_EQ(field<QTableWidget>(list, "grdCertificates")->rowCount(), 1);
        EXPECT_EQ(cell(list, "grdCertificates", 0, 3), u"下書き"_s);

        program.services->answerBox(toolkit::MessageResult::Yes);
        field<QPushButton>(list, "cmdIssue")->click();
        EXPECT_EQ(cell(list, "grdCertificates", 0, 3), u"発行済み"_s);

        inside<frmCertToday>(reopened, [](frmCertToday *window) {
            EXPECT_FALSE(field<QWidget>(window, "fraSections")->isEnabled());
            EXPECT_TRUE(field<QPushButton>(window, "cmdSave")->isHidden());
            field<QPushButton>(window, "cmdCorrect")->click();
            EXPECT_TRUE(field<QWidget>(window, "fraSections")->isEnabled());
            named<QCheckBox>(window, u"CheckBox_c1_ウ"_s)->click();
        });
        field<QPushButton>(list, "cmdOpen")->click();
        EXPECT_EQ(field<QTableWidget>(list, "grdCertificates")->rowCount(), 2);

        // A copy of the last certificate closed untouched leaves no draft behind.
        inside<frmCertToday>(copied, [](frmCertToday *) {});
        field<QPushButton>(list, "cmdCopy")->click();
        EXPECT_EQ(field<QTableWidget>(list, "grdCertificates")->rowCount(), 2);
    });
    entry->trigger();
    EXPECT_TRUE(listed && written && reopened && copied);

    CertificateBook book(ward.connection());
    const QList<certificates::Certificate> all = book.ofPatient(1004);
    ASSERT_EQ(all.size(), 2);
    const certificates::Certificate issued = book.read(all.at(1).id);
    const certificates::Certificate correction = book.read(all.at(0).id);
    const Item course{u"history"_s, u"course"_s, {}, u"十年前に発症。"_s};
    const Item slowed{u"c1"_s, u"ア"_s, u"1"_s, {}};
    const Item gloomy{u"c1"_s, u"ウ"_s, u"1"_s, {}};
    EXPECT_EQ(issued.status, certificates::Status::Issued);
    EXPECT_TRUE(issued.items.contains(course) && issued.items.contains(slowed) && !issued.items.contains(gloomy));
    EXPECT_EQ(correction.status, certificates::Status::Draft);
    EXPECT_EQ(correction.previous, issued.id);
    EXPECT_EQ(correction.version, 2);
    EXPECT_TRUE(correction.items.contains(course) && correction.items.contains(slowed)
                && correction.items.contains(gloomy));
}

TEST_F(TodayCertificateTest, AMemberOffItsCheckIsGreyedButKeptAndADiagnosisOutsideTheRangeIsNamed)
{
    certificates::extendDatabase(ward.connection());
    ward.connection().execute(u"INSERT INTO `診断名(ICD10)` (診断名, ICDコード) VALUES ('アルツハイマー病', 'G30')"_s);
    const int alzheimer = stored(u"SELECT 診断ID FROM `診断名(ICD10)` WHERE ICDコード = 'G30'"_s).toInt();
    const int schizophrenia = stored(u"SELECT 診断ID FROM `診断名(ICD10)` WHERE ICDコード = 'F20'"_s).toInt();
    CertificateBook book(ward.connection());
    const certificates::Certificate draft = book.create(1004, true, false, today());

    bool ran = false;
    certificates::Certificate saved;
    inside<frmCertToday>(ran, [&](frmCertToday *window) {
        auto *seizure = named<QCheckBox>(window, u"CheckBox_c8_ア"_s);
        auto *kind = named<QLineEdit>(window, u"LineEdit_c8_ア.発作型"_s);
        auto *other = named<QCheckBox>(window, u"CheckBox_c1_エ"_s);
        auto *otherText = named<QLineEdit>(window, u"LineEdit_c1_エ"_s);
        EXPECT_FALSE(kind->isEnabled());
        seizure->click();
        kind->setText(u"複雑部分発作"_s);
        other->click();
        otherText->setText(u"焦燥"_s);
        seizure->click();
        other->click();
        EXPECT_FALSE(kind->isEnabled());
        EXPECT_FALSE(otherText->isEnabled());
        EXPECT_EQ(kind->text(), u"複雑部分発作"_s);
        EXPECT_EQ(otherText->text(), u"焦燥"_s);

        auto *main = field<QComboBox>(window, "cboMainDiagnosis");
        auto *warning = field<QLabel>(window, "hintIcd");
        main->setCurrentIndex(main->findData(alzheimer));
        EXPECT_FALSE(warning->isHidden());
        EXPECT_TRUE(warning->text().contains(u"アルツハイマー病"_s) && warning->text().contains(u"G30"_s));
        main->setCurrentIndex(main->findData(schizophrenia));
        EXPECT_TRUE(warning->isHidden());

        field<QPushButton>(window, "cmdSave")->click();
        saved = window->certificate();
    });
    app::showModal(app::window::TodayCertificate, QVariant::fromValue(draft));
    ASSERT_TRUE(ran);
    ASSERT_NE(saved.id, 0);
    const QList<Item> items = book.read(saved.id).items;
    EXPECT_TRUE(items.contains(Item{u"c8"_s, u"ア.発作型"_s, {}, u"複雑部分発作"_s}));
    EXPECT_TRUE(items.contains(Item{u"c1"_s, u"エ"_s, {}, u"焦燥"_s}));
    EXPECT_EQ(book.read(saved.id).mainDiagnosis, schizophrenia);
}

// Another workstation saves the same draft while it is open here: what it
// changed alone is taken in, a field changed on both is put to the user on
// saving and on closing.
TEST_F(TodayCertificateTest, ADraftSavedElsewhereKeepsBothEditsAndAsksAboutTheSameField)
{
    certificates::extendDatabase(ward.connection());
    CertificateBook book(ward.connection());
    certificates::Certificate draft = book.create(1004, true, false, today());
    book.save(draft);
    const auto other = [&](const QString &physician, const QList<Item> &items) {
        certificates::Certificate c = book.read(draft.id);
        c.physicianName = physician;
        c.items += items;
        book.save(c);
    };
    const Item theirs{u"c1"_s, u"ウ"_s, u"1"_s, {}};
    const Item mine{u"c1"_s, u"ア"_s, u"1"_s, {}};

    bool ran = false;
    inside<frmCertToday>(ran, [&](frmCertToday *window) {
        other(u"Other"_s, {theirs});
        field(window, "txtPhysician")->setText(u"Mine"_s);
        named<QCheckBox>(window, u"CheckBox_c1_ア"_s)->click();
        program.services->answerBox(toolkit::MessageResult::Cancel); // 画面に戻る
        field<QPushButton>(window, "cmdSave")->click();
        ASSERT_EQ(boxes().size(), 1);
        EXPECT_TRUE(boxes().first().text.contains(u"【医師氏名】\r　ほかの端末の内容：Other\r　この画面の入力：Mine"_s));
        EXPECT_FALSE(book.read(draft.id).items.contains(mine)) << "nothing is written";

        program.services->answerBox(toolkit::MessageResult::No); // 相手の変更を読み込む
        field<QPushButton>(window, "cmdSave")->click();
        EXPECT_EQ(field(window, "txtPhysician")->text(), u"Other"_s);
        EXPECT_TRUE(named<QCheckBox>(window, u"CheckBox_c1_ウ"_s)->isChecked());

        other(u"Again"_s, {});
        field(window, "txtPhysician")->setText(u"Mine2"_s);
        program.services->answerBox(toolkit::MessageResult::Yes); // 自分の入力で上書き
    });
    app::showModal(app::window::TodayCertificate, draft.id);
    ASSERT_TRUE(ran);
    EXPECT_EQ(boxes().size(), 3);
    const certificates::Certificate stored = book.read(draft.id);
    EXPECT_EQ(stored.physicianName, u"Mine2"_s);
    EXPECT_TRUE(stored.items.contains(mine) && stored.items.contains(theirs));

    // Deleted there: closing says so and may let the window go unsaved.
    inside<frmCertToday>(ran, [&](frmCertToday *window) {
        ward.connection().execute(u"DELETE FROM `%1` WHERE 診断書ID = ?"_s.arg(certificates::kRecordTable), {draft.id});
        field(window, "txtPhysician")->setText(u"Lost"_s);
        window->close(); // the refusal, then the question, answered by default: いいえ
        EXPECT_EQ(toolkit::Forms::find<frmCertToday>(), window);
        EXPECT_TRUE(boxes().last().text.contains(u"ほかの端末で削除されています"_s));
        program.services->answerBox(toolkit::MessageResult::Ok);
        program.services->answerBox(toolkit::MessageResult::Yes);
    });
    app::showModal(app::window::TodayCertificate, draft.id);
    EXPECT_EQ(toolkit::Forms::find<frmCertToday>(), nullptr);
}

TEST_F(TodayCertificateTest, TheWorklistListsWhatTheBookFindsDueWithinTheSettingsMonths)
{
    certificates::extendDatabase(ward.connection());
    CertificateBook book(ward.connection());
    const auto issued = [&](int chart, bool medical, int daysLeft) {
        certificates::Certificate c = book.create(chart, medical, !medical, today().addYears(-1));
        book.save(c);
        book.issue(c.id, c.written);
        book.setValidity(c.id, medical ? Kind::Medical : Kind::Handbook, {today().addYears(-1), today().addDays(daysLeft)});
    };
    issued(1001, true, 20);
    issued(1002, false, 80);
    issued(1003, true, 150);
    issued(1005, false, -1);

    const auto listed = [&](int months) {
        QList<QStringList> rows;
        bool ran = false;
        inside<frmRenewals>(ran, [&](frmRenewals *window) {
            for (int row = 0; row < field<QTableWidget>(window, "grdRenewals")->rowCount(); ++row)
                rows << QStringList{cell(window, "grdRenewals", row, 0), cell(window, "grdRenewals", row, 1),
                                    cell(window, "grdRenewals", row, 2)};
        });
        ledgerOnDate()->findChild<QAction *>(u"mnuToolRenewals"_s)->trigger();
        EXPECT_TRUE(ran);
        QList<QStringList> expected;
        for (const certificates::Renewal &r : book.renewalsDue(today(), months))
            expected << QStringList{r.validTo.toString(u"yyyy/MM/dd"_s), certificates::kindName(r.kind),
                                    QString::number(r.chart)};
        EXPECT_EQ(rows, expected);
        return rows.size();
    };
    EXPECT_EQ(listed(3), 2);
    book.setSettings({certificates::kDefaultVariant.toString(), 6});
    EXPECT_EQ(listed(6), 3);
}

TEST_F(TodayCertificateTest, TheFirstStartAsksAndOnlyYesAddsTheRecordsAndTheirEntries)
{
    program.services->answerBox(toolkit::MessageResult::No);
    app::offerCertificateRecords(folder.path());
    EXPECT_EQ(certificates::extensionVersion(ward.connection()), 0);
    EXPECT_FALSE(ledgerOnDate()->findChild<QAction *>(u"mnuToolCertificates"_s)->isVisible());
    app::unloadWindow(app::window::OutpatientLedger);

    program.services->answerBox(toolkit::MessageResult::Yes);
    app::offerCertificateRecords(folder.path());
    EXPECT_EQ(certificates::extensionVersion(ward.connection()), certificates::kExtensionVersion);
    EXPECT_TRUE(ledgerOnDate()->findChild<QAction *>(u"mnuToolCertificates"_s)->isVisible());
    const qsizetype asked = program.services->boxes().size();
    app::offerCertificateRecords(folder.path());
    EXPECT_EQ(program.services->boxes().size(), asked);
}

// On a server the staff's roles may not create tables: the administrator is
// told what the database's owner runs instead of a question that can only
// fail, and once the owner has added the records the physician uses them.
class CertificateRecordsOnServer : public testing_support::RecordWindowTest
{
protected:
    CertificateRecordsOnServer() : RecordWindowTest(testing_support::Backend::Server) {}
};

TEST_F(CertificateRecordsOnServer, TheAdministratorIsToldTheOwnersCommandAndThePhysicianUsesWhatTheOwnerAdded)
{
    db::audit::extendDatabase(ward.connection());
    accounts::extendDatabase(ward.connection());
    accounts::ServerLogins logins;
    accounts::StaffAccounts staff(ward.connection(), logins);
    const QString password = u"Shiken-Pass-2026"_s;
    const auto loggedOff = qScopeGuard([] {
        jet::setServerLogin({}, {});
        db::clearSessionAccount();
    });
    staff.create(staff.createFirstAdministrator(u"kanri"_s, u"管理"_s, password), u"ishi"_s, u"医師"_s,
                 accounts::Role::Physician, password, false);
    jet::setServerLogin(accounts::serverRole(ward.connection(), u"kanri"_s), password);
    db::setSessionAccount(u"kanri"_s);
    app::offerCertificateRecords(folder.path());
    ASSERT_EQ(program.services->boxes().size(), 1);
    EXPECT_TRUE(program.services->boxes().first().request.text.contains(u"norva-db extend"_s));
    EXPECT_EQ(certificates::extensionVersion(ward.connection()), 0);

    certificates::extendDatabase(ward.connection()); // the owner's connection, as norva-db extend has
    jet::setServerLogin(accounts::serverRole(ward.connection(), u"ishi"_s), password);
    db::setSessionAccount(u"ishi"_s);
    jet::Connection physician;
    db::openWindowConnection(physician, folder.path());
    certificates::Certificate c = CertificateBook(physician).create(1004, true, false, QDate(2026, 12, 1));
    CertificateBook(physician).save(c);
    physician.close();
}

} // namespace
