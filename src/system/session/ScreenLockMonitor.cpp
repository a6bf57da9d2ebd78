#include "ScreenLockMonitor.h"

#include "DBusUtil.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

#include <unistd.h>

#include <array>
#include <vector>

namespace morvane {

using namespace dbus;

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kLogindSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kLockedHint = QStringLiteral("LockedHint");

struct ScreenSaverService {
    QString name;
    std::vector<QString> paths;
};

const std::array<ScreenSaverService, 2>& screenSaverServices() {
    static const std::array<ScreenSaverService, 2> services{
        ScreenSaverService{kScreenSaver, {kScreenSaverPaths.begin(), kScreenSaverPaths.end()}},
        ScreenSaverService{kGnomeScreenSaver, {QStringLiteral("/org/gnome/ScreenSaver")}}};
    return services;
}

} // namespace

struct ScreenLockMonitor::Impl {
    Impl(ScreenLockMonitor* q, QDBusConnection system, QDBusConnection session)
        : q(q)
        , system(std::move(system))
        , session(std::move(session)) {}

    bool followLogind();
    std::optional<QString> sessionByPid();
    std::optional<QString> sessionById(const QString& id);
    std::optional<QString> sessionAuto();
    std::optional<bool> readLockedHint(const QString& path);
    void rereadLockedHint();
    void followScreenSavers();
    void readActive(const ScreenSaverService& service, size_t pathIndex);
    // Announces a change of the combined state to the subscribers.
    void apply();

    ScreenLockMonitor* q;
    QDBusConnection system;
    QDBusConnection session;
    bool logind = false;
    QString sessionPath;
    bool logindLocked = false;
    bool screenSaverLocked = false; // as the last screensaver service to speak said
    bool locked = false;            // either of the two, as last announced
    std::vector<std::pair<std::function<void()>, std::function<void()>>> subscribers;
    std::unique_ptr<QDBusServiceWatcher> screenSaverWatcher;
};

std::optional<QString> ScreenLockMonitor::Impl::sessionByPid() {
    QDBusMessage m = QDBusMessage::createMethodCall(kLogind, QStringLiteral("/org/freedesktop/login1"),
                                                    kLogindManager, QStringLiteral("GetSessionByPID"));
    m << uint(::getpid());
    return pathReply(system.call(m, QDBus::Block, kCallTimeoutMs));
}

std::optional<QString> ScreenLockMonitor::Impl::sessionById(const QString& id) {
    if (id.isEmpty())
        return std::nullopt;
    QDBusMessage m = QDBusMessage::createMethodCall(kLogind, QStringLiteral("/org/freedesktop/login1"),
                                                    kLogindManager, QStringLiteral("GetSession"));
    m << id;
    return pathReply(system.call(m, QDBus::Block, kCallTimeoutMs));
}

// A process started by the systemd user manager (as some desktops launch their autostart
// entries) belongs to no session; logind's "auto" object then stands for the user's graphical
// session. Its signals come from the session's real path, so resolve that through its Id.
std::optional<QString> ScreenLockMonitor::Impl::sessionAuto() {
    const auto id =
        propertyReply(system.call(propertyGet(kLogind, QStringLiteral("/org/freedesktop/login1/session/auto"),
                                              kLogindSession, QStringLiteral("Id")),
                                  QDBus::Block, kCallTimeoutMs));
    if (!id || id->metaType().id() != QMetaType::QString)
        return std::nullopt;
    return sessionById(id->toString());
}

std::optional<bool> ScreenLockMonitor::Impl::readLockedHint(const QString& path) {
    const auto value = propertyReply(
        system.call(propertyGet(kLogind, path, kLogindSession, kLockedHint), QDBus::Block, kCallTimeoutMs));
    return value ? boolValue(*value) : std::nullopt;
}

bool ScreenLockMonitor::Impl::followLogind() {
    if (!system.isConnected())
        return false;
    const std::array<std::function<std::optional<QString>()>, 3> lookups{
        [this] { return sessionByPid(); },
        [this] { return sessionById(qEnvironmentVariable("XDG_SESSION_ID")); },
        [this] { return sessionAuto(); },
    };
    const char* slot = SLOT(onSessionPropertiesChanged(QString, QVariantMap, QStringList));
    for (const auto& lookup : lookups) {
        const auto path = lookup();
        if (!path)
            continue;
        // Subscribed before the first read, so that a change between the two is not lost.
        if (!system.connect(kLogind, *path, kProperties, QStringLiteral("PropertiesChanged"), q, slot))
            continue;
        // logind answers GetSession with a path even for sessions that are gone; the property
        // read is what proves the session exists.
        if (const auto hint = readLockedHint(*path)) {
            sessionPath = *path;
            logindLocked = locked = *hint;
            logind = true;
            return true;
        }
        system.disconnect(kLogind, *path, kProperties, QStringLiteral("PropertiesChanged"), q, slot);
    }
    return false;
}

void ScreenLockMonitor::Impl::rereadLockedHint() {
    auto* pending = new QDBusPendingCallWatcher(
        system.asyncCall(propertyGet(kLogind, sessionPath, kLogindSession, kLockedHint), kCallTimeoutMs), q);
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, q, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (const auto value = propertyReply(call->reply()))
            if (const auto hint = boolValue(*value)) {
                logindLocked = *hint;
                apply();
            }
    });
}

void ScreenLockMonitor::Impl::followScreenSavers() {
    if (!session.isConnected())
        return;
    screenSaverWatcher = std::make_unique<QDBusServiceWatcher>();
    screenSaverWatcher->setConnection(session);
    screenSaverWatcher->setWatchMode(QDBusServiceWatcher::WatchForRegistration |
                                     QDBusServiceWatcher::WatchForUnregistration);
    screenSaverWatcher->setWatchedServices({kScreenSaver, kGnomeScreenSaver});
    // A locker started after us (autostart entries race at login) is read when it arrives.
    QObject::connect(screenSaverWatcher.get(), &QDBusServiceWatcher::serviceRegistered, q,
                     [this](const QString& name) {
                         for (const ScreenSaverService& service : screenSaverServices())
                             if (service.name == name)
                                 readActive(service, 0);
                     });
    // A locker that leaves the bus (it crashed, say) no longer holds the screen locked beside
    // logind; whichever service remains is asked again.
    QObject::connect(screenSaverWatcher.get(), &QDBusServiceWatcher::serviceUnregistered, q, [this] {
        screenSaverLocked = false;
        apply();
        for (const ScreenSaverService& service : screenSaverServices())
            readActive(service, 0);
    });
    for (const ScreenSaverService& service : screenSaverServices()) {
        // No path: KDE emits from both of its paths, and the duplicates change nothing.
        session.connect(service.name, QString(), service.name, QStringLiteral("ActiveChanged"), q,
                        SLOT(onScreenSaverActiveChanged(bool)));
        readActive(service, 0);
    }
}

void ScreenLockMonitor::Impl::readActive(const ScreenSaverService& service, size_t pathIndex) {
    const QDBusMessage m =
        methodCall(service.name, service.paths[pathIndex], service.name, QStringLiteral("GetActive"));
    auto* pending = new QDBusPendingCallWatcher(session.asyncCall(m, kCallTimeoutMs), q);
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, q,
                     [this, &service, pathIndex](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         const QDBusMessage reply = call->reply();
                         if (const auto value = firstArgument(reply)) {
                             if (const auto active = boolValue(*value)) {
                                 screenSaverLocked = *active;
                                 apply();
                             }
                         } else if (isUnknownTarget(QDBusError(reply)) &&
                                    pathIndex + 1 < service.paths.size()) {
                             readActive(service, pathIndex + 1);
                         }
                     });
}

ScreenLockMonitor::ScreenLockMonitor(QDBusConnection system, QDBusConnection session, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>(this, std::move(system), std::move(session))) {
    d->followLogind();
    d->followScreenSavers();
}

ScreenLockMonitor::~ScreenLockMonitor() = default;

bool ScreenLockMonitor::screenLocked() {
    return d->locked;
}

void ScreenLockMonitor::subscribe(std::function<void()> locked, std::function<void()> unlocked) {
    d->subscribers.emplace_back(std::move(locked), std::move(unlocked));
}

bool ScreenLockMonitor::followsLogind() const {
    return d->logind;
}

void ScreenLockMonitor::onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                   const QStringList& invalidated) {
    if (interface != kLogindSession)
        return;
    const auto it = changed.constFind(kLockedHint);
    if (it != changed.constEnd()) {
        if (const auto hint = boolValue(*it)) {
            d->logindLocked = *hint;
            d->apply();
        }
    } else if (invalidated.contains(kLockedHint)) {
        d->rereadLockedHint();
    }
}

void ScreenLockMonitor::onScreenSaverActiveChanged(bool active) {
    d->screenSaverLocked = active;
    d->apply();
}

void ScreenLockMonitor::Impl::apply() {
    const bool now = logindLocked || screenSaverLocked;
    if (now == locked)
        return;
    locked = now;
    // A copy: a callback may subscribe anew while we iterate.
    const auto subscribers = this->subscribers;
    for (const auto& [onLocked, onUnlocked] : subscribers) {
        const auto& callback = now ? onLocked : onUnlocked;
        if (callback)
            callback();
    }
}

} // namespace morvane
