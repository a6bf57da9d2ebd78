// Switching, the hot key and display-sleep hookups, and the run state across relaunches.

#include "FakePorts.h"

using namespace morvane;
using namespace morvane::test;

namespace {

double epoch(const Instant& t) {
    return instant::toEpochSeconds(t);
}

} // namespace

TEST(Engine, SwitchingOnPutsTheFirstMovementAtMostFiveSecondsAhead) {
    for (const auto& [interval, expected] : {std::pair{120.0, 5.0}, {3.0, 3.0}, {-10.0, -10.0}}) {
        Rig rig;
        rig.prefs([&](Prefs& p) { p.interval = interval; });
        rig.start();
        rig.engine->setEnabled(true);
        EXPECT_DOUBLE_EQ(instant::secondsBetween(rig.clock.t, rig.engine->nextJiggleAt()), expected)
            << interval;
        EXPECT_EQ(rig.engine->status(), "Activo");
    }
}

TEST(Engine, SetEnabledIsANoOpWhenTheStateIsUnchanged) {
    Rig rig;
    rig.start();
    rig.engine->setEnabled(true, QStringLiteral("x"));
    const Instant next = rig.engine->nextJiggleAt();
    rig.clock.advance(2);
    rig.engine->setEnabled(true, QStringLiteral("again"));
    EXPECT_EQ(rig.engine->nextJiggleAt(), next);
    ASSERT_EQ(rig.notifier.sent.size(), 1u);
    EXPECT_EQ(rig.notifier.sent[0], (Note{"Morvane activado", "x"}));
    rig.engine->setEnabled(false);
    rig.engine->setEnabled(false, QStringLiteral("nothing to do"));
    EXPECT_EQ(rig.notifier.sent.size(), 1u);
}

TEST(Engine, HotKeyWhileOffAndPausedClearsEverythingAndNotifies) {
    Rig rig;
    rig.start();
    rig.engine->schedule(instant::plusSeconds(rig.clock.t, 3600), instant::plusSeconds(rig.clock.t, 7200));
    rig.engine->pause(600);
    ASSERT_TRUE(rig.hotKeys.last);
    rig.hotKeys.last->action();
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_FALSE(rig.engine->pausedUntil());
    EXPECT_FALSE(rig.engine->startAt());
    EXPECT_FALSE(rig.engine->plannedStopAt());
    EXPECT_FALSE(rig.engine->enabledBySchedule());
    ASSERT_EQ(rig.notifier.sent.size(), 1u);
    EXPECT_EQ(rig.notifier.sent[0], (Note{"Morvane activado", "Con el atajo de teclado"}));
    rig.hotKeys.last->action();
    EXPECT_EQ(rig.notifier.sent.back(), (Note{"Morvane desactivado", "Con el atajo de teclado"}));
}

TEST(Engine, PopoverSwitchOffWithATimerClearsItSilently) {
    Rig rig;
    rig.start();
    rig.engine->activate(instant::plusSeconds(rig.clock.t, 3600));
    ASSERT_TRUE(rig.engine->stopAt());
    rig.engine->toggle(false);
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_FALSE(rig.engine->stopAt());
    EXPECT_EQ(rig.engine->status(), "Apagado");
    EXPECT_TRUE(rig.notifier.sent.empty());
}

TEST(Engine, ManualStartKeepsAPendingPlanWhenSwitchingOff) {
    Rig rig;
    rig.start();
    rig.engine->toggle(false);
    rig.engine->schedule(instant::plusSeconds(rig.clock.t, 60), std::nullopt);
    rig.engine->toggle(false); // switching off leaves the plan alone
    EXPECT_TRUE(rig.engine->startAt());
    EXPECT_EQ(rig.engine->status(), "Programado");
}

TEST(Engine, DisplaySleepFollowsTheSwitchAndTheSetting) {
    Rig rig;
    rig.start();
    EXPECT_FALSE(rig.sleepGuard.held);
    rig.prefs([](Prefs& p) { p.preventDisplaySleep = false; });
    rig.prefs([](Prefs& p) { p.preventDisplaySleep = true; }); // while off: takes nothing
    EXPECT_EQ(rig.sleepGuard.takes, 0);

    rig.engine->setEnabled(true);
    EXPECT_TRUE(rig.sleepGuard.held);
    rig.prefs([](Prefs& p) { p.preventDisplaySleep = false; });
    EXPECT_FALSE(rig.sleepGuard.held) << "turning the setting off while on releases at once";
    rig.prefs([](Prefs& p) { p.preventDisplaySleep = true; });
    EXPECT_TRUE(rig.sleepGuard.held);
    rig.prefs([](Prefs& p) { p.interval = 30; }); // an unrelated change is not a new delivery
    EXPECT_EQ(rig.sleepGuard.takes, 2);
    rig.engine->pause(60);
    EXPECT_FALSE(rig.sleepGuard.held);
}

TEST(Engine, HotKeySettingRegistersAndReleasesTheSameKey) {
    Rig rig;
    rig.prefs([](Prefs& p) { p.hotkey = false; });
    rig.start();
    EXPECT_EQ(rig.hotKeys.created, 0) << "a disabled hot key is never created";
    rig.prefs([](Prefs& p) { p.hotkey = true; });
    ASSERT_EQ(rig.hotKeys.created, 1);
    EXPECT_TRUE(rig.engine->hotKeyRegistered());
    rig.prefs([](Prefs& p) { p.hotkey = false; });
    EXPECT_FALSE(rig.engine->hotKeyRegistered());
    rig.prefs([](Prefs& p) { p.hotkey = true; });
    EXPECT_TRUE(rig.engine->hotKeyRegistered());
    EXPECT_EQ(rig.hotKeys.created, 1);
    EXPECT_EQ(rig.hotKeys.last->registrations, 2);
}

TEST(Engine, StartSetsUpNotificationsAndMeasuresIdleFromTheLastInput) {
    Rig rig;
    rig.idle.lastInput = instant::plusSeconds(rig.clock.t, -40);
    rig.start();
    EXPECT_EQ(rig.notifier.setups, 1);
    EXPECT_DOUBLE_EQ(rig.engine->userIdle(), 40);
    EXPECT_EQ(rig.ticker.period, 1.0);
    EXPECT_TRUE(rig.storedState()) << "the first tick runs at once and persists";
}

TEST(Engine, ChangedIsEmittedOncePerOperation) {
    Rig rig;
    rig.start();
    int count = 0;
    QObject::connect(rig.engine.get(), &Engine::changed, [&] { ++count; });
    rig.engine->activate(instant::plusSeconds(rig.clock.t, 600));
    EXPECT_EQ(count, 1);
    rig.engine->setEnabled(true);
    EXPECT_EQ(count, 1) << "nothing changed, nothing emitted";
}

// Relaunch: what the previous process persisted decides the state the new one starts in.
class EngineRestore : public ::testing::Test {
protected:
    Rig rig;
    void relaunchWith(const RunState::Numbers& stored, bool restoreState = true) {
        rig.prefs([&](Prefs& p) { p.restoreState = restoreState; });
        rig.defaults.values.insert(Engine::kStateKey, RunState::toVariant(stored));
        rig.rebuild();
        rig.start();
    }
    double future(double seconds) { return epoch(rig.clock.t) + seconds; }
};

TEST_F(EngineRestore, OnWithoutTimerComesUpOnSilently) {
    relaunchWith({1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_FALSE(rig.engine->stopAt());
    EXPECT_TRUE(rig.notifier.sent.empty());
    EXPECT_TRUE(rig.sleepGuard.held);
}

TEST_F(EngineRestore, ExpiredTimerStaysOff) {
    relaunchWith({1, epoch(rig.clock.t) - 10, 0, 0, 0, 0, 1, 0});
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_EQ(rig.storedState(), (RunState::Numbers{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(EngineRestore, RunningTimerAndScheduleMarkAreKept) {
    const double stop = future(1800.25);
    relaunchWith({1, stop, 0, 0, 0, 0, 1, 0});
    EXPECT_TRUE(rig.engine->enabled());
    ASSERT_TRUE(rig.engine->stopAt());
    EXPECT_EQ(epoch(*rig.engine->stopAt()), stop);
    EXPECT_TRUE(rig.engine->enabledBySchedule());
}

TEST_F(EngineRestore, FuturePauseWinsOverTheOnFlag) {
    const double until = future(300), carried = future(900);
    relaunchWith({1, 0, 0, 0, until, carried, 0, 1});
    EXPECT_FALSE(rig.engine->enabled());
    ASSERT_TRUE(rig.engine->pausedUntil());
    EXPECT_EQ(epoch(*rig.engine->pausedUntil()), until);
    EXPECT_EQ(rig.engine->status(), "En pausa");
    // The carried stop and the schedule mark come back when the pause ends.
    rig.ticks(300);
    EXPECT_TRUE(rig.engine->enabled());
    ASSERT_TRUE(rig.engine->stopAt());
    EXPECT_EQ(epoch(*rig.engine->stopAt()), carried);
    EXPECT_TRUE(rig.engine->enabledBySchedule());
}

TEST_F(EngineRestore, FuturePlanIsKeptAndAPastOneDropped) {
    const double start = future(60), stop = future(120);
    relaunchWith({0, 0, start, stop, 0, 0, 0, 0});
    ASSERT_TRUE(rig.engine->startAt());
    EXPECT_EQ(epoch(*rig.engine->startAt()), start);
    EXPECT_EQ(epoch(*rig.engine->plannedStopAt()), stop);
    EXPECT_EQ(rig.engine->status(), "Programado");

    relaunchWith({0, 0, epoch(rig.clock.t) - 1, stop, 0, 0, 0, 0});
    EXPECT_FALSE(rig.engine->startAt());
    EXPECT_FALSE(rig.engine->plannedStopAt());
}

TEST_F(EngineRestore, RestoreStateOffIgnoresAndOverwritesTheStoredState) {
    relaunchWith({1, 0, 0, 0, 0, 0, 0, 0}, false);
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_EQ(rig.storedState(), (RunState::Numbers{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(EngineRestore, MalformedStateStartsOff) {
    for (const QVariant& bad : {QVariant(QStringLiteral("1,0,0")), QVariant(QVariantList{1, 0, 0}),
                                QVariant(QStringList{"1", "0", "0", "0", "0", "0", "0", "x"}), QVariant()}) {
        rig.defaults.values.insert(Engine::kStateKey, bad);
        rig.rebuild();
        rig.engine->start();
        EXPECT_FALSE(rig.engine->enabled());
    }
    // Values other than exactly 1 in the flag positions read as false; huge instants saturate.
    relaunchWith({0.999, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(rig.engine->enabled());
    relaunchWith({1, 1e308, 0, 0, 0, 0, 2, 0});
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_FALSE(rig.engine->enabledBySchedule());
    ASSERT_TRUE(rig.engine->stopAt());
    EXPECT_EQ(rig.engine->stopAt()->toMSecsSinceEpoch(), instant::kMaxMSecs);
}

TEST_F(EngineRestore, PersistedStateRoundTripsExactlyAndIsWrittenOnlyOnChange) {
    rig.start();
    rig.engine->activate(instant::fromMSecs(rig.clock.t.toMSecsSinceEpoch() + 3600123));
    rig.engine->schedule(instant::fromMSecs(rig.clock.t.toMSecsSinceEpoch() + 7200001),
                         instant::fromMSecs(rig.clock.t.toMSecsSinceEpoch() + 9000999));
    rig.tick();
    const auto first = rig.storedState();
    ASSERT_TRUE(first);
    const int writes = rig.defaults.writes;
    rig.ticks(5);
    EXPECT_EQ(rig.defaults.writes, writes) << "an unchanged state is not written again";

    rig.rebuild();
    rig.start();
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_EQ(rig.engine->stopAt()->toMSecsSinceEpoch() % 1000, 123);
    EXPECT_EQ(rig.storedState(), first);
}
