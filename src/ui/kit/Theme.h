#pragma once

// The text styles and colours every view of the program uses, derived from the desktop's font and
// palette so that they follow the user's size and light or dark appearance.

#include <QColor>
#include <QFont>
#include <QPalette>

class QApplication;
class QWidget;

namespace morvane::theme {

// Text styles, relative to the application font.
QFont headline(); // the base size, semibold
QFont callout();  // slightly smaller than the base
QFont caption();  // small
QFont caption2(); // smallest
// `font` in semibold weight.
QFont semibold(QFont font);

// The accent (the palette's highlight), plain text, secondary text, and the fixed orange and green.
QColor accent(const QPalette& palette);
QColor primary(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor orange();
QColor green();
// `c` with alpha `opacity` (0 … 1).
QColor withOpacity(QColor c, double opacity);

// Whether the palette's window is dark.
bool isDark(const QPalette& palette);

// Fusion with a light or a dark palette, for the whole application.
void applyAppearance(QApplication& app, bool dark);
// The dark appearance the desktop prefers: the freedesktop appearance setting where the session
// offers it, else the current palette.
bool desktopPrefersDark();

// Gives `label`-like text widgets the secondary colour.
void setSecondary(QWidget* widget);

} // namespace morvane::theme
