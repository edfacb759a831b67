#include "record/frmAmbuPt.h"
#include "ui_frmAmbuPt.h"

#include "app/navigation.h"
#include "toolkit/binding.h"
#include "toolkit/widgets.h"

#include <QAction>

namespace {

const QString kPrintedOnSubsidy = QStringLiteral("通院医療費公費負担診断書の印刷に必須");
const QString kEditedInOptions = QStringLiteral("オプションで編集可能");
const QString kDiagnosesInOptions = QStringLiteral("病名の追加はオプションで可能");

// Typing stops here; a longer text stored earlier is still shown whole.
constexpr int kInsuranceLength = 62;

} // namespace

frmAmbuPt::frmAmbuPt(QWidget *parent)
    : record::RecordWindow(app::window::OutpatientLedger, parent), ui(std::make_unique<Ui::frmAmbuPt>())
{
    ui->setupUi(this);
    ui->mnuHelpStep->setSeparator(true);
    setupFields();
    setupStatusBar(ui->StatusBar1);
    setupMenus(ui->mnuFileSave, ui->mnuFileClose, ui->mnuHelpIndex, ui->mnuHelpNorva);
    setupHistory(ui->mnuHistory);
    toolkit::makeTabPagesScroll(ui->SSTab1);
    ui->Text4->setFocus();
}

frmAmbuPt::~frmAmbuPt() = default;

void frmAmbuPt::setupFields()
{
    setupPatientFields();
    setupFieldFonts();
    setImeOnExcept({ui->Text1, ui->Text3, ui->Text5});
    toolkit::setMaxLength(ui->Text19, kInsuranceLength);

    for (QWidget *box : {ui->Text10, ui->Text11, ui->Text12})
        box->setToolTip(kPrintedOnSubsidy);
    for (QWidget *box : {ui->DataCombo2, ui->DataCombo5, ui->DataCombo6, ui->DataCombo10, ui->DataCombo11, ui->DataCombo1})
        box->setToolTip(kEditedInOptions);
    for (QWidget *box : {ui->DataCombo7, ui->DataCombo8, ui->DataCombo9})
        box->setToolTip(kDiagnosesInOptions);
}

void frmAmbuPt::onLoad()
{
    loadUnder([this] { loadEpisode(); }, true);
}

void frmAmbuPt::loadEpisode()
{
    openConnection();
    const QString episode = episodeFromLedger(app::window::OutpatientLedger);
    ensureCompanionRows(episode);
    openData(record::kEpisodeSql.toString(), jet::CursorType::Static);
    filterEpisode(episode);

    bindControls(controlRange(QStringLiteral("Text"), 1, 5)
                 + QStringList{QStringLiteral("DataCombo2"), QStringLiteral("DataCombo5"), QStringLiteral("DataCombo6")}
                 + controlRange(QStringLiteral("Text"), 8, 17) + controlRange(QStringLiteral("DataCombo"), 7, 11)
                 + controlRange(QStringLiteral("Text"), 18, 21) + controlRange(QStringLiteral("Check"), 1, 4)
                 + QStringList{QStringLiteral("Text36")} + controlRange(QStringLiteral("Text"), 22, 29));
    // Here these two names stand for the after-hours frequency and the precautions.
    bindCombo(ui->DataCombo1, QStringLiteral("時間外頻度"), QStringLiteral("SELECT * FROM 時間外頻度"),
              QStringLiteral("時間外頻度ID"), QStringLiteral("時間外頻度"));
    bind(ui->Text6, QStringLiteral("個別注意事項"));

    setWindowTitle(ui->Text2->text() + QStringLiteral(" - ネモリア （外来通院中の患者）"));
    useProgramHelpFile();
}
