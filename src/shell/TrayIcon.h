#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

#include "Instant.h"

namespace morvane {

class Engine;
struct Prefs;

// What the panel icon shows, by precedence: working beats everything, then blocked, then on.
enum class TrayState { off, on, blocked, working };

TrayState trayState(const Engine& engine);
// The state's name on the bus: "off", "on", "blocked" or "working".
QString trayStateName(TrayState state);
// The countdown the panel shows beside the icon at `now` ("1:05:00"): only with the setting on and a
// timer running; empty otherwise.
QString panelCountdown(const Engine& engine, const Prefs& prefs, const Instant& now);

// The panel icon for `state`, `size` pixels high: a light glyph with a dark rim, so that it
// reads on light and dark panels alike. The working icon is a little wider than high.
QImage trayImage(TrayState state, int size);
// The same at the sizes panels ask for (16 … 48).
QIcon trayIcon(TrayState state);

} // namespace morvane
