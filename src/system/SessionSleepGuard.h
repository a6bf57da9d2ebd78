#pragma once

#include "Ports.h"

#include <QDBusConnection>

#include <memory>

namespace morvane {

// Display-sleep inhibition: org.freedesktop.ScreenSaver.Inhibit, org.gnome.SessionManager.Inhibit
// (flag 8) where present, and XScreenSaverSuspend. Never waits on the bus: each cookie is taken
// when its reply comes, however late, and released at once if the guard no longer wants it by
// then. A service that appears while the guard wants the inhibition is asked then. Released on
// set(false), on destruction and when the process ends (the session services drop inhibitions of
// a client that leaves the bus, and the X server ends a suspension with the connection that asked
// for it).
class SessionSleepGuard final : public SleepGuard {
public:
    explicit SessionSleepGuard(QDBusConnection session);
    ~SessionSleepGuard() override;
    // true asks every service not yet holding or asked for an inhibition; false releases what is
    // held and whatever arrives later.
    void set(bool on) override;
    // Whether at least one inhibition is held now.
    bool active() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
