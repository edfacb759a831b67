#include "record/frmNewPt.h"
#include "ui_frmNewPt.h"

#include "app/navigation.h"
#include "db/engine/error.h"
#include "db/episodes.h"
#include "toolkit/binding.h"
#include "toolkit/platform.h"
#include "toolkit/widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

// The episode registration handed over, with its patient.  Only that one:
// the newest episode may be another workstation's, registered at the same
// moment.
QString newPatientSql(qint64 episode)
{
    return QStringLiteral("SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 "
                          "WHERE 患者情報.カルテID = 入退院情報.カルテID AND 入退院情報.入退院ID = %1")
        .arg(episode);
}

const QString kCodeTip = QStringLiteral("オプションで編集可能");
const QString kDiagnosisTip = QStringLiteral("退院病歴の印刷に必須、病名の追加はオプションで可能");
const QString kContactTip = QStringLiteral("通院医療費公費負担診断書の印刷に必須");

} // namespace

frmNewPt::frmNewPt(QWidget *parent)
    : record::RecordWindow(app::window::AllPatientLedger, parent), ui(std::make_unique<Ui::frmNewPt>())
{
    ui->setupUi(this);
    ui->mnuHelpStep->setSeparator(true);
    setupStatusBar(ui->StatusBar1);
    setupMenus(ui->mnuFileSave, ui->mnuFileClose, ui->mnuHelpIndex, ui->mnuHelpNorva);
    setupFields();
    setupOutpatientSwitch();
    toolkit::makeTabPagesScroll(ui->SSTab1);
}

frmNewPt::~frmNewPt() = default;

void frmNewPt::setupFields()
{
    setupPatientFields();
    setupDateField(ui->Text6, record::kDateHint);
    setupFieldFonts();
    setImeOnExcept({ui->Text1, ui->Text3, ui->Text5, ui->Text6});

    ui->Text2->setToolTip(QStringLiteral("必須"));
    ui->Text4->setToolTip(QStringLiteral("必須"));
    ui->Text8->setToolTip(QStringLiteral("入退院記録、入院時サマリー、退院病歴の印刷に必須"));
    for (QLineEdit *box : {ui->Text10, ui->Text11, ui->Text12})
        box->setToolTip(kContactTip);
    ui->Text19->setToolTip(QStringLiteral("退院病歴の印刷に必須"));
    for (QComboBox *box : {ui->DataCombo1, ui->DataCombo2, ui->DataCombo3, ui->DataCombo4, ui->DataCombo5,
                           ui->DataCombo6, ui->DataCombo10, ui->DataCombo11})
        box->setToolTip(kCodeTip);
    for (QComboBox *box : {ui->DataCombo7, ui->DataCombo8, ui->DataCombo9})
        box->setToolTip(kDiagnosisTip);
}

// Exactly one of 外来患者 and 入院患者 is checked.  Each box answers every
// change of its value, the other's included; setting a box to the value it
// already has changes nothing, so a click ends after one nested reaction.
void frmNewPt::setupOutpatientSwitch()
{
    connect(ui->Check5, &QCheckBox::toggled, this, [this](bool outpatient) {
        if (outpatient)
            ui->Text6->clear();
        showAdmissionFields(!outpatient);
        ui->Check6->setChecked(!outpatient);
    });
    connect(ui->Check6, &QCheckBox::toggled, this, [this](bool admitted) {
        if (!admitted)
            ui->Text6->clear();
        showAdmissionFields(admitted);
        ui->Check5->setChecked(!admitted);
        if (admitted) {
            toolkit::MessageBoxRequest box;
            box.text = QStringLiteral("入院処理をします。入院日を必ず記入してください。");
            box.icon = toolkit::MessageIcon::Information;
            toolkit::platform().messageBox(box);
        }
    });
}

void frmNewPt::showAdmissionFields(bool visible)
{
    const QList<QWidget *> admission{ui->Text6,  ui->DataCombo1, ui->DataCombo3, ui->DataCombo4,
                                     ui->Label5, ui->Label7,     ui->Label8,     ui->Label9};
    for (QWidget *widget : admission)
        widget->setVisible(visible);
}

QList<accounts::Right> frmNewPt::rightsToEdit() const
{
    return {accounts::Right::EditRecords, accounts::Right::RegisterEpisodes};
}

void frmNewPt::onLoad()
{
    loadUnder([this] { loadEpisode(); }, true);
}

void frmNewPt::loadEpisode()
{
    // Taken at once, so that a failure below never leaves it for a later opening.
    const QVariant handed = app::takeHanded(app::window::NewPatient);
    bool isNumber = false;
    const qint64 episode = handed.toLongLong(&isNumber);
    // Only registration opens the window, and always with its episode.
    if (!isNumber)
        throw jet::Error(jet::err::NoCurrentRecord,
                         QStringLiteral("BOF と EOF のいずれかが True になっているか、または現在のレコードが削除されています。"
                                        "要求された操作には、現在のレコードが必要です。"));
    openConnection();
    // Registration writes the companion rows with the episode; one that came
    // without them (an older program's) still gets exactly one of each.
    ensureCompanionRows(QString::number(episode));
    openData(newPatientSql(episode), jet::CursorType::Static);
    bindFields();
    ui->SSTab1->setCurrentIndex(0);
    ui->Text2->setFocus();
}

void frmNewPt::bindFields()
{
    // The switch first: showing its value empties the admission date, which
    // is then shown from the row.
    bind(ui->Check5, QStringLiteral("外入の別"));
    bind(ui->Text1, QStringLiteral("入退院ID"));
    bindControls(controlRange(QStringLiteral("Text"), 2, 6) + controlRange(QStringLiteral("DataCombo"), 1, 6)
                 + controlRange(QStringLiteral("Text"), 8, 17) + controlRange(QStringLiteral("DataCombo"), 7, 11)
                 + controlRange(QStringLiteral("Text"), 18, 21) + controlRange(QStringLiteral("Check"), 1, 4));
}
