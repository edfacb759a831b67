#include "report/catalogue.h"

#include "report/rptAdmSum.h"

using namespace Qt::StringLiterals;

namespace report {

QStringList documentNames()
{
    return {u"rptAdmSum"_s};
}

Document document(const QString &name, const Institution &institution, const QDateTime &now)
{
    Q_UNUSED(now)
    Document doc;
    if (name == u"rptAdmSum"_s) {
        doc.layout = std::make_unique<rptAdmSum>();
        doc.command = DataSource::Command::Patient;
        doc.layout->setLabel(u"Section2"_s, u"Label11"_s, institution.department);
    }
    return doc;
}

} // namespace report
