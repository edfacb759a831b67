#pragma once

#include <QString>

class QWidget;

namespace toolkit::detail {

// The key filter with its two switches: whether Backspace passes regardless
// of the list, and whether pasted or dropped text is cleaned too.
void installKeyFilter(QWidget *box, const QString &allowedCharacters, bool allowBackspace, bool filterPaste);

} // namespace toolkit::detail
