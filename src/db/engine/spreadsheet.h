#pragma once

#include <QStringList>
#include <functional>

namespace jet {

class Recordset;

// The spreadsheet output of SELECT ... INTO [Excel 8.0;Database=file].[sheet].
// The engine writes the Office Open XML workbook format, which Excel and
// LibreOffice Calc both open, and names the file after that format.

// The workbook an "Excel 8.0;Database=file" connect text names, its ".xls"
// turned into ".xlsx" (".xlsx" added to any other name).  Throws
// Error(err::NotSupported) for any other connect text.
QString excelWorkbookPath(const QString &connect);

// Told the rows written so far and the rows to write, after each row.
using SheetProgress = std::function<void(int written, int total)>;

// Writes the rows as the one sheet of a new workbook at `path`, replacing
// any earlier file only once the new one is complete: a failure leaves the
// earlier file as it was and no part of the new one.  The fields' names
// head the columns in a bold, frozen first row; dates are date cells shown
// yyyy/mm/dd, numbers numbers and everything else text; columns are as wide
// as their contents.  Returns the rows written.
//
// Throws Error(err::PermissionDenied) when the file cannot be replaced: the
// file or its folder is not writable, or the path names a folder, its
// description naming which; any other failure to write is
// Error(err::GeneralFailure).
int writeExcelSheet(const QString &path, const QString &sheet, Recordset &rows, const SheetProgress &progress = {});

} // namespace jet
