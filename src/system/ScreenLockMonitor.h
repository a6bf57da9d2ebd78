#pragma once

#include "Ports.h"

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <memory>

namespace morvane {

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
