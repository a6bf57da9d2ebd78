#include "SessionSleepGuard.h"

#include "DBusUtil.h"
#include "LogindInhibitor.h"
#include "X11Display.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <vector>

// Xlib's macros (None, Bool, Status, True...) would break Qt's headers: include it last.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace morvane {

using namespace dbus;

namespace {

const QString kInhibitReason = QStringLiteral("Morvane mantiene la pantalla activa");
const QString kGnomeSessionPath = QStringLiteral("/org/gnome/SessionManager");

// gnome-session's inhibit flag for "the session must not be marked idle".
constexpr uint kGnomeInhibitIdle = 8;

// libdbus's "no timeout". A desktop busy at login may answer many seconds late, and a reply that
// timed out on our side would carry away a cookie nobody could release.
constexpr int kNoTimeout = std::numeric_limits<int>::max();

// One service's inhibition: at most one request in flight and one cookie held at a time.
struct Inhibition {
    Inhibition(QString service, std::vector<QString> paths, QString releaseMethod, QVariantList arguments)
        : service(std::move(service))
        , paths(std::move(paths))
        , releaseMethod(std::move(releaseMethod))
        , arguments(std::move(arguments)) {}

    QString service;            // also the interface's name
    std::vector<QString> paths; // tried in order while the object is unknown at one
    QString releaseMethod;
    QVariantList arguments; // of Inhibit

    bool pending = false;
    bool refused = false; // the last request failed at a service that is there
    bool absent = false;  // the last request found no service
    std::optional<bool> confirmed;
    std::optional<uint> cookie;
    QString cookiePath;
    // Counts the service's owners: a cookie from an owner that has left the bus means nothing.
    quint64 owner = 0;
};

} // namespace

struct SessionSleepGuard::Impl {
    Impl(QDBusConnection bus, QDBusConnection systemBus)
        : session(std::move(bus))
        , logind(std::move(systemBus))
        , inhibitions{Inhibition(kScreenSaver, {kScreenSaverPaths.begin(), kScreenSaverPaths.end()},
                                 QStringLiteral("UnInhibit"), {QStringLiteral("Morvane"), kInhibitReason}),
                      Inhibition(kGnomeSession, {kGnomeSessionPath}, QStringLiteral("Uninhibit"),
                                 {QStringLiteral("Morvane"), uint(0), kInhibitReason, kGnomeInhibitIdle})}
        , watcher(QString(), session, QDBusServiceWatcher::WatchForOwnerChange) {
        watcher.setWatchedServices({kScreenSaver, kGnomeSession});
        QObject::connect(&watcher, &QDBusServiceWatcher::serviceOwnerChanged, &watcher,
                         [this](const QString& name, const QString&, const QString& newOwner) {
                             for (Inhibition& inhibition : inhibitions)
                                 if (inhibition.service == name)
                                     ownerChanged(inhibition, !newOwner.isEmpty());
                         });
    }

    void take(Inhibition& inhibition, size_t pathIndex);
    void taken(Inhibition& inhibition, size_t pathIndex, quint64 owner, const QDBusMessage& reply);
    void release(Inhibition& inhibition);
    void sendRelease(const Inhibition& inhibition, const QString& path, uint cookie);
    void ownerChanged(Inhibition& inhibition, bool present);
    bool suspendX(bool suspend);

    void confirmGnome(std::function<void(std::optional<bool>)> done);

    QDBusConnection session;
    LogindInhibitor logind;
    std::optional<bool> logindConfirmed;
    std::array<Inhibition, 2> inhibitions;
    QDBusServiceWatcher watcher; // also the context of every reply handler
    bool wanted = false;

    std::unique_ptr<X11Display> x;
    bool xTried = false;
    bool xSuspended = false;
};

void SessionSleepGuard::Impl::take(Inhibition& inhibition, size_t pathIndex) {
    QDBusMessage m = methodCall(inhibition.service, inhibition.paths[pathIndex], inhibition.service,
                                QStringLiteral("Inhibit"));
    m.setArguments(inhibition.arguments);
    inhibition.pending = true;
    auto* call = new QDBusPendingCallWatcher(session.asyncCall(m, kNoTimeout), &watcher);
    QObject::connect(call, &QDBusPendingCallWatcher::finished, &watcher,
                     [this, &inhibition, pathIndex, owner = inhibition.owner](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         taken(inhibition, pathIndex, owner, call->reply());
                     });
}

void SessionSleepGuard::Impl::taken(Inhibition& inhibition, size_t pathIndex, quint64 owner,
                                    const QDBusMessage& reply) {
    inhibition.pending = false;
    const bool sameOwner = owner == inhibition.owner;
    const auto cookie = uintReply(reply);
    const QDBusError error(reply);
    inhibition.absent =
        !cookie && (error.type() == QDBusError::ServiceUnknown ||
                    error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"));
    inhibition.refused = !cookie && !inhibition.absent;
    if (cookie && sameOwner) {
        if (wanted && !inhibition.cookie) {
            inhibition.cookie = cookie;
            inhibition.cookiePath = inhibition.paths[pathIndex];
        } else {
            // Switched off while the request was on its way: this cookie has no other owner.
            sendRelease(inhibition, inhibition.paths[pathIndex], *cookie);
        }
        return;
    }
    if (!wanted || inhibition.cookie)
        return;
    if (!sameOwner)
        take(inhibition, 0);
    else if (isUnknownTarget(error) && pathIndex + 1 < inhibition.paths.size())
        take(inhibition, pathIndex + 1);
}

void SessionSleepGuard::Impl::release(Inhibition& inhibition) {
    if (inhibition.cookie)
        sendRelease(inhibition, inhibition.cookiePath, *inhibition.cookie);
    inhibition.cookie.reset();
    inhibition.confirmed.reset();
}

void SessionSleepGuard::Impl::sendRelease(const Inhibition& inhibition, const QString& path, uint cookie) {
    // Nobody waits for the answer: a release that fails leaves nothing we could do about it.
    QDBusMessage m = methodCall(inhibition.service, path, inhibition.service, inhibition.releaseMethod);
    m << cookie;
    session.send(m);
}

void SessionSleepGuard::Impl::ownerChanged(Inhibition& inhibition, bool present) {
    // The owner that handed out the cookie has left, and its inhibitions with it; the number
    // might mean another client's inhibition to the next owner.
    ++inhibition.owner;
    inhibition.cookie.reset();
    // A request in flight is answered by the old owner or fails; its handler asks again.
    if (present && wanted && !inhibition.pending)
        take(inhibition, 0);
}

bool SessionSleepGuard::Impl::suspendX(bool suspend) {
    if (!xTried) {
        xTried = true;
        if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
            auto display = std::make_unique<X11Display>();
            int event = 0, error = 0, major = 0, minor = 0;
            // Suspend came with version 1.1 of MIT-SCREEN-SAVER. Asking an older server would be a
            // protocol error, and Xlib's default error handler ends the process.
            if (*display && XScreenSaverQueryExtension(display->get(), &event, &error) &&
                XScreenSaverQueryVersion(display->get(), &major, &minor) &&
                (major > 1 || (major == 1 && minor >= 1)))
                x = std::move(display);
        }
    }
    if (!x)
        return false;
    // The server counts suspensions per client and drops ours when this connection closes.
    XScreenSaverSuspend(x->get(), suspend ? True : False);
    XFlush(x->get());
    return true;
}

SessionSleepGuard::SessionSleepGuard(QDBusConnection session)
    : SessionSleepGuard(std::move(session), QDBusConnection(QString())) {}

SessionSleepGuard::SessionSleepGuard(QDBusConnection session, QDBusConnection system)
    : d(std::make_unique<Impl>(std::move(session), std::move(system))) {}

SessionSleepGuard::~SessionSleepGuard() {
    // Requests still in flight lose their handler with the watcher; their services drop the
    // inhibitions when this connection leaves the bus.
    set(false);
}

void SessionSleepGuard::set(bool on) {
    d->wanted = on;
    for (Inhibition& inhibition : d->inhibitions) {
        if (!on)
            d->release(inhibition);
        else if (!inhibition.pending && !inhibition.cookie)
            d->take(inhibition, 0);
    }
    d->logind.set(on);
    if (!on)
        d->logindConfirmed.reset();
    if (on != d->xSuspended)
        d->xSuspended = d->suspendX(on) && on;
}

bool SessionSleepGuard::active() const {
    return d->xSuspended ||
           std::any_of(d->inhibitions.begin(), d->inhibitions.end(),
                       [](const Inhibition& inhibition) { return inhibition.cookie.has_value(); });
}

std::vector<InhibitionStatus> SessionSleepGuard::inhibitions() const {
    std::vector<InhibitionStatus> out;
    for (const Inhibition& inhibition : d->inhibitions) {
        InhibitionState state = InhibitionState::off;
        if (d->wanted) {
            if (inhibition.cookie)
                state = InhibitionState::held;
            else if (inhibition.pending)
                state = InhibitionState::asking;
            else if (inhibition.absent)
                state = InhibitionState::absent;
            else if (inhibition.refused)
                state = InhibitionState::refused;
        }
        out.push_back({inhibition.service, state, inhibition.confirmed});
    }
    out.push_back({QStringLiteral("org.freedesktop.login1"), d->logind.state(), d->logindConfirmed});
    const InhibitionState x = !d->wanted      ? InhibitionState::off
                              : d->xSuspended ? InhibitionState::held
                                              : InhibitionState::absent;
    out.push_back({QStringLiteral("X11"), x, std::nullopt});
    return out;
}

void SessionSleepGuard::Impl::confirmGnome(std::function<void(std::optional<bool>)> done) {
    QDBusMessage m =
        methodCall(kGnomeSession, kGnomeSessionPath, kGnomeSession, QStringLiteral("IsInhibited"));
    m << kGnomeInhibitIdle;
    auto* call = new QDBusPendingCallWatcher(session.asyncCall(m, kCallTimeoutMs), &watcher);
    QObject::connect(call, &QDBusPendingCallWatcher::finished, &watcher,
                     [done](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         const auto value = firstArgument(call->reply());
                         done(value ? boolValue(*value) : std::nullopt);
                     });
}

void SessionSleepGuard::confirm(std::function<void()> done) {
    if (!d->wanted) {
        done();
        return;
    }
    // Both answers come back on this thread; the last one to arrive calls `done`.
    auto remaining = std::make_shared<int>(2);
    const auto answered = [remaining, done] {
        if (--*remaining == 0)
            done();
    };
    Inhibition& gnome = d->inhibitions[1];
    d->confirmGnome([this, &gnome, answered](std::optional<bool> inhibited) {
        gnome.confirmed = d->wanted ? inhibited : std::nullopt;
        answered();
    });
    d->logind.confirm([this, answered](std::optional<bool> listed) {
        d->logindConfirmed = d->wanted ? listed : std::nullopt;
        answered();
    });
}

} // namespace morvane
