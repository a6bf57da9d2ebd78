#include "SessionKind.h"

#include <QDBusConnectionInterface>
#include <QDBusReply>

#include <array>

namespace morvane {

namespace {

bool desktopNames(const QString& currentDesktop, std::initializer_list<QLatin1String> names) {
    const QStringList entries = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& entry : entries)
        for (QLatin1String name : names)
            if (entry.trimmed().compare(name, Qt::CaseInsensitive) == 0)
                return true;
    return false;
}

// Compositors built on wlroots (or speaking its virtual-pointer and idle-notify protocols) that
// name themselves in XDG_CURRENT_DESKTOP.
constexpr std::array kWlrootsDesktops{QLatin1String("sway"),     QLatin1String("river"),
                                      QLatin1String("wayfire"),  QLatin1String("labwc"),
                                      QLatin1String("Hyprland"), QLatin1String("dwl")};

bool onWayland(const SessionEnvironment& env) {
    // The session type wins over the display variables: an X11 session may run a nested Wayland
    // compositor (WAYLAND_DISPLAY set), and a Wayland session exports DISPLAY for XWayland.
    if (env.sessionType == QLatin1String("wayland"))
        return true;
    if (env.sessionType == QLatin1String("x11") && !env.display.isEmpty())
        return false;
    // Compositors started from a text console often leave XDG_SESSION_TYPE at "tty".
    return !env.waylandDisplay.isEmpty();
}

bool hasName(const QDBusConnection& session, const QString& name) {
    QDBusConnectionInterface* bus = session.isConnected() ? session.interface() : nullptr;
    if (!bus)
        return false;
    const QDBusReply<bool> reply = bus->isServiceRegistered(name);
    return reply.isValid() && reply.value();
}

} // namespace

SessionKind sessionKind(const SessionEnvironment& env) {
    if (!onWayland(env))
        return env.display.isEmpty() ? SessionKind::none : SessionKind::x11;
    // The services on the bus tell what really runs; the desktop name only covers the moment a
    // compositor restarts and its names are briefly gone.
    if (env.mutterOnBus)
        return SessionKind::gnomeWayland;
    if (env.kwinOnBus)
        return SessionKind::kdeWayland;
    if (!env.swaySocket.isEmpty())
        return SessionKind::wlrootsWayland;
    const QString& desktop = env.currentDesktop;
    if (desktopNames(desktop, {QLatin1String("GNOME")}))
        return SessionKind::gnomeWayland;
    if (desktopNames(desktop, {QLatin1String("KDE")}))
        return SessionKind::kdeWayland;
    for (QLatin1String name : kWlrootsDesktops)
        if (desktopNames(desktop, {name}))
            return SessionKind::wlrootsWayland;
    return SessionKind::otherWayland;
}

SessionEnvironment readSessionEnvironment(const QDBusConnection& session) {
    SessionEnvironment env;
    env.sessionType = qEnvironmentVariable("XDG_SESSION_TYPE");
    env.waylandDisplay = qEnvironmentVariable("WAYLAND_DISPLAY");
    env.display = qEnvironmentVariable("DISPLAY");
    env.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    env.swaySocket = qEnvironmentVariable("SWAYSOCK");
    env.mutterOnBus = hasName(session, QStringLiteral("org.gnome.Mutter.IdleMonitor")) ||
                      hasName(session, QStringLiteral("org.gnome.Mutter.RemoteDesktop"));
    env.kwinOnBus = hasName(session, QStringLiteral("org.kde.KWin"));
    return env;
}

QString sessionKindName(SessionKind kind) {
    switch (kind) {
    case SessionKind::x11:
        return QStringLiteral("X11");
    case SessionKind::gnomeWayland:
        return QStringLiteral("GNOME Wayland");
    case SessionKind::kdeWayland:
        return QStringLiteral("KDE Wayland");
    case SessionKind::wlrootsWayland:
        return QStringLiteral("wlroots Wayland");
    case SessionKind::otherWayland:
        return QStringLiteral("other Wayland");
    case SessionKind::none:
        break;
    }
    return QStringLiteral("none");
}

} // namespace morvane
