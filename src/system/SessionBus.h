#pragma once

#include "Ports.h"

#include <QDBusConnection>
#include <QObject>

#include <optional>

namespace morvane {

class SettingsStore;

// Declares user activity to the session: resets the X server's screensaver timer (when there is
// an X server) and calls org.freedesktop.ScreenSaver.SimulateUserActivity where that service
// exists. Never waits for a reply.
class SessionActivity {
public:
    explicit SessionActivity(QDBusConnection session);
    ~SessionActivity();
    void declare();

private:
    QDBusConnection m_session;
    struct X;
    std::unique_ptr<X> m_x;
};

// Notifications through org.freedesktop.Notifications, app name "Morvane"; nothing when the
// `notifications` setting is off.
class DBusNotifier final : public Notifier {
public:
    DBusNotifier(SettingsStore& store, QDBusConnection session);
    void setup() override;
    void send(const QString& title, const QString& body) override;

private:
    SettingsStore& m_store;
    QDBusConnection m_session;
};

// Display-sleep inhibition: org.freedesktop.ScreenSaver.Inhibit, org.gnome.SessionManager.Inhibit
// (flag 8) where present, and XScreenSaverSuspend. Released on set(false) and when the process
// ends (the session services drop inhibitions of a client that leaves the bus).
class SessionSleepGuard final : public SleepGuard {
public:
    explicit SessionSleepGuard(QDBusConnection session);
    ~SessionSleepGuard() override;
    void set(bool on) override;
    bool active() const { return m_active; }

private:
    QDBusConnection m_session;
    bool m_active = false;
    std::optional<uint> m_screenSaverCookie;
    std::optional<uint> m_gnomeCookie;
    struct X;
    std::unique_ptr<X> m_x;
};

// Screen lock, followed through signals so that the tick never waits on the bus: logind's
// session LockedHint (system bus), else the ActiveChanged signal of org.freedesktop.ScreenSaver
// or org.gnome.ScreenSaver (session bus).
class ScreenLockMonitor final : public QObject, public ScreenLockProbe, public LockEvents {
    Q_OBJECT
public:
    ScreenLockMonitor(QDBusConnection system, QDBusConnection session, QObject* parent = nullptr);
    ~ScreenLockMonitor() override;
    bool screenLocked() override;
    void subscribe(std::function<void()> locked, std::function<void()> unlocked) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
