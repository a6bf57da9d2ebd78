#include "Engine.h"

#include "EngineBatch.h"
#include "Fmt.h"
#include "SettingsStore.h"

namespace morvane {

void Engine::activate(const Instant& until) {
    Batch batch(*this);
    publish(m_pausedUntil, OptInstant{});
    m_pausedStopAt.reset();
    publish(m_startAt, OptInstant{});
    publish(m_plannedStopAt, OptInstant{});
    setEnabled(true);
    m_enabledBySchedule = false;
    publish(m_stopAt, OptInstant(until));
    refreshStatus();
}

void Engine::schedule(const Instant& start, const OptInstant& stop) {
    Batch batch(*this);
    publish(m_pausedUntil, OptInstant{});
    publish(m_startAt, OptInstant(start));
    publish(m_plannedStopAt, stop);
    refreshStatus();
}

void Engine::pause(double seconds) {
    Batch batch(*this);
    m_pausedStopAt = m_stopAt;
    m_pausedBySchedule = m_enabledBySchedule;
    setEnabled(false);
    publish(m_pausedUntil, OptInstant(instant::plusSeconds(readClock(), seconds)));
    refreshStatus();
}

void Engine::cancelTimers() {
    Batch batch(*this);
    publish(m_stopAt, OptInstant{});
    publish(m_startAt, OptInstant{});
    publish(m_plannedStopAt, OptInstant{});
    publish(m_pausedUntil, OptInstant{});
    m_pausedStopAt.reset();
    refreshStatus();
    persist();
}

bool Engine::hasTimers() const {
    return m_stopAt || m_startAt || m_pausedUntil;
}

void Engine::plannedStartDue(const Instant& now) {
    if (!m_startAt || *m_startAt > now)
        return;
    const OptInstant stop = m_plannedStopAt;
    publish(m_startAt, OptInstant{});
    publish(m_plannedStopAt, OptInstant{});
    // The whole planned run lies in the past: drop it without a word.
    if (stop && !(*stop > now))
        return;
    publish(m_pausedUntil, OptInstant{});
    m_pausedStopAt.reset();
    setEnabled(true, stop ? QStringLiteral("Encendido programado hasta las ") +
                                Fmt::time(*stop, m_ports.clock.timeZone(), now)
                          : QStringLiteral("Encendido programado"));
    m_enabledBySchedule = false;
    // Also when there is no stop: a planned run without an end removes the end of a running one.
    publish(m_stopAt, stop);
}

void Engine::pauseEndDue(const Instant& now) {
    if (!m_pausedUntil || *m_pausedUntil > now)
        return;
    const OptInstant carriedStop = m_pausedStopAt;
    publish(m_pausedUntil, OptInstant{});
    m_pausedStopAt.reset();
    // The paused run would have ended during the pause: stay off, silently.
    if (carriedStop && !(*carriedStop > now))
        return;
    setEnabled(true, QStringLiteral("Terminó la pausa"));
    publish(m_stopAt, carriedStop);
    m_enabledBySchedule = m_pausedBySchedule;
}

bool Engine::timerEndDue(const Instant& now) {
    if (!m_stopAt || *m_stopAt > now)
        return true;
    publish(m_stopAt, OptInstant{});
    setEnabled(false, QStringLiteral("Terminó el temporizador"));
    if (m_store.p().quitWhenTimerEnds) {
        // The run state stays as the previous tick wrote it: on until a past instant, which
        // the next launch reads as off.
        m_ports.termination.requestQuit();
        return false;
    }
    return true;
}

void Engine::schedulesDue(const Instant& now) {
    const Prefs& p = m_store.p();
    const Schedule* active = nullptr;
    if (p.schedulesEnabled) {
        const QTimeZone zone = m_ports.clock.timeZone();
        for (const Schedule& s : p.schedules) {
            if (s.occurrenceEnd(now, zone)) {
                active = &s;
                break;
            }
        }
    }
    const std::optional<QUuid> activeID = active ? std::optional<QUuid>(active->id) : std::nullopt;
    // Copy before switching: a notification observer could replace the settings record.
    const std::optional<Schedule> activeCopy = active ? std::optional<Schedule>(*active) : std::nullopt;
    if (activeID != m_lastScheduleID) {
        if (!activeCopy) {
            if (m_enabledBySchedule && m_enabled)
                setEnabled(false, QStringLiteral("Terminó el horario"));
        } else if (!m_enabled && !m_pausedUntil) {
            setEnabled(true, QStringLiteral("Empezó \"%1\"").arg(activeCopy->name));
            m_enabledBySchedule = true;
        }
        m_lastScheduleID = activeID;
    }
    publish(m_activeSchedule, activeCopy);
}

} // namespace morvane
