#include "ExtensionHint.h"

#include "ControlContract.h"
#include "SettingsStore.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>

namespace morvane {

namespace {

const QString kShell = QStringLiteral("org.gnome.Shell");
const QString kShellPath = QStringLiteral("/org/gnome/Shell");
const QString kShellExtensions = QStringLiteral("org.gnome.Shell.Extensions");
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
// Every client hears every ActionInvoked: the key is Morvane's own.
const QString kEnableAction = QStringLiteral("morvane-enable-extension");

// GNOME Shell's extension states (GetExtensionInfo's "state").
enum ShellState { active = 1, inactive = 2, failed = 3, outOfDate = 4, initialized = 6 };

} // namespace

ExtensionHint::ExtensionHint(QDBusConnection bus, const SettingsStore& store, QStringList dataDirs,
                             QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_store(store)
    , m_dataDirs(std::move(dataDirs)) {}

bool ExtensionHint::canEnable(const QVariantMap& info) {
    const int state = int(info.value(QStringLiteral("state"), 0.0).toDouble());
    return state == inactive || state == initialized;
}

QStringList ExtensionHint::standardDataDirs() {
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(home))
        home = QDir::homePath() + QStringLiteral("/.local/share");
    QStringList dirs{home};
    const QString system =
        qEnvironmentVariable("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    for (const QString& dir : system.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(dir))
            dirs << dir;
    }
    return dirs;
}

bool ExtensionHint::installed() const {
    for (const QString& dir : m_dataDirs) {
        if (QFileInfo::exists(dir + QStringLiteral("/gnome-shell/extensions/") + contract::kExtensionUuid +
                              QStringLiteral("/metadata.json")))
            return true;
    }
    return false;
}

std::optional<QString> ExtensionHint::message(const QVariantMap& info, bool installed) {
    if (info.isEmpty()) {
        // GNOME Shell reads its extension folders when the session starts.
        if (!installed)
            return std::nullopt;
        return QStringLiteral("GNOME verá la extensión de Morvane cuando cierres sesión y vuelvas a entrar. "
                              "Después, activala en Extensiones → Morvane.");
    }
    bool known = false;
    const int state = int(info.value(QStringLiteral("state")).toDouble(&known));
    if (!known)
        return std::nullopt;
    switch (state) {
    case inactive:
    case initialized:
        return QStringLiteral("GNOME no tiene bandeja del sistema. Para ver Morvane en la barra superior, "
                              "activalo en Extensiones → Morvane.");
    case failed:
    case outOfDate: {
        const QString error = info.value(QStringLiteral("error")).toString().trimmed();
        return QStringLiteral("La extensión de Morvane no pudo cargarse en esta versión de GNOME") +
               (error.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + error);
    }
    default:
        return std::nullopt;
    }
}

void ExtensionHint::check() {
    if (m_done || !m_bus.isConnected() || !m_bus.interface() ||
        !m_bus.interface()->isServiceRegistered(kShell).value())
        return;
    m_done = true;
    QDBusMessage call = QDBusMessage::createMethodCall(kShell, kShellPath, kShellExtensions,
                                                       QStringLiteral("GetExtensionInfo"));
    call << contract::kExtensionUuid;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QVariantMap> reply = *w;
        if (reply.isError())
            return;
        if (const std::optional<QString> text = message(reply.value(), installed()))
            notify(*text, canEnable(reply.value()));
    });
}

void ExtensionHint::notify(const QString& text, bool offerToEnable) {
    if (!m_store.p().notifications)
        return;
    QStringList actions;
    if (offerToEnable) {
        actions << kEnableAction << QStringLiteral("Activar");
        m_bus.connect(kNotifications, kNotificationsPath, kNotifications, QStringLiteral("ActionInvoked"),
                      this, SLOT(actionInvoked(uint, QString)));
    }
    QDBusMessage m = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath, kNotifications,
                                                    QStringLiteral("Notify"));
    m << QStringLiteral("Morvane") << uint(0) << QString() << kTitle << text << actions << QVariantMap()
      << int(-1);
    m_awaitingId = offerToEnable;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(m), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, offerToEnable](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                m_awaitingId = false;
                if (offerToEnable && !reply.isError() && m_notification != kAnswered)
                    m_notification = reply.value();
            });
}

void ExtensionHint::actionInvoked(uint id, const QString& action) {
    // The button may be pressed before the daemon's answer with the notification's number arrived.
    if (action != kEnableAction || m_notification == kAnswered || (id != m_notification && !m_awaitingId))
        return;
    m_notification = kAnswered;
    QDBusMessage enable = QDBusMessage::createMethodCall(kShell, kShellPath, kShellExtensions,
                                                         QStringLiteral("EnableExtension"));
    enable << contract::kExtensionUuid;
    m_bus.asyncCall(enable);
}

} // namespace morvane
