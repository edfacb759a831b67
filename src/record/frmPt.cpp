#include "record/frmPt.h"
#include "ui_frmPt.h"

#include "app/navigation.h"
#include "toolkit/binding.h"

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
    setupNameFields(ui->Text2, ui->Text4);
    setupDateField(ui->Text5, record::kBirthDateHint);
    setupDateField(ui->Text6, record::kDateHint);
    setupDateField(ui->Text7, record::kDateHint);
    setupContactField(ui->Text10);
    setupContactField(ui->Text12);
    enableWhileChecked(ui->Check2, ui->DataCombo10);
    enableWhileChecked(ui->Check3, ui->DataCombo11);
    enableWhileChecked(ui->Check4, ui->Text20);

    for (QPlainTextEdit *memo : {ui->Text14, ui->Text15, ui->Text16, ui->Text17, ui->Text21, ui->Text22, ui->Text23,
                                 ui->Text24, ui->Text25, ui->Text26, ui->Text27, ui->Text28, ui->Text29})
        memo->setFont(toolkit::japaneseFixedFont(9));
    for (QWidget *box : std::initializer_list<QWidget *>{ui->Text8, ui->Text9, ui->Text11, ui->Text13, ui->Text14,
                                                         ui->Text15, ui->Text16, ui->Text17, ui->Text18, ui->Text19,
                                                         ui->Text20, ui->Text21, ui->Text31, ui->Text35, ui->Text32,
                                                         ui->Text33, ui->Text34, ui->Text36, ui->Text22, ui->Text23,
                                                         ui->Text24, ui->Text25, ui->Text26, ui->Text27, ui->Text28,
                                                         ui->Text29, ui->Text43, ui->Text39, ui->Text40, ui->Text41,
                                                         ui->Text42})
        toolkit::setImeMode(box, toolkit::ImeMode::On);
    toolkit::setImeMode(ui->Text10, toolkit::ImeMode::Disable);
    toolkit::setImeMode(ui->Text12, toolkit::ImeMode::Disable);

    setTabOrder(ui->Text4, ui->Text2);
    setTabOrder(ui->Text2, ui->Text5);
    setTabOrder(ui->Text5, ui->Text6);
    setTabOrder(ui->Text6, ui->Text7);
    setTabOrder(ui->Text7, ui->DataCombo2);
    setTabOrder(ui->DataCombo2, ui->DataCombo1);
    setTabOrder(ui->DataCombo1, ui->DataCombo3);
    setTabOrder(ui->DataCombo3, ui->DataCombo4);
    setTabOrder(ui->DataCombo4, ui->DataCombo5);
    setTabOrder(ui->DataCombo5, ui->DataCombo6);
    setTabOrder(ui->DataCombo6, ui->Text8);
    setTabOrder(ui->Text8, ui->Text9);
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
            bindFields();
            setWindowTitle(ui->Text2->text() + kCaption);
        },
        false);
}

void frmPt::bindFields()
{
    const auto code = [this](QComboBox *box, const QString &column, const QString &table, const QString &id) {
        bindCombo(box, column, QStringLiteral("SELECT * FROM ") + table, id, table);
    };
    const QString diagnoses = record::kDiagnosisListSql.toString();
    const QString diagnosisId = QStringLiteral("診断ID");
    const QString diagnosis = QStringLiteral("診断");

    bind(ui->Text1, QStringLiteral("入退院情報.入退院ID"));
    bind(ui->Text2, QStringLiteral("氏名"));
    bind(ui->Text3, QStringLiteral("患者情報.カルテID"));
    bind(ui->Text4, QStringLiteral("かな氏名"));
    bind(ui->Text5, QStringLiteral("生年月日"));
    bind(ui->Text6, QStringLiteral("入院日"));
    code(ui->DataCombo1, QStringLiteral("入院形態"), QStringLiteral("入院形態"), QStringLiteral("入院形態ID"));
    code(ui->DataCombo2, QStringLiteral("性別"), QStringLiteral("性別"), QStringLiteral("性別ID"));
    code(ui->DataCombo3, QStringLiteral("病室番号"), QStringLiteral("病室番号"), QStringLiteral("病室ID"));
    code(ui->DataCombo4, QStringLiteral("ベッド番号"), QStringLiteral("ベッド番号"), QStringLiteral("ベッドID"));
    bind(ui->Text7, QStringLiteral("退院日"));
    bindCombo(ui->DataCombo5, QStringLiteral("主治医①"), QStringLiteral("SELECT * FROM 主治医"), QStringLiteral("主治医ID"),
              QStringLiteral("主治医"));
    bindCombo(ui->DataCombo6, QStringLiteral("主治医②"), QStringLiteral("SELECT * FROM 主治医"), QStringLiteral("主治医ID"),
              QStringLiteral("主治医"));
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
    bindCombo(ui->DataCombo7, QStringLiteral("診断名①"), diagnoses, diagnosisId, diagnosis);
    bindCombo(ui->DataCombo8, QStringLiteral("診断名②"), diagnoses, diagnosisId, diagnosis);
    bindCombo(ui->DataCombo9, QStringLiteral("診断名③"), diagnoses, diagnosisId, diagnosis);
    code(ui->DataCombo10, QStringLiteral("介護度"), QStringLiteral("介護度"), QStringLiteral("介護度ID"));
    code(ui->DataCombo11, QStringLiteral("障害者等級"), QStringLiteral("障害者等級"), QStringLiteral("障害者等級ID"));
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
    code(ui->DataCombo12, QStringLiteral("転帰"), QStringLiteral("転帰"), QStringLiteral("転帰ID"));
    code(ui->DataCombo13, QStringLiteral("扱別"), QStringLiteral("扱別"), QStringLiteral("扱別ID"));
    bind(ui->Text43, QStringLiteral("入院中の診断書発行"));
    bind(ui->Text39, QStringLiteral("退院計画"));
    bind(ui->Text40, QStringLiteral("退院時処方"));
    bind(ui->Text41, QStringLiteral("退院後留意点"));
    bind(ui->Text42, QStringLiteral("退院後サービス"));
}
