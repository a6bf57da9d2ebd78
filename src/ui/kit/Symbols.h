#pragma once

// The program's own drawings: every symbol the tray, the popover and the settings window show.
// Each is drawn with QPainter paths into a square, in one colour, so it can be tinted from the
// palette and stays sharp at any size and scale.

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPainterPath>
#include <QPixmap>
#include <QRectF>

class QPainter;

namespace morvane {

enum class Symbol {
    pointer,             // an arrow pointer (the off state)
    pointerMotion,       // the pointer with motion lines (on)
    pointerSlash,        // the pointer struck through (on but blocked)
    checkmark,           // a bare check mark
    checkmarkCircleFill, // a filled circle with a check mark cut out
    checkmarkSeal,       // a filled seal with a check mark cut out
    pauseCircle,         // a ring with two bars
    pauseCircleFill,     // a filled circle with two bars cut out
    timer,               // a stopwatch
    alarm,               // an alarm clock
    calendar,            // a calendar page
    warningTriangle,     // a filled triangle with an exclamation mark cut out
    arrowDownCircle,     // a filled circle with a down arrow cut out
    gear,                // a cog wheel
    power,               // the power symbol
    sliders,             // three horizontal sliders
    plus,                // a plus sign
    trash,               // a waste bin
};

namespace symbols {

// Draws `symbol` in `color`, fitted into `box` (centred in its largest inscribed square).
void paint(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& color);

// `symbol` on a transparent square of `size` logical pixels at device pixel ratio `dpr`.
QPixmap pixmap(Symbol symbol, int size, const QColor& color, qreal dpr = 1.0);
QImage image(Symbol symbol, int size, const QColor& color, qreal dpr = 1.0);

// An icon holding `symbol` at 16, 22, 24, 32 and 48 pixels (and twice that for high-DPI
// displays), in `color`, plus a half-transparent variant for the disabled mode.
QIcon icon(Symbol symbol, const QColor& color);

// The "working" icon: the pointer with motion lines and, at its lower right, a dot with a check
// mark cut out of it, separated from the pointer by a transparent ring. `height` logical pixels
// high, a little wider than high.
QImage working(int height, const QColor& color, qreal dpr = 1.0);

// The filled outlines behind those drawings: `symbol` on its 24-unit grid, and the working icon on
// a 22 × 17 grid (for vector copies of the icons).
QPainterPath outline(Symbol symbol);
QPainterPath workingOutline();

} // namespace symbols
} // namespace morvane
