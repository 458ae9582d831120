#pragma once
// The one font of every dialog, and the substitution that lets it render
// here: no Japanese-capable font answers to its name on this platform, so
// without the substitution Japanese text would fall to a font without glyphs.

#include <QFont>

// Maps "ＭＳ Ｐゴシック" and "MS PGothic" to IPAPGothic. Call once, after the
// QApplication exists and before the first dialog is built.
void installFontSubstitutions();

// "ＭＳ Ｐゴシック", 9 points.
QFont dialogFont();
