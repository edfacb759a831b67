#include "record/frmFindPt.h"
#include "ui_frmFindPt.h"

#include "app/navigation.h"
#include "toolkit/binding.h"
#include "toolkit/widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

using toolkit::ImeMode;

namespace {

const QString kCaptionSuffix = QStringLiteral(" - ネモリア （すべての患者）");
// The admission and discharge dates are read here as the ledger lists them.
const QString kDateFormat = QStringLiteral("yyyy/MM/dd");
const QString kCodeTip = QStringLiteral("オプションで編集可能");
const QString kDiagnosisTip = QStringLiteral("病名の追加はオプションで可能");

} // namespace

frmFindPt::frmFindPt(QWidget *parent)
    : record::RecordWindow(app::window::AllPatientLedger, parent), ui(std::make_unique<Ui::frmFindPt>())
{
    ui->setupUi(this);
    ui->mnuHelpStep->setSeparator(true);

    setupStatusBar(ui->StatusBar1);
    setupPatientFields();
    setupDateField(ui->Text6, record::kDateHint);
    setupDateField(ui->Text7, record::kDateHint);
    setupMenus(ui->mnuFileSave, ui->mnuFileClose, ui->mnuHelpIndex, ui->mnuHelpNorva);
    setupHistory(ui->mnuHistory);
    setupFields();

    connect(ui->Check8, &QCheckBox::toggled, this, &frmFindPt::onOutpatientToggled);
    connect(ui->Check9, &QCheckBox::toggled, this, &frmFindPt::onInpatientToggled);
    // Once the fields have their fonts, which set the pages' widths.
    toolkit::makeTabPagesScroll(ui->SSTab1);
}

frmFindPt::~frmFindPt() = default;

void frmFindPt::setupFields()
{
    setupFieldFonts();
    // The dates are typed in digits only; the chart ID and the birth date
    // leave the input method as it is.
    toolkit::setImeMode(ui->Text6, ImeMode::Disable);
    toolkit::setImeMode(ui->Text7, ImeMode::Disable);
    setImeOnExcept({ui->Text1, ui->Text3, ui->Text5});

    for (QComboBox *combo : findChildren<QComboBox *>())
        combo->setToolTip(kCodeTip);
    for (QComboBox *combo : {ui->DataCombo7, ui->DataCombo8, ui->DataCombo9})
        combo->setToolTip(kDiagnosisTip);
}

// A failed load unloads the ledger and this window and ends the program; a
// database from before the outpatient flag and the precautions is told apart.
void frmFindPt::onLoad()
{
    loadUnder([this] { loadEpisode(); }, true);
}

void frmFindPt::loadEpisode()
{
    openConnection();
    const QString episode = episodeFromLedger(app::window::AllPatientLedger);
    ensureCompanionRows(episode);
    openData(record::kEpisodeSql.toString(), jet::CursorType::Static);
    filterEpisode(episode);

    // The switch comes first: binding it hides the admission fields of an
    // outpatient course while they are still empty, so their stored dates,
    // bound afterwards, are shown and kept, not emptied.
    bind(ui->Check8, QStringLiteral("外入の別"));

    bindControls(inpatientControls() + QStringList{QStringLiteral("DataCombo14"), QStringLiteral("Text30")},
                 {{QStringLiteral("Text6"), kDateFormat}, {QStringLiteral("Text7"), kDateFormat}});

    setWindowTitle(ui->Text2->text() + kCaptionSuffix);
    useProgramHelpFile();
    // For an admission this shows the admission fields; an outpatient course
    // keeps them hidden, since the box is already unchecked.
    ui->Check9->setChecked(!ui->Check8->isChecked());
    ui->Text4->setFocus();
}

void frmFindPt::setAdmissionShown(bool shown)
{
    // Hidden fields keep their place, so that the fields around them stay
    // where the user found them.
    const auto setShown = [shown](QWidget *widget) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
        widget->setVisible(shown);
    };
    const QList<QWidget *> fields = {ui->Text6, ui->Text7, ui->DataCombo1, ui->DataCombo3, ui->DataCombo4};
    for (QWidget *field : fields)
        setShown(field);
    for (QLabel *label : findChildren<QLabel *>()) {
        if (fields.contains(label->buddy()))
            setShown(label);
    }
}

// Turning the episode into an outpatient course discards its admission and
// discharge dates at the next write.
void frmFindPt::onOutpatientToggled(bool outpatient)
{
    if (outpatient) {
        ui->Text6->clear();
        ui->Text7->clear();
    }
    setAdmissionShown(!outpatient);
    ui->Check9->setChecked(!outpatient);
}

void frmFindPt::onInpatientToggled(bool inpatient)
{
    if (!inpatient) {
        ui->Text6->clear();
        ui->Text7->clear();
    }
    setAdmissionShown(inpatient);
    ui->Check8->setChecked(!inpatient);
}
