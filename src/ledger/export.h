#pragma once

#include <QString>
#include <QVariantList>

namespace ledger {

// The lists the ledgers export, each to its own spreadsheet file.
enum class ExportList { Inpatients, Outpatients, Everyone };

// The export of a ledger's menu item: asks first, then writes the list as
// the one sheet of its workbook in the home folder and names the file
// written.  A file that cannot be replaced gets a message naming the cause
// and is left as it was; the ledger stays as it was throughout.  The work
// files of earlier exports that were killed are removed first.
void exportList(ExportList list);

// The same for another window's list: asks `question`, then runs
// `statement`, a SELECT ... INTO the workbook that exportTarget() names.
void exportRows(const QString &question, const QString &statement, const QVariantList &parameters = {});

// "[Excel 8.0;Database=file].[sheet] ": the INTO of an export, the file
// named as a Windows path under the drive root.
QString exportTarget(const QString &windowsFile, const QString &sheet);

// The SELECT ... INTO statement that writes the list.
QString exportStatement(ExportList list);

} // namespace ledger
