#pragma once

#include "report/datasource.h"
#include "report/layout.h"

#include <QDateTime>
#include <QStringList>
#include <memory>

namespace report {

// The documents by layout name: a fresh layout with its run-time labels
// written, the command it prints, and whether its key is an episode
// (入退院ID) or a chart (カルテID).  Nullptr for a name that is no document.
struct Document
{
    std::unique_ptr<Layout> layout;
    DataSource::Command command = DataSource::Command::Patient;
    // Whether the document's ending closes its command's result: of the two
    // pages of a certificate only one does.
    bool closesResult = true;
};

// The treatment voucher's heading, which is also its preview's title.
QString treatmentTitle(const Institution &institution);
Document document(const QString &name, const Institution &institution, const QDateTime &now);
QStringList documentNames();

} // namespace report
