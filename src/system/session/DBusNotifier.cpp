#include "DBusNotifier.h"

#include "SettingsStore.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace morvane {

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

} // namespace morvane
