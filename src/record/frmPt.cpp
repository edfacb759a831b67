#include "record/frmPt.h"
#include "ui_frmPt.h"

#include "app/navigation.h"
#include "toolkit/widgets.h"

namespace {

const QString kCaption = QStringLiteral(" - ネモリア （入院中の患者）");

} // namespace

frmPt::frmPt(QWidget *parent)
    : record::RecordWindow(app::window::InpatientLedger, parent), ui(std::make_unique<Ui::frmPt>())
{
    ui->setupUi(this);
    ui->mnuHelpStep->setSeparator(true);
    setupStatusBar(ui->StatusBar1);
    setupMenus(ui->mnuFileSave, ui->mnuFileClose, ui->mnuHelpIndex, ui->mnuHelpNorva);
    setupHistory(ui->mnuHistory);
    setupPatientFields();
    setupDateField(ui->Text6, record::kDateHint);
    setupDateField(ui->Text7, record::kDateHint);
    setupFieldFonts();
    setImeOnExcept({ui->Text1, ui->Text3, ui->Text5, ui->Text6, ui->Text7});
    toolkit::makeTabPagesScroll(ui->SSTab1);
    ui->Text4->setFocus();
}

frmPt::~frmPt() = default;

void frmPt::onLoad()
{
    loadUnder(
        [this] {
            openConnection();
            const QString episode = episodeFromLedger(app::window::InpatientLedger);
            ensureCompanionRows(episode);
            openData(record::kEpisodeSql.toString(), jet::CursorType::Dynamic);
            filterEpisode(episode);
            bindControls(inpatientControls());
            setWindowTitle(ui->Text2->text() + kCaption);
        },
        false);
}
