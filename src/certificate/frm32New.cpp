#include "certificate/frm32New.h"
#include "ui_frm32New.h"

using namespace Qt::StringLiterals;
using certificate::Field;

frm32New::frm32New(QWidget *parent)
    : certificate::CertificateWindow(u" - 通院医療費公費負担診断書"_s, parent)
    , ui(std::make_unique<Ui::frm32New>())
{
    ui->setupUi(this);
    QList<Field> fields = certificate::illnessFields() + certificate::conditionFields();
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
    };
    fields += certificate::closingFields();
    prepare(fields);
}

frm32New::~frm32New() = default;
