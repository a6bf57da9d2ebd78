#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

namespace morvane {

// The program's own name on the session bus (contract::kName): one running Morvane per session
// owns it, and a second start reaches the first through it. The object's interface is its
// ControlAdaptor.
class AppService final : public QObject {
    Q_OBJECT
public:
    AppService(QDBusConnection bus, QObject* parent = nullptr);
    ~AppService() override;

    // Takes the bus name; false when another process holds it (or there is no bus).
    bool claim();

    // Asks the instance that holds the name to open its popover; false when none answers.
    static bool openPopoverOfRunning(QDBusConnection bus);

    std::function<void()> onOpenPopover;

    // Opens the popover where the pointer is, once the current D-Bus call has been answered.
    void openPopover();

private:
    QDBusConnection m_bus;
    bool m_claimed = false;
};

} // namespace morvane
