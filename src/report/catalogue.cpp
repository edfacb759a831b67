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
#include "report/rptJiritsuToday.h"
#include "report/rptTechoToday.h"
#include "toolkit/format.h"

using namespace Qt::StringLiterals;

namespace report {

namespace {

using Labels = void (*)(Layout &, const Institution &, const QDateTime &);

// A document: how its layout is made, the command it prints, whether its
// ending closes the command's result, and the labels written at run time.
struct Entry
{
    QString name;
    std::unique_ptr<Layout> (*make)();
    DataSource::Command command;
    bool closesResult;
    Labels labels;
};

template <class T>
std::unique_ptr<Layout> make()
{
    return std::make_unique<T>();
}

void noLabels(Layout &, const Institution &, const QDateTime &) {}

// The admission records' period: from its first day to today, in era dates.
void admissionPeriod(Layout &layout, DataSource::Command command, const QDateTime &now)
{
    const QString era = u"ggge年m月d日"_s;
    const QDate first = now.date().addDays(1 - DataSource::periodOf(command));
    layout.setLabel(u"Section2"_s, u"Label2"_s, toolkit::formatDate(first, era) + u" 〜 "_s + toolkit::formatDate(now, era));
}

// Page 2 of either certificate: today, then the institution's name, address and telephone.
void certificateSigning(Layout &layout, const Institution &institution, const QDateTime &now)
{
    layout.setLabel(u"Section1"_s, u"Label18"_s, toolkit::formatDate(now, u"ggg e 年 m 月 d 日"_s));
    layout.setLabel(u"Section1"_s, u"Label19"_s, institution.name);
    layout.setLabel(u"Section1"_s, u"Label20"_s, institution.address);
    layout.setLabel(u"Section1"_s, u"Label21"_s, institution.telephone);
}

// Today's certificates: the institution's name, address, telephone and
// department; the day is the certificate's own 記載日.
void todaySigning(Layout &layout, const Institution &institution, const QDateTime &)
{
    layout.setLabel(u"Section1"_s, TodayCertificate::kInstitution.toString(), institution.name);
    layout.setLabel(u"Section1"_s, TodayCertificate::kLocation.toString(), institution.address);
    layout.setLabel(u"Section1"_s, TodayCertificate::kTelephone.toString(), institution.telephone);
    // The medical form asks no department.
    if (layout.find(u"Section1"_s, TodayCertificate::kDepartment.toString()))
        layout.setLabel(u"Section1"_s, TodayCertificate::kDepartment.toString(), institution.department);
}

const QList<Entry> &entries()
{
    using Command = DataSource::Command;
    static const QList<Entry> list{
        {u"rptAdmissionPlan"_s, make<rptAdmissionPlan>, Command::Patient, true,
         [](Layout &layout, const Institution &institution, const QDateTime &now) {
             layout.setLabel(u"Section1"_s, u"Label6"_s, institution.department);
             layout.setLabel(u"Section1"_s, u"Label20"_s, institution.name);
             layout.setLabel(u"Section1"_s, u"Label4"_s, toolkit::formatDate(now, u"ggg e  年 m 月 d 日"_s));
         }},
        {u"rptDischargePlan"_s, make<rptDischargePlan>, Command::Patient, true,
         [](Layout &layout, const Institution &institution, const QDateTime &now) {
             layout.setLabel(u"Section1"_s, u"Label6"_s, institution.department);
             layout.setLabel(u"Section1"_s, u"Label4"_s, toolkit::formatDate(now, u"ggg e 年 m 月 d 日"_s));
         }},
        {u"rptAdmSum"_s, make<rptAdmSum>, Command::Patient, true,
         [](Layout &layout, const Institution &institution, const QDateTime &) {
             layout.setLabel(u"Section2"_s, u"Label11"_s, institution.department);
         }},
        {u"rptDischargeHis"_s, make<rptDischargeHis>, Command::Patient, true,
         [](Layout &layout, const Institution &institution, const QDateTime &) {
             layout.setLabel(u"Section3"_s, u"Label1"_s,
                             institution.name + u' ' + institution.department + u" 退院病歴"_s);
         }},
        {u"rptTreatment"_s, make<rptTreatment>, Command::Treatment, true,
         [](Layout &layout, const Institution &institution, const QDateTime &) {
             layout.setLabel(u"Section2"_s, u"Label1"_s, treatmentTitle(institution));
         }},
        {u"rptAdmPsy1"_s, make<rptAdmPsy1>, Command::Psychotherapy1, true, noLabels},
        {u"rptAdmPsy2"_s, make<rptAdmPsy2>, Command::Psychotherapy2, true, noLabels},
        {u"rptAdmPsy3"_s, make<rptAdmPsy3>, Command::Psychotherapy3, true, noLabels},
        {u"rptAdmRecord1"_s, make<rptAdmRecord1>, Command::AdmissionRecords1, true,
         [](Layout &layout, const Institution &, const QDateTime &now) {
             admissionPeriod(layout, Command::AdmissionRecords1, now);
         }},
        {u"rptAdmRecord2"_s, make<rptAdmRecord2>, Command::AdmissionRecords2, true,
         [](Layout &layout, const Institution &, const QDateTime &now) {
             admissionPeriod(layout, Command::AdmissionRecords2, now);
         }},
        // Of the two pages of a certificate, only one closes the shared result.
        {u"rpt32New"_s, make<rpt32New>, Command::Certificate, false, noLabels},
        {u"rpt32New2"_s, make<rpt32New2>, Command::Certificate, true, certificateSigning},
        {u"rptWelfare1"_s, make<rptWelfare1>, Command::Certificate, true, noLabels},
        {u"rptWelfare2"_s, make<rptWelfare2>, Command::Certificate, false, certificateSigning},
        {u"rptJiritsuToday"_s, make<rptJiritsuToday>, Command::CertificateRecord, true, todaySigning},
        {u"rptTechoToday"_s, make<rptTechoToday>, Command::CertificateRecord, true, todaySigning},
    };
    return list;
}

} // namespace

QStringList documentNames()
{
    QStringList names;
    for (const Entry &entry : entries())
        names << entry.name;
    return names;
}

QString treatmentTitle(const Institution &institution)
{
    return institution.name + u'　' + institution.department + u"　処置伝票"_s;
}

Document document(const QString &name, const Institution &institution, const QDateTime &now)
{
    Document doc;
    for (const Entry &entry : entries()) {
        if (entry.name != name)
            continue;
        doc.layout = entry.make();
        doc.command = entry.command;
        doc.closesResult = entry.closesResult;
        entry.labels(*doc.layout, institution, now);
        break;
    }
    return doc;
}

} // namespace report
