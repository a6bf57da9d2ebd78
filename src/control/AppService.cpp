#include "AppService.h"

#include "ControlContract.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>

namespace morvane {

AppService::AppService(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus)) {}

AppService::~AppService() {
    if (m_claimed) {
        m_bus.unregisterObject(contract::kPath);
        m_bus.unregisterService(contract::kName);
    }
}

bool AppService::claim() {
    if (!m_bus.isConnected() || !m_bus.interface())
        return false;
    // DoNotQueue: a second instance must learn at once that the name is taken, not wait for it.
    const auto reply =
        m_bus.interface()->registerService(contract::kName, QDBusConnectionInterface::DontQueueService,
                                           QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered)
        return false;
    m_claimed = true;
    m_bus.registerObject(contract::kPath, this, QDBusConnection::ExportAdaptors);
    return true;
}

bool AppService::openPopoverOfRunning(QDBusConnection bus) {
    QDBusMessage m = QDBusMessage::createMethodCall(contract::kName, contract::kPath, contract::kInterface,
                                                    QStringLiteral("OpenPopover"));
    m.setAutoStartService(false);
    return bus.call(m, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

void AppService::openPopover() {
    // After the reply: the popover grabs the pointer and keyboard when it opens.
    QTimer::singleShot(0, this, [this] {
        if (onOpenPopover)
            onOpenPopover();
    });
}

} // namespace morvane
