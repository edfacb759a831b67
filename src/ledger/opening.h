#pragma once

#include <QString>

namespace toolkit {
class Form;
}

namespace ledger {

// Opens an episode from a ledger: the record window loads unseen while the
// ledger is still there with its current row (its load reads the episode from
// it), takes the key in its box Text1, the ledger unloads, and the record
// window is shown.  Nothing happens while no record window of that name is
// registered.
void openRecord(toolkit::Form &ledger, const QString &recordWindow, const QString &key);

} // namespace ledger
