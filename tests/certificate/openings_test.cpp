// Opening a patient's certificates is opening a record: the list, today's
// certificate and the 2003 forms each leave their row in the trail.

#include "app/windows.h"
#include "certificate/records/extension.h"
#include "db/audit.h"
#include "record/recordfixture.h"
#include "support/backend.h"

#include <QTimer>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

class CertificateOpeningsTest : public testing_support::RecordWindowTest
{
protected:
    explicit CertificateOpeningsTest(testing_support::Backend backend) : RecordWindowTest(backend) {}

    void SetUp() override
    {
        RecordWindowTest::SetUp();
        db::audit::extendDatabase(ward.connection());
        certificates::extendDatabase(ward.connection());
        app::registerProgramWindows();
    }

    void TearDown() override
    {
        toolkit::setOpeningObserver({});
        RecordWindowTest::TearDown();
    }

    // Once the modal window of that name shows: its title, then `inside`,
    // then it closes as the user closes it.
    static void whenShown(const QString &name, QStringList &titles, const std::function<void()> &inside = {})
    {
        QTimer::singleShot(0, [name, &titles, inside] {
            toolkit::Form *window = app::findWindow(name);
            if (!window || !window->isVisible())
                return;
            titles << window->windowTitle();
            if (inside)
                inside();
            if (app::findWindow(name))
                window->close();
        });
    }

    // "chart detail" of each opening.
    QStringList openings()
    {
        jet::Recordset rows;
        rows.openCommand(u"SELECT カルテID & ' ' & 詳細 FROM 監査記録 WHERE 操作 = ? ORDER BY 記録番号"_s,
                         &ward.connection(), {db::audit::action::Opening.toString()});
        QStringList found;
        for (; !rows.eof(); rows.moveNext())
            found.append(rows.value(0).toString());
        return found;
    }
};

using CertificateOpenings = testing_support::OnBothBackends<CertificateOpeningsTest>;
INSTANTIATE_TEST_SUITE_P(Ward, CertificateOpenings,
                         ::testing::Values(testing_support::Backend::File, testing_support::Backend::Server),
                         ::testing::PrintToStringParamName());

TEST_P(CertificateOpenings, EachCertificateWindowRecordsItsPatientsOpening)
{
    // The outpatient ledger on episode 5, patient 1004.
    app::showWindow(app::window::OutpatientLedger);
    toolkit::Form *ledger = app::findWindow(app::window::OutpatientLedger);
    ASSERT_NE(ledger, nullptr);
    toolkit::DataGrid *grid = toolkit::DataGrid::of(ledger, u"DataGrid1"_s);
    for (int row = 0; row < grid->model()->rowCount(); ++row) {
        if (grid->value(row, u"入退院ID"_s).toInt() == 5)
            grid->setCurrentRow(row);
    }

    QStringList titles;
    whenShown(app::window::SubsidyCertificate, titles);
    ledger->findChild<QAction *>(u"mnuTool32New"_s)->trigger();
    whenShown(app::window::CertificateList, titles, [&titles] {
        whenShown(app::window::TodayCertificate, titles);
        app::findWindow(app::window::CertificateList)->findChild<QAction *>(u"mnuNewMedical"_s)->trigger();
    });
    ledger->findChild<QAction *>(u"mnuToolCertificates"_s)->trigger();

    ASSERT_EQ(titles.size(), 3) << titles.join(u" / ").toStdString();
    QStringList expected;
    for (const QString &title : std::as_const(titles))
        expected << u"1004 "_s + title;
    EXPECT_EQ(openings(), expected);
}

} // namespace
