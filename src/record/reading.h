#pragma once

#include <QString>

namespace Imecomp {

// The reading of a Japanese text in hiragana, as a morphological dictionary
// gives it (MeCab with the IPA dictionary, which knows personal names).
// Empty when a word of the text is not in the dictionary or the dictionary is
// not installed.
QString dictionaryReading(const QString &text);

// The reading to store for a committed text of which the input method only
// told `captured`: the dictionary's reading when `captured` is a true prefix
// of it, as when the user picks a longer word from the input method's
// predictions; otherwise `captured` as it is.
QString completedReading(const QString &committed, const QString &captured);

} // namespace Imecomp
