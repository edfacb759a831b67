#include "record/frmNewPt.h"
#include "ui_frmNewPt.h"

#include "app/navigation.h"
#include "toolkit/binding.h"
#include "toolkit/platform.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

// Every episode with its patient in episode order: the last row is the
// episode registration has just created, the engine numbering episodes upwards.
const QString kNewPatientSql = QStringLiteral("SELECT 患者情報.*, 入退院情報.* FROM 患者情報, 入退院情報 ")
    + QStringLiteral("WHERE 患者情報.カルテID = 入退院情報.カルテID ")
    + QStringLiteral("ORDER BY 入退院情報.入退院ID");

const QString kCodeTip = QStringLiteral("オプションで編集可能");
const QString kDiagnosisTip = QStringLiteral("退院病歴の印刷に必須、病名の追加はオプションで可能");
const QString kContactTip = QStringLiteral("通院医療費公費負担診断書の印刷に必須");

QString selectAll(const QString &table)
{
    return QStringLiteral("SELECT * FROM ") + table;
}

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
}

frmNewPt::~frmNewPt() = default;

void frmNewPt::setupFields()
{
    setupNameFields(ui->Text2, ui->Text4);
    setupDateField(ui->Text5, record::kBirthDateHint);
    setupDateField(ui->Text6, record::kDateHint);
    setupContactField(ui->Text10);
    setupContactField(ui->Text12);
    enableWhileChecked(ui->Check2, ui->DataCombo10);
    enableWhileChecked(ui->Check3, ui->DataCombo11);
    enableWhileChecked(ui->Check4, ui->Text20);

    const QFont field = toolkit::japaneseFont(12);
    for (QLineEdit *box : findChildren<QLineEdit *>())
        box->setFont(field);
    for (QComboBox *box : findChildren<QComboBox *>())
        box->setFont(field);
    for (QPlainTextEdit *box : findChildren<QPlainTextEdit *>())
        box->setFont(field);
    // The memos of the patient's history and remarks line their text up.
    for (QPlainTextEdit *box : {ui->Text14, ui->Text15, ui->Text16, ui->Text17, ui->Text21})
        box->setFont(toolkit::japaneseFixedFont(9));

    const QList<QWidget *> kanjiFields{ui->Text8,  ui->Text9,  ui->Text11, ui->Text13, ui->Text14, ui->Text15,
                                       ui->Text16, ui->Text17, ui->Text18, ui->Text19, ui->Text20, ui->Text21};
    for (QWidget *box : kanjiFields)
        toolkit::setImeMode(box, toolkit::ImeMode::On);
    toolkit::setImeMode(ui->Text10, toolkit::ImeMode::Disable);
    toolkit::setImeMode(ui->Text12, toolkit::ImeMode::Disable);
    ui->Text10->setMaxLength(8);

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

void frmNewPt::onLoad()
{
    loadUnder([this] { loadNewest(); }, true);
}

void frmNewPt::loadNewest()
{
    openConnection();
    openData(kNewPatientSql, jet::CursorType::Static);
    // On the new episode before anything is bound: bound to an older row
    // first, the outpatient switch would flip on the way and announce an
    // admission nobody asked for.
    data().moveLast();
    // Registration writes the companion rows with the episode; an episode
    // that came without them still gets exactly one of each.
    ensureCompanionRows(data().value(QStringLiteral("入退院ID")).toString());
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
    bind(ui->Text2, QStringLiteral("氏名"));
    bind(ui->Text3, QStringLiteral("患者情報.カルテID"));
    bind(ui->Text4, QStringLiteral("かな氏名"));
    bind(ui->Text5, QStringLiteral("生年月日"));
    bind(ui->Text6, QStringLiteral("入院日"));
    bindCombo(ui->DataCombo1, QStringLiteral("入院形態"), selectAll(QStringLiteral("入院形態")),
              QStringLiteral("入院形態ID"), QStringLiteral("入院形態"));
    bindCombo(ui->DataCombo2, QStringLiteral("性別"), selectAll(QStringLiteral("性別")), QStringLiteral("性別ID"),
              QStringLiteral("性別"));
    bindCombo(ui->DataCombo3, QStringLiteral("病室番号"), selectAll(QStringLiteral("病室番号")),
              QStringLiteral("病室ID"), QStringLiteral("病室番号"));
    bindCombo(ui->DataCombo4, QStringLiteral("ベッド番号"), selectAll(QStringLiteral("ベッド番号")),
              QStringLiteral("ベッドID"), QStringLiteral("ベッド番号"));
    bindCombo(ui->DataCombo5, QStringLiteral("主治医①"), selectAll(QStringLiteral("主治医")),
              QStringLiteral("主治医ID"), QStringLiteral("主治医"));
    bindCombo(ui->DataCombo6, QStringLiteral("主治医②"), selectAll(QStringLiteral("主治医")),
              QStringLiteral("主治医ID"), QStringLiteral("主治医"));
    bind(ui->Text8, QStringLiteral("一時診断名"));
    bind(ui->Text9, QStringLiteral("現病歴"));
    bind(ui->Text10, QStringLiteral("郵便番号"), QStringLiteral("000\\-0000;;_"));
    bind(ui->Text11, QStringLiteral("住所"));
    bind(ui->Text12, QStringLiteral("電話番号"));
    bind(ui->Text13, QStringLiteral("キーパーソン"));
    bind(ui->Text14, QStringLiteral("家族歴・家族構成・遺伝負因"));
    bind(ui->Text15, QStringLiteral("生育歴・学歴・職歴"));
    bind(ui->Text16, QStringLiteral("性格・気質"));
    bind(ui->Text17, QStringLiteral("既往歴"));
    const QString diagnoses = record::kDiagnosisListSql.toString();
    bindCombo(ui->DataCombo7, QStringLiteral("診断名①"), diagnoses, QStringLiteral("診断ID"), QStringLiteral("診断"));
    bindCombo(ui->DataCombo8, QStringLiteral("診断名②"), diagnoses, QStringLiteral("診断ID"), QStringLiteral("診断"));
    bindCombo(ui->DataCombo9, QStringLiteral("診断名③"), diagnoses, QStringLiteral("診断ID"), QStringLiteral("診断"));
    bindCombo(ui->DataCombo10, QStringLiteral("介護度"), selectAll(QStringLiteral("介護度")),
              QStringLiteral("介護度ID"), QStringLiteral("介護度"));
    bindCombo(ui->DataCombo11, QStringLiteral("障害者等級"), selectAll(QStringLiteral("障害者等級")),
              QStringLiteral("障害者等級ID"), QStringLiteral("障害者等級"));
    bind(ui->Text18, QStringLiteral("入院回数"));
    bind(ui->Text19, QStringLiteral("保険"));
    bind(ui->Text20, QStringLiteral("特定疾患内容"));
    bind(ui->Text21, QStringLiteral("備考"));
    bind(ui->Check1, QStringLiteral("32条申請"));
    bind(ui->Check2, QStringLiteral("介護保険申請"));
    bind(ui->Check3, QStringLiteral("障害者手帳申請"));
    bind(ui->Check4, QStringLiteral("特定疾患申請"));
}
