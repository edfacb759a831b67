#pragma once

#include <QByteArray>
#include <QString>

namespace toolkit {

// A PDF names each glyph of an embedded font after one character, and Qt
// takes the lowest code point that maps to the glyph. Fonts that draw a
// character and its stand-ins (the Kangxi radical ⼊ and the ideograph 入,
// the em space and the ideographic space) from one glyph thus put the
// stand-in into the PDF's text: a search for 入院 finds nothing.

// The font in `font` (a TrueType or OpenType file) under the family name
// `family`, its character map without the stand-ins that share a glyph with
// a character of the text; empty when the file is not a font read here.
QByteArray withTextCharacterMap(const QByteArray &font, const QString &family);

// Registers the installed face of `family` for this process under `alias`,
// with the character map above. Returns `alias`, or an empty string when the
// face could not be found, read or registered: the caller then keeps using
// `family`. The derived face is kept in memory only.
QString registerTextFace(const QString &family, const QString &alias);

} // namespace toolkit
