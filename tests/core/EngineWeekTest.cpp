// A simulated week, one tick per second, in New York across the March 2026 change to summer
// time: two overlapping daily schedules, a manual switch-off inside one, a pause, a timer and a
// planned run. The notifications are checked with the local time at which each was posted.

#include "FakePorts.h"
#include "Fmt.h"

#include <map>

using namespace morvane;
using namespace morvane::test;

namespace {

const QTimeZone kNewYork("America/New_York");

Instant local(int day, int hour, int minute) {
    return QDateTime(QDate(2026, 3, day), QTime(hour, minute), kNewYork).toUTC();
}

Schedule makeSchedule(const char* name, std::set<std::int64_t> days, int start, int end) {
    Schedule s;
    s.name = QString::fromUtf8(name);
    s.days = std::move(days);
    s.start = start;
    s.end = end;
    return s;
}

} // namespace

TEST(EngineWeek, SecondBySecondAcrossTheSpringForward) {
    Rig rig;
    rig.clock.zone = kNewYork;
    rig.clock.t = local(4, 0, 0); // Wednesday
    rig.idle.lastInput = rig.clock.t;
    rig.prefs([](Prefs& p) {
        p.schedulesEnabled = true;
        p.policy = TriggerPolicy::always;
        p.interval = 300;
        p.randomize = false;
        p.schedules = {makeSchedule("Mañana", {1, 2, 3, 4, 5, 6}, 9 * 60, 13 * 60),
                       makeSchedule("Tarde", {2, 3, 4, 5, 6}, 12 * 60, 18 * 60)};
    });
    rig.start();

    Engine& engine = *rig.engine;
    std::map<Instant, std::function<void()>> actions{
        {local(5, 10, 0), [&] { engine.toggle(false); }},             // Thursday, inside "Mañana"
        {local(6, 10, 0), [&] { engine.pause(1800); }},               // Friday
        {local(7, 20, 0), [&] { engine.activate(local(7, 22, 0)); }}, // Saturday
        {local(8, 20, 0),
         [&] {
             const Instant start = Fmt::nextOccurrence(7 * 60, rig.clock.t, kNewYork);
             engine.schedule(start, Fmt::nextOccurrence(8 * 60, start, kNewYork));
         }},
    };

    std::vector<QString> log;
    const Instant end = local(11, 0, 0);
    size_t seen = 0;
    while (rig.clock.t < end) {
        if (const auto it = actions.find(instant::plusSeconds(rig.clock.t, 1)); it != actions.end()) {
            rig.clock.advance(1);
            it->second();
            rig.ticker.callback();
        } else {
            const auto moves = rig.jiggler.movements.size();
            rig.tick();
            if (!engine.enabled()) {
                ASSERT_EQ(rig.jiggler.movements.size(), moves) << "moved while off";
            }
        }
        for (; seen < rig.notifier.sent.size(); ++seen)
            log.push_back(rig.clock.t.toTimeZone(kNewYork).toString(QStringLiteral("ddd HH:mm:ss ")) +
                          rig.notifier.sent[seen].body);
    }

    const std::vector<QString> expected{
        "Wed 09:00:00 Empezó \"Mañana\"",
        "Wed 18:00:00 Terminó el horario", // carried from "Mañana" into "Tarde" at 13:00
        "Thu 09:00:00 Empezó \"Mañana\"",
        "Thu 13:00:00 Empezó \"Tarde\"", // off by hand at 10:00 until the next boundary
        "Thu 18:00:00 Terminó el horario",
        "Fri 09:00:00 Empezó \"Mañana\"",
        "Fri 10:30:00 Terminó la pausa",
        "Fri 18:00:00 Terminó el horario", // the pause kept the schedule's mark
        "Sat 22:00:00 Terminó el temporizador",
        // Inside an occurrence is judged by the wall clock: 09:00 to 13:00 also on the short day.
        "Sun 09:00:00 Empezó \"Mañana\"",
        "Sun 13:00:00 Terminó el horario",
        // Picked on Sunday evening: 07:00 counted as elapsed time from a winter-time midnight is
        // already past, so the start is Monday at the same wall-clock time, 08:00, and the stop
        // (08:00, not later than the start) falls on Tuesday.
        "Mon 08:00:00 Encendido programado hasta las mar 08:00",
        // The planned run is not schedule-started, so Monday's schedules leave it alone.
        "Tue 08:00:00 Terminó el temporizador",
        "Tue 09:00:00 Empezó \"Mañana\"",
        "Tue 18:00:00 Terminó el horario",
    };
    EXPECT_EQ(log, expected);
    EXPECT_FALSE(engine.enabled());
    EXPECT_FALSE(rig.sleepGuard.held);
    // The pause's schedule mark is kept (it only matters while paused) and persisted as it is.
    EXPECT_EQ(rig.storedState(), (RunState::Numbers{0, 0, 0, 0, 0, 0, 0, 1}));
    // Every run of the week moved on its own timetable: 5 s after switching on, then every 300 s.
    EXPECT_GT(engine.jiggleCount(), 500);
    EXPECT_EQ(engine.jiggleCount(), qint64(rig.jiggler.movements.size()));
}
