#include "record/frmFindPt.h"
#include "ui_frmFindPt.h"

#include "app/navigation.h"
#include "toolkit/binding.h"

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
    setupNameFields(ui->Text2, ui->Text4);
    setupDateField(ui->Text5, record::kBirthDateHint);
    setupDateField(ui->Text6, record::kDateHint);
    setupDateField(ui->Text7, record::kDateHint);
    setupContactField(ui->Text10);
    setupContactField(ui->Text12);
    enableWhileChecked(ui->Check2, ui->DataCombo10);
    enableWhileChecked(ui->Check3, ui->DataCombo11);
    enableWhileChecked(ui->Check4, ui->Text20);
    setupMenus(ui->mnuFileSave, ui->mnuFileClose, ui->mnuHelpIndex, ui->mnuHelpNorva);
    setupFields();

    connect(ui->Check8, &QCheckBox::toggled, this, &frmFindPt::onOutpatientToggled);
    connect(ui->Check9, &QCheckBox::toggled, this, &frmFindPt::onInpatientToggled);
}

frmFindPt::~frmFindPt() = default;

void frmFindPt::setupFields()
{
    // The text and memo fields of the window, not the edit boxes inside the combos.
    QList<QWidget *> fields;
    for (QLineEdit *field : findChildren<QLineEdit *>()) {
        if (!qobject_cast<QComboBox *>(field->parentWidget()))
            fields << field;
    }
    for (QPlainTextEdit *field : findChildren<QPlainTextEdit *>())
        fields << field;

    for (QWidget *field : std::as_const(fields))
        field->setFont(toolkit::japaneseFont(12));
    for (QWidget *memo : {ui->Text14, ui->Text15, ui->Text16, ui->Text17, ui->Text21, ui->Text22, ui->Text23, ui->Text24,
                          ui->Text25, ui->Text26, ui->Text27, ui->Text28, ui->Text29})
        memo->setFont(toolkit::japaneseFixedFont(9));

    // The input method comes on in every field but the name fields (set up
    // with the reading capture), the chart ID and the birth date, which leave
    // it as it is, and the fields that take only digits.
    const QList<QWidget *> ownState = {ui->Text1, ui->Text2, ui->Text3, ui->Text4, ui->Text5};
    const QList<QWidget *> digitsOnly = {ui->Text6, ui->Text7, ui->Text10, ui->Text12};
    for (QWidget *field : std::as_const(fields)) {
        if (digitsOnly.contains(field))
            toolkit::setImeMode(field, ImeMode::Disable);
        else if (!ownState.contains(field))
            toolkit::setImeMode(field, ImeMode::On);
    }

    for (QComboBox *combo : findChildren<QComboBox *>()) {
        combo->setFont(toolkit::japaneseFont(12));
        combo->setToolTip(kCodeTip);
    }
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

    bind(ui->Text1, QStringLiteral("入退院情報.入退院ID"));
    bind(ui->Text2, QStringLiteral("氏名"));
    bind(ui->Text3, QStringLiteral("患者情報.カルテID"));
    bind(ui->Text4, QStringLiteral("かな氏名"));
    bind(ui->Text5, QStringLiteral("生年月日"));
    bind(ui->Text6, QStringLiteral("入院日"), kDateFormat);
    bindCombo(ui->DataCombo1, QStringLiteral("入院形態"), QStringLiteral("SELECT * FROM 入院形態"),
              QStringLiteral("入院形態ID"), QStringLiteral("入院形態"));
    bindCombo(ui->DataCombo2, QStringLiteral("性別"), QStringLiteral("SELECT * FROM 性別"), QStringLiteral("性別ID"),
              QStringLiteral("性別"));
    bindCombo(ui->DataCombo3, QStringLiteral("病室番号"), QStringLiteral("SELECT * FROM 病室番号"),
              QStringLiteral("病室ID"), QStringLiteral("病室番号"));
    bindCombo(ui->DataCombo4, QStringLiteral("ベッド番号"), QStringLiteral("SELECT * FROM ベッド番号"),
              QStringLiteral("ベッドID"), QStringLiteral("ベッド番号"));
    bind(ui->Text7, QStringLiteral("退院日"), kDateFormat);
    const QString doctors = QStringLiteral("SELECT * FROM 主治医");
    bindCombo(ui->DataCombo5, QStringLiteral("主治医①"), doctors, QStringLiteral("主治医ID"), QStringLiteral("主治医"));
    bindCombo(ui->DataCombo6, QStringLiteral("主治医②"), doctors, QStringLiteral("主治医ID"), QStringLiteral("主治医"));

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
    bindCombo(ui->DataCombo10, QStringLiteral("介護度"), QStringLiteral("SELECT * FROM 介護度"),
              QStringLiteral("介護度ID"), QStringLiteral("介護度"));
    bindCombo(ui->DataCombo11, QStringLiteral("障害者等級"), QStringLiteral("SELECT * FROM 障害者等級"),
              QStringLiteral("障害者等級ID"), QStringLiteral("障害者等級"));

    bind(ui->Text18, QStringLiteral("入院回数"));
    bind(ui->Text19, QStringLiteral("保険"));
    bind(ui->Text20, QStringLiteral("特定疾患内容"));
    bind(ui->Text21, QStringLiteral("備考"));
    bind(ui->Check1, QStringLiteral("32条申請"));
    bind(ui->Check2, QStringLiteral("介護保険申請"));
    bind(ui->Check3, QStringLiteral("障害者手帳申請"));
    bind(ui->Check4, QStringLiteral("特定疾患申請"));

    bind(ui->Text31, QStringLiteral("入院計画病名"));
    bind(ui->Text35, QStringLiteral("推定入院期間"));
    bind(ui->Text32, QStringLiteral("主訴・症状"));
    bind(ui->Text33, QStringLiteral("入院計画"));
    bind(ui->Text34, QStringLiteral("検査内容"));
    bind(ui->Text36, QStringLiteral("入院後経過"));
    bind(ui->Check5, QStringLiteral("入院中の自殺企図"));
    bind(ui->Check6, QStringLiteral("入院中の保護室使用"));
    bind(ui->Check7, QStringLiteral("入院中のＥＳＴ"));

    bind(ui->Text22, QStringLiteral("検査(血液・生化・尿他)"));
    bind(ui->Text23, QStringLiteral("検査(脳波)"));
    bind(ui->Text24, QStringLiteral("検査(レントゲン)"));
    bind(ui->Text25, QStringLiteral("検査(ＣＴ)"));
    bind(ui->Text26, QStringLiteral("検査(ＭＲＩ)"));
    bind(ui->Text27, QStringLiteral("検査(ＳＰＥＣＴ)"));
    bind(ui->Text28, QStringLiteral("検査(心理検査)"));
    bind(ui->Text29, QStringLiteral("検査(その他)"));

    bindCombo(ui->DataCombo12, QStringLiteral("転帰"), QStringLiteral("SELECT * FROM 転帰"), QStringLiteral("転帰ID"),
              QStringLiteral("転帰"));
    bindCombo(ui->DataCombo13, QStringLiteral("扱別"), QStringLiteral("SELECT * FROM 扱別"), QStringLiteral("扱別ID"),
              QStringLiteral("扱別"));
    bind(ui->Text43, QStringLiteral("入院中の診断書発行"));
    bind(ui->Text39, QStringLiteral("退院計画"));
    bind(ui->Text40, QStringLiteral("退院時処方"));
    bind(ui->Text41, QStringLiteral("退院後留意点"));
    bind(ui->Text42, QStringLiteral("退院後サービス"));

    bindCombo(ui->DataCombo14, QStringLiteral("時間外頻度"), QStringLiteral("SELECT * FROM 時間外頻度"),
              QStringLiteral("時間外頻度ID"), QStringLiteral("時間外頻度"));
    bind(ui->Text30, QStringLiteral("個別注意事項"));

    setWindowTitle(ui->Text2->text() + kCaptionSuffix);
    useProgramHelpFile();
    // For an admission this shows the admission fields; an outpatient course
    // keeps them hidden, since the box is already unchecked.
    ui->Check9->setChecked(!ui->Check8->isChecked());
    ui->Text4->setFocus();
}

void frmFindPt::setAdmissionShown(bool shown)
{
    const QList<QWidget *> fields = {ui->Text6, ui->Text7, ui->DataCombo1, ui->DataCombo3, ui->DataCombo4};
    for (QWidget *field : fields)
        field->setVisible(shown);
    for (QLabel *label : findChildren<QLabel *>()) {
        if (fields.contains(label->buddy()))
            label->setVisible(shown);
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
