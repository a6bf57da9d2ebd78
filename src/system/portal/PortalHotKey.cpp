#include "PortalHotKey.h"

#include "PortalRequest.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QObject>
#include <QTimer>

namespace morvane {

namespace {

const QString kGlobalShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// One entry of BindShortcuts' a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

} // namespace morvane

Q_DECLARE_METATYPE(morvane::Shortcut)

namespace morvane {

namespace {

class PortalHotKey final : public QObject, public HotKey {
    Q_OBJECT
public:
    PortalHotKey(QDBusConnection bus, std::function<void()> action)
        : m_bus(std::move(bus))
        , m_action(std::move(action)) {}
    ~PortalHotKey() override { unregisterKey(); }

    void registerKey() override {
        if (m_state != State::unregistered)
            return;
        m_state = State::binding;
        const QVariantMap options{{QStringLiteral("session_handle_token"), PortalRequest::newToken()}};
        PortalRequest::call(m_bus, kGlobalShortcuts, QStringLiteral("CreateSession"), {}, options,
                            &m_requests, [this](uint response, const QVariantMap& results) {
                                m_session = results.value(QStringLiteral("session_handle")).toString();
                                if (response != PortalRequest::kSuccess || m_session.isEmpty())
                                    unregisterKey();
                                else
                                    bind();
                            });
    }

    void unregisterKey() override {
        // Pending requests die with their context: a late answer finds nothing to resume.
        PortalRequest::cancelAll(&m_requests);
        if (!m_session.isEmpty()) {
            m_bus.disconnect(PortalRequest::service(), PortalRequest::objectPath(), kGlobalShortcuts,
                             QStringLiteral("Activated"), this,
                             SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
            m_bus.call(QDBusMessage::createMethodCall(PortalRequest::service(), m_session, kSessionInterface,
                                                      QStringLiteral("Close")),
                       QDBus::NoBlock);
            m_session.clear();
        }
        m_state = State::unregistered;
    }

    bool isRegistered() const override { return m_state == State::registered; }

private Q_SLOTS:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&) {
        if (m_state != State::registered || session.path() != m_session ||
            id != PortalHotKeyFactory::shortcutId())
            return;
        // Run the action after this handler has returned, as every hot key does.
        QTimer::singleShot(0, this, [this] {
            if (m_action)
                m_action();
        });
    }

private:
    enum class State { unregistered, binding, registered };

    void bind() {
        // Listen before binding: a desktop may activate right after it confirms.
        m_bus.connect(PortalRequest::service(), PortalRequest::objectPath(), kGlobalShortcuts,
                      QStringLiteral("Activated"), this,
                      SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        const QVariantMap properties{
            {QStringLiteral("description"), QStringLiteral("Activar / desactivar Morvane")},
            {QStringLiteral("preferred_trigger"), PortalHotKeyFactory::preferredTrigger()}};
        const QList<Shortcut> shortcuts{{PortalHotKeyFactory::shortcutId(), properties}};
        PortalRequest::call(
            m_bus, kGlobalShortcuts, QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString()}, {},
            &m_requests, [this](uint response, const QVariantMap& results) {
                if (response == PortalRequest::kSuccess && bound(results))
                    m_state = State::registered;
                else
                    unregisterKey();
            });
    }

    // Whether the portal's answer lists our shortcut among those it bound.
    static bool bound(const QVariantMap& results) {
        QList<Shortcut> shortcuts;
        const QVariant value = results.value(QStringLiteral("shortcuts"));
        if (value.canConvert<QDBusArgument>())
            value.value<QDBusArgument>() >> shortcuts;
        for (const Shortcut& shortcut : shortcuts)
            if (shortcut.id == PortalHotKeyFactory::shortcutId())
                return true;
        return false;
    }

    QDBusConnection m_bus;
    std::function<void()> m_action;
    State m_state = State::unregistered;
    QString m_session;
    QObject m_requests; // parent of the pending portal requests
};

} // namespace

PortalHotKeyFactory::PortalHotKeyFactory(QDBusConnection bus)
    : m_bus(std::move(bus)) {
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
}

bool PortalHotKeyFactory::available(const QDBusConnection& bus) {
    return PortalRequest::property(bus, kGlobalShortcuts, QStringLiteral("version")).toUInt() >= 1;
}

std::unique_ptr<HotKey> PortalHotKeyFactory::create(std::function<void()> action) {
    return std::make_unique<PortalHotKey>(m_bus, std::move(action));
}

const QString& PortalHotKeyFactory::shortcutId() {
    static const QString id = QStringLiteral("toggle");
    return id;
}

const QString& PortalHotKeyFactory::preferredTrigger() {
    static const QString trigger = QStringLiteral("CTRL+ALT+LOGO+j");
    return trigger;
}

} // namespace morvane

#include "PortalHotKey.moc"
