#pragma once

#include <QString>

namespace ledger {

// The lists the ledgers export, each to its own spreadsheet file.
enum class ExportList { Inpatients, Outpatients, Everyone };

// The export of a ledger's menu item: asks first, then writes the list as
// the one sheet of its workbook in the home folder and names the file
// written.  A file that cannot be replaced gets a message naming the cause
// and is left as it was; the ledger stays as it was throughout.  The work
// files of earlier exports that were killed are removed first.
void exportList(ExportList list);

// The SELECT ... INTO statement that writes the list.
QString exportStatement(ExportList list);

} // namespace ledger
