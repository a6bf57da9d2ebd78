#include "Engine.h"

#include "AppList.h"
#include "EngineBatch.h"
#include "Fmt.h"
#include "SettingsStore.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace morvane {

namespace {

// Input within this window around our own movement is taken to be that movement.
constexpr double kOwnInputBefore = 0.5;
constexpr double kOwnInputAfter = 1.5;
constexpr double kLockNoteGrace = 5.0;
constexpr double kDiskCacheSeconds = 5.0;
constexpr double kPermissionRetry = 5.0;
// While blocked and resting, the conditions are looked at again after the interval, and at least
// this often; a lock or unlock brings the look forward.
constexpr double kBlockedRetry = 60;
// The one-second timer fires a few milliseconds late by varying amounts. A movement due 2 s after
// the previous one must not slip to the tick after next because this tick came 1 ms "early"
// relative to the last one: that would stretch the gap by a whole second.
constexpr double kDueSlack = 0.05;
// The wall clock and the monotonic clock part only when the wall clock is set (by hand, by a
// restored virtual machine, by a large NTP correction); both count through a suspend. The two are
// read one after the other, and on a busy machine the process may be descheduled in between, so
// a tiny gap is no step. A few seconds is far above that delay and still below the shortest
// waits the engine keeps (the 5-s lock grace and disk cache); a smaller step only nudges a wait
// by its own size, much less than the jitter of a randomized interval.
constexpr double kClockStepThreshold = 3.0;

} // namespace

void Engine::tick() {
    Batch batch(*this);
    const Instant now = readClock();
    if (!tickBody(now)) {
        m_quitting = true;
        return;
    }
    const bool working = m_enabled && !m_blocked && m_lastJiggle && *m_lastJiggle > m_lastUserInput;
    publish(m_working, working);
    persist();
}

Instant Engine::readClock() {
    const Instant wall = m_ports.clock.now();
    const double monotonic = m_ports.clock.monotonicSeconds();
    const double step = instant::secondsBetween(m_clockWall, wall) - (monotonic - m_clockMonotonic);
    if (std::abs(step) > kClockStepThreshold)
        shiftBookkeeping(step);
    m_clockWall = wall;
    m_clockMonotonic = monotonic;
    return wall;
}

void Engine::shiftBookkeeping(double seconds) {
    // Without this, a step back of an hour leaves the last input and the next movement an hour in
    // the future, and the engine waits that hour on top of the interval.
    m_nextJiggleAt = instant::plusSeconds(m_nextJiggleAt, seconds);
    m_lastUserInput = instant::plusSeconds(m_lastUserInput, seconds);
    if (m_lastJiggle)
        publish(m_lastJiggle, OptInstant(instant::plusSeconds(*m_lastJiggle, seconds)));
    m_lockNoteAt = instant::plusSeconds(m_lockNoteAt, seconds);
    m_diskCacheAt = instant::plusSeconds(m_diskCacheAt, seconds);
    // The readback's instants too: a pending movement is then read back on time, and the age of
    // the last registered one (tooltip, --status, lastVerified) stays true.
    m_activity.shift(seconds);
    if (m_activity.lastVerified())
        m_dirty = true;
}

bool Engine::tickBody(const Instant& now) {
    publish(m_now, now);

    plannedStartDue(now);
    pauseEndDue(now);
    if (!timerEndDue(now))
        return false;
    schedulesDue(now);

    const Prefs& prefs = m_store.p();

    const double idle = m_ports.idle.idleSeconds();
    m_idleRead = idle;
    m_idleReadAt = now;
    if (m_activity.due(now))
        readBack(now, idle);
    const Instant inputAt = instant::plusSeconds(now, -idle);
    if (!isOwnInput(inputAt) && inputAt > m_lastUserInput)
        m_lastUserInput = inputAt;
    publish(m_userIdle, instant::secondsBetween(m_lastUserInput, now));

    // The load since the previous sample: over the last second while ticking every second, over
    // the whole wait when the conditions are judged after a rest.
    const bool judge = m_enabled && judgesConditions(now);
    if (judge || m_watched || !restsWhileOn()) {
        if (const auto sample = m_ports.cpu.sample())
            publish(m_cpuUsage, sample);
    }

    // Truncation toward zero, as the division below expects for instants before 1970 too.
    const qint64 wholeSeconds = now.toMSecsSinceEpoch() / 1000;
    if (wholeSeconds % 3 == 0)
        publish(m_accessibilityOK, m_ports.trust.trusted());

    if (!m_enabled) {
        refreshStatus();
        return true;
    }

    if (judge) {
        if (const auto reason = blockingReason()) {
            publish(m_blocked, true);
            setStatus(*reason);
            m_judgeAt =
                instant::plusSeconds(now, prefs.interval > 1 ? std::min(prefs.interval, kBlockedRetry) : 1.0);
            return true;
        }
        publish(m_blocked, false);
    } else if (m_blocked) {
        return true; // the reason stands until the conditions are looked at again
    }

    if (prefs.policy == TriggerPolicy::whenIdle && m_userIdle < prefs.interval) {
        setStatus(QStringLiteral("Esperando inactividad"), Countdown::idleWait);
        return true;
    }
    if (!(now < instant::plusSeconds(m_nextJiggleAt, -kDueSlack))) {
        doJiggle(now);
        return true;
    }
    const bool movedSinceInput = m_lastJiggle && *m_lastJiggle > m_lastUserInput;
    setStatus(movedSinceInput ? QStringLiteral("Trabajando") : QStringLiteral("Activo"),
              Countdown::nextMovement);
    return true;
}

Instant Engine::movementDueAt() const {
    const Prefs& p = m_store.p();
    if (p.policy == TriggerPolicy::whenIdle)
        return std::max(m_nextJiggleAt, instant::plusSeconds(m_lastUserInput, p.interval));
    return m_nextJiggleAt;
}

bool Engine::judgesConditions(const Instant& now) {
    if (std::exchange(m_judgeNext, false) || m_watched || !restsWhileOn())
        return true;
    return !(now < instant::plusSeconds(m_blocked ? m_judgeAt : movementDueAt(), -kDueSlack));
}

QString Engine::status() const {
    switch (m_status.countdown) {
    case Countdown::none:
        break;
    case Countdown::nextMovement:
        return m_status.text + QStringLiteral(" · próximo en ") +
               Fmt::duration(std::max(0.0, instant::secondsBetween(m_ports.clock.now(), m_nextJiggleAt)));
    case Countdown::idleWait: {
        const double idle = instant::secondsBetween(m_lastUserInput, m_ports.clock.now());
        return m_status.text + QStringLiteral(" · ") +
               Fmt::duration(std::max(0.0, m_store.p().interval - idle));
    }
    }
    return m_status.text;
}

bool Engine::isOwnInput(const Instant& t) const {
    if (!m_lastJiggle)
        return false;
    return !(t < instant::plusSeconds(*m_lastJiggle, -kOwnInputBefore)) &&
           !(t > instant::plusSeconds(*m_lastJiggle, kOwnInputAfter));
}

std::optional<QString> Engine::blockingReason() {
    const Prefs& p = m_store.p();

    if (p.neverLocked) {
        const bool freshNote =
            m_lockedByNote && instant::secondsBetween(m_lockNoteAt, readClock()) < kLockNoteGrace;
        if (freshNote || m_ports.screenLock.screenLocked())
            return QStringLiteral("Pausado: pantalla bloqueada");
    }

    if (p.neverOnBattery || p.neverBatteryLow) {
        const PowerState power = m_ports.power.power();
        if (p.neverOnBattery && power.onBattery)
            return QStringLiteral("Pausado: usando batería");
        if (p.neverBatteryLow && power.onBattery && power.percent &&
            double(*power.percent) < p.batteryThreshold)
            return QStringLiteral("Pausado: batería baja (%1%)").arg(*power.percent);
    }

    if (p.neverFrontmost) {
        if (const auto name = m_ports.apps.frontmostAppName();
            name && AppList::matches(*name, p.neverFrontmostList))
            return QStringLiteral("Pausado: %1 está al frente").arg(*name);
    }

    bool any = false;
    bool met = false;
    if (p.reqCPU) {
        any = true;
        met = m_cpuUsage.value_or(0.0) * 100.0 >= p.cpuThreshold;
    }
    if (p.reqRemovableDisk) {
        any = true;
        if (!met)
            met = diskMounted();
    }
    if (p.reqAudio) {
        any = true;
        if (!met)
            met = m_ports.audio.audioPlaying();
    }
    const QString unmet = QStringLiteral("Pausado: no se cumple ninguna condición");
    if (p.reqApps) {
        if (met || m_ports.apps.runningApp(p.reqAppsList))
            return std::nullopt;
        return unmet;
    }
    if (met || !any)
        return std::nullopt;
    return unmet;
}

bool Engine::diskMounted() {
    const Instant now = readClock();
    if (instant::secondsBetween(m_diskCacheAt, now) < kDiskCacheSeconds)
        return m_diskCacheValue;
    m_diskCacheValue = m_ports.disk.removableWritableDiskMounted();
    m_diskCacheAt = now;
    return m_diskCacheValue;
}

void Engine::doJiggle(const Instant& now) {
    Batch batch(*this);
    readClock(); // the instants stamped below must share the frame of the ones already kept
    const Prefs& p = m_store.p();
    // A pointer event that moves nothing needs no permission; the other modes do.
    if (p.mode != JiggleMode::zen && !m_ports.trust.trusted()) {
        publish(m_accessibilityOK, false);
        recordMovement(now, Action::declaration);
        m_ports.jiggler.declareActivity();
        m_nextJiggleAt = instant::plusSeconds(now, kPermissionRetry);
        setStatus(QStringLiteral("Falta permiso de Accesibilidad"));
        return;
    }
    recordMovement(now, p.mode == JiggleMode::standard ? Action::standard
                        : p.mode == JiggleMode::zen    ? Action::zen
                                                       : Action::click);
    m_ports.jiggler.perform(p.mode, p.distance, p.randomize);
    publish(m_lastJiggle, OptInstant(now));
    publish(m_jiggleCount, m_jiggleCount + 1);

    double gap = p.interval;
    if (p.randomize)
        gap *= 0.8 + 0.4 * m_ports.random.unitClosed();
    m_nextJiggleAt = instant::plusSeconds(now, gap);

    if (p.showIconOnJiggle)
        m_ports.overlay.flash();
    setStatus(QStringLiteral("Trabajando · movió recién"));
}

void Engine::recordMovement(const Instant& now, Action action) {
    if (!m_ports.idle.available()) {
        m_activity.moved(now, action, std::nullopt);
        return;
    }
    // The tick has just read the idle time; "try now" between ticks reads it afresh, since the
    // click on the button is itself input.
    m_activity.moved(now, action, m_idleReadAt == now ? m_idleRead : m_ports.idle.idleSeconds());
}

void Engine::readBack(const Instant& now, double idle) {
    const bool available = m_ports.idle.available();
    if (m_activity.readBack(now, available ? std::optional<double>(idle) : std::nullopt))
        m_dirty = true;
    // Once per run: a session that ignores the movements keeps ignoring them, and a notification
    // per movement would only bury the first.
    if (m_activity.verdict() == Verdict::unverified && !m_unverifiedNoted) {
        m_unverifiedNoted = true;
        m_ports.notifier.send(QStringLiteral("La sesión no registra los movimientos"),
                              QStringLiteral("La pantalla puede apagarse igual. «Ver diagnóstico», en el "
                                             "panel de Morvane, da los detalles."));
    }
}

} // namespace morvane
