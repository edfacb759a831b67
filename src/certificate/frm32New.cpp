#include "certificate/frm32New.h"
#include "ui_frm32New.h"

using namespace Qt::StringLiterals;
using certificate::Field;

frm32New::frm32New(QWidget *parent)
    : certificate::CertificateWindow(u" - 通院医療費公費負担診断書"_s, parent)
    , ui(std::make_unique<Ui::frm32New>())
{
    ui->setupUi(this);
    QList<Field> fields{
        {u"Text2"_s, u"氏名"_s},
        {u"Text3"_s, u"生年月日"_s, u"ggge年m月d日"_s},
        {u"Text4"_s, u"郵便番号"_s, u"000-0000"_s},
        {u"Text5"_s, u"住所"_s},
        {u"Text6"_s, u"身体合併症"_s, {}, 42},
        {u"Text24"_s, u"推定発病時期"_s},
        {u"Text8"_s, u"病歴および経過など0"_s, {}, 480},
    };
    fields += certificate::conditionFields();
    fields += QList<Field>{
        {u"Check29"_s, u"病状の持続"_s},
        {u"Check30"_s, u"自ら希望"_s},
        {u"Check34"_s, u"病状その他"_s},
        {u"Text18"_s, u"状態の程度0"_s, {}, 288},
        {u"Check28"_s, u"訪問看護指示"_s},
        {u"Text19"_s, u"投薬内容"_s, {}, 240},
        {u"Text17"_s, u"精神療法"_s, {}, 240},
        {u"Check35"_s, u"継続治療が必要"_s},
        {u"Check36"_s, u"治療方針その他"_s},
        {u"Text20"_s, u"治療方針"_s, {}, 288},
        {u"Text21"_s, u"福祉サービス"_s, {}, 288},
        {u"Text22"_s, u"備考0"_s, {}, 288},
        {u"Text23"_s, u"医師氏名"_s},
    };
    prepare(fields);
}

frm32New::~frm32New() = default;
