#include "report/rptDischargePlan.h"

using namespace Qt::StringLiterals;

rptDischargePlan::rptDischargePlan()
    : report::CarePlanForm(u"rptDischargePlan"_s, u"退 院 療 養 計 画 書"_s)
{
    addPatientRows();
    addRow(u"主治医以外の担当者"_s, {}, 700, {});
    addRow(u"予想 される 退院日"_s, {}, 700, u"退院日"_s, {}, u"ggge年m月d日"_s);
    addRow(u"退院後 の 治療計画"_s, {}, 1800, u"退院計画"_s);
    addRow(u"退 院 後 の 療 養   上 の  留  意  点"_s, {}, 1800, u"退院後留意点"_s);
    addRow(u"退院後 必要 となる 保健 医療 サービス 又は 福祉 サービス"_s, {}, 1800, u"退院後サービス"_s);
    addRow(u"そ      の      他"_s, {}, 1200, {});
    addNote(u"注） 退院日等は、現時点で予想されるものである。"_s);
    addSignatures(false, false);
}
