#include "report/rptAdmissionPlan.h"

using namespace Qt::StringLiterals;

rptAdmissionPlan::rptAdmissionPlan()
    : report::CarePlanForm(u"rptAdmissionPlan"_s, u"入 院 診 療 計 画 書"_s)
{
    addPatientRows();
    addRow(u"主治医以外の担当者"_s, {}, 700, {});
    addRow(u"病　　　　　　　名"_s, u"（他に考え得る病名）"_s, 900, u"入院計画病名"_s);
    addRow(u"症　　　　　　　状"_s, {}, 1400, u"主訴・症状"_s);
    addRow(u"治   療   計   画"_s, {}, 1800, u"入院計画"_s);
    addRow(u"検査内容 及び 日程"_s, {}, 1000, u"検査内容"_s);
    addRow(u"手術内容 及び 日程"_s, {}, 600, {}, u"なし"_s);
    addRow(u"推定される入院期間"_s, {}, 600, u"推定入院期間"_s);
    addRow(u"そ      の      他"_s, u"（看護、リハビリテー　ション等の計画）"_s, 1200, {});
    addNote(u"注１） 病名等は、現時点で考えるものであり、今後検査等を進めていくにしたがって変わり得るものである。"_s);
    addNote(u"注２） 入院期間については、現時点で予想されるものである。"_s);
    addSignatures(true, true);
}
