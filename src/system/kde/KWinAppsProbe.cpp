#include "KWinAppsProbe.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDir>
#include <QTimer>

namespace morvane {

namespace {

const QString kKWin = QStringLiteral("org.kde.KWin");
const QString kScriptingPath = QStringLiteral("/Scripting");
const QString kScripting = QStringLiteral("org.kde.kwin.Scripting");

// KWin unloads a script later, on its event loop: until then a script of the same name cannot be
// loaded again, so loading is retried for a while.
constexpr int kLoadAttempts = 20;
constexpr int kRetryMs = 100;

QDBusMessage scriptingCall(const QString& method, const QVariantList& arguments) {
    QDBusMessage m = QDBusMessage::createMethodCall(kKWin, kScriptingPath, kScripting, method);
    m.setArguments(arguments);
    return m;
}

} // namespace

KWinAppsProbe::KWinAppsProbe(QDBusConnection bus, std::unique_ptr<AppsProbe> running)
    : m_bus(std::move(bus))
    , m_running(std::move(running))
    , m_watcher(kKWin, m_bus, QDBusServiceWatcher::WatchForOwnerChange)
    , m_script(QDir(QDir::tempPath()).filePath(QStringLiteral("morvane-kwin-XXXXXX.js"))) {
    m_bus.registerObject(reportPath(), this, QDBusConnection::ExportScriptableSlots);
    if (m_script.open()) {
        m_script.write(scriptSource().toUtf8());
        m_script.flush();
    }
    // A KWin that starts again runs none of its predecessor's scripts.
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                m_frontmost.reset();
                m_kwinOwner = owner;
                ++m_generation; // answers and retries meant for the previous KWin are dropped
                if (!owner.isEmpty())
                    loadScript(kLoadAttempts);
            });
    if (QDBusConnectionInterface* daemon = m_bus.isConnected() ? m_bus.interface() : nullptr) {
        const QDBusReply<QString> owner = daemon->serviceOwner(kKWin);
        if (owner.isValid() && !owner.value().isEmpty()) {
            m_kwinOwner = owner.value();
            loadScript(kLoadAttempts);
        }
    }
}

KWinAppsProbe::~KWinAppsProbe() {
    if (!m_kwinOwner.isEmpty())
        m_bus.call(scriptingCall(QStringLiteral("unloadScript"), {scriptName()}), QDBus::NoBlock);
    m_bus.unregisterObject(reportPath());
}

bool KWinAppsProbe::available(const QDBusConnection& bus) {
    QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
    if (!daemon)
        return false;
    const QDBusReply<bool> reply = daemon->isServiceRegistered(kKWin);
    return reply.isValid() && reply.value();
}

const QString& KWinAppsProbe::reportPath() {
    static const QString path = QStringLiteral("/app/morvane/KWinActiveWindow");
    return path;
}

const QString& KWinAppsProbe::scriptName() {
    static const QString name = QStringLiteral("app.morvane.Morvane.frontmost");
    return name;
}

void KWinAppsProbe::loadScript(int attemptsLeft) {
    if (!m_script.isOpen())
        return;
    // A Morvane that ended without unloading its script (a crash) left it running: replace it.
    m_bus.call(scriptingCall(QStringLiteral("unloadScript"), {scriptName()}), QDBus::NoBlock);
    auto* call = new QDBusPendingCallWatcher(
        m_bus.asyncCall(scriptingCall(QStringLiteral("loadScript"), {m_script.fileName(), scriptName()})),
        this);
    const int generation = m_generation;
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, attemptsLeft, generation](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<int> reply = *w;
                if (generation != m_generation)
                    return;
                if (reply.isValid() && reply.value() >= 0) {
                    // Runs every script loaded but not yet running: ours. (Plasma 6 also offers a run
                    // method per script, at another path than 5.27's.)
                    m_bus.call(scriptingCall(QStringLiteral("start"), {}), QDBus::NoBlock);
                } else if (reply.isValid() && attemptsLeft > 1) {
                    QTimer::singleShot(kRetryMs, this, [this, attemptsLeft, generation] {
                        if (generation == m_generation)
                            loadScript(attemptsLeft - 1);
                    });
                }
            });
}

QString KWinAppsProbe::scriptSource() const {
    // KWin 5.27 names windows "clients" in its script API, Plasma 6 "windows": ask for both. The
    // unique name holds only ':', '.' and digits, so it needs no quoting beyond the quotes.
    return QStringLiteral(R"js((function () {
    function report(window) {
        var name = "";
        if (window)
            name = String(window.desktopFileName || "") || String(window.resourceClass || "");
        callDBus("%1", "%2", "app.morvane.KWinActiveWindow", "activated", name);
    }
    var activated = workspace.windowActivated || workspace.clientActivated;
    activated.connect(report);
    report(workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient);
})();
)js")
        .arg(m_bus.baseService(), reportPath());
}

std::optional<QString> KWinAppsProbe::runningApp(const QString& list) {
    return m_running ? m_running->runningApp(list) : std::nullopt;
}

std::optional<QString> KWinAppsProbe::frontmostAppName() {
    return m_frontmost;
}

void KWinAppsProbe::activated(const QString& name) {
    // Only KWin may say what is in front; any other caller is ignored.
    if (calledFromDBus() && message().service() != m_kwinOwner)
        return;
    m_frontmost = name.isEmpty() ? std::nullopt : std::optional<QString>(name);
}

} // namespace morvane
