#include "SessionActivity.h"

#include "DBusUtil.h"
#include "X11Display.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>

// Xlib's macros (None, Bool, Status, True...) would break Qt's headers: include it last.
#include <X11/Xlib.h>

namespace morvane {

using namespace dbus;

struct SessionActivity::Impl {
    explicit Impl(QDBusConnection bus)
        : session(std::move(bus))
        , watcher(kScreenSaver, session, QDBusServiceWatcher::WatchForOwnerChange) {}

    QDBusConnection session;
    QDBusServiceWatcher watcher;
    bool present = false;
    QString path = kScreenSaverPaths[0];
    bool pathSettled = false;
    std::unique_ptr<X11Display> x;
    bool xTried = false;
};

SessionActivity::SessionActivity(QDBusConnection session)
    : d(std::make_unique<Impl>(std::move(session))) {
    QObject::connect(&d->watcher, &QDBusServiceWatcher::serviceOwnerChanged, &d->watcher,
                     [this](const QString&, const QString&, const QString& newOwner) {
                         d->present = !newOwner.isEmpty();
                         // A new owner may serve another path than the one before.
                         d->path = kScreenSaverPaths[0];
                         d->pathSettled = false;
                     });
    // Asked once, after the watcher exists, so that no change can fall between the two.
    if (QDBusConnectionInterface* bus = d->session.interface()) {
        const QDBusReply<bool> registered = bus->isServiceRegistered(kScreenSaver);
        d->present = registered.isValid() && registered.value();
    }
}

SessionActivity::~SessionActivity() = default;

bool SessionActivity::screenSaverPresent() const {
    return d->present;
}

void SessionActivity::declare() {
    if (!d->xTried) {
        d->xTried = true;
        if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
            auto x = std::make_unique<X11Display>();
            if (*x)
                d->x = std::move(x);
        }
    }
    if (d->x) {
        XResetScreenSaver(d->x->get());
        XFlush(d->x->get());
    }

    if (!d->present)
        return;
    const QDBusMessage message =
        methodCall(kScreenSaver, d->path, kScreenSaver, QStringLiteral("SimulateUserActivity"));
    if (d->pathSettled) {
        d->session.send(message);
        return;
    }
    // The first reply tells whether this service knows the long path; the tick never waits for it.
    auto* pending = new QDBusPendingCallWatcher(d->session.asyncCall(message, kCallTimeoutMs), &d->watcher);
    QObject::connect(
        pending, &QDBusPendingCallWatcher::finished, &d->watcher, [this](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            if (call->isError() && isUnknownTarget(call->error()) && d->path == kScreenSaverPaths[0])
                d->path = kScreenSaverPaths[1];
            d->pathSettled = true;
        });
}

} // namespace morvane
