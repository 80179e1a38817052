#pragma once

#include <QColor>

class QPalette;

// Contrast of two colours as the ratio of their relative luminances
// (sRGB, 1:1 to 21:1).
double ContrastRatio(const QColor& a, const QColor& b);

// A text colour that reads as quieter than the palette's text but keeps a
// contrast of at least 4.5:1 against the palette's base, in light and dark
// palettes alike.
QColor SubduedTextColour(const QPalette& palette);
