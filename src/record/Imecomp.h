#pragma once

#include <QString>

class QLineEdit;

// The reading capture of the record windows: while the user types a name
// through a Japanese input method, the reading of every piece of text the
// input method confirms is added to the kana field, so the ledgers can sort
// and search by it.
namespace Imecomp {

// The hiragana the kana field takes from the keyboard (82 characters); the
// long-vowel mark, katakana and everything else are refused with a beep.
extern const QString kKanaCharacters;

// Watches the name field's input-method events and keys and writes the
// readings into the kana field.  The capture belongs to the name field and
// goes with it.
void attach(QLineEdit *name, QLineEdit *kana);

// The kana field's key filter: the 82 hiragana and Backspace.
void setKanaFilter(QLineEdit *kana);

// Full-width hiragana: half-width katakana (with its voiced marks) and
// half-width Latin letters, digits and signs become full-width, katakana
// becomes hiragana.
QString toWideHiragana(const QString &text);

} // namespace Imecomp
