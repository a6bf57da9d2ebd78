#pragma once

#include "Ports.h"

#include <QDBusConnection>
#include <QObject>

#include <memory>

namespace morvane {

// The compositor's idle time under GNOME on Wayland, from org.gnome.Mutter.IdleMonitor. Asking
// GetIdletime on every tick would cost a bus round trip each second, so the monitor is followed
// through two watches instead: an idle watch that fires once the session has been idle for a
// second, and a user-active watch, armed while idle, that fires at the next input. idleSeconds()
// then answers from the instant of the last input without touching the bus. A compositor that
// restarts is followed anew.
class MutterIdleTime final : public QObject, public IdleTime {
    Q_OBJECT
public:
    explicit MutterIdleTime(QDBusConnection session, QObject* parent = nullptr);
    ~MutterIdleTime() override;
    // Seconds since the last input the compositor saw; 0 while input is coming (less than a
    // second ago) and while the monitor is not known yet or gone.
    double idleSeconds() override;
    // Whether the monitor has answered since it last appeared.
    bool following() const;
    // The same: before the first answer, or with Mutter gone, idleSeconds() means nothing.
    bool available() override { return following(); }
    // The two watches above are the edges.
    bool canWatch() override { return true; }
    void watch(std::function<void()> edge) override;

private Q_SLOTS:
    void onWatchFired(uint id);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
