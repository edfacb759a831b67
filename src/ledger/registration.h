#pragma once

#include <QString>
#include <optional>

namespace jet {
class Connection;
}
namespace toolkit {
class Form;
}

namespace ledger {

// Registration from a ledger: asks for a chart number, adds the patient when
// the chart is new and always a new, empty episode with its two companion rows,
// all in one transaction; then unloads the ledger and shows the new-patient
// window on that episode (the all-patient ledger while that window is not
// registered).
// An answer that is no number, or a number outside the 32-bit range, is
// refused with a message and the ledger stays, as it does when another
// workstation keeps the database locked.  Runs under its own error trap: any
// other engine failure shows the fatal error box and ends the program.
void registerPatient(toolkit::Form &ledger, jet::Connection &connection);

// The chart number of an answer: blanks around it allowed, full-width digits
// taken as digits, a fraction rounded half to even.  Nothing when the text is
// not a number.  Throws std::overflow_error for a number outside the 32-bit range.
std::optional<qint32> chartNumber(const QString &answer);

} // namespace ledger
