#include "MutterIdleTime.h"

#include "DBusUtil.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>

#include <chrono>
#include <optional>

namespace morvane {

using namespace dbus;
using Steady = std::chrono::steady_clock;

namespace {

const QString kService = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString kPath = QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");
const QString kInterface = QStringLiteral("org.gnome.Mutter.IdleMonitor");

// Input less than this long ago counts as "now": the engine ticks once a second, so a finer
// watch would only add signals while the user types.
constexpr std::chrono::milliseconds kIdleWatch{1000};

std::optional<qulonglong> idletimeReply(const QDBusMessage& reply) {
    const auto value = firstArgument(reply);
    if (!value || value->metaType().id() != QMetaType::ULongLong)
        return std::nullopt;
    return value->toULongLong();
}

} // namespace

struct MutterIdleTime::Impl {
    explicit Impl(QDBusConnection bus)
        : session(std::move(bus))
        , watcher(kService, session, QDBusServiceWatcher::WatchForOwnerChange) {}

    enum class State { unknown, active, idle };

    QDBusConnection session;
    QDBusServiceWatcher watcher;
    // Replies to calls made for an earlier owner of the name are dropped.
    int generation = 0;
    State state = State::unknown;
    Steady::time_point lastInput;
    std::optional<uint> idleWatch;
    std::optional<uint> activeWatch;
    bool activeWatchAsked = false;
    // Mutter fires a new idle watch at once when the session is already idle for longer; that
    // first firing says nothing about when the last input was.
    bool idleWatchFresh = false;
    // Watches of ours that fired before the reply naming them arrived.
    QList<uint> earlyFires;
    std::function<void()> edge;

    void tell() const {
        if (edge)
            edge();
    }

    QDBusMessage call(const QString& method) const { return methodCall(kService, kPath, kInterface, method); }

    template <typename Done> void callAsync(const QDBusMessage& message, Done done) {
        auto* pending = new QDBusPendingCallWatcher(session.asyncCall(message, kCallTimeoutMs), &watcher);
        QObject::connect(pending, &QDBusPendingCallWatcher::finished, &watcher,
                         [this, done, asked = generation](QDBusPendingCallWatcher* call) {
                             call->deleteLater();
                             if (asked == generation)
                                 done(call->reply());
                         });
    }

    void becameIdle(Steady::time_point inputAt) {
        state = State::idle;
        lastInput = inputAt;
        armActiveWatch();
        tell();
    }

    void becameActive() {
        state = State::active;
        lastInput = Steady::now();
        tell();
    }

    // The user-active watch fires once and is gone; it is armed again each time the session
    // turns idle.
    void armActiveWatch() {
        if (activeWatch || activeWatchAsked)
            return;
        activeWatchAsked = true;
        callAsync(call(QStringLiteral("AddUserActiveWatch")), [this](const QDBusMessage& reply) {
            activeWatchAsked = false;
            const std::optional<uint> id = uintReply(reply);
            if (!id)
                return;
            if (earlyFires.removeAll(*id) > 0)
                becameActive();
            else
                activeWatch = id;
        });
    }

    // Sets up the watches on a monitor that has just appeared. The user-active watch goes first,
    // so that input after the idle time is read fires it; the idle watch goes last, once the
    // state is known.
    void follow() {
        armActiveWatch();
        callAsync(call(QStringLiteral("GetIdletime")), [this](const QDBusMessage& reply) {
            const std::optional<qulonglong> ms = idletimeReply(reply);
            if (!ms)
                return;
            const auto idleFor = std::chrono::milliseconds(qint64(std::min<qulonglong>(*ms, 1ULL << 50)));
            if (idleFor >= kIdleWatch) {
                becameIdle(Steady::now() - idleFor);
            } else {
                state = State::active;
                lastInput = Steady::now() - idleFor;
                tell();
            }
            QDBusMessage addIdle = call(QStringLiteral("AddIdleWatch"));
            addIdle << qulonglong(kIdleWatch.count());
            idleWatchFresh = true;
            callAsync(addIdle, [this](const QDBusMessage& added) { idleWatch = uintReply(added); });
        });
    }

    void forget() {
        ++generation;
        state = State::unknown;
        idleWatch.reset();
        activeWatch.reset();
        activeWatchAsked = false;
        idleWatchFresh = false;
        earlyFires.clear();
    }

    void removeWatches() {
        for (const std::optional<uint>& id : {idleWatch, activeWatch}) {
            if (!id)
                continue;
            QDBusMessage remove = call(QStringLiteral("RemoveWatch"));
            remove << *id;
            session.send(remove);
        }
    }
};

MutterIdleTime::MutterIdleTime(QDBusConnection session, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>(std::move(session))) {
    connect(&d->watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                // Watches live in the compositor: a new one knows none of ours.
                d->forget();
                if (!newOwner.isEmpty())
                    d->follow();
            });
    d->session.connect(kService, kPath, kInterface, QStringLiteral("WatchFired"), this,
                       SLOT(onWatchFired(uint)));
    if (QDBusConnectionInterface* bus = d->session.isConnected() ? d->session.interface() : nullptr) {
        const QDBusReply<bool> registered = bus->isServiceRegistered(kService);
        if (registered.isValid() && registered.value())
            d->follow();
    }
}

MutterIdleTime::~MutterIdleTime() {
    d->removeWatches();
}

void MutterIdleTime::watch(std::function<void()> edge) {
    d->edge = std::move(edge);
}

double MutterIdleTime::idleSeconds() {
    if (d->state != Impl::State::idle)
        return 0;
    return std::chrono::duration<double>(Steady::now() - d->lastInput).count();
}

bool MutterIdleTime::following() const {
    return d->state != Impl::State::unknown;
}

void MutterIdleTime::onWatchFired(uint id) {
    if (id == d->idleWatch) {
        const bool stale = d->idleWatchFresh && d->state == Impl::State::idle;
        d->idleWatchFresh = false;
        if (!stale)
            d->becameIdle(Steady::now() - kIdleWatch);
    } else if (id == d->activeWatch) {
        d->activeWatch.reset();
        d->becameActive();
    } else if (d->activeWatchAsked) {
        // Possibly ours, before the reply with its number; the list stays short since other
        // clients' watches rarely fire in that gap.
        d->earlyFires.append(id);
        if (d->earlyFires.size() > 8)
            d->earlyFires.removeFirst();
    }
}

} // namespace morvane
