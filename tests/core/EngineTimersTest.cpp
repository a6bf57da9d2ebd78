// Timers, pauses, planned runs and daily schedules, driven by the fake clock.

#include "FakePorts.h"
#include "Fmt.h"

using namespace morvane;
using namespace morvane::test;

namespace {

struct TimerRig : Rig {
    TimerRig() {
        prefs([](Prefs& p) {
            p.neverLocked = false;
            p.neverBatteryLow = false;
        });
        start();
    }
    Instant in(double seconds) const { return instant::plusSeconds(clock.t, seconds); }
    void minutes(int n) { ticks(n * 60); }
};

} // namespace

TEST(EngineTimers, TimerEndsTheRunWithANotification) {
    TimerRig rig;
    rig.engine->activate(rig.in(600));
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_TRUE(rig.engine->hasTimers());
    EXPECT_TRUE(rig.notifier.sent.empty()) << "popover actions post nothing";
    rig.ticks(599);
    EXPECT_TRUE(rig.engine->enabled());
    rig.tick();
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_FALSE(rig.engine->hasTimers());
    EXPECT_EQ(rig.notifier.sent, (std::vector<Note>{{"Morvane desactivado", "Terminó el temporizador"}}));
    EXPECT_EQ(rig.engine->status(), "Apagado");
}

TEST(EngineTimers, ActivateWhilePausedDropsThePauseAndItsCarriedStop) {
    TimerRig rig;
    rig.engine->activate(rig.in(3600));
    rig.engine->pause(300);
    rig.engine->activate(rig.in(60));
    EXPECT_FALSE(rig.engine->pausedUntil());
    rig.minutes(6);
    EXPECT_FALSE(rig.engine->enabled()) << "the new timer ended it; the old pause did not come back";
    EXPECT_EQ(rig.notifier.sent.size(), 1u);
}

TEST(EngineTimers, PlanWhileOnReplacesTheRunningTimerSilently) {
    for (const bool withStop : {true, false}) {
        TimerRig rig;
        rig.engine->activate(rig.in(1800));
        const Instant plannedStop = rig.in(3600);
        rig.engine->schedule(rig.in(600), withStop ? OptInstant(plannedStop) : std::nullopt);
        EXPECT_EQ(*rig.engine->stopAt(), rig.in(1800)) << "the timer keeps running until the plan starts";
        rig.minutes(10);
        EXPECT_TRUE(rig.engine->enabled());
        EXPECT_EQ(rig.engine->stopAt(), withStop ? OptInstant(plannedStop) : std::nullopt);
        EXPECT_TRUE(rig.notifier.sent.empty()) << "already on: nothing to announce";
    }
}

TEST(EngineTimers, PlannedRunStartsAndStopsWithNotifications) {
    TimerRig rig;
    rig.clock.zone = QTimeZone("America/Argentina/Buenos_Aires");
    // Now: Wednesday 12:00 UTC = 09:00 local. Plan 09:00:30 today .. 08:00 tomorrow.
    const Instant start = rig.in(30);
    const Instant stop = rig.in(23 * 3600);
    rig.engine->schedule(start, stop);
    EXPECT_EQ(rig.engine->status(), "Programado");
    rig.ticks(30);
    ASSERT_TRUE(rig.engine->enabled());
    ASSERT_EQ(rig.notifier.sent.size(), 1u);
    EXPECT_EQ(rig.notifier.sent[0].title, "Morvane activado");
    EXPECT_EQ(rig.notifier.sent[0].body,
              "Encendido programado hasta las " + Fmt::time(stop, rig.clock.zone, start));
    EXPECT_TRUE(rig.notifier.sent[0].body.endsWith(QStringLiteral(" 08:00")));
    EXPECT_NE(rig.notifier.sent[0].body, "Encendido programado hasta las 08:00")
        << "tomorrow shows its weekday";
    EXPECT_EQ(rig.engine->stopAt(), OptInstant(stop));

    rig.engine->cancelTimers();
    rig.engine->schedule(rig.in(5), std::nullopt);
    rig.engine->toggle(false);
    rig.ticks(5);
    EXPECT_EQ(rig.notifier.sent.back(), (Note{"Morvane activado", "Encendido programado"}));
}

TEST(EngineTimers, PlanWhoseStopHasPassedIsDroppedSilently) {
    TimerRig rig;
    rig.engine->schedule(rig.in(10), rig.in(5));
    rig.ticks(10);
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_FALSE(rig.engine->startAt());
    EXPECT_FALSE(rig.engine->plannedStopAt());
    EXPECT_TRUE(rig.notifier.sent.empty());
}

TEST(EngineTimers, PauseCarriesTheTimerAcrossIt) {
    // 30-minute timer with 10 minutes left, paused for 15 minutes: the run would have ended.
    {
        TimerRig rig;
        rig.engine->activate(rig.in(1800));
        rig.minutes(20);
        rig.engine->pause(900);
        EXPECT_EQ(rig.engine->status(), "En pausa");
        EXPECT_FALSE(rig.sleepGuard.held);
        rig.minutes(15);
        EXPECT_FALSE(rig.engine->enabled());
        EXPECT_FALSE(rig.engine->hasTimers());
        EXPECT_TRUE(rig.notifier.sent.empty());
    }
    // The same pause for 5 minutes: back on, then the timer ends 5 minutes later.
    {
        TimerRig rig;
        rig.engine->activate(rig.in(1800));
        rig.minutes(20);
        rig.engine->pause(300);
        rig.minutes(5);
        EXPECT_TRUE(rig.engine->enabled());
        EXPECT_TRUE(rig.sleepGuard.held);
        rig.minutes(5);
        EXPECT_FALSE(rig.engine->enabled());
        EXPECT_EQ(rig.notifier.sent, (std::vector<Note>{{"Morvane activado", "Terminó la pausa"},
                                                        {"Morvane desactivado", "Terminó el temporizador"}}));
    }
}

TEST(EngineTimers, PauseWhileOffSwitchesOnWhenItEnds) {
    TimerRig rig;
    rig.engine->pause(0);
    rig.tick();
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_FALSE(rig.engine->stopAt());
}

TEST(EngineTimers, CancelKeepsTheSwitchAndPersistsAtOnce) {
    TimerRig rig;
    rig.engine->pause(600);
    rig.tick();
    const int writes = rig.defaults.writes;
    rig.engine->cancelTimers();
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_EQ(rig.engine->status(), "Apagado");
    EXPECT_EQ(rig.defaults.writes, writes + 1);
    EXPECT_EQ(rig.storedState(), (RunState::Numbers{0, 0, 0, 0, 0, 0, 0, 0}));

    rig.engine->activate(rig.in(60));
    rig.engine->cancelTimers();
    rig.minutes(2);
    EXPECT_TRUE(rig.engine->enabled()) << "a timed run goes on without an end";
}

TEST(EngineTimers, QuitWhenTimerEndsLeavesAStateThatRestoresOff) {
    TimerRig rig;
    rig.prefs([](Prefs& p) { p.quitWhenTimerEnds = true; });
    rig.engine->activate(rig.in(3));
    rig.ticks(3);
    EXPECT_EQ(rig.termination.requests, 1);
    EXPECT_EQ(rig.notifier.sent.back().body, "Terminó el temporizador");
    const auto stored = rig.storedState();
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)[0], 1) << "the quitting tick does not persist";
    rig.rebuild();
    rig.start();
    EXPECT_FALSE(rig.engine->enabled());
}

// Schedules: Wednesday 2026-12-02, UTC. "Horario laboral" 09:00-18:00 Monday to Friday.
struct ScheduleRig : TimerRig {
    ScheduleRig() {
        clock.t = QDateTime(QDate(2026, 12, 2), QTime(8, 59, 58), instant::kUtc);
        prefs([](Prefs& p) { p.schedulesEnabled = true; });
    }
};

TEST(EngineSchedules, ScheduleSwitchesOnAndOffAtItsBoundaries) {
    ScheduleRig rig;
    rig.ticks(2);
    ASSERT_TRUE(rig.engine->enabled());
    EXPECT_TRUE(rig.engine->enabledBySchedule());
    ASSERT_TRUE(rig.engine->activeSchedule());
    EXPECT_EQ(rig.engine->activeSchedule()->name, "Horario laboral");
    EXPECT_EQ(rig.notifier.sent.back(), (Note{"Morvane activado", "Empezó \"Horario laboral\""}));
    rig.ticks(9 * 3600);
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_FALSE(rig.engine->activeSchedule());
    EXPECT_EQ(rig.notifier.sent.back(), (Note{"Morvane desactivado", "Terminó el horario"}));
}

TEST(EngineSchedules, ManualSwitchesAreNeverUndoneWithinAnOccurrence) {
    ScheduleRig rig;
    rig.ticks(10);
    rig.engine->toggle(false);
    rig.minutes(60);
    EXPECT_FALSE(rig.engine->enabled()) << "off by hand stays off until the next boundary";
    rig.engine->toggle(false);
    rig.ticks(9 * 3600);
    EXPECT_TRUE(rig.engine->enabled()) << "on by hand is not ended by the schedule's end";
}

TEST(EngineSchedules, TimerDuringAScheduledRunTakesItOver) {
    ScheduleRig rig;
    rig.ticks(2);
    rig.engine->activate(rig.in(10 * 3600));
    rig.ticks(9 * 3600);
    EXPECT_TRUE(rig.engine->enabled());
}

TEST(EngineSchedules, PauseKeepsTheScheduleMarkAndABoundaryDoesNotEndIt) {
    ScheduleRig rig;
    rig.engine->pause(120);
    rig.ticks(2);
    EXPECT_FALSE(rig.engine->enabled()) << "a schedule beginning while paused does not switch on";
    rig.ticks(120);
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_FALSE(rig.engine->enabledBySchedule()) << "the paused run was not schedule-started";

    ScheduleRig other;
    other.ticks(2);
    other.engine->pause(60);
    other.ticks(60);
    EXPECT_TRUE(other.engine->enabledBySchedule()) << "the mark survives the pause";
}

TEST(EngineSchedules, TurningSchedulesOffEndsAScheduledRun) {
    ScheduleRig rig;
    rig.ticks(2);
    rig.prefs([](Prefs& p) { p.schedulesEnabled = false; });
    rig.tick();
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_EQ(rig.notifier.sent.back().body, "Terminó el horario");
}

TEST(EngineSchedules, RelaunchInsideAnOccurrenceSwitchesOnAgain) {
    ScheduleRig rig;
    rig.ticks(10);
    rig.engine->toggle(false);
    rig.tick();
    rig.rebuild();
    rig.start();
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_EQ(rig.notifier.sent.back().body, "Empezó \"Horario laboral\"");
}

TEST(EngineSchedules, NotificationsSettingSilencesEverything) {
    ScheduleRig rig;
    rig.prefs([](Prefs& p) { p.notifications = false; });
    rig.ticks(2);
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_TRUE(rig.notifier.sent.empty());
}

TEST(EngineTimers, AWallClockStepLeavesTheUsersEndOnTheWallClock) {
    for (const double step : {3600.0, -3600.0}) {
        TimerRig rig;
        const Instant end = rig.in(600);
        rig.engine->activate(end);
        rig.stepWall(step);
        rig.tick();
        // Forward past the end: it ends at once. Back: it stays at the same time of day.
        EXPECT_EQ(rig.engine->stopAt(), step > 0 ? OptInstant() : OptInstant(end)) << step;
    }
}
