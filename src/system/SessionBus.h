#pragma once

#include "Ports.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace morvane {

class SettingsStore;
class X11Display;

// Declares user activity to the session: resets the X server's screensaver timer (when there is
// an X server) and calls org.freedesktop.ScreenSaver.SimulateUserActivity where that service
// exists. Never waits for a reply.
class SessionActivity {
public:
    explicit SessionActivity(QDBusConnection session);
    ~SessionActivity();
    // Sends both declarations and returns at once.
    void declare();
    // Whether org.freedesktop.ScreenSaver is on the bus now, as last announced by the bus.
    bool screenSaverPresent() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
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
// (flag 8) where present, and XScreenSaverSuspend. Released on set(false), on destruction and
// when the process ends (the session services drop inhibitions of a client that leaves the bus,
// and the X server ends a suspension with the connection that asked for it).
class SessionSleepGuard final : public SleepGuard {
public:
    explicit SessionSleepGuard(QDBusConnection session);
    ~SessionSleepGuard() override;
    void set(bool on) override;
    // Whether at least one inhibition is held.
    bool active() const { return m_active; }

private:
    void take();
    void release();
    bool suspendX(bool suspend);

    QDBusConnection m_session;
    bool m_active = false;
    std::optional<uint> m_screenSaverCookie;
    QString m_screenSaverPath;
    std::optional<uint> m_gnomeCookie;
    std::unique_ptr<X11Display> m_x;
    bool m_xTried = false;
    bool m_xCanSuspend = false;
    bool m_xSuspended = false;
};

// Screen lock, followed through signals so that the tick never waits on the bus: logind's
// session LockedHint (system bus), else the ActiveChanged signal of org.freedesktop.ScreenSaver
// or org.gnome.ScreenSaver (session bus), else never locked.
class ScreenLockMonitor final : public QObject, public ScreenLockProbe, public LockEvents {
    Q_OBJECT
public:
    ScreenLockMonitor(QDBusConnection system, QDBusConnection session, QObject* parent = nullptr);
    ~ScreenLockMonitor() override;
    // The cached state; no bus traffic.
    bool screenLocked() override;
    void subscribe(std::function<void()> locked, std::function<void()> unlocked) override;

    // Which source the monitor follows, for the log and the tests.
    enum class Source { Nothing, Logind, ScreenSaver };
    Source source() const;

private Q_SLOTS:
    void onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                    const QStringList& invalidated);
    void onScreenSaverActiveChanged(bool active);

private:
    void apply(bool locked);

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
