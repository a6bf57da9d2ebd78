#pragma once

#include "Ports.h"

#include <QDBusConnection>

namespace morvane {

// Ctrl+Alt+Super+J through the desktop portal's GlobalShortcuts interface, for Wayland sessions
// where no client may grab keys: one session with one shortcut, "toggle", whose preferred trigger
// is CTRL+ALT+LOGO+j. The desktop may show its own dialog and let the user pick another trigger.
// The key counts as registered once the portal confirms the binding; until then, and when the
// user refuses, it is not.
class PortalHotKeyFactory final : public HotKeyFactory {
public:
    explicit PortalHotKeyFactory(QDBusConnection bus);
    // Whether the session bus has a portal offering GlobalShortcuts (one round trip).
    static bool available(const QDBusConnection& bus);
    std::unique_ptr<HotKey> create(std::function<void()> action) override;

    static const QString& shortcutId();
    static const QString& preferredTrigger();

private:
    QDBusConnection m_bus;
};

} // namespace morvane
