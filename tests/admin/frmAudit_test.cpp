#include "admin/frmAudit.h"
#include "db/accounts/accounts.h"
#include "db/accounts/extension.h"
#include "db/accounts/passwords.h"
#include "db/audit.h"
#include "db/engine/clock.h"
#include "db/engine/transaction.h"
#include "db/session.h"
#include "record/recordfixture.h"
#include "report/preview.h"
#include "support/backend.h"

#include <QApplication>
#include <QComboBox>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QDateTime kFirstEvent(QDate(2003, 3, 29), QTime(22, 0));

class AuditWindowTest : public testing_support::RecordWindowTest
{
protected:
    explicit AuditWindowTest(testing_support::Backend backend) : RecordWindowTest(backend) {}

    // 1,200 events four minutes apart over four local days, by two
    // accounts, of five patients.
    void SetUp() override
    {
        RecordWindowTest::SetUp();
        program.services->setHomeFolder(folder.path());
        registerWindow<frmAudit>(app::window::Audit);
        // The accounts whose rights allow the events below, made before the
        // trail so that it holds those events alone.
        accounts::extendDatabase(ward.connection());
        accounts::PasswordHashes hashes{accounts::HashCost::least()};
        accounts::StaffAccounts staff(ward.connection(), hashes);
        const accounts::Account admin =
            staff.createFirstAdministrator(u"kanri"_s, u"管理 太郎"_s, u"Kanri-Shiken-2026"_s);
        staff.create(admin, u"ishi"_s, u"医師 一郎"_s, accounts::Role::Physician, u"Ishi-Shiken-2026"_s);
        staff.create(admin, u"kango"_s, u"看護 花子"_s, accounts::Role::Nurse, u"Kango-Shiken-2026"_s);
        db::audit::extendDatabase(ward.connection());
        jet::Transaction events(ward.connection());
        for (int i = 0; i < 1200; ++i) {
            jet::Clock::setFixed(kFirstEvent.addSecs(i * 240));
            db::setSessionAccount(i % 3 == 0 ? u"kango"_s : u"ishi"_s);
            db::audit::append(ward.connection(), {i % 4 == 0 ? u"保存"_s : u"記録表示"_s, u"詳細 %1"_s.arg(i),
                                                  1001 + i % 5, i % 5 + 1});
        }
        events.commit();
        db::clearSessionAccount();
        jet::Clock::setFixed(testing_support::WardDatabase::today());
    }

    frmAudit *openWindow()
    {
        auto &window = toolkit::Forms::get<frmAudit>();
        return &window;
    }

    // The numbers of the trail's rows the statement's condition takes, newest first.
    QStringList expected(const QString &condition)
    {
        jet::Recordset rows;
        rows.open(u"SELECT 記録番号 FROM 監査記録 WHERE %1 ORDER BY 記録番号 DESC"_s.arg(condition), &ward.connection());
        QStringList numbers;
        for (; !rows.eof(); rows.moveNext())
            numbers.append(rows.value(0).toString());
        return numbers;
    }

    static QStringList shownNumbers(const frmAudit *window)
    {
        const auto *grid = field<QTableWidget>(window, "grdTrail");
        QStringList numbers;
        for (int row = 0; row < grid->rowCount(); ++row)
            numbers.append(grid->item(row, 0)->text());
        return numbers;
    }

    static QString utcStart(const QDate &localDay)
    {
        return QDateTime(localDay, QTime(0, 0)).toUTC().toString(Qt::ISODate);
    }
};

using AuditWindow = testing_support::OnBothBackends<AuditWindowTest>;
INSTANTIATE_TEST_SUITE_P(Ward, AuditWindow,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(AuditWindow, FiltersAndPagesGiveTheRowsAQueryOfTheirOwnGives)
{
    frmAudit *window = openWindow();
    const QStringList all = expected(u"1 = 1"_s);
    ASSERT_EQ(all.size(), 1200);
    EXPECT_EQ(shownNumbers(window), all.mid(0, frmAudit::kPageRows));
    field<QPushButton>(window, "cmdOlder")->click();
    field<QPushButton>(window, "cmdOlder")->click();
    EXPECT_EQ(shownNumbers(window), all.mid(2 * frmAudit::kPageRows));
    EXPECT_FALSE(field<QPushButton>(window, "cmdOlder")->isEnabled());
    field<QPushButton>(window, "cmdNewer")->click();
    EXPECT_EQ(shownNumbers(window), all.mid(frmAudit::kPageRows, frmAudit::kPageRows));

    const QDate day(2003, 3, 31);
    field<QCheckBox>(window, "chkPeriod")->setChecked(true);
    field<QDateEdit>(window, "dtpFrom")->setDate(day);
    field<QDateEdit>(window, "dtpTo")->setDate(day.addDays(1));
    field<QComboBox>(window, "cboAccount")->setCurrentText(u"kango"_s);
    field<QComboBox>(window, "cboAction")->setCurrentText(u"保存"_s);
    field(window, "txtChart")->setText(u"1001"_s);
    field<QPushButton>(window, "cmdSearch")->click();
    const QStringList found = expected(u"時刻 >= '%1' AND 時刻 < '%2' AND アカウント = 'kango' AND 操作 = '保存' AND カルテID = 1001"_s
                                           .arg(utcStart(day), utcStart(day.addDays(2))));
    ASSERT_FALSE(found.isEmpty());
    EXPECT_EQ(shownNumbers(window), found);
    EXPECT_EQ(window->rowsFound(), found.size());
    window->unload();
}

// The rows found go to a spreadsheet and to paper as they are listed; both
// are recorded, and the chain still holds.
TEST_P(AuditWindow, ExportAndPrintTakeTheRowsFoundAndAreRecorded)
{
    frmAudit *window = openWindow();
    field(window, "txtEpisode")->setText(u"3"_s);
    field<QPushButton>(window, "cmdSearch")->click();
    const QStringList found = expected(u"入退院ID = 3"_s);
    ASSERT_EQ(found.size(), 240);

    program.services->answerBox(toolkit::MessageResult::Yes);
    field<QPushButton>(window, "cmdExport")->click();
    const QString workbook = QDir(folder.path()).filePath(u"ネモリア監査記録.xlsx"_s);
    EXPECT_EQ(QFile::permissions(workbook), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    QProcess reader;
    reader.start(u"/usr/bin/python3"_s, {u"-c"_s, u"import openpyxl, sys\n"
                                         "sheet = openpyxl.load_workbook(sys.argv[1]).active\n"
                                         "rows = list(sheet.iter_rows(values_only=True))\n"
                                         "print(rows[0][1], len(rows) - 1, rows[1][0], rows[-1][7])"_s,
                                 workbook});
    ASSERT_TRUE(reader.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(reader.readAllStandardOutput()).trimmed(),
              u"時刻(UTC) 240 %1 3"_s.arg(found.first())) << reader.readAllStandardError().toStdString();

    const QList<report::Page> pages = window->printedPages();
    ASSERT_FALSE(pages.isEmpty());
    EXPECT_GT(pages.first().paper.width(), pages.first().paper.height());
    QStringList printed;
    for (const report::Page &page : pages)
        for (const report::TextRun &run : page.runsOf(u"Field1"_s))
            printed.append(run.text);
    EXPECT_EQ(printed, found);
    EXPECT_TRUE(pages.first().plainText().contains(u"入退院ID 3（240 件、新しい順）"_s));

    const QString pdf = QDir(folder.path()).filePath(u"監査記録.pdf"_s);
    program.services->setPrintFile(pdf);
    QTimer::singleShot(0, [] {
        if (auto *preview = qobject_cast<report::Preview *>(QApplication::activeModalWidget())) {
            preview->print();
            preview->close();
        }
    });
    field<QPushButton>(window, "cmdPrint")->click();
    EXPECT_TRUE(QFile::exists(pdf));

    jet::Recordset events;
    events.open(u"SELECT 操作, 詳細 FROM 監査記録 WHERE 記録番号 > 1200 ORDER BY 記録番号"_s, &ward.connection());
    QStringList recorded;
    for (; !events.eof(); events.moveNext())
        recorded.append(events.value(0).toString() + u' ' + events.value(1).toString());
    EXPECT_EQ(recorded, (QStringList{u"エクスポート %1 (240 行)"_s.arg(workbook),
                                     u"印刷 監査記録 入退院ID 3（240 件、新しい順） → %1"_s.arg(pdf)}));
    field<QPushButton>(window, "cmdVerify")->click();
    EXPECT_TRUE(field<QLabel>(window, "lblChain")->text().contains(u"件すべての連鎖を確認しました。改ざんはありません"_s));
    window->unload();
}

} // namespace
