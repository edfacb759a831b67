#include "ledger/frmPts.h"
#include "ui_frmPts.h"

#include "app/navigation.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "db/schema.h"
#include "ledger/export.h"
#include "ledger/freshlist.h"
#include "ledger/kanasearch.h"
#include "ledger/reports.h"
#include "ledger/ledgermenus.h"
#include "options/frmOptions.h"
#include "toolkit/binding.h"
#include "toolkit/datagrid.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QLabel>
#include <QLineEdit>

namespace {

toolkit::ErrorTable loadAnswers()
{
    toolkit::MessageBoxRequest box;
    box.text = QStringLiteral("データベース norva2000.mdb の取得に失敗しました。");
    box.icon = toolkit::MessageIcon::Critical;
    return {{jet::err::GeneralFailure, box, {}, true, true}};
}

} // namespace

frmPts::frmPts(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmPts>())
{
    ui->setupUi(this);
    for (QAction *step : {ui->mnuFileStep, ui->mnuFileSessionStep, ui->mnuReportStep, ui->mnuToolStep, ui->mnuHelpStep})
        step->setSeparator(true);

    m_grid = std::make_unique<toolkit::DataGrid>(ui->DataGrid1);
    m_grid->setCaption(QStringLiteral("詳細を開きたい患者のところでダブルクリック"));
    m_grid->setColumns({
        {QStringLiteral("病室"), QStringLiteral("病室番号"), 555, Qt::AlignHCenter},
        {QStringLiteral("カルテID"), QStringLiteral("カルテID"), 1215, Qt::AlignHCenter},
        {QStringLiteral("氏名"), QStringLiteral("氏名"), 1290, Qt::AlignHCenter},
        {QStringLiteral("入院日"), QStringLiteral("入院日"), 1275, Qt::AlignHCenter},
        {QStringLiteral("一時診断名"), QStringLiteral("一時診断名"), 2475, Qt::AlignLeft},
        {QStringLiteral("入退院ID"), QStringLiteral("入退院ID"), 15, Qt::AlignHCenter, true},
    });
    m_grid->fitColumnsToContents(QStringLiteral("frmPts"));
    m_search = new ledger::KanaSearch(ui->Text1, ui->cmdFilter, ui->cmdReset, this);
    m_fresh = new ledger::FreshList(*this, *m_grid, ui->Text1);

    ledger::wireLedgerItems(*this, *m_grid, m_connection, app::window::InpatientRecord,
                            {ui->mnuFileOpen,
                             ui->mnuFileNew,
                             ui->mnuFileClose,
                             ui->mnuToolDx,
                             ui->frmToolOptions,
                             ui->mnuHelpIndex,
                             ui->mnuHelpNorva,
                             {{ui->mnuMoveAdm, app::window::InpatientLedger},
                              {ui->mnuMoveAmbu, app::window::OutpatientLedger},
                              {ui->mnuMoveAll, app::window::AllPatientLedger}}});
    connect(ui->mnuToolDataEx, &QAction::triggered, this, [] { ledger::exportList(ledger::ExportList::Inpatients); });
    // The list-order window unloads this ledger itself when it loads.
    connect(ui->mnuToolArrange, &QAction::triggered, this,
            [] { toolkit::untrapped([] { app::showWindow(app::window::ListOrder); }); });
    connect(ui->mnuReportAdm1week, &QAction::triggered, this, [] { ledger::printAdmissionRecords(1); });
    connect(ui->mnuReportAdm2week, &QAction::triggered, this, [] { ledger::printAdmissionRecords(2); });
    connect(ui->mnuReportAdmPsy, &QAction::triggered, this, [] { ledger::showCheckSheets(); });
    connect(ui->mnuReportTreatment, &QAction::triggered, this, [] { ledger::showTreatmentVoucher(); });
    connect(ui->mnuReportAdmSum, &QAction::triggered, this,
            [this] { ledger::showEpisodeDocument(*m_grid, QStringLiteral("rptAdmSum"), QStringLiteral(" - 入院時サマリー")); });
    connect(ui->mnuReportDischargeHis, &QAction::triggered, this,
            [this] { ledger::showEpisodeDocument(*m_grid, QStringLiteral("rptDischargeHis"), QStringLiteral(" - 退院病歴")); });
    connect(ui->mnuReportAdmissionPlan, &QAction::triggered, this, [this] {
        ledger::showEpisodeDocument(*m_grid, QStringLiteral("rptAdmissionPlan"), QStringLiteral(" - 入院診療計画書"));
    });
    connect(ui->mnuReportDischargePlan, &QAction::triggered, this, [this] {
        ledger::showEpisodeDocument(*m_grid, QStringLiteral("rptDischargePlan"), QStringLiteral(" - 退院療養計画書"));
    });
}

frmPts::~frmPts() = default;

toolkit::DataGrid *frmPts::DataGrid1() const
{
    return m_grid.get();
}

QString frmPts::currentEpisodeKey() const
{
    return ledger::currentEpisodeKey(*m_grid);
}

void frmPts::onLoad()
{
    toolkit::trap([this] { openData(); }, loadAnswers());
}

void frmPts::openData()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_list.open(db::kInpatientListQuery.toString(), &m_connection);
    m_grid->setRecordset(&m_list);
    m_search->setList(&m_list);
    ui->mnuFileOpen->setEnabled(false);
    setWindowTitle(toolkit::Forms::get<frmOptions>().Text1()->text() + QStringLiteral(" - ネモリア （入院中の患者）"));
    bindSummary(m_count, db::kInpatientCountQuery, ui->Label1, QStringLiteral("全患者数"),
                QStringLiteral("入院患者数 0人"));
    bindSummary(m_averageAge, db::kInpatientAverageAgeQuery, ui->Label2, QStringLiteral("平均年齢"),
                QStringLiteral("平均年齢 00.00歳"));
    bindSummary(m_averageStay, db::kInpatientAverageStayQuery, ui->Label3, QStringLiteral("平均入院日数"),
                QStringLiteral("平均在院日数 00.00日"));
    m_fresh->watch(m_connection, m_list, {&m_count, &m_averageAge, &m_averageStay});
}

void frmPts::bindSummary(jet::Recordset &recordset, QStringView query, QLabel *label, const QString &column,
                         const QString &format)
{
    // Without in-patients the averages are Null, which formats to nothing:
    // the label keeps its caption rather than vanish.
    const QString caption = label->text();
    recordset.open(query.toString(), &m_connection);
    auto binding = std::make_unique<toolkit::RecordBinding>();
    binding->setRecordset(&recordset);
    binding->bindLabel(label, column, format);
    if (label->text().isEmpty())
        label->setText(caption);
    m_summaries.push_back(std::move(binding));
}

void frmPts::onUnload(bool &)
{
    m_fresh->stop();
    m_summaries.clear();
    m_search->setList(nullptr);
    m_grid->setRecordset(nullptr);
    m_list.close();
    m_count.close();
    m_averageAge.close();
    m_averageStay.close();
    m_connection.close();
    toolkit::Forms::unload<frmOptions>();
}
