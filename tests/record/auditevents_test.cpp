// What a person does with a patient's data outside a save leaves its row in
// the trail: opening the record, writing a document of it, exporting a list.

#include "app/windows.h"
#include "db/audit.h"
#include "ledger/export.h"
#include "record/frmPt.h"
#include "recordfixture.h"
#include "report/datasource.h"
#include "report/launch.h"
#include "report/preview.h"
#include "support/backend.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {

namespace audit = db::audit;

class AuditEventsTest : public testing_support::RecordWindowTest
{
protected:
    explicit AuditEventsTest(testing_support::Backend backend) : RecordWindowTest(backend) {}

    void SetUp() override
    {
        RecordWindowTest::SetUp();
        program.services->setHomeFolder(folder.path());
        audit::extendDatabase(ward.connection());
        app::registerProgramWindows();
    }

    void TearDown() override
    {
        report::closeAllDocuments();
        toolkit::setOpeningObserver({});
        RecordWindowTest::TearDown();
    }

    struct Row
    {
        QVariant chart, episode;
        QString detail;
    };
    QList<Row> rowsOf(QStringView action)
    {
        jet::Recordset rows;
        rows.openCommand(QStringLiteral("SELECT カルテID, 入退院ID, 詳細 FROM 監査記録 WHERE 操作 = ? ORDER BY 記録番号"),
                         &ward.connection(), {action.toString()});
        QList<Row> found;
        for (; !rows.eof(); rows.moveNext())
            found.append({rows.value(0), rows.value(1), rows.value(2).toString()});
        return found;
    }
};

using AuditEvents = testing_support::OnBothBackends<AuditEventsTest>;
INSTANTIATE_TEST_SUITE_P(Ward, AuditEvents,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(AuditEvents, OpeningARecordWritingAPdfAndExportingEachLeaveTheirRow)
{
    // Raising a window already open is no second opening.
    ASSERT_NE(open<frmPt>(app::window::InpatientLedger, 1), nullptr);
    app::showWindow(app::window::InpatientRecord);
    const QList<Row> opened = rowsOf(audit::action::Opening);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].chart.toLongLong(), 1001);
    EXPECT_EQ(opened[0].episode.toLongLong(), 1);

    const QString pdf = QDir(folder.path()).filePath(QStringLiteral("サマリー.pdf"));
    program.services->setSaveFile(pdf);
    report::Preview *preview = report::showDocument(QStringLiteral("rptAdmSum"), 1, QStringLiteral("サマリー"),
                                                    report::DataSource::instance().institution(), false);
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(preview->saveAsPdf());
    const QList<Row> written = rowsOf(audit::action::Pdf);
    ASSERT_EQ(written.size(), 1);
    EXPECT_EQ(written[0].chart.toLongLong(), 1001);
    EXPECT_EQ(written[0].episode.toLongLong(), 1);
    EXPECT_TRUE(written[0].detail.contains(QStringLiteral("rptAdmSum キー 1"))) << written[0].detail.toStdString();
    EXPECT_TRUE(written[0].detail.endsWith(pdf)) << written[0].detail.toStdString();

    program.services->answerBox(toolkit::MessageResult::Yes);
    ledger::exportList(ledger::ExportList::Everyone);
    const QList<Row> exported = rowsOf(audit::action::Export);
    ASSERT_EQ(exported.size(), 1);
    EXPECT_TRUE(exported[0].chart.isNull());
    const QString workbook = QDir(folder.path()).filePath(QStringLiteral("ネモリアすべて.xlsx"));
    ASSERT_TRUE(QFileInfo::exists(workbook));
    EXPECT_TRUE(exported[0].detail.startsWith(workbook)) << exported[0].detail.toStdString();
    const QRegularExpressionMatch count = QRegularExpression(QStringLiteral("\\((\\d+) 行\\)$")).match(exported[0].detail);
    ASSERT_TRUE(count.hasMatch()) << exported[0].detail.toStdString();
    EXPECT_GT(count.captured(1).toInt(), 0);

    const audit::Verification chain = audit::verify(ward.connection());
    EXPECT_TRUE(chain.sound()) << chain.findings.join(u'\n').toStdString();
}

// A document the trail cannot record is not written: no file is left.
TEST_P(AuditEvents, APdfTheTrailCannotRecordIsNotWritten)
{
    // A head row gone: the next row's number is taken already.
    audit::append(ward.connection(), {audit::action::Opening.toString(), {}, {}, {}});
    ward.connection().execute(QStringLiteral("DELETE FROM 監査記録先頭"));
    const QString pdf = QDir(folder.path()).filePath(QStringLiteral("サマリー.pdf"));
    program.services->setSaveFile(pdf);
    report::Preview *preview = report::showDocument(QStringLiteral("rptAdmSum"), 1, QStringLiteral("サマリー"),
                                                    report::DataSource::instance().institution(), false);
    ASSERT_NE(preview, nullptr);
    EXPECT_FALSE(preview->saveAsPdf());
    EXPECT_FALSE(QFileInfo::exists(pdf));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".pdf")).size(), 0);
}

} // namespace
