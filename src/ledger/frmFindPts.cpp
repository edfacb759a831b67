#include "ledger/frmFindPts.h"
#include "ui_frmFindPts.h"

#include "app/navigation.h"
#include "db/engine/error.h"
#include "db/episodes.h"
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

#include <QDir>
#include <QLineEdit>

using toolkit::GridColumn;

namespace {

toolkit::MessageBoxRequest deletionQuestion()
{
    toolkit::MessageBoxRequest box;
    box.title = QStringLiteral("入退院データの削除");
    box.text = QStringLiteral("この患者の今回の入退院データを削除しますか？");
    box.icon = toolkit::MessageIcon::Question;
    box.buttons = toolkit::MessageButtons::YesNo;
    return box;
}

} // namespace

frmFindPts::frmFindPts(QWidget *parent)
    : toolkit::Form(parent), ui(std::make_unique<Ui::frmFindPts>())
{
    ui->setupUi(this);
    // The 2003 certificates are the out-patient ledger's; this one offers
    // only today's, where the database holds them.
    ui->mnuTool32New->setVisible(false);
    ui->mnuToolTecho->setVisible(false);

    m_grid = std::make_unique<toolkit::DataGrid>(ui->DataGrid1);
    m_grid->setCaption(QStringLiteral("詳細を開きたい患者のところでダブルクリック"));
    m_grid->setColumns({
        GridColumn{QStringLiteral("カルテID"), QStringLiteral("入退院情報.カルテID"), 1215, Qt::AlignHCenter, false},
        GridColumn{QStringLiteral("氏名"), QStringLiteral("氏名"), 1290, Qt::AlignHCenter, false},
        GridColumn{QStringLiteral("入院日"), QStringLiteral("入院日"), 1260, Qt::AlignHCenter, false},
        GridColumn{QStringLiteral("退院日"), QStringLiteral("退院日"), 1260, Qt::AlignHCenter, false},
        GridColumn{QStringLiteral("かな氏名"), QStringLiteral("かな氏名"), 15, Qt::AlignHCenter, true},
        GridColumn{QStringLiteral("一時診断名"), QStringLiteral("一時診断名"), 1800, Qt::AlignLeft, false},
        GridColumn{QStringLiteral("入退院ID"), QStringLiteral("入退院ID"), 15, Qt::AlignHCenter, true},
    });
    m_grid->fitColumnsToContents(QStringLiteral("frmFindPts"));
    m_search = new ledger::KanaSearch(ui->Text1, ui->cmdFilter, ui->cmdReset, this);
    m_fresh = new ledger::FreshList(*this, *m_grid, ui->Text1);

    ledger::wireLedgerItems(*this, *m_grid, m_connection, app::window::AllPatientRecord,
                            {ui->mnuFileOpen,
                             ui->mnuFileNew,
                             ui->mnuFileClose,
                             ui->mnuToolDx,
                             ui->mnuToolOptions,
                             ui->mnuHelpIndex,
                             ui->mnuHelpNorva,
                             {{ui->mnuMoveAdm, app::window::InpatientLedger},
                              {ui->mnuMoveAmbu, app::window::OutpatientLedger}}});
    connect(ui->mnuToolDataEx, &QAction::triggered, this, [] { ledger::exportList(ledger::ExportList::Everyone); });
    ledger::wireCertificateRecords(*this, *m_grid, QStringLiteral("入退院情報.カルテID"), ui->mnuToolCertificates,
                                   ui->mnuToolRenewals);
    connect(ui->mnuFileAdmHisDelete, &QAction::triggered, this, [this] {
        // The episode stays until the user tries again.
        toolkit::trap([this] { deleteEpisode(); },
                      {toolkit::lockedAnswer(QStringLiteral("ほかの端末がデータベースを使用しているため、削除できませんでした。"
                                                            "しばらくしてから、もう一度削除してください。"))});
    });

    // The compaction window unloads this ledger itself when it loads.
    connect(ui->mnuToolOptimization, &QAction::triggered, this,
            [] { toolkit::untrapped([] { app::showWindow(app::window::Compaction); }); });    connect(ui->mnuReportAdmSum, &QAction::triggered, this,
            [this] { ledger::showEpisodeDocument(*m_grid, QStringLiteral("rptAdmSum"), QStringLiteral(" - 入院時サマリー")); });
    connect(ui->mnuReportDischargeHis, &QAction::triggered, this,
            [this] { ledger::showEpisodeDocument(*m_grid, QStringLiteral("rptDischargeHis"), QStringLiteral(" - 退院病歴")); });
}

frmFindPts::~frmFindPts() = default;

// A failure while loading has no answer of its own.
void frmFindPts::onLoad()
{
    toolkit::untrapped([this] { openData(); });
}

void frmFindPts::openData()
{
    db::openWindowConnection(m_connection, toolkit::platform().programFolder());
    // The label counts the list's own rows: one count serves both.
    const jet::SharedCounts oneCount(m_connection);
    m_list.open(db::kAllEpisodesSql.toString(), &m_connection);
    m_grid->setRecordset(&m_list);
    m_search->setList(&m_list);
    ui->mnuFileOpen->setEnabled(false);
    ui->mnuShindan->menuAction()->setVisible(ledger::certificateRecordsReady(m_connection));
    setWindowTitle(toolkit::Forms::get<frmOptions>().Text1()->text() + QStringLiteral(" - ネモリア （すべての患者）"));

    m_count.open(db::kLedgerCountQuery.toString(), &m_connection);
    m_countBinding = new toolkit::RecordBinding(this);
    m_countBinding->setRecordset(&m_count);
    m_countBinding->bindLabel(ui->Label1, QStringLiteral("全患者数"), QStringLiteral("全症例数 0件"));
    m_fresh->watch(m_connection, m_list, {&m_count});
}

void frmFindPts::onUnload(bool &)
{
    m_fresh->stop();
    delete m_countBinding;
    m_countBinding = nullptr;
    m_search->setList(nullptr);
    m_grid->setRecordset(nullptr);
    m_list.close();
    m_count.close();
    m_connection.close();
    toolkit::Forms::unload<frmOptions>();
}

// The episode and its companion rows go together or not at all.  Companion
// rows may be missing (registration broken off before they were made); the
// episode is still deleted with whatever companion rows it has.
void frmFindPts::deleteEpisode()
{
    const int row = m_grid->currentRow();
    // Asking first would promise a deletion that an empty list cannot make.
    if (row < 0) {
        toolkit::MessageBoxRequest box;
        box.title = QStringLiteral("入退院データの削除");
        box.text = QStringLiteral("削除するデータがありません。");
        box.icon = toolkit::MessageIcon::Information;
        toolkit::platform().messageBox(box);
        return;
    }
    if (toolkit::platform().messageBox(deletionQuestion()) != toolkit::MessageResult::Yes)
        return;
    db::deleteEpisode(m_connection, m_grid->value(row, QStringLiteral("入退院ID")).toLongLong());
    m_list.requery();
}
