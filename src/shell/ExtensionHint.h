#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace morvane {

class SettingsStore;

// GNOME Shell has no tray: Morvane shows in its top bar only through Morvane's own extension. On a
// GNOME session with no tray host where that extension is installed but not running, tells the user
// once, in a notification, how to turn it on; where GNOME knows the extension, the notification's
// "Activar" button turns it on (org.gnome.Shell.Extensions.EnableExtension). Notifications switched
// off in the settings silence it too.
class ExtensionHint final : public QObject {
    Q_OBJECT
public:
    // `dataDirs`: the folders GNOME Shell looks for extensions in (each with gnome-shell/extensions/).
    ExtensionHint(QDBusConnection bus, const SettingsStore& store, QStringList dataDirs,
                  QObject* parent = nullptr);

    // Asks GNOME Shell about the extension and notifies when it is off; at most once a run. Does
    // nothing where GNOME Shell is not on the bus.
    void check();

    // The notification's text for what GNOME Shell says of the extension (`info`, its
    // GetExtensionInfo answer: empty when it does not know it) and whether its files are installed
    // in one of the data folders; nothing when there is nothing to say.
    static std::optional<QString> message(const QVariantMap& info, bool installed);
    static inline const QString kTitle = QStringLiteral("Morvane en la barra superior");

    // Whether GNOME can turn the extension on now (it knows it, and it is off).
    static bool canEnable(const QVariantMap& info);

    // The standard data folders: $XDG_DATA_HOME, then $XDG_DATA_DIRS.
    static QStringList standardDataDirs();

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);

private:
    bool installed() const;
    void notify(const QString& text, bool offerToEnable);

    QDBusConnection m_bus;
    const SettingsStore& m_store;
    QStringList m_dataDirs;
    bool m_done = false;
    // The notification offering "Activar": its number once the daemon gave it, kAnswered after the
    // button was pressed.
    static constexpr uint kAnswered = ~0u;
    uint m_notification = 0;
    bool m_awaitingId = false;
};

} // namespace morvane
