#include "report/catalogue.h"

#include "report/rptAdmSum.h"
#include "report/rptDischargeHis.h"

using namespace Qt::StringLiterals;

namespace report {

QStringList documentNames()
{
    return {u"rptAdmSum"_s, u"rptDischargeHis"_s};
}

Document document(const QString &name, const Institution &institution, const QDateTime &now)
{
    Q_UNUSED(now)
    Document doc;
    if (name == u"rptAdmSum"_s) {
        doc.layout = std::make_unique<rptAdmSum>();
        doc.command = DataSource::Command::Patient;
        doc.layout->setLabel(u"Section2"_s, u"Label11"_s, institution.department);
    } else if (name == u"rptDischargeHis"_s) {
        doc.layout = std::make_unique<rptDischargeHis>();
        doc.command = DataSource::Command::Patient;
        doc.layout->setLabel(u"Section3"_s, u"Label1"_s,
                             institution.name + u' ' + institution.department + u" 退院病歴"_s);
    }
    return doc;
}

} // namespace report
