#include "ExtensionHint.h"

#include "ControlContract.h"
#include "Ports.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>

namespace morvane {

namespace {

const QString kShellExtensions = QStringLiteral("org.gnome.Shell.Extensions");

// GNOME Shell's extension states (GetExtensionInfo's "state").
enum ShellState { active = 1, inactive = 2, failed = 3, outOfDate = 4, initialized = 6 };

} // namespace

ExtensionHint::ExtensionHint(QDBusConnection bus, Notifier& notifier, QStringList dataDirs, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_notifier(notifier)
    , m_dataDirs(std::move(dataDirs)) {}

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
        !m_bus.interface()->isServiceRegistered(QStringLiteral("org.gnome.Shell")).value())
        return;
    m_done = true;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Shell"), QStringLiteral("/org/gnome/Shell"),
                                       kShellExtensions, QStringLiteral("GetExtensionInfo"));
    call << contract::kExtensionUuid;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QVariantMap> reply = *w;
        if (reply.isError())
            return;
        if (const std::optional<QString> text = message(reply.value(), installed()))
            m_notifier.send(kTitle, *text);
    });
}

} // namespace morvane
