#pragma once

#include "Ports.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <memory>

namespace morvane {

// Screen lock, followed through signals so that the tick never waits on the bus: logind's
// session LockedHint (system bus) and the ActiveChanged signal of org.freedesktop.ScreenSaver or
// org.gnome.ScreenSaver (session bus). Some lockers announce themselves only on the session bus
// and leave LockedHint alone, so the screen counts as locked while either source says so; without
// both, never locked.
class ScreenLockMonitor final : public QObject, public ScreenLockProbe, public LockEvents {
    Q_OBJECT
public:
    ScreenLockMonitor(QDBusConnection system, QDBusConnection session, QObject* parent = nullptr);
    ~ScreenLockMonitor() override;
    // The cached state; no bus traffic.
    bool screenLocked() override;
    void subscribe(std::function<void()> locked, std::function<void()> unlocked) override;

    // Whether a logind session was found to follow, for the log and the tests; the screensaver
    // services are followed in any case.
    bool followsLogind() const;

private Q_SLOTS:
    void onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                    const QStringList& invalidated);
    void onScreenSaverActiveChanged(bool active);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
