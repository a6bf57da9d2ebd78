#include "ControlAdaptor.h"

#include "AppService.h"
#include "Cli.h"
#include "ControlContract.h"
#include "Engine.h"
#include "Fmt.h"
#include "MenuView.h"
#include "Ports.h"
#include "SettingsStore.h"
#include "TrayIcon.h"

#include <QTimer>

#include <algorithm>

namespace morvane {

namespace {

qlonglong msecs(const OptInstant& t) {
    return t ? t->toMSecsSinceEpoch() : 0;
}

} // namespace

ControlAdaptor::ControlAdaptor(AppService& service, QDBusConnection bus, Engine& engine, SettingsStore& store,
                               const Clock& clock)
    : QDBusAbstractAdaptor(&service)
    , m_service(service)
    , m_bus(std::move(bus))
    , m_engine(engine)
    , m_store(store)
    , m_clock(clock)
    , m_published(published()) {
    connect(&m_engine, &Engine::changed, this, &ControlAdaptor::announceChanges);
    connect(&m_store, &SettingsStore::changed, this, &ControlAdaptor::announceChanges);
    m_labelTimer = new QTimer(this);
    m_labelTimer->setInterval(1000);
    connect(m_labelTimer, &QTimer::timeout, this, &ControlAdaptor::announceChanges);
}

void ControlAdaptor::setPanelShown(bool shown) {
    m_panelShown = shown;
    announceChanges();
}

bool ControlAdaptor::enabled() const {
    return m_engine.enabled();
}

QString ControlAdaptor::status() const {
    return m_engine.status();
}

qlonglong ControlAdaptor::stopAt() const {
    return msecs(m_engine.stopAt());
}

qlonglong ControlAdaptor::pausedUntil() const {
    return msecs(m_engine.pausedUntil());
}

qlonglong ControlAdaptor::startAt() const {
    return msecs(m_engine.startAt());
}

QString ControlAdaptor::blockingReason() const {
    // While blocked the tick keeps the reason as the status line.
    return m_engine.enabled() && m_engine.blocked() ? m_engine.status() : QString();
}

QString ControlAdaptor::verified() const {
    return verdictName(m_engine.activityCheck().verdict());
}

qlonglong ControlAdaptor::lastVerified() const {
    return msecs(m_engine.activityCheck().lastVerified());
}

QString ControlAdaptor::icon() const {
    return trayStateName(trayState(m_engine));
}

QString ControlAdaptor::label() const {
    return panelCountdown(m_engine, m_store.p(), m_clock.now());
}

void ControlAdaptor::SwitchOn() {
    if (!m_engine.enabled())
        m_engine.toggle(false);
}

void ControlAdaptor::SwitchOff() {
    if (m_engine.enabled())
        m_engine.toggle(false);
}

void ControlAdaptor::Toggle() {
    m_engine.toggle(false);
}

void ControlAdaptor::ActivateFor(qlonglong seconds, const QDBusMessage& call) {
    if (const double accepted = acceptedSeconds(seconds, call))
        m_engine.activate(instant::plusSeconds(m_clock.now(), accepted));
}

void ControlAdaptor::ActivateUntil(const QString& time, const QDBusMessage& call) {
    const auto minutes = cli::parseTimeOfDay(time);
    if (!minutes)
        return refuse(call, QStringLiteral("hora no válida: «%1» (por ejemplo 18:00 o 8:05)").arg(time));
    m_engine.activate(Fmt::nextOccurrence(*minutes, m_clock.now(), m_clock.timeZone()));
}

void ControlAdaptor::Pause(qlonglong seconds, const QDBusMessage& call) {
    if (const double accepted = acceptedSeconds(seconds, call))
        m_engine.pause(accepted);
}

void ControlAdaptor::CancelTimers() {
    m_engine.cancelTimers();
}

void ControlAdaptor::OpenPopover() {
    m_service.openPopover();
}

void ControlAdaptor::OpenSettings(const QString& tab, const QDBusMessage& call) {
    const auto chosen = contract::parseTab(tab);
    if (!chosen)
        return refuse(call, contract::unknownTab(tab));
    // After the answer, as the popover's settings button: the popover closes, the window comes up.
    QTimer::singleShot(0, this, [this, tab = *chosen] {
        if (m_actions.closePopover)
            m_actions.closePopover();
        if (m_actions.showSettings)
            m_actions.showSettings(tab);
    });
}

void ControlAdaptor::Quit() {
    QTimer::singleShot(0, this, [this] {
        if (m_actions.quit)
            m_actions.quit();
    });
}

QStringList ControlAdaptor::StatusLines() const {
    // Countdowns from the current time rather than the latest tick: a script asks about now.
    const MenuView::TimerState state{m_clock.now(),          m_engine.stopAt(),
                                     m_engine.startAt(),     m_engine.plannedStopAt(),
                                     m_engine.pausedUntil(), m_engine.activeSchedule()};
    QStringList lines{m_engine.status()};
    for (const MenuView::Line& line : MenuView::timerLines(state, m_store.p(), m_clock.timeZone()))
        lines << line.text;
    return lines << m_engine.activityCheck().line(m_clock.now());
}

QString ControlAdaptor::Diagnose(const QDBusMessage& call) {
    if (!m_actions.diagnose)
        return QString();
    // Answered later: GNOME's session manager and logind are asked whether the inhibition counts.
    call.setDelayedReply(true);
    m_actions.diagnose([bus = m_bus, reply = call.createReply()](const QString& text, bool) mutable {
        reply << text;
        bus.send(reply);
    });
    return QString();
}

ControlAdaptor::Published ControlAdaptor::published() const {
    // The status line's form, not its countdown: a script reading `status` gets the present one.
    return {enabled(),  m_engine.statusForm(), stopAt(), pausedUntil(), startAt(), blockingReason(),
            verified(), lastVerified(),        icon(),   label()};
}

void ControlAdaptor::announceChanges() {
    const Published now = published();
    if (now.label.isEmpty() || !m_panelShown)
        m_labelTimer->stop();
    else if (!m_labelTimer->isActive())
        m_labelTimer->start();
    if (now == m_published)
        return;
    QVariantMap changed;
    const auto note = [&](const QString& name, const auto& before, const auto& after) {
        if (!(before == after))
            changed.insert(name, QVariant::fromValue(after));
    };
    note(contract::kEnabled, m_published.enabled, now.enabled);
    if (!(m_published.status == now.status))
        changed.insert(contract::kStatus, status());
    note(contract::kStopAt, m_published.stopAt, now.stopAt);
    note(contract::kPausedUntil, m_published.pausedUntil, now.pausedUntil);
    note(contract::kStartAt, m_published.startAt, now.startAt);
    note(contract::kBlockingReason, m_published.blockingReason, now.blockingReason);
    note(contract::kVerified, m_published.verified, now.verified);
    note(contract::kLastVerified, m_published.lastVerified, now.lastVerified);
    note(contract::kIcon, m_published.icon, now.icon);
    note(contract::kLabel, m_published.label, now.label);
    m_published = now;

    QDBusMessage signal =
        QDBusMessage::createSignal(contract::kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << contract::kInterface << changed << QStringList();
    m_bus.send(signal);
}

void ControlAdaptor::refuse(const QDBusMessage& call, const QString& why) {
    // The error replaces the empty answer QtDBus would send once the slot returns.
    call.setDelayedReply(true);
    m_bus.send(call.createErrorReply(QDBusError::InvalidArgs, why));
}

double ControlAdaptor::acceptedSeconds(qlonglong seconds, const QDBusMessage& call) {
    if (seconds <= 0) {
        refuse(
            call,
            QStringLiteral("la duración tiene que ser de al menos un segundo (se recibió %1)").arg(seconds));
        return 0;
    }
    return std::min(double(seconds), cli::kMaxSeconds);
}

} // namespace morvane
