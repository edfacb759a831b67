#include "record/frmAmbuPt.h"
#include "ui_frmAmbuPt.h"

#include "app/navigation.h"
#include "toolkit/binding.h"

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
    ui->Text4->setFocus();
}

frmAmbuPt::~frmAmbuPt() = default;

void frmAmbuPt::setupFields()
{
    setupNameFields(ui->Text2, ui->Text4);
    setupDateField(ui->Text5, record::kBirthDateHint);
    setupContactField(ui->Text10);
    setupContactField(ui->Text12);
    toolkit::setImeMode(ui->Text10, toolkit::ImeMode::Disable);
    toolkit::setImeMode(ui->Text12, toolkit::ImeMode::Disable);
    for (QWidget *box : std::initializer_list<QWidget *>{
             ui->Text8, ui->Text9, ui->Text11, ui->Text13, ui->Text14, ui->Text15, ui->Text16, ui->Text17,
             ui->Text18, ui->Text19, ui->Text20, ui->Text21, ui->Text36, ui->Text22, ui->Text23, ui->Text24,
             ui->Text25, ui->Text26, ui->Text27, ui->Text28, ui->Text29, ui->Text6})
        toolkit::setImeMode(box, toolkit::ImeMode::On);
    toolkit::setMaxLength(ui->Text19, kInsuranceLength);

    enableWhileChecked(ui->Check2, ui->DataCombo10);
    enableWhileChecked(ui->Check3, ui->DataCombo11);
    enableWhileChecked(ui->Check4, ui->Text20);

    for (QWidget *box : {ui->Text10, ui->Text11, ui->Text12})
        box->setToolTip(kPrintedOnSubsidy);
    for (QWidget *box : {ui->DataCombo2, ui->DataCombo5, ui->DataCombo6, ui->DataCombo10, ui->DataCombo11, ui->DataCombo1})
        box->setToolTip(kEditedInOptions);
    for (QWidget *box : {ui->DataCombo7, ui->DataCombo8, ui->DataCombo9})
        box->setToolTip(kDiagnosesInOptions);

    // The memos that line up family trees, histories and results take the
    // fixed-pitch face; everything else is read in the larger one.
    const QFont fixed = toolkit::japaneseFixedFont(9);
    const QFont field = toolkit::japaneseFont(12);
    const QList<QWidget *> fixedMemos{ui->Text14, ui->Text15, ui->Text16, ui->Text17, ui->Text21, ui->Text22,
                                      ui->Text23, ui->Text24, ui->Text25, ui->Text26, ui->Text27, ui->Text28,
                                      ui->Text29};
    for (QWidget *box : centralWidget()->findChildren<QWidget *>()) {
        if (qobject_cast<QLineEdit *>(box) || qobject_cast<QPlainTextEdit *>(box) || qobject_cast<QComboBox *>(box))
            box->setFont(fixedMemos.contains(box) ? fixed : field);
    }
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

    bind(ui->Text1, QStringLiteral("入退院情報.入退院ID"));
    bind(ui->Text2, QStringLiteral("氏名"));
    bind(ui->Text3, QStringLiteral("患者情報.カルテID"));
    bind(ui->Text4, QStringLiteral("かな氏名"));
    bind(ui->Text5, QStringLiteral("生年月日"));
    const QString sexes = QStringLiteral("SELECT * FROM 性別");
    const QString doctors = QStringLiteral("SELECT * FROM 主治医");
    bindCombo(ui->DataCombo2, QStringLiteral("性別"), sexes, QStringLiteral("性別ID"), QStringLiteral("性別"));
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
    bind(ui->Text36, QStringLiteral("入院後経過"));
    bind(ui->Text22, QStringLiteral("検査(血液・生化・尿他)"));
    bind(ui->Text23, QStringLiteral("検査(脳波)"));
    bind(ui->Text24, QStringLiteral("検査(レントゲン)"));
    bind(ui->Text25, QStringLiteral("検査(ＣＴ)"));
    bind(ui->Text26, QStringLiteral("検査(ＭＲＩ)"));
    bind(ui->Text27, QStringLiteral("検査(ＳＰＥＣＴ)"));
    bind(ui->Text28, QStringLiteral("検査(心理検査)"));
    bind(ui->Text29, QStringLiteral("検査(その他)"));
    bindCombo(ui->DataCombo1, QStringLiteral("時間外頻度"), QStringLiteral("SELECT * FROM 時間外頻度"),
              QStringLiteral("時間外頻度ID"), QStringLiteral("時間外頻度"));
    bind(ui->Text6, QStringLiteral("個別注意事項"));

    setWindowTitle(ui->Text2->text() + QStringLiteral(" - ネモリア （外来通院中の患者）"));
    useProgramHelpFile();
}
