#pragma once

#include "Ports.h"

#include <QDBusConnection>

namespace morvane {

class SettingsStore;

// Notifications through org.freedesktop.Notifications, app name "Morvane"; nothing when the
// `notifications` setting is off.
class DBusNotifier final : public Notifier {
public:
    DBusNotifier(SettingsStore& store, QDBusConnection session);
    void setup() override;
    void send(const QString& title, const QString& body) override;

private:
    SettingsStore& m_store;
    QDBusConnection m_session;
};

} // namespace morvane
