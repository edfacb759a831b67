#include "report/rptWelfare1.h"

using namespace Qt::StringLiterals;

rptWelfare1::rptWelfare1()
    : report::CertificateForm(u"rptWelfare1"_s)
{
    width = 9015;
    blankForm = true;
    addTitle(u"（精神障害者保健福祉手帳用）"_s);
    addPatient();
    addDiagnoses();
    addHistory(true);
    addConditions();
    beginFrame();
    text(0, u"④　③の病状、状態像等の具体的程度、症状等"_s, kText, true);
    line();
    textBox(u"状態の程度0"_s, 800);
    endFrame();
    detail.height = m_y;
}
