#pragma once

#include "Ports.h"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <optional>

namespace morvane {

class X11Display;

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

} // namespace morvane
