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
// window (the all-patient ledger while that window is not registered).
// Runs inside the caller's error trap: a number outside the 32-bit range or any
// engine failure propagates as jet::Error.
void registerPatient(toolkit::Form &ledger, jet::Connection &connection);

// The chart number of an answer: blanks around it allowed, a fraction rounded
// half to even.  Nothing when the text is not a number.  Throws jet::Error
// (overflow) for a number outside the 32-bit range.
std::optional<qint32> chartNumber(const QString &answer);

} // namespace ledger
