#pragma once

// The application icon that launchers, menus and software centres show: the panel icon's pointer
// with motion lines, in white on a blue rounded tile. Drawn from the same paths as the panel icon
// (symbols::paint), so the two never drift apart.

#include <QRectF>
#include <QString>

class QPainter;

namespace morvane::appicon {

// The name under which desktops look the icon up (the desktop entry's Icon= and the files).
inline constexpr char kName[] = "app.morvane.Morvane";

// The square pixel sizes the icon theme gets as PNG, besides the scalable SVG.
inline constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256, 512};

// Paints the icon into `box` (its largest inscribed square, centred); vector operations only, so
// the same call serves a QImage and an SVG generator.
void paint(QPainter& painter, const QRectF& box);

// Writes `<themeDir>/scalable/apps/<kName>.svg` and `<themeDir>/<n>x<n>/apps/<kName>.png` for
// every size, creating the folders. Answers the first failure as text, empty when all went well.
QString writeTheme(const QString& themeDir);

// Writes the panel icon's four states as symbolic SVGs for GNOME Shell, which tints them like its
// own: `<dir>/morvane-<state>-symbolic.svg`, state being off, on, blocked or working. Answers the
// first failure as text, empty when all went well.
QString writePanelIcons(const QString& dir);

} // namespace morvane::appicon
