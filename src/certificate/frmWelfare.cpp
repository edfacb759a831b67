#include "certificate/frmWelfare.h"
#include "ui_frmWelfare.h"

#include "toolkit/widgets.h"

using namespace Qt::StringLiterals;
using certificate::Field;

namespace {

const QString kGuidePrompt = u"目安を知りたい等級をクリックしてください。\n"_s;

const QString kGrade1 =
    u"【1級】日常生活の用を弁ずることを不能ならしめる程度のもの。これは、他人の援助を受けなければ、ほとんど自分の用を弁ずることができない程度。【例】入院患者においては、院内での生活に常時援助を必要とする｡在宅患者においては､医療機関等への外出を自発的にできず､付き添いが必要である｡家庭生活においても､適切な食事を用意したり､後片付けなどの家事や身辺の清潔保持も自発的には行えず､常時援助を必要とする｡親しい人との交流も乏しく引きこもりがちである｡自発性が著しく乏しい｡自発的な発言が少なく発言内容が不適切であったり不明瞭であったりする｡日常生活において行動のテンポが他の人のペースと大きく隔たってしまう｡些細な出来事で､病状の再燃や悪化をきたしやすい｡金銭管理は困難である｡日常生活の中でその場に適さない行動をとってしまいがちである｡ 【参考:健医発第1133号厚生省保健医療局長通知】"_s;
const QString kGrade2 =
    u"【2級】日常生活が著しい制限を受けるか、または日常生活に著しい制限を加えることを必要とする程度のものである｡これは､必ずしも他人の助けを借りる必要はないが､日常生活は困難な程度のものである。【例】付き添われなくても自ら外出できるものの、ストレスがかかる状況が生じた場合に対処することが困難である｡医療機関に行くなどの習慣化された外出はできる｡また､デイケアや授産施設､小規模作業所などに参加することができる｡食事をバランスよく用意するなどの家事をこなすために､助言や援助を必要とする｡清潔保持が自発的かつ適切にはできない｡社会的な対人交流は乏しいが引きこもりは顕著ではない｡自発的な行動に困難がある｡日常生活の中での発言が適切にできないことがある｡行動のテンポが他人と隔たってしまうことがある｡ストレスが大きいと病状の再燃や悪化をきたしやすい｡金銭管理ができない場合がある｡社会生活の中でその場に適さない行動をとってしまうことがある｡ 【参考:健医発第1133号厚生省保健医療局長通知】"_s;
const QString kGrade3 =
    u"【3級】日常生活または社会生活に制限を受けるか、日常生活または社会生活に制限を加えることを必要とする程度のもの。【例】一人で外出できるが、過大なストレスがかかる状況が生じた場合に対処が困難である｡デイケアや授産施設､小規模作業所などに参加する者､あるいは保護的配慮のある事業所で､雇用契約による一般就労をしている者も含まれる｡日常的な家事をこなすことはできるが､状況や手順が変化したりすると困難が生じることもある｡清潔保持は困難が少ない｡対人交流は乏しくない｡引きこもりがちではない｡自発的な行動や､社会生活の中で発言が適切に出来ないことがある｡行動のテンポはほぼ他人に合わせることができる｡普通のストレスでは病状の再燃や悪化が起きにくい｡金銭管理はおおむねできる。社会生活の中で不適切な行動をとってしまうことは少ない。【参考:健医発第1133 号厚生省保健医療局長通知】"_s;

} // namespace

frmWelfare::frmWelfare(QWidget *parent)
    : certificate::CertificateWindow(u" - 精神障害者保健福祉手帳診断書"_s, parent)
    , ui(std::make_unique<Ui::frmWelfare>())
{
    ui->setupUi(this);
    QList<Field> fields = certificate::illnessFields({{u"Text25"_s, u"初診日"_s, {}, certificate::kFirstVisitLength}}) + certificate::conditionFields();
    fields += QList<Field>{
        {u"Check91"_s, u"生活環境入院"_s}, {u"Check92"_s, u"生活環境入所"_s}, {u"Check93"_s, u"生活環境在宅"_s},
        {u"Check94"_s, u"生活環境その他"_s},
        // Each name as long as the blanks it is printed in.
        {u"Text18"_s, u"生活環境入所名"_s, {}, 14}, {u"Text19"_s, u"生活環境その他名"_s, {}, 12},
        {u"Check34"_s, u"食事できる"_s}, {u"Check35"_s, u"食事できる援助"_s}, {u"Check36"_s, u"食事援助"_s},
        {u"Check37"_s, u"食事できない"_s},
        {u"Check38"_s, u"清潔できる"_s}, {u"Check39"_s, u"清潔できる援助"_s}, {u"Check40"_s, u"清潔援助"_s},
        {u"Check45"_s, u"清潔できない"_s},
        {u"Check46"_s, u"金銭できる"_s}, {u"Check47"_s, u"金銭おおむね"_s}, {u"Check48"_s, u"金銭援助"_s},
        {u"Check49"_s, u"金銭できない"_s},
        {u"Check57"_s, u"通院要不要"_s},
        {u"Check50"_s, u"通院できる"_s}, {u"Check53"_s, u"通院おおむね"_s}, {u"Check54"_s, u"通院援助"_s},
        {u"Check55"_s, u"通院できない"_s},
        {u"Check58"_s, u"対人できる"_s}, {u"Check59"_s, u"対人おおむね"_s}, {u"Check60"_s, u"対人援助"_s},
        {u"Check66"_s, u"対人できない"_s},
        {u"Check67"_s, u"安全できる"_s}, {u"Check68"_s, u"安全おおむね"_s}, {u"Check69"_s, u"安全援助"_s},
        {u"Check70"_s, u"安全できない"_s},
        {u"Check75"_s, u"社会できる"_s}, {u"Check76"_s, u"社会おおむね"_s}, {u"Check77"_s, u"社会援助"_s},
        {u"Check78"_s, u"社会できない"_s},
        {u"Check79"_s, u"参加できる"_s}, {u"Check80"_s, u"参加おおむね"_s}, {u"Check84"_s, u"参加援助"_s},
        {u"Check85"_s, u"参加できない"_s},
        {u"Check86"_s, u"程度1"_s}, {u"Check87"_s, u"程度2"_s}, {u"Check88"_s, u"程度3"_s}, {u"Check89"_s, u"程度4"_s},
        {u"Check90"_s, u"程度5"_s},
        {u"Text17"_s, u"状態の程度0"_s, {}, 240},
    };
    fields += certificate::closingFields();
    fields += QList<Field>{{u"Check28"_s, u"指定医"_s}, {u"Check29"_s, u"従事する医師"_s}, {u"Check30"_s, u"他の医師"_s}};
    prepare(fields);

    const QList<QList<QCheckBox *>> areas{
        {ui->Check34, ui->Check35, ui->Check36, ui->Check37}, {ui->Check38, ui->Check39, ui->Check40, ui->Check45},
        {ui->Check46, ui->Check47, ui->Check48, ui->Check49}, {ui->Check50, ui->Check53, ui->Check54, ui->Check55},
        {ui->Check58, ui->Check59, ui->Check60, ui->Check66}, {ui->Check67, ui->Check68, ui->Check69, ui->Check70},
        {ui->Check75, ui->Check76, ui->Check77, ui->Check78}, {ui->Check79, ui->Check80, ui->Check84, ui->Check85}};
    for (const QList<QCheckBox *> &area : areas)
        toolkit::makeChoiceOfOne(area);
    toolkit::makeChoiceOfOne({ui->Check86, ui->Check87, ui->Check88, ui->Check89, ui->Check90});
    toolkit::makeChoiceOfOne({ui->Check28, ui->Check29, ui->Check30});
    // The facility name belongs to 入所 and the other text to その他: checking
    // any box of the set empties the texts of the others.
    toolkit::makeChoiceOfOne({ui->Check91, ui->Check92, ui->Check93, ui->Check94}, [this](QCheckBox *checked) {
        if (checked != ui->Check92)
            ui->Text18->clear();
        if (checked != ui->Check94)
            ui->Text19->clear();
    });

    ui->Text20->setPlainText(kGuidePrompt);
    toolkit::onLabelClicked(ui->Label47, [this] { ui->Text20->setPlainText(kGrade1); });
    toolkit::onLabelClicked(ui->Label49, [this] { ui->Text20->setPlainText(kGrade2); });
    toolkit::onLabelClicked(ui->Label50, [this] { ui->Text20->setPlainText(kGrade3); });
}

frmWelfare::~frmWelfare() = default;
