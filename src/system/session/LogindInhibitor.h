#pragma once

#include "InhibitionState.h"

#include <QDBusConnection>

#include <functional>
#include <memory>
#include <optional>

namespace morvane {

// An "idle" inhibitor of logind (org.freedesktop.login1.Manager.Inhibit, mode "block"), which
// power managers and logind's own IdleAction respect. logind hands out a file descriptor: the
// inhibition lasts while it is open, so releasing is closing it, and the kernel closes it when
// the process ends. Never waits on the bus.
class LogindInhibitor {
public:
    explicit LogindInhibitor(QDBusConnection system);
    ~LogindInhibitor();

    // true asks for the inhibitor unless it is held or asked for; false closes it, and whatever
    // arrives later.
    void set(bool on);
    InhibitionState state() const;
    // Asks logind's ListInhibitors whether an idle inhibitor of ours is listed; `done` gets
    // nothing when logind does not answer (it always runs, at the latest after a second).
    void confirm(std::function<void(std::optional<bool>)> done);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
