// What the popover computes rather than shows: the timer lines and the planned run.
#include "MenuView.h"

#include "Engine.h"
#include "Fmt.h"
#include "Ports.h"
#include "SettingsStore.h"

namespace morvane {

QList<MenuView::Line> MenuView::timerLines(const TimerState& state, const Prefs& prefs,
                                           const QTimeZone& zone) {
    const auto timeOf = [&](const Instant& t) { return Fmt::time(t, zone, state.now); };
    const auto countdownTo = [&](const Instant& t) {
        return Fmt::countdown(instant::secondsBetween(state.now, t));
    };
    QList<Line> lines;
    if (state.stopAt)
        lines.append({Symbol::timer, QStringLiteral("Se apaga en ") + countdownTo(*state.stopAt) +
                                         QStringLiteral(" (") + timeOf(*state.stopAt) + QStringLiteral(")")});
    if (state.startAt) {
        QString text = QStringLiteral("Se enciende a las ") + timeOf(*state.startAt);
        if (state.plannedStopAt)
            text += QStringLiteral(" hasta las ") + timeOf(*state.plannedStopAt);
        lines.append({Symbol::alarm, text});
    }
    if (state.pausedUntil)
        lines.append(
            {Symbol::pauseCircle, QStringLiteral("En pausa, vuelve en ") + countdownTo(*state.pausedUntil)});

    if (state.activeSchedule) {
        if (const OptInstant end = state.activeSchedule->occurrenceEnd(state.now, zone)) {
            lines.append({Symbol::calendar,
                          state.activeSchedule->name + QStringLiteral(" hasta las ") + timeOf(*end)});
            return lines;
        }
    }
    if (!prefs.schedulesEnabled)
        return lines;
    OptInstant earliest;
    for (const Schedule& s : prefs.schedules) {
        const OptInstant start = s.nextStart(state.now, zone);
        if (start && (!earliest || *start < *earliest))
            earliest = start;
    }
    if (earliest)
        lines.append({Symbol::calendar, QStringLiteral("Próximo horario: ") + timeOf(*earliest)});
    return lines;
}

QList<MenuView::Line> MenuView::timerLines() const {
    const TimerState state{m_engine.now(),           m_engine.stopAt(),      m_engine.startAt(),
                           m_engine.plannedStopAt(), m_engine.pausedUntil(), m_engine.activeSchedule()};
    return timerLines(state, m_store.p(), m_clock.timeZone());
}

void MenuView::programar() {
    const Prefs p = m_store.p();
    const QTimeZone zone = m_clock.timeZone();
    const Instant start = Fmt::nextOccurrence(p.lastStartMinutes, m_clock.now(), zone);
    const OptInstant stop =
        p.lastStopEnabled ? OptInstant(Fmt::nextOccurrence(p.lastStopMinutes, start, zone)) : std::nullopt;
    m_engine.schedule(start, stop);
}

} // namespace morvane
