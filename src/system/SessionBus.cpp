#include "SessionBus.h"

#include "SettingsStore.h"
#include "X11Display.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include <unistd.h>

#include <array>
#include <vector>

// Xlib's macros (None, Bool, Status, True...) would break Qt's headers: include it last.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#undef Bool // collides with QMetaType::Bool below; the declarations that needed it are read

namespace morvane {

namespace {

const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
// KDE serves the interface on both paths; some older services only on the short one.
const std::array<QString, 2> kScreenSaverPaths{QStringLiteral("/org/freedesktop/ScreenSaver"),
                                               QStringLiteral("/ScreenSaver")};
const QString kGnomeScreenSaver = QStringLiteral("org.gnome.ScreenSaver");
const QString kGnomeSession = QStringLiteral("org.gnome.SessionManager");
const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kLogindSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kLockedHint = QStringLiteral("LockedHint");
const QString kInhibitReason = QStringLiteral("Morvane mantiene la pantalla activa");

// Local services answer in milliseconds; a hung one must not stall the engine for long.
constexpr int kCallTimeoutMs = 1000;

// gnome-session's inhibit flag for "the session must not be marked idle".
constexpr uint kGnomeInhibitIdle = 8;

QDBusMessage methodCall(const QString& service, const QString& path, const QString& interface,
                        const QString& method) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
    // The desktop's own running service is wanted, never one the bus would start on demand.
    m.setAutoStartService(false);
    return m;
}

// The object or method is missing at this path (the service itself answered).
bool isUnknownTarget(const QDBusError& error) {
    return error.type() == QDBusError::UnknownObject || error.type() == QDBusError::UnknownMethod ||
           error.type() == QDBusError::UnknownInterface;
}

std::optional<QVariant> firstArgument(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst();
}

std::optional<uint> uintReply(const QDBusMessage& reply) {
    const auto value = firstArgument(reply);
    if (!value || value->metaType().id() != QMetaType::UInt)
        return std::nullopt;
    return value->toUInt();
}

std::optional<QString> pathReply(const QDBusMessage& reply) {
    const auto value = firstArgument(reply);
    if (!value || value->metaType() != QMetaType::fromType<QDBusObjectPath>())
        return std::nullopt;
    return qvariant_cast<QDBusObjectPath>(*value).path();
}

std::optional<bool> boolValue(const QVariant& value) {
    if (value.metaType().id() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

// The value inside the reply to Properties.Get.
std::optional<QVariant> propertyReply(const QDBusMessage& reply) {
    const auto value = firstArgument(reply);
    if (!value || value->metaType() != QMetaType::fromType<QDBusVariant>())
        return std::nullopt;
    return qvariant_cast<QDBusVariant>(*value).variant();
}

QDBusMessage propertyGet(const QString& service, const QString& path, const QString& interface,
                         const QString& name) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, kProperties, QStringLiteral("Get"));
    m << interface << name;
    return m;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// SessionActivity

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

// ---------------------------------------------------------------------------------------------
// DBusNotifier

DBusNotifier::DBusNotifier(SettingsStore& store, QDBusConnection session)
    : m_store(store)
    , m_session(std::move(session)) {}

void DBusNotifier::setup() {
    // Notification daemons ask no permission; one that is not running yet is started by the bus
    // at the first Notify, so there is nothing to prepare.
}

void DBusNotifier::send(const QString& title, const QString& body) {
    if (!m_store.p().notifications)
        return;
    QDBusMessage m = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // replaces_id 0 makes every call a notification of its own; -1 leaves the timeout to the daemon.
    m << QStringLiteral("Morvane") << uint(0) << QString() << title << body << QStringList() << QVariantMap()
      << int(-1);
    m_session.send(m);
}

// ---------------------------------------------------------------------------------------------
// SessionSleepGuard

SessionSleepGuard::SessionSleepGuard(QDBusConnection session)
    : m_session(std::move(session)) {}

SessionSleepGuard::~SessionSleepGuard() {
    if (m_active)
        release();
}

void SessionSleepGuard::set(bool on) {
    if (on && !m_active)
        take();
    else if (!on && m_active)
        release();
}

void SessionSleepGuard::take() {
    for (const QString& path : kScreenSaverPaths) {
        QDBusMessage m = methodCall(kScreenSaver, path, kScreenSaver, QStringLiteral("Inhibit"));
        m << QStringLiteral("Morvane") << kInhibitReason;
        const QDBusMessage reply = m_session.call(m, QDBus::Block, kCallTimeoutMs);
        if (const auto cookie = uintReply(reply)) {
            m_screenSaverCookie = cookie;
            m_screenSaverPath = path;
            break;
        }
        if (!isUnknownTarget(QDBusError(reply)))
            break;
    }

    QDBusMessage gnome = methodCall(kGnomeSession, QStringLiteral("/org/gnome/SessionManager"), kGnomeSession,
                                    QStringLiteral("Inhibit"));
    gnome << QStringLiteral("Morvane") << uint(0) << kInhibitReason << kGnomeInhibitIdle;
    m_gnomeCookie = uintReply(m_session.call(gnome, QDBus::Block, kCallTimeoutMs));

    m_xSuspended = suspendX(true);
    m_active = m_screenSaverCookie || m_gnomeCookie || m_xSuspended;
}

void SessionSleepGuard::release() {
    // Nobody waits for the answers: a release that fails leaves nothing we could do about it.
    if (m_screenSaverCookie) {
        QDBusMessage m =
            methodCall(kScreenSaver, m_screenSaverPath, kScreenSaver, QStringLiteral("UnInhibit"));
        m << *m_screenSaverCookie;
        m_session.send(m);
        m_screenSaverCookie.reset();
    }
    if (m_gnomeCookie) {
        QDBusMessage m = methodCall(kGnomeSession, QStringLiteral("/org/gnome/SessionManager"), kGnomeSession,
                                    QStringLiteral("Uninhibit"));
        m << *m_gnomeCookie;
        m_session.send(m);
        m_gnomeCookie.reset();
    }
    if (m_xSuspended) {
        suspendX(false);
        m_xSuspended = false;
    }
    m_active = false;
}

bool SessionSleepGuard::suspendX(bool suspend) {
    if (!m_xTried) {
        m_xTried = true;
        if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
            auto x = std::make_unique<X11Display>();
            int event = 0, error = 0, major = 0, minor = 0;
            // Suspend came with version 1.1 of MIT-SCREEN-SAVER. Asking an older server would be a
            // protocol error, and Xlib's default error handler ends the process.
            if (*x && XScreenSaverQueryExtension(x->get(), &event, &error) &&
                XScreenSaverQueryVersion(x->get(), &major, &minor) &&
                (major > 1 || (major == 1 && minor >= 1)))
                m_x = std::move(x);
        }
    }
    if (!m_x)
        return false;
    // The server counts suspensions per client and drops ours when this connection closes.
    XScreenSaverSuspend(m_x->get(), suspend ? True : False);
    XFlush(m_x->get());
    return true;
}

// ---------------------------------------------------------------------------------------------
// ScreenLockMonitor

namespace {

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

    ScreenLockMonitor* q;
    QDBusConnection system;
    QDBusConnection session;
    Source source = Source::Nothing;
    QString sessionPath;
    bool locked = false;
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
            locked = *hint;
            source = Source::Logind;
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
            if (const auto hint = boolValue(*value))
                q->apply(*hint);
    });
}

void ScreenLockMonitor::Impl::followScreenSavers() {
    if (!session.isConnected())
        return;
    source = Source::ScreenSaver;
    screenSaverWatcher = std::make_unique<QDBusServiceWatcher>();
    screenSaverWatcher->setConnection(session);
    screenSaverWatcher->setWatchMode(QDBusServiceWatcher::WatchForRegistration);
    screenSaverWatcher->setWatchedServices({kScreenSaver, kGnomeScreenSaver});
    // A locker started after us (autostart entries race at login) is read when it arrives.
    QObject::connect(screenSaverWatcher.get(), &QDBusServiceWatcher::serviceRegistered, q,
                     [this](const QString& name) {
                         for (const ScreenSaverService& service : screenSaverServices())
                             if (service.name == name)
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
                             if (const auto active = boolValue(*value))
                                 q->apply(*active);
                         } else if (isUnknownTarget(QDBusError(reply)) &&
                                    pathIndex + 1 < service.paths.size()) {
                             readActive(service, pathIndex + 1);
                         }
                     });
}

ScreenLockMonitor::ScreenLockMonitor(QDBusConnection system, QDBusConnection session, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>(this, std::move(system), std::move(session))) {
    if (!d->followLogind())
        d->followScreenSavers();
}

ScreenLockMonitor::~ScreenLockMonitor() = default;

bool ScreenLockMonitor::screenLocked() {
    return d->locked;
}

void ScreenLockMonitor::subscribe(std::function<void()> locked, std::function<void()> unlocked) {
    d->subscribers.emplace_back(std::move(locked), std::move(unlocked));
}

ScreenLockMonitor::Source ScreenLockMonitor::source() const {
    return d->source;
}

void ScreenLockMonitor::onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                   const QStringList& invalidated) {
    if (interface != kLogindSession)
        return;
    const auto it = changed.constFind(kLockedHint);
    if (it != changed.constEnd()) {
        if (const auto hint = boolValue(*it))
            apply(*hint);
    } else if (invalidated.contains(kLockedHint)) {
        d->rereadLockedHint();
    }
}

void ScreenLockMonitor::onScreenSaverActiveChanged(bool active) {
    apply(active);
}

void ScreenLockMonitor::apply(bool locked) {
    if (locked == d->locked)
        return;
    d->locked = locked;
    // A copy: a callback may subscribe anew while we iterate.
    const auto subscribers = d->subscribers;
    for (const auto& [onLocked, onUnlocked] : subscribers) {
        const auto& callback = locked ? onLocked : onUnlocked;
        if (callback)
            callback();
    }
}

} // namespace morvane
