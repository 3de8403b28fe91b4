// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "output/TextLayer.h"

#include <QByteArray>

// The invisible text of a searchable PDF page: a font of our own with one empty glyph for
// every character (2-byte codes, Unicode values through its ToUnicode map), and the text
// operators that lay each word, unpainted, over its place on the page image.

// A TrueType program with one empty glyph, 500 units wide on a 1000-unit em.
QByteArray invisibleFontProgram();

// Maps every 2-byte code onto the Unicode character of the same value.
QByteArray identityToUnicodeMap();

// The CIDToGIDMap stream's data: every code but 0 drawn with glyph 1.
QByteArray allCodesToGlyphOne();

// Ascent and descent of the font, in thousandths of the size: where viewers put the
// selection box of a glyph around its baseline.
inline constexpr int kInvisibleAscent = 800;
inline constexpr int kInvisibleDescent = -200;
inline constexpr int kInvisibleWidth = 500;

// Text operators (BT ... ET, render mode 3) for the words of `text`, using the font under
// the resource name /T0. `pointsPerPixelX/Y` and `pageHeight` (points) map page pixels onto
// the page's PDF space. Empty when there is no word.
QByteArray textLayerOperators(const TextLayer& text, double pointsPerPixelX,
                              double pointsPerPixelY, double pageHeight);
