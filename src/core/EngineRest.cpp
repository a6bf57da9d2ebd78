#include "Engine.h"

#include "EngineBatch.h"
#include "SettingsStore.h"

namespace morvane {

namespace {

// A change of time zone moves the schedules' local times without any event of the clock; a rest
// that waits for one looks again at least this often.
constexpr double kLongestRest = 600;
// An instant already due that the tick did not clear would otherwise wake the engine in a loop.
constexpr double kOverdueRetry = 1;

OptInstant earliest(const OptInstant& a, const OptInstant& b) {
    if (!a || !b)
        return a ? a : b;
    return *a < *b ? a : b;
}

OptInstant notOverdue(const OptInstant& next, const Instant& now) {
    if (next && !(*next > now))
        return instant::plusSeconds(now, kOverdueRetry);
    return next;
}

} // namespace

OptInstant Engine::nextWakeWhileOff() const {
    const Instant now = m_ports.clock.now();
    OptInstant next = earliest(m_startAt, m_pausedUntil);
    const Prefs& p = m_store.p();
    if (p.schedulesEnabled) {
        OptInstant edge;
        const QTimeZone zone = m_ports.clock.timeZone();
        for (const Schedule& s : p.schedules)
            edge = earliest(edge, earliest(s.nextStart(now, zone), s.occurrenceEnd(now, zone)));
        if (edge)
            next = earliest(next, earliest(edge, instant::plusSeconds(now, kLongestRest)));
    }
    return notOverdue(next, now);
}

OptInstant Engine::nextWakeWhileOn() const {
    const Instant now = m_ports.clock.now();
    OptInstant next = earliest(nextWakeWhileOff(), m_stopAt);
    next = earliest(next, m_activity.readBackAt());
    next = earliest(next, OptInstant(m_blocked ? m_judgeAt : movementDueAt()));
    // Switched on since the last tick: a second later the tick puts the countdown on the status
    // line, as it does on an engine that ticks every second.
    if (m_status == StatusForm{QStringLiteral("Activo")})
        next = earliest(next, instant::plusSeconds(now, kOverdueRetry));
    return notOverdue(next, now);
}

void Engine::setWatched(bool watched) {
    if (m_watched == watched)
        return;
    m_watched = watched;
    const bool wasResting = m_resting;
    Batch batch(*this);
    // A window opening after a rest shows what a tick finds now, not what the last one found.
    if (watched && wasResting) {
        wakeFromRest();
        tick();
    }
}

void Engine::planTicks() {
    if (!m_started || m_quitting)
        return;
    if (m_watched || (m_enabled && !restsWhileOn())) {
        if (m_resting)
            wakeFromRest();
        return;
    }
    // Nothing ticks during the rest to save the run state an operation just changed.
    persist();
    // Off, nothing judges the load until the engine is on again; on, the next judgement measures
    // it over the whole rest.
    if (!m_resting && !m_enabled)
        publish(m_cpuUsage, std::optional<double>());
    m_resting = true;
    m_ports.ticker.rest(m_enabled ? nextWakeWhileOn() : nextWakeWhileOff());
}

void Engine::wakeFromRest() {
    m_resting = false;
    m_ports.ticker.resume();
    // What the tray and the views read before the next tick: the countdowns need the time now.
    publish(m_now, readClock());
    publish(m_accessibilityOK, m_ports.trust.trusted());
}

} // namespace morvane
