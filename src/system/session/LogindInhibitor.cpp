#include "LogindInhibitor.h"

#include "DBusUtil.h"

#include <QDBusArgument>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QObject>

#include <limits>

namespace morvane {

using namespace dbus;

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kWho = QStringLiteral("Morvane");
const QString kWhy = QStringLiteral("Morvane mantiene la pantalla activa");

// As for the session services: a late answer is still taken, so that its descriptor is closed.
constexpr int kNoTimeout = std::numeric_limits<int>::max();

bool isAbsent(const QDBusError& error) {
    return error.type() == QDBusError::ServiceUnknown ||
           error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

// Whether ListInhibitors' a(ssssuu) (what, who, why, mode, uid, pid) lists an idle block of ours.
std::optional<bool> listsOurs(const QDBusMessage& reply) {
    const auto value = firstArgument(reply);
    if (!value || value->metaType() != QMetaType::fromType<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument list = qvariant_cast<QDBusArgument>(*value);
    if (list.currentSignature() != QLatin1String("a(ssssuu)"))
        return std::nullopt;
    bool found = false;
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        found = found || (who == kWho && why == kWhy && mode == QLatin1String("block") &&
                          what.split(QLatin1Char(':')).contains(QLatin1String("idle")));
    }
    list.endArray();
    return found;
}

} // namespace

struct LogindInhibitor::Impl {
    explicit Impl(QDBusConnection bus)
        : system(std::move(bus)) {}

    template <typename Done> void callAsync(const QDBusMessage& message, int timeoutMs, Done done) {
        auto* pending = new QDBusPendingCallWatcher(system.asyncCall(message, timeoutMs), &context);
        QObject::connect(pending, &QDBusPendingCallWatcher::finished, &context,
                         [done](QDBusPendingCallWatcher* call) {
                             call->deleteLater();
                             done(call->reply());
                         });
    }

    void take() {
        if (!system.isConnected()) {
            absent = true;
            return;
        }
        QDBusMessage m = methodCall(kLogind, kLogindPath, kManager, QStringLiteral("Inhibit"));
        m << QStringLiteral("idle") << kWho << kWhy << QStringLiteral("block");
        pending = true;
        callAsync(m, kNoTimeout, [this](const QDBusMessage& reply) {
            pending = false;
            const auto value = firstArgument(reply);
            if (value && value->metaType() == QMetaType::fromType<QDBusUnixFileDescriptor>()) {
                const auto descriptor = qvariant_cast<QDBusUnixFileDescriptor>(*value);
                refused = absent = false;
                // Switched off meanwhile: the copy in the reply closes with it.
                if (wanted && !fd && descriptor.isValid())
                    fd = descriptor;
                return;
            }
            const QDBusError error(reply);
            absent = isAbsent(error);
            refused = !absent;
        });
    }

    QDBusConnection system;
    QObject context; // of every reply handler: none runs once this is gone
    bool wanted = false;
    bool pending = false;
    bool refused = false;
    bool absent = false;
    std::optional<QDBusUnixFileDescriptor> fd;
};

LogindInhibitor::LogindInhibitor(QDBusConnection system)
    : d(std::make_unique<Impl>(std::move(system))) {}

LogindInhibitor::~LogindInhibitor() = default;

void LogindInhibitor::set(bool on) {
    d->wanted = on;
    if (!on)
        d->fd.reset();
    else if (!d->pending && !d->fd)
        d->take();
}

InhibitionState LogindInhibitor::state() const {
    if (!d->wanted)
        return InhibitionState::off;
    if (d->fd)
        return InhibitionState::held;
    if (d->pending)
        return InhibitionState::asking;
    return d->absent ? InhibitionState::absent
                     : (d->refused ? InhibitionState::refused : InhibitionState::off);
}

void LogindInhibitor::confirm(std::function<void(std::optional<bool>)> done) {
    if (!d->system.isConnected()) {
        done(std::nullopt);
        return;
    }
    d->callAsync(methodCall(kLogind, kLogindPath, kManager, QStringLiteral("ListInhibitors")), kCallTimeoutMs,
                 [done](const QDBusMessage& reply) { done(listsOurs(reply)); });
}

} // namespace morvane
