#pragma once

#include "Ports.h"

#include <QDBusConnection>
#include <QStringList>

namespace morvane {

// Ctrl+Alt+Meta+J through KDE's global shortcut service (org.kde.kglobalaccel on the session bus,
// which KWin runs in a Plasma session), over D-Bus alone. The shortcut is action "toggle" of the
// component "app.morvane.Morvane", which Plasma's shortcut settings list as "Morvane"; the user
// may give it another key there, and kglobalaccel keeps that choice. Turning the hot key off
// removes the shortcut; quitting only marks it inactive, so a chosen key survives a restart.
class KGlobalAccelHotKeyFactory final : public HotKeyFactory {
public:
    explicit KGlobalAccelHotKeyFactory(QDBusConnection bus);
    // Whether org.kde.kglobalaccel is on the session bus (one round trip).
    static bool available(const QDBusConnection& bus);
    std::unique_ptr<HotKey> create(std::function<void()> action) override;

    // kglobalaccel's action id: component, action, and their names as the settings show them.
    static const QStringList& actionId();
    // The object kglobalaccel keeps for the component, which signals the presses.
    static const QString& componentPath();
    // Ctrl+Alt+Meta+J as kglobalaccel stores a key: a Qt key code with its modifier bits.
    static int defaultKey();

private:
    QDBusConnection m_bus;
};

} // namespace morvane
