#pragma once

#include <QDBusConnection>
#include <QString>

namespace morvane {

// The kind of graphical session this process runs in, as far as choosing input and idle adapters
// goes. On Wayland the X11 adapters only reach XWayland, whose idle time and input the compositor
// ignores, so every Wayland compositor family gets its own adapters.
enum class SessionKind { x11, gnomeWayland, kdeWayland, wlrootsWayland, otherWayland, none };

// What the decision rests on: the session's environment and which compositor services own their
// names on the session bus.
struct SessionEnvironment {
    QString sessionType;      // XDG_SESSION_TYPE
    QString waylandDisplay;   // WAYLAND_DISPLAY
    QString display;          // DISPLAY
    QString currentDesktop;   // XDG_CURRENT_DESKTOP, colon-separated
    QString swaySocket;       // SWAYSOCK
    bool mutterOnBus = false; // org.gnome.Mutter.IdleMonitor or org.gnome.Mutter.RemoteDesktop owned
    bool kwinOnBus = false;   // org.kde.KWin owned
    bool operator==(const SessionEnvironment&) const = default;
};

// Decides the kind from `environment` alone (no system access).
SessionKind sessionKind(const SessionEnvironment& environment);

// This process's environment, with the compositor names looked up on `session` (three blocking
// round trips; meant for start-up).
SessionEnvironment readSessionEnvironment(const QDBusConnection& session);

// A short English name for the log: "X11", "GNOME Wayland", ...
QString sessionKindName(SessionKind kind);

} // namespace morvane
