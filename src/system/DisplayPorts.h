#pragma once

// What a desktop room hands the factory: the ports that reach the display server, the only ones
// that differ between kinds of session. Each desktop room has one builder that fills them in.

#include "Ports.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace morvane {

class DefaultsStore;
class SessionActivity;

// Which adapter serves each display port, by name (for the log, the diagnosis and the tests).
struct PortChoices {
    QString idle;
    QString trust;
    QString jiggler;
    QString apps;
    QString overlay;
    QString hotKeys;
    bool operator==(const PortChoices&) const = default;
};

// What a builder gets to work with.
struct PortContext {
    QDBusConnection session;
    SessionActivity& activity;
    DefaultsStore& defaults;
    bool useOverlay = true; // false: no overlay window (no QApplication)
    // The running applications from the user's processes and the X client list, the fallback of
    // every desktop that has no better source for the frontmost one.
    std::function<std::unique_ptr<AppsProbe>()> processApps;
};

struct DisplayPorts {
    std::unique_ptr<QObject> shared; // what several of the adapters below use; destroyed last
    std::unique_ptr<IdleTime> idle;
    std::unique_ptr<AccessibilityTrust> trust;
    std::unique_ptr<Jiggler> jiggler;
    std::unique_ptr<AppsProbe> apps;
    std::unique_ptr<JiggleOverlay> overlay;
    std::unique_ptr<HotKeyFactory> hotKeys;
    bool x11 = false;
    PortChoices choices;
    std::function<void()> requestPermission; // the desktop's consent flow, where it has one
};

// A desktop room's builder: replaces what its desktop serves better in `ports`, which the factory
// has filled with what a session offers when its display server cannot be reached.
using DesktopBuilder = void (*)(DisplayPorts& ports, const PortContext& context);

} // namespace morvane
