#pragma once

#include "InhibitionState.h"
#include "Ports.h"

#include <QDBusConnection>

#include <functional>
#include <memory>
#include <vector>

namespace morvane {

// Display-sleep inhibition: org.freedesktop.ScreenSaver.Inhibit, org.gnome.SessionManager.Inhibit
// (flag 8) where present, an idle inhibitor of logind (on the system bus), and XScreenSaverSuspend. Never
// waits on the bus: each cookie is taken when its reply comes, however late, and released at once if the
// guard no longer wants it by then. A service that appears while the guard wants the inhibition is asked
// then. Released on set(false), on destruction and when the process ends (the session services drop
// inhibitions of a client that leaves the bus, and the X server ends a suspension with the connection that
// asked for it).
class SessionSleepGuard final : public SleepGuard {
public:
    explicit SessionSleepGuard(QDBusConnection session);
    SessionSleepGuard(QDBusConnection session, QDBusConnection system);
    ~SessionSleepGuard() override;
    // true asks every service not yet holding or asked for an inhibition; false releases what is
    // held and whatever arrives later.
    void set(bool on) override;
    // Whether at least one inhibition is held now.
    bool active() const;

    // Each service's inhibition as it stands: the fd.o screensaver, GNOME's session manager,
    // logind, the X server.
    std::vector<InhibitionStatus> inhibitions() const;
    // Asks the services that can tell (GNOME's IsInhibited for "idle", logind's ListInhibitors)
    // whether the session counts as inhibited, and runs `done` once all have answered, at the
    // latest a second later; at once while the inhibition is not wanted.
    void confirm(std::function<void()> done);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
