#pragma once

#include "report/datasource.h"
#include "toolkit/errortrap.h"

#include <QString>

namespace toolkit {
class DataGrid;
}

namespace ledger {

// The institution's texts as the options window's boxes hold them.
report::Institution institution();

// A document the engine cannot show gives the print-setting box and the
// window goes on.
toolkit::ErrorTable printSettingAnswers();

// The launcher of a document for the grid's current episode: the preview is
// titled with the patient's name and `titleSuffix` and shown modally.  The
// institution's texts come from the options window's boxes.  Nothing happens
// on an empty list; a document the engine cannot show gives the print-setting
// box and the ledger goes on; any other failure ends the program.
void showEpisodeDocument(const toolkit::DataGrid &grid, const QString &document, const QString &titleSuffix);

// The launcher of a certificate for the grid's current patient (its chart in
// `chartColumn`): both pages at once, each in a preview of its own titled
// with the patient's name and the page's text, shown without waiting so that
// the ledger stays usable.  A patient without a certificate row gets the
// blank forms.  Failures are answered as for a single document.
struct CertificatePage
{
    QString document;
    QString titleSuffix;
};
void showCertificate(const toolkit::DataGrid &grid, const QString &chartColumn, const CertificatePage &first,
                     const CertificatePage &second);

// The treatment voucher of every current in-patient, titled and headed with
// the institution and its department, shown modally.
void showTreatmentVoucher();

// The three psychotherapy check sheets, each in a preview of its own that
// stays open beside the ledger.  A print of the third that fails closes all
// three.
void showCheckSheets();

// Asks, then shows the admission records of the last week (1) or the last two
// weeks (2); where they cannot be laid out, says that this system cannot
// print them.
void printAdmissionRecords(int weeks);

} // namespace ledger
