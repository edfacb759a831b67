#pragma once

#include <QString>

namespace toolkit {
class DataGrid;
}

namespace ledger {

// The launcher of a document for the grid's current episode: the preview is
// titled with the patient's name and `titleSuffix` and shown modally.  The
// institution's texts come from the options window's boxes.  Nothing happens
// on an empty list; a document the engine cannot show gives the print-setting
// box and the ledger goes on; any other failure ends the program.
void showEpisodeDocument(const toolkit::DataGrid &grid, const QString &document, const QString &titleSuffix);

} // namespace ledger
