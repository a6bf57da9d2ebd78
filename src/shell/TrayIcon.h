#pragma once

#include <QIcon>
#include <QImage>

namespace morvane {

class Engine;

// What the panel icon shows, by precedence: working beats everything, then blocked, then on.
enum class TrayState { off, on, blocked, working };

TrayState trayState(const Engine& engine);

// The panel icon for `state`, `size` pixels high: a light glyph with a dark rim, so that it
// reads on light and dark panels alike. The working icon is a little wider than high.
QImage trayImage(TrayState state, int size);
// The same at the sizes panels ask for (16 … 48).
QIcon trayIcon(TrayState state);

} // namespace morvane
