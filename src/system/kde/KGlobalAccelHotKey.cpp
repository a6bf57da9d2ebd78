#include "KGlobalAccelHotKey.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QTimer>

namespace morvane {

namespace {

const QString kService = QStringLiteral("org.kde.kglobalaccel");
const QString kPath = QStringLiteral("/kglobalaccel");
const QString kInterface = QStringLiteral("org.kde.KGlobalAccel");
const QString kComponentInterface = QStringLiteral("org.kde.kglobalaccel.Component");

// setShortcut's flags, as kglobalaccel defines them. Without NoAutoloading (4) it keeps a key the
// user chose in the settings and answers that one instead of ours.
constexpr uint kSetPresent = 2; // the owner runs: grab the key and report its presses
constexpr uint kIsDefault = 8;  // the keys given are the default the settings offer to restore

class KGlobalAccelHotKey final : public QObject, public HotKey {
    Q_OBJECT
public:
    KGlobalAccelHotKey(QDBusConnection bus, std::function<void()> action)
        : m_bus(std::move(bus))
        , m_action(std::move(action))
        , m_watcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange) {
        // A kglobalaccel that starts again (with KWin) knows nothing of us: bind again.
        connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& owner) {
                    m_keys.clear();
                    if (m_wanted && !owner.isEmpty())
                        bind();
                });
    }

    ~KGlobalAccelHotKey() override {
        // Quitting is not turning the key off: the user's choice of key stays for the next start.
        if (m_wanted)
            send(QStringLiteral("setInactive"), {KGlobalAccelHotKeyFactory::actionId()});
    }

    void registerKey() override {
        if (m_wanted)
            return;
        m_wanted = true;
        m_bus.connect(kService, KGlobalAccelHotKeyFactory::componentPath(), kComponentInterface,
                      QStringLiteral("globalShortcutPressed"), this,
                      SLOT(onPressed(QString, QString, qlonglong)));
        m_bus.connect(kService, kPath, kInterface, QStringLiteral("yourShortcutGotChanged"), this,
                      SLOT(onKeysChanged(QStringList, QList<int>)));
        bind();
    }

    void unregisterKey() override {
        if (!m_wanted)
            return;
        m_wanted = false;
        ++m_generation; // an answer still on its way belongs to the registration just ended
        m_keys.clear();
        m_bus.disconnect(kService, KGlobalAccelHotKeyFactory::componentPath(), kComponentInterface,
                         QStringLiteral("globalShortcutPressed"), this,
                         SLOT(onPressed(QString, QString, qlonglong)));
        m_bus.disconnect(kService, kPath, kInterface, QStringLiteral("yourShortcutGotChanged"), this,
                         SLOT(onKeysChanged(QStringList, QList<int>)));
        send(QStringLiteral("unRegister"), {KGlobalAccelHotKeyFactory::actionId()});
    }

    // A key the user removed in the settings leaves nothing registered.
    bool isRegistered() const override { return m_wanted && !m_keys.isEmpty(); }

private Q_SLOTS:
    void onPressed(const QString& component, const QString& action, qlonglong) {
        const QStringList& id = KGlobalAccelHotKeyFactory::actionId();
        if (!m_wanted || component != id[0] || action != id[1])
            return;
        // Run the action after this handler has returned, as every hot key does.
        QTimer::singleShot(0, this, [this] {
            if (m_action)
                m_action();
        });
    }

    void onKeysChanged(const QStringList& actionId, const QList<int>& keys) {
        if (m_wanted && actionId.mid(0, 2) == KGlobalAccelHotKeyFactory::actionId().mid(0, 2))
            m_keys = keys;
    }

private:
    static QDBusMessage message(const QString& method, const QVariantList& arguments) {
        QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
        m.setArguments(arguments);
        return m;
    }

    void send(const QString& method, const QVariantList& arguments) {
        m_bus.call(message(method, arguments), QDBus::NoBlock);
    }

    // The calls KGlobalAccel itself makes for an action with a default key; kglobalaccel handles
    // one client's calls in order, so only the answer that tells the key in effect is awaited.
    void bind() {
        const int generation = ++m_generation;
        const QStringList& id = KGlobalAccelHotKeyFactory::actionId();
        const QVariant keys = QVariant::fromValue(QList<int>{KGlobalAccelHotKeyFactory::defaultKey()});
        send(QStringLiteral("doRegister"), {id});
        auto* call = new QDBusPendingCallWatcher(
            m_bus.asyncCall(message(QStringLiteral("setShortcut"), {id, keys, kSetPresent})), this);
        connect(call, &QDBusPendingCallWatcher::finished, this,
                [this, generation](QDBusPendingCallWatcher* w) {
                    w->deleteLater();
                    const QDBusPendingReply<QList<int>> reply = *w;
                    if (generation == m_generation)
                        m_keys = reply.isValid() ? reply.value() : QList<int>();
                });
        send(QStringLiteral("setShortcut"), {id, keys, kIsDefault});
    }

    QDBusConnection m_bus;
    std::function<void()> m_action;
    QDBusServiceWatcher m_watcher;
    bool m_wanted = false;
    int m_generation = 0;
    QList<int> m_keys; // the keys in effect, as kglobalaccel last told
};

} // namespace

KGlobalAccelHotKeyFactory::KGlobalAccelHotKeyFactory(QDBusConnection bus)
    : m_bus(std::move(bus)) {}

bool KGlobalAccelHotKeyFactory::available(const QDBusConnection& bus) {
    QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
    if (!daemon)
        return false;
    const QDBusReply<bool> reply = daemon->isServiceRegistered(kService);
    return reply.isValid() && reply.value();
}

std::unique_ptr<HotKey> KGlobalAccelHotKeyFactory::create(std::function<void()> action) {
    return std::make_unique<KGlobalAccelHotKey>(m_bus, std::move(action));
}

const QStringList& KGlobalAccelHotKeyFactory::actionId() {
    static const QStringList id{QStringLiteral("app.morvane.Morvane"), QStringLiteral("toggle"),
                                QStringLiteral("Morvane"), QStringLiteral("Activar / desactivar Morvane")};
    return id;
}

const QString& KGlobalAccelHotKeyFactory::componentPath() {
    // kglobalaccel names the object after the component, with '_' for what a path cannot hold.
    static const QString path = QStringLiteral("/component/app_morvane_Morvane");
    return path;
}

int KGlobalAccelHotKeyFactory::defaultKey() {
    return (Qt::CTRL | Qt::ALT | Qt::META | Qt::Key_J).toCombined();
}

} // namespace morvane

#include "KGlobalAccelHotKey.moc"
