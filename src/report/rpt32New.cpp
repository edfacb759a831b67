#include "report/rpt32New.h"

using namespace Qt::StringLiterals;

rpt32New::rpt32New()
    : report::CertificateForm(u"rpt32New"_s)
{
    blankForm = true;
    addTitle(u"（通院医療費公費負担用）"_s);
    addPatient();
    addDiagnoses();
    addHistory(false);
    addConditions();
    detail.height = m_y;
}
