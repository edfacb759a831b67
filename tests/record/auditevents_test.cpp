// What a person does with a patient's data besides saving it leaves its row
// in the trail: opening the record, writing a document of it, exporting.

#include "app/windows.h"
#include "certificate/records/extension.h"
#include "db/audit.h"
#include "db/session.h"
#include "ledger/export.h"
#include "record/frmHistory.h"
#include "record/frmPt.h"
#include "recordfixture.h"
#include "report/launch.h"
#include "report/preview.h"
#include "support/backend.h"

#include <QTableWidget>
#include <QTest>
#include <QTimer>

namespace {

class AuditEventsTest : public testing_support::RecordWindowTest
{
protected:
    explicit AuditEventsTest(testing_support::Backend backend) : RecordWindowTest(backend) {}

    void SetUp() override
    {
        RecordWindowTest::SetUp();
        program.services->setHomeFolder(folder.path());
        db::audit::extendDatabase(ward.connection());
        app::registerProgramWindows();
    }

    void TearDown() override
    {
        report::closeAllDocuments();
        toolkit::setOpeningObserver({});
        RecordWindowTest::TearDown();
    }

    // "chart episode detail" of each row of the action.
    QStringList rowsOf(QStringView action)
    {
        jet::Recordset rows;
        rows.openCommand(QStringLiteral("SELECT カルテID & ' ' & 入退院ID & ' ' & 詳細 FROM 監査記録 WHERE 操作 = ?"),
                         &ward.connection(), {action.toString()});
        QStringList found;
        for (; !rows.eof(); rows.moveNext())
            found.append(rows.value(0).toString());
        return found;
    }

    bool writeSummary(const QString &pdf)
    {
        program.services->setSaveFile(pdf);
        return report::showDocument(QStringLiteral("rptAdmSum"), 1, {}, {}, false)->saveAsPdf();
    }
};

using AuditEvents = testing_support::OnBothBackends<AuditEventsTest>;
INSTANTIATE_TEST_SUITE_P(Ward, AuditEvents,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(AuditEvents, OpeningARecordWritingAPdfAndExportingEachLeaveTheirRow)
{
    ASSERT_NE(open<frmPt>(app::window::InpatientLedger, 1), nullptr);
    // Raising a window already open is no second opening.
    app::showWindow(app::window::InpatientRecord);
    const QString title = toolkit::Forms::find<frmPt>()->windowTitle();
    EXPECT_EQ(rowsOf(db::audit::action::Opening), QStringList{QStringLiteral("1001 1 ") + title});

    const QString pdf = QDir(folder.path()).filePath(QStringLiteral("サマリー.pdf"));
    ASSERT_TRUE(writeSummary(pdf));
    EXPECT_EQ(rowsOf(db::audit::action::Pdf), QStringList{QStringLiteral("1001 1 rptAdmSum キー 1 → ") + pdf});

    program.services->answerBox(toolkit::MessageResult::Yes);
    ledger::exportList(ledger::ExportList::Inpatients);
    const QString workbook = QDir(folder.path()).filePath(QStringLiteral("ネモリア入院中.xlsx"));
    EXPECT_EQ(rowsOf(db::audit::action::Export), QStringList{QStringLiteral("  %1 (3 行)").arg(workbook)});

    const db::audit::Verification chain = db::audit::verify(ward.connection());
    EXPECT_TRUE(chain.sound()) << chain.findings.join(u'\n').toStdString();
}

// The history lists a save's old and new values, newest first, and opening
// it is recorded as opening the patient's record is.
TEST_P(AuditEvents, TheHistoryListsASavesOldAndNewValuesAndItsOpeningIsRecorded)
{
    frmPt *window = open<frmPt>(app::window::InpatientLedger, 1);
    ASSERT_NE(window, nullptr);
    auto *box = window->findChild<QLineEdit *>(QStringLiteral("Text8"));
    const QString before = box->text();
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, QStringLiteral("relapse"));
    window->findChild<QAction *>(QStringLiteral("mnuFileSave"))->trigger();

    QStringList shown;
    QTimer::singleShot(0, [&shown] {
        auto *history = toolkit::Forms::find<frmHistory>();
        if (!history)
            return;
        const auto *grid = history->findChild<QTableWidget *>(QStringLiteral("grdHistory"));
        for (int column = 1; column < grid->columnCount(); ++column)
            shown.append(grid->item(0, column)->text());
        history->close();
    });
    window->findChild<QAction *>(QStringLiteral("mnuHistory"))->trigger();
    ASSERT_FALSE(shown.isEmpty()) << "the history did not open";
    EXPECT_TRUE(shown.at(0).startsWith(db::kSystemUserMark));
    EXPECT_EQ(shown.mid(1), (QStringList{QStringLiteral("変更"), QStringLiteral("入退院情報"),
                                         QStringLiteral("一時診断名"), before, QStringLiteral("relapse")}));
    EXPECT_TRUE(rowsOf(db::audit::action::Opening).contains(QStringLiteral("1001 1 変更履歴 ") + window->windowTitle()));
}

TEST_P(AuditEvents, EachCertificateWindowRecordsItsPatientsOpening)
{
    certificates::extendDatabase(ward.connection());
    app::showWindow(app::window::OutpatientLedger);
    toolkit::Form *ledger = app::findWindow(app::window::OutpatientLedger);
    toolkit::DataGrid *grid = toolkit::DataGrid::of(ledger, QStringLiteral("DataGrid1"));
    const QString chart = grid->value(grid->currentRow(), QStringLiteral("入退院情報.カルテID")).toString();
    QStringList titles;
    const auto closeOnceShown = [&titles, chart](const QString &name, const QString &item = {}) {
        QTimer::singleShot(0, [&titles, chart, name, item] {
            toolkit::Form *window = app::findWindow(name);
            ASSERT_NE(window, nullptr) << name.toStdString();
            titles << chart + QStringLiteral("  ") + window->windowTitle();
            if (!item.isEmpty())
                window->findChild<QAction *>(item)->trigger();
            window->close();
        });
    };
    closeOnceShown(app::window::SubsidyCertificate);
    ledger->findChild<QAction *>(QStringLiteral("mnuTool32New"))->trigger();
    closeOnceShown(app::window::CertificateList, QStringLiteral("mnuNewMedical"));
    closeOnceShown(app::window::TodayCertificate);
    ledger->findChild<QAction *>(QStringLiteral("mnuToolCertificates"))->trigger();
    EXPECT_EQ(rowsOf(db::audit::action::Opening), titles);
}

// A document the trail cannot record is not written: no file is left.
TEST_P(AuditEvents, APdfTheTrailCannotRecordIsNotWritten)
{
    // A head row gone: the next row's number is taken already.
    db::audit::append(ward.connection(), {db::audit::action::Opening.toString(), {}, {}, {}});
    ward.connection().execute(QStringLiteral("DELETE FROM 監査記録先頭"));
    EXPECT_FALSE(writeSummary(QDir(folder.path()).filePath(QStringLiteral("サマリー.pdf"))));
    EXPECT_TRUE(QDir(folder.path()).entryList({QStringLiteral("*.pdf*")}, QDir::Files | QDir::Hidden).isEmpty());
}

} // namespace
