#include "Engine.h"

#include "EngineBatch.h"
#include "SettingsStore.h"

#include <QPointer>

#include <algorithm>

namespace morvane {

namespace {

std::function<std::unique_ptr<Engine>()>& sharedFactory() {
    static std::function<std::unique_ptr<Engine>()> factory;
    return factory;
}

// A stored number denotes an instant only when it is positive.
OptInstant instantFrom(double seconds) {
    if (!(seconds > 0))
        return std::nullopt;
    return instant::fromEpochSeconds(seconds);
}

double secondsOf(const OptInstant& t) {
    return t ? instant::toEpochSeconds(*t) : 0.0;
}

} // namespace

Engine::Engine(SettingsStore& store, EnginePorts ports, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_ports(ports) {
    const Instant now = m_ports.clock.now();
    m_clockWall = now;
    m_clockMonotonic = m_ports.clock.monotonicSeconds();
    m_now = now;
    m_nextJiggleAt = now;
    m_lastUserInput = now;
    m_lockNoteAt = instant::fromMSecs(instant::kMinMSecs);
    m_diskCacheAt = instant::fromMSecs(instant::kMinMSecs);
    m_accessibilityOK = m_ports.trust.trusted();
}

Engine::~Engine() = default;

Engine& Engine::shared() {
    static std::unique_ptr<Engine> engine = [] {
        Q_ASSERT_X(sharedFactory(), "Engine::shared", "no factory installed");
        return sharedFactory()();
    }();
    return *engine;
}

void Engine::setSharedFactory(std::function<std::unique_ptr<Engine>()> factory) {
    sharedFactory() = std::move(factory);
}

void Engine::start() {
    Batch batch(*this);
    m_ports.notifier.setup();
    m_lastUserInput = instant::plusSeconds(readClock(), -m_ports.idle.idleSeconds());
    restore();

    QPointer<Engine> self(this);
    // A resting engine that is on looks at the conditions when the screen locks or unlocks, rather
    // than at the next movement: a lock blocks at once, an unlock lets a blocked movement happen.
    const auto lockChanged = [self](bool locked) {
        if (!self)
            return;
        self->m_lockedByNote = locked;
        if (locked)
            self->m_lockNoteAt = self->readClock();
        if (self->m_resting && self->m_enabled) {
            self->m_judgeNext = true;
            self->tick();
        }
    };
    m_ports.lockEvents.subscribe([lockChanged] { lockChanged(true); }, [lockChanged] { lockChanged(false); });
    // The user's activity edges move the last input, and with it the status line and, in
    // when-idle mode, the next movement.
    m_ports.idle.watch([self] {
        if (self && self->m_resting && self->m_enabled)
            self->tick();
    });

    // Both subscriptions deliver the current value now and then only values that differ from
    // the previous delivery.
    const auto deliverSettings = [this] {
        const Prefs& p = m_store.p();
        if (m_hotkeySetting != p.hotkey) {
            m_hotkeySetting = p.hotkey;
            applyHotKeySetting(p.hotkey);
        }
        if (m_displaySleepSetting != p.preventDisplaySleep) {
            m_displaySleepSetting = p.preventDisplaySleep;
            m_ports.sleepGuard.set(p.preventDisplaySleep && m_enabled);
        }
    };
    deliverSettings();
    connect(&m_store, &SettingsStore::changed, this, deliverSettings);
    // Schedules may have changed: a resting engine sets its alarm again.
    connect(&m_store, &SettingsStore::changed, this, [this] { Batch batch(*this); });

    m_started = true;
    m_ports.ticker.start(1.0, [self] {
        if (self)
            self->tick();
    });
    tick();
}

HotKey& Engine::hotKey() {
    if (!m_hotKey) {
        QPointer<Engine> self(this);
        m_hotKey = m_ports.hotKeys.create([self] {
            if (self)
                self->toggle(true);
        });
    }
    return *m_hotKey;
}

void Engine::applyHotKeySetting(bool on) {
    if (on)
        hotKey().registerKey();
    else if (m_hotKey) // a hot key never created has nothing to release
        m_hotKey->unregisterKey();
}

void Engine::setEnabled(bool on, const std::optional<QString>& reason) {
    if (m_enabled == on)
        return;
    Batch batch(*this);
    publish(m_enabled, on);
    const Instant now = readClock();
    if (on) {
        m_nextJiggleAt = instant::plusSeconds(now, std::min(m_store.p().interval, 5.0));
        m_ports.sleepGuard.set(m_store.p().preventDisplaySleep);
    } else {
        publish(m_stopAt, OptInstant{});
        // Off is never working; the tick that would say so may be long in coming (the engine rests).
        publish(m_working, false);
        m_enabledBySchedule = false;
        m_ports.sleepGuard.set(false);
    }
    if (reason)
        m_ports.notifier.send(on ? QStringLiteral("Morvane activado") : QStringLiteral("Morvane desactivado"),
                              *reason);
    refreshStatus();
}

void Engine::toggle(bool notify) {
    Batch batch(*this);
    const bool wasOn = m_enabled;
    publish(m_pausedUntil, OptInstant{});
    m_pausedStopAt.reset();
    if (!wasOn) {
        publish(m_startAt, OptInstant{});
        publish(m_plannedStopAt, OptInstant{});
    }
    m_enabledBySchedule = false;
    setEnabled(!wasOn,
               notify ? std::optional<QString>(QStringLiteral("Con el atajo de teclado")) : std::nullopt);
}

void Engine::refreshStatus() {
    if (m_enabled) {
        // While blocked the status already holds the blocking reason.
        if (!m_blocked)
            setStatus(QStringLiteral("Activo"));
        return;
    }
    if (m_pausedUntil)
        setStatus(QStringLiteral("En pausa"));
    else if (m_startAt)
        setStatus(QStringLiteral("Programado"));
    else
        setStatus(QStringLiteral("Apagado"));
}

RunState::Numbers Engine::runStateNumbers() const {
    return {m_enabled ? 1.0 : 0.0,           secondsOf(m_stopAt),           secondsOf(m_startAt),
            secondsOf(m_plannedStopAt),      secondsOf(m_pausedUntil),      secondsOf(m_pausedStopAt),
            m_enabledBySchedule ? 1.0 : 0.0, m_pausedBySchedule ? 1.0 : 0.0};
}

void Engine::persist() {
    const RunState::Numbers numbers = runStateNumbers();
    if (m_persisted == numbers)
        return;
    m_persisted = numbers;
    m_ports.defaults.setValue(kStateKey, RunState::toVariant(numbers));
}

void Engine::restore() {
    if (!m_store.p().restoreState)
        return;
    const auto stored = RunState::parse(m_ports.defaults.value(kStateKey));
    if (!stored)
        return;
    const RunState::Numbers& n = *stored;
    const Instant now = readClock();

    if (const OptInstant start = instantFrom(n[2]); start && *start > now) {
        publish(m_startAt, start);
        publish(m_plannedStopAt, instantFrom(n[3]));
    }
    if (const OptInstant pausedUntil = instantFrom(n[4]); pausedUntil && *pausedUntil > now) {
        publish(m_pausedUntil, pausedUntil);
        m_pausedStopAt = instantFrom(n[5]);
        m_pausedBySchedule = n[7] == 1;
        return;
    }
    if (n[0] != 1)
        return;
    // A timer that ran out while the application was not running leaves the engine off.
    const OptInstant stop = instantFrom(n[1]);
    if (stop && !(*stop > now))
        return;
    setEnabled(true);
    publish(m_stopAt, stop);
    m_enabledBySchedule = n[6] == 1;
}

} // namespace morvane
