#include "StatusController.h"

#include "ControlContract.h"
#include "DBusMenu.h"
#include "Engine.h"
#include "Fmt.h"
#include "Popover.h"
#include "Ports.h"
#include "SettingsStore.h"
#include "StatusNotifierItem.h"

#include <QCursor>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDebug>
#include <QEvent>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>

namespace morvane {

namespace {

// The sizes panels ask for; hosts pick the closest.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48};

const QList<QImage>& iconImages(TrayState state) {
    static std::array<QList<QImage>, 4> cache;
    QList<QImage>& images = cache.at(std::size_t(state));
    if (images.isEmpty()) {
        for (const int size : kIconSizes)
            images << trayImage(state, size);
    }
    return images;
}

const QIcon& iconFor(TrayState state) {
    static std::array<QIcon, 4> cache;
    QIcon& icon = cache.at(std::size_t(state));
    if (icon.isNull())
        icon = trayIcon(state);
    return icon;
}

} // namespace

StatusController::StatusController(Engine& engine, SettingsStore& store, Popover& popover, const Clock& clock,
                                   Actions actions, QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_store(store)
    , m_popover(popover)
    , m_clock(clock)
    , m_actions(std::move(actions))
    , m_bus(std::move(bus)) {}

StatusController::~StatusController() {
    delete m_xembed;
}

void StatusController::setup() {
    if (m_setUp)
        return;
    m_setUp = true;
    m_menu = new DBusMenu(
        {
            {QStringLiteral("Abrir Morvane"), [this] { toggle(QPoint()); }},
            {QStringLiteral("Activar / desactivar"), [this] { rightClick(); }},
            {QStringLiteral("Preferencias"),
             [this] {
                 if (m_actions.openSettings)
                     m_actions.openSettings();
             }},
            {QStringLiteral("Salir"),
             [this] {
                 if (m_actions.quit)
                     m_actions.quit();
             }},
        },
        this);
    if (m_bus.isConnected()) {
        m_sni = new StatusNotifierItem(m_bus, m_menu, this);
        m_sni->setToolTip(QStringLiteral("Morvane"), QString());
        m_sni->setToolTipLine([this] { return shownToolTip(); });
        connect(m_sni, &StatusNotifierItem::activated, this, [this](QPoint at) { leftClick(at); });
        connect(m_sni, &StatusNotifierItem::contextMenuRequested, this, [this] { rightClick(); });
        connect(m_sni, &StatusNotifierItem::watcherChanged, this, [this] { chooseHost(); });
        m_panel = new QDBusServiceWatcher(
            contract::kPanelName, m_bus,
            QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this);
        connect(m_panel, &QDBusServiceWatcher::serviceRegistered, this, [this] { chooseHost(); });
        connect(m_panel, &QDBusServiceWatcher::serviceUnregistered, this, [this] { chooseHost(); });
    }
    // Queued: the refresh runs after the change has fully landed, once per announcement.
    connect(&m_engine, &Engine::changed, this, &StatusController::refresh, Qt::QueuedConnection);
    connect(&m_store, &SettingsStore::changed, this, &StatusController::refresh, Qt::QueuedConnection);
    m_state = trayState(m_engine);
    m_title = title();
    m_tipKey = toolTipKey();
    m_labelTicks.setInterval(1000);
    connect(&m_labelTicks, &QTimer::timeout, this, [this] {
        QString next = title();
        if (next == m_title)
            return;
        m_title = std::move(next);
        showInHost();
    });
    followLabel(m_title);
    chooseHost();
}

void StatusController::chooseHost() {
    Host next = Host::none;
    const bool extension =
        m_panel && m_bus.interface() && m_bus.interface()->isServiceRegistered(contract::kPanelName).value();
    if (extension)
        next = Host::gnomeShell;
    else if (m_sni && m_sni->watcherPresent())
        next = Host::statusNotifier;
    else if (QSystemTrayIcon::isSystemTrayAvailable())
        next = Host::xembed;
    if (next == Host::none && !m_loggedNoHost) {
        m_loggedNoHost = true;
        qInfo("morvane: no tray host on this session (no StatusNotifierWatcher, no XEmbed tray); "
              "running without an icon until one appears");
    }
    if (next == Host::gnomeShell) {
        // Never two Morvanes in one top bar.
        if (m_sni)
            m_sni->withdraw();
        if (m_xembed)
            m_xembed->setVisible(false);
    }
    // The XEmbed icon stays requested while there is no watcher: Qt docks it as soon as a tray
    // manager appears.
    else if (next != Host::statusNotifier && !m_xembed) {
        m_xembed = new QSystemTrayIcon(iconFor(m_state));
        m_xembed->installEventFilter(this);
        connect(m_xembed, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Context)
                        rightClick();
                    else if (reason == QSystemTrayIcon::Trigger)
                        leftClick(m_xembed->geometry().isValid() ? m_xembed->geometry().center() : QPoint());
                });
    }
    if (m_xembed)
        m_xembed->setVisible(next == Host::xembed || next == Host::none);
    const bool changed = next != m_host;
    // A watcher that (re)appeared has never heard of us.
    if (changed && next == Host::statusNotifier)
        m_sni->start();
    m_host = next;
    m_title = title();
    followLabel(m_title);
    showInHost();
    if (changed) {
        static const char* const names[] = {"none", "StatusNotifierItem", "XEmbed tray icon",
                                            "Morvane's GNOME Shell extension"};
        qInfo("morvane: tray item: %s", names[int(next)]);
        Q_EMIT hostChanged();
    }
}

void StatusController::showInHost() {
    if (m_sni) {
        m_sni->setIcon(iconImages(m_state));
        m_sni->setLabel(m_title);
    }
    if (m_xembed) {
        m_xembed->setIcon(iconFor(m_state));
        m_xembed->setToolTip(QStringLiteral("Morvane — ") + shownToolTip());
    }
}

void StatusController::refresh() {
    if (!m_setUp)
        return;
    const TrayState state = trayState(m_engine);
    QString newTitle = title();
    QString tipKey = toolTipKey();
    const bool tipChanged = tipKey != m_tipKey;
    followLabel(newTitle);
    if (state == m_state && newTitle == m_title && !tipChanged)
        return;
    m_state = state;
    m_title = std::move(newTitle);
    m_tipKey = std::move(tipKey);
    showInHost();
    // A StatusNotifierItem host reads the tooltip afresh when it shows it; it hears only of changes
    // other than the ages and the countdown, so that it is not asked to fetch it each second.
    if (tipChanged && m_sni)
        m_sni->announceToolTip();
}

QString StatusController::countdown(const Instant& now) const {
    const QString left = panelCountdown(m_engine, m_store.p(), now);
    return left.isEmpty() ? left : QLatin1Char(' ') + left;
}

QString StatusController::title() const {
    return countdown(m_clock.now());
}

void StatusController::followLabel(const QString& title) {
    // In GNOME's top bar the extension counts down from the bus; with no tray, nothing shows it.
    const bool shown = m_host == Host::statusNotifier || m_host == Host::xembed;
    if (title.isEmpty() || !shown)
        m_labelTicks.stop();
    else if (!m_labelTicks.isActive())
        m_labelTicks.start();
}

QString StatusController::stateWords() const {
    // The engine's status line changes every second while it waits or works; the tooltip keeps to
    // what changes rarely.
    switch (trayState(m_engine)) {
    case TrayState::off:
        break;
    case TrayState::blocked:
        return m_engine.status(); // the reason, e.g. "Pausado: pantalla bloqueada"
    case TrayState::on:
    case TrayState::working:
        return QStringLiteral("Activo");
    }
    return QStringLiteral("Apagado");
}

QString StatusController::shownToolTip() const {
    // Hosts that draw no label get the countdown here.
    const QString left = countdown(m_clock.now());
    return stateWords() + (left.isEmpty() ? QString() : QStringLiteral(" · se apaga en") + left) +
           QLatin1Char('\n') + activityLine();
}

QString StatusController::activityLine() const {
    return m_engine.activityCheck().line(m_clock.now());
}

bool StatusController::eventFilter(QObject* watched, QEvent* event) {
    // Qt's XEmbed icon hands its ToolTip event to the QSystemTrayIcon before it shows the text it
    // holds: the age is brought up to date here, also while the engine rests and nothing refreshes.
    if (watched == m_xembed && event->type() == QEvent::ToolTip)
        m_xembed->setToolTip(QStringLiteral("Morvane — ") + shownToolTip());
    return QObject::eventFilter(watched, event);
}

QString StatusController::toolTipKey() const {
    const ActivityCheck& check = m_engine.activityCheck();
    const OptInstant& last = check.lastVerified();
    return stateWords() + (title().isEmpty() ? u'-' : u'+') + verdictName(check.verdict()) +
           QString::number(last ? last->toMSecsSinceEpoch() : 0) + QString::number(check.missesInARow()) +
           (check.noIdleSource() ? u'-' : u'+');
}

void StatusController::leftClick(QPoint at) {
    // A Ctrl-click counts as a right click; the keyboard is read when the click arrives.
    if (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) {
        rightClick();
        return;
    }
    toggle(at);
}

void StatusController::rightClick() {
    if (m_popover.isVisible())
        m_popover.close();
    m_engine.toggle(false);
}

void StatusController::toggle(QPoint at) {
    if (m_popover.isVisible()) {
        m_popover.close();
        return;
    }
    // The press on the icon already closed the popover (it grabs the pointer while open).
    if (m_popover.justClosed())
        return;
    m_popover.showAt(at.isNull() ? fallbackAnchor() : at);
}

QPoint StatusController::fallbackAnchor() const {
    if (m_xembed && m_xembed->isVisible() && m_xembed->geometry().isValid())
        return m_xembed->geometry().center();
    return QCursor::pos();
}

} // namespace morvane
