#include "ledger/frmAmbuPts.h"
#include "ui_frmAmbuPts.h"

#include "app/navigation.h"
#include "db/engine/error.h"
#include "db/location.h"
#include "ledger/export.h"
#include "ledger/freshlist.h"
#include "ledger/kanasearch.h"
#include "ledger/ledgermenus.h"
#include "ledger/reports.h"
#include "options/frmOptions.h"
#include "toolkit/datagrid.h"
#include "toolkit/errortrap.h"
#include "toolkit/platform.h"

#include <QDir>
#include <QLineEdit>

using toolkit::GridColumn;

namespace {

const QString kSource = QStringLiteral("SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 "
                                       "WHERE 患者情報.カルテID = 入退院情報.カルテID AND 外入の別 = -1 "
                                       "ORDER BY 入退院情報.入退院ID DESC;");

toolkit::ErrorTable loadAnswers()
{
    toolkit::MessageBoxRequest tooOld;
    tooOld.text = QStringLiteral("データベースが古いため表示できません。コンバートしてください。");
    tooOld.icon = toolkit::MessageIcon::Critical;
    return {{jet::err::ColumnMissing, tooOld, {}, true}};
}

} // namespace

frmAmbuPts::frmAmbuPts(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmAmbuPts>())
{
    ui->setupUi(this);

    m_grid = std::make_unique<toolkit::DataGrid>(ui->DataGrid1);
    m_grid->setCaption(QStringLiteral("詳細を開きたい患者のところでダブルクリック"));
    m_grid->setColumns({
        GridColumn{QStringLiteral("カルテID"), QStringLiteral("入退院情報.カルテID"), 1215, Qt::AlignHCenter, false},
        GridColumn{QStringLiteral("氏名"), QStringLiteral("氏名"), 1290, Qt::AlignHCenter, false},
        GridColumn{QStringLiteral("一時診断名"), QStringLiteral("一時診断名"), 4335, Qt::AlignLeft, false},
        GridColumn{QStringLiteral("入退院ID"), QStringLiteral("入退院ID"), 0, Qt::AlignLeft, true},
    });
    m_grid->fitColumnsToContents(QStringLiteral("frmAmbuPts"));
    m_search = new ledger::KanaSearch(ui->Text1, ui->cmdFilter, ui->cmdReset, this);
    m_fresh = new ledger::FreshList(*this, *m_grid, ui->Text1);

    ledger::wireLedgerItems(*this, *m_grid, m_connection, app::window::OutpatientRecord,
                            {ui->mnuFileOpen,
                             ui->mnuFileNew,
                             ui->mnuFileClose,
                             ui->mnuToolDx,
                             ui->mnuToolOptions,
                             ui->mnuHelpIndex,
                             ui->mnuHelpNorva,
                             {{ui->mnuMoveAdm, app::window::InpatientLedger},
                              {ui->mnuMoveAll, app::window::AllPatientLedger}}});

    connect(ui->mnuTool32New, &QAction::triggered, this,
            [this] { toolkit::trap([this] { openCertificate(app::window::SubsidyCertificate); }); });
    connect(ui->mnuToolTecho, &QAction::triggered, this,
            [this] { toolkit::trap([this] { openCertificate(app::window::HandbookCertificate); }); });
    const QString chart = QStringLiteral("入退院情報.カルテID");
    connect(ui->mnuReport32New, &QAction::triggered, this, [this, chart] {
        ledger::showCertificate(*m_grid, chart, {QStringLiteral("rpt32New"), QStringLiteral(" - 通院医療費公費負担用診断書 1枚目")},
                                {QStringLiteral("rpt32New2"), QStringLiteral(" - 通院医療費公費負担用診断書 2枚目")});
    });
    connect(ui->mnuReportTecho, &QAction::triggered, this, [this, chart] {
        ledger::showCertificate(*m_grid, chart,
                                {QStringLiteral("rptWelfare1"), QStringLiteral(" - 精神障害者保健福祉手帳用担診断書 1枚目")},
                                {QStringLiteral("rptWelfare2"), QStringLiteral(" - 精神障害者保健福祉手帳用診断書 2枚目")});
    });
    ledger::wireCertificateRecords(*this, *m_grid, chart, ui->mnuToolCertificates, ui->mnuToolRenewals);
    connect(ui->mnuToolDataEx, &QAction::triggered, this, [] { ledger::exportList(ledger::ExportList::Outpatients); });
}

frmAmbuPts::~frmAmbuPts() = default;

void frmAmbuPts::onLoad()
{
    toolkit::trap([this] { openData(); }, loadAnswers());
}

void frmAmbuPts::openData()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    m_list.open(kSource, &m_connection);
    m_grid->setRecordset(&m_list);
    m_search->setList(&m_list);
    ui->mnuFileOpen->setEnabled(false);
    const bool today = ledger::certificateRecordsReady(m_connection);
    ui->mnuToolCertificates->setVisible(today);
    ui->mnuToolRenewals->setVisible(today);
    m_fresh->watch(m_connection, m_list, {});
    setWindowTitle(toolkit::Forms::get<frmOptions>().Text1()->text() + QStringLiteral(" - ネモリア （外来通院中の患者）"));
}

void frmAmbuPts::onUnload(bool &)
{
    m_fresh->stop();
    m_search->setList(nullptr);
    m_grid->setRecordset(nullptr);
    m_list.close();
    m_certificates.close();
    m_connection.close();
    toolkit::Forms::unload<frmOptions>();
}

// Both certificates edit one row per patient, created here with only its
// chart and the schema's defaults when the patient has none yet.  An empty
// list has no patient to write a certificate for.
void frmAmbuPts::openCertificate(const QString &window)
{
    const int row = m_grid->currentRow();
    if (row < 0)
        return;
    const QString chart = m_grid->value(row, QStringLiteral("入退院情報.カルテID")).toString();
    m_certificates.close();
    m_certificates.open(QStringLiteral("SELECT * FROM `32条診断書`"), &m_connection);
    bool found = false;
    if (m_certificates.recordCount() > 0) {
        m_certificates.moveFirst();
        m_certificates.find(QStringLiteral("カルテID = ") + chart);
        found = !m_certificates.eof();
    }
    if (!found) {
        m_certificates.addNew({QStringLiteral("カルテID")}, {chart.toInt()});
        m_certificates.requery();
    }
    app::showModal(window);
}
