#include "report/catalogue.h"

#include "report/admissionrecord.h"
#include "report/checksheet.h"
#include "report/rptAdmSum.h"
#include "report/rptAdmissionPlan.h"
#include "report/rptDischargePlan.h"
#include "report/rptDischargeHis.h"
#include "report/rptTreatment.h"
#include "report/rpt32New.h"
#include "report/rpt32New2.h"
#include "report/rptWelfare1.h"
#include "report/rptWelfare2.h"
#include "toolkit/format.h"

using namespace Qt::StringLiterals;

namespace report {

QStringList documentNames()
{
    return {u"rptAdmissionPlan"_s, u"rptDischargePlan"_s, u"rptAdmSum"_s,     u"rptDischargeHis"_s,
            u"rptTreatment"_s,     u"rptAdmPsy1"_s,       u"rptAdmPsy2"_s,    u"rptAdmPsy3"_s,
            u"rptAdmRecord1"_s,    u"rptAdmRecord2"_s,    u"rpt32New"_s,      u"rpt32New2"_s,
            u"rptWelfare1"_s,      u"rptWelfare2"_s};
}

QString treatmentTitle(const Institution &institution)
{
    return institution.name + u'　' + institution.department + u"　処置伝票"_s;
}

Document document(const QString &name, const Institution &institution, const QDateTime &now)
{
    Document doc;
    if (name == u"rptAdmSum"_s) {
        doc.layout = std::make_unique<rptAdmSum>();
        doc.command = DataSource::Command::Patient;
        doc.layout->setLabel(u"Section2"_s, u"Label11"_s, institution.department);
    } else if (name == u"rptAdmissionPlan"_s) {
        doc.layout = std::make_unique<rptAdmissionPlan>();
        doc.command = DataSource::Command::Patient;
        doc.layout->setLabel(u"Section1"_s, u"Label6"_s, institution.department);
        doc.layout->setLabel(u"Section1"_s, u"Label20"_s, institution.name);
        doc.layout->setLabel(u"Section1"_s, u"Label4"_s, toolkit::formatDate(now, u"ggg e  年 m 月 d 日"_s));
    } else if (name == u"rptDischargePlan"_s) {
        doc.layout = std::make_unique<rptDischargePlan>();
        doc.command = DataSource::Command::Patient;
        doc.layout->setLabel(u"Section1"_s, u"Label6"_s, institution.department);
        doc.layout->setLabel(u"Section1"_s, u"Label4"_s, toolkit::formatDate(now, u"ggg e 年 m 月 d 日"_s));
    } else if (name == u"rptDischargeHis"_s) {
        doc.layout = std::make_unique<rptDischargeHis>();
        doc.command = DataSource::Command::Patient;
        doc.layout->setLabel(u"Section3"_s, u"Label1"_s,
                             institution.name + u' ' + institution.department + u" 退院病歴"_s);
    } else if (name == u"rptTreatment"_s) {
        doc.layout = std::make_unique<rptTreatment>();
        doc.command = DataSource::Command::Treatment;
        doc.layout->setLabel(u"Section2"_s, u"Label1"_s, treatmentTitle(institution));
    } else if (name == u"rptAdmPsy1"_s) {
        doc.layout = std::make_unique<rptAdmPsy1>();
        doc.command = DataSource::Command::Psychotherapy1;
    } else if (name == u"rptAdmPsy2"_s) {
        doc.layout = std::make_unique<rptAdmPsy2>();
        doc.command = DataSource::Command::Psychotherapy2;
    } else if (name == u"rptAdmPsy3"_s) {
        doc.layout = std::make_unique<rptAdmPsy3>();
        doc.command = DataSource::Command::Psychotherapy3;
    } else if (name == u"rptAdmRecord1"_s || name == u"rptAdmRecord2"_s) {
        if (name == u"rptAdmRecord1"_s) {
            doc.layout = std::make_unique<rptAdmRecord1>();
            doc.command = DataSource::Command::AdmissionRecords1;
        } else {
            doc.layout = std::make_unique<rptAdmRecord2>();
            doc.command = DataSource::Command::AdmissionRecords2;
        }
        const QString era = u"ggge年m月d日"_s;
        const QDate first = now.date().addDays(1 - DataSource::periodOf(doc.command));
        doc.layout->setLabel(u"Section2"_s, u"Label2"_s,
                             toolkit::formatDate(first, era) + u" 〜 "_s + toolkit::formatDate(now, era));
    } else if (name == u"rpt32New"_s || name == u"rptWelfare1"_s) {
        if (name == u"rpt32New"_s)
            doc.layout = std::make_unique<rpt32New>();
        else
            doc.layout = std::make_unique<rptWelfare1>();
        doc.command = DataSource::Command::Certificate;
        doc.closesResult = name == u"rptWelfare1"_s;
    } else if (name == u"rpt32New2"_s || name == u"rptWelfare2"_s) {
        if (name == u"rpt32New2"_s)
            doc.layout = std::make_unique<rpt32New2>();
        else
            doc.layout = std::make_unique<rptWelfare2>();
        doc.command = DataSource::Command::Certificate;
        doc.closesResult = name == u"rpt32New2"_s;
        doc.layout->setLabel(u"Section1"_s, u"Label18"_s, toolkit::formatDate(now, u"ggg e 年 m 月 d 日"_s));
        doc.layout->setLabel(u"Section1"_s, u"Label19"_s, institution.name);
        doc.layout->setLabel(u"Section1"_s, u"Label20"_s, institution.address);
        doc.layout->setLabel(u"Section1"_s, u"Label21"_s, institution.telephone);
    }
    return doc;
}

} // namespace report
