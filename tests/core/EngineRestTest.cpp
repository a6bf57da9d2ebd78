// With no window open the engine does not tick every second: its ticker rests until the next
// instant that can change something (off: a planned instant; on, with an idle source that watches:
// a movement, its read-back, the user's activity edges), and a window brings it back with the time
// of now.

#include "FakePorts.h"

using namespace morvane;
using namespace morvane::test;

namespace {

Instant at(const Rig& rig, double seconds) {
    return instant::plusSeconds(rig.clock.t, seconds);
}

TEST(EngineRest, OffAndUnwatchedItRestsUntilTheNextInstantThatMatters) {
    Rig rig; // Wednesday 12:00 UTC
    rig.start();
    EXPECT_TRUE(rig.ticker.resting);
    EXPECT_EQ(rig.ticker.restUntil, OptInstant()) << "nothing planned: no alarm at all";

    Schedule lunch;
    lunch.days = {4}; // Wednesday
    lunch.start = 12 * 60 + 3;
    lunch.end = 13 * 60;
    const std::vector<std::tuple<const char*, std::function<void()>, OptInstant>> cases{
        {"planned run", [&] { rig.engine->schedule(at(rig, 120), at(rig, 900)); }, at(rig, 120)},
        {"pause", [&] { rig.engine->cancelTimers(), rig.engine->pause(300); }, at(rig, 300)},
        {"schedule start",
         [&] {
             rig.engine->cancelTimers(),
                 rig.prefs([&](Prefs& p) { p.schedules = {lunch}, p.schedulesEnabled = true; });
         },
         at(rig, 180)},
        {"schedule tomorrow: looked at again in ten minutes",
         [&] { rig.prefs([&](Prefs& p) { p.schedules[0].days = {5}; }); }, at(rig, 600)},
    };
    for (const auto& [name, change, until] : cases) {
        change();
        EXPECT_TRUE(rig.ticker.resting) << name;
        EXPECT_EQ(rig.ticker.restUntil, until) << name;
    }
    // Saved without a tick: nothing else would save it before the rest ends.
    rig.engine->pause(300);
    ASSERT_TRUE(rig.storedState());
    EXPECT_EQ((*rig.storedState())[4], instant::toEpochSeconds(at(rig, 300)));

    rig.clock.t = at(rig, 300);
    rig.ticker.callback(); // the alarm
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_FALSE(rig.ticker.resting);
    EXPECT_EQ(rig.notifier.sent.back(), (Note{"Morvane activado", "Terminó la pausa"}));
}

TEST(EngineRest, ASwitchOnOrAWindowWakesItWithTheTimeOfNow) {
    Rig rig;
    rig.start();
    rig.clock.advance(3600); // an hour without a tick
    rig.idle.userInput();
    rig.engine->setWatched(true);
    EXPECT_FALSE(rig.ticker.resting);
    EXPECT_EQ(rig.engine->now(), rig.clock.t);
    EXPECT_EQ(rig.engine->userIdle(), 0) << "the window shows a fresh tick";
    rig.engine->setWatched(false);
    EXPECT_TRUE(rig.ticker.resting);

    rig.clock.advance(600);
    rig.engine->activate(at(rig, 1800)); // morvane --for 30m
    EXPECT_FALSE(rig.ticker.resting);
    EXPECT_EQ(instant::secondsBetween(rig.engine->now(), *rig.engine->stopAt()), 1800) << "the countdown";
    rig.engine->toggle(false);
    EXPECT_TRUE(rig.ticker.resting);
}

// Fires the rest's alarm at its instant.
void alarm(Rig& rig) {
    ASSERT_TRUE(rig.ticker.resting && rig.ticker.restUntil);
    rig.clock.t = *rig.ticker.restUntil;
    rig.ticker.callback();
}

// On, unwatched, zen every 60 s, the user away.
struct Watching : Rig {
    Watching() {
        idle.watches = true;
        prefs([](Prefs& p) {
            p.interval = 60;
            p.mode = JiggleMode::zen;
            p.policy = TriggerPolicy::always;
            p.randomize = false;
            p.neverLocked = false;
            p.neverBatteryLow = false;
        });
        idle.lastInput = instant::plusSeconds(clock.t, -300);
        start();
        engine->setEnabled(true);
    }
};

TEST(EngineRest, OnAndUnwatchedItWakesForMovementsReadBacksAndActivityEdgesOnly) {
    Watching rig;
    ASSERT_TRUE(rig.ticker.resting);
    EXPECT_EQ(rig.ticker.restUntil, at(rig, 1)) << "the tick that puts the countdown on the line";
    alarm(rig);
    EXPECT_EQ(rig.engine->status(), "Activo · próximo en 4 s");
    EXPECT_EQ(rig.ticker.restUntil, at(rig, 4)) << "the first movement";
    rig.clock.advance(2);
    EXPECT_EQ(rig.engine->status(), "Activo · próximo en 2 s") << "the countdown is read from the clock";

    const int samples = rig.cpu.probe.calls;
    alarm(rig);
    EXPECT_EQ(rig.jiggler.movements.size(), 1u);
    EXPECT_EQ(rig.cpu.probe.calls, samples + 1) << "one sample, over the whole wait";
    EXPECT_EQ(rig.ticker.restUntil, at(rig, 1)) << "the read-back";
    rig.clock.advance(0.5);
    rig.idle.edge(); // our own movement reached the session
    EXPECT_EQ(rig.engine->activityCheck().verdict(), Verdict::verified);
    EXPECT_EQ(rig.engine->status(), "Trabajando · próximo en 1 min");
    EXPECT_EQ(rig.ticker.restUntil, at(rig, 59.5));
    rig.clock.advance(0.5);

    int changes = 0;
    QObject::connect(rig.engine.get(), &Engine::changed, [&] { ++changes; });
    rig.clock.advance(20);
    EXPECT_EQ(rig.engine->status(), "Trabajando · próximo en 39 s");
    EXPECT_EQ(changes, 0) << "the countdown alone announces nothing";
    rig.idle.userInput();
    rig.idle.edge();
    EXPECT_EQ(rig.engine->statusForm(), (Engine::StatusForm{"Activo", Engine::Countdown::nextMovement}));
    EXPECT_FALSE(rig.engine->working());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(rig.ticker.restUntil, at(rig, 39)) << "input does not postpone an always-policy movement";
    EXPECT_EQ(rig.cpu.probe.calls, samples + 1) << "edges measure no load";

    rig.engine->setWatched(true);
    EXPECT_FALSE(rig.ticker.resting) << "a window ticks every second";
    rig.engine->setWatched(false);
    rig.idle.watches = false;
    rig.engine->setWatched(true), rig.engine->setWatched(false);
    EXPECT_FALSE(rig.ticker.resting) << "a source that cannot watch is read every second";
}

// The conditions judged once the movement is due decide as an engine that judges them every second.
TEST(EngineRest, ConditionsJudgedAtMovementTimeDecideAsATickingEngine) {
    const std::vector<std::tuple<const char*, std::function<void(FakeMachine&, Prefs&)>, QString>> cases{
        {"nothing required", [](FakeMachine&, Prefs&) {}, ""},
        {"locked", [](FakeMachine& m, Prefs& p) { p.neverLocked = true, m.screenLock.locked = true; },
         "Pausado: pantalla bloqueada"},
        {"on battery",
         [](FakeMachine& m, Prefs& p) {
             p.neverOnBattery = true, m.power.state = {true, 80};
         },
         "Pausado: usando batería"},
        {"battery low",
         [](FakeMachine& m, Prefs& p) {
             p.neverBatteryLow = true, p.batteryThreshold = 20, m.power.state = {true, 15};
         },
         "Pausado: batería baja (15%)"},
        {"frontmost",
         [](FakeMachine& m, Prefs& p) {
             p.neverFrontmost = true, p.neverFrontmostList = "Editor", m.apps.frontmost = "Editor";
         },
         "Pausado: Editor está al frente"},
        {"cpu below",
         [](FakeMachine& m, Prefs& p) { p.reqCPU = true, p.cpuThreshold = 20, m.cpu.next = 0.19; },
         "Pausado: no se cumple ninguna condición"},
        {"cpu above",
         [](FakeMachine& m, Prefs& p) { p.reqCPU = true, p.cpuThreshold = 20, m.cpu.next = 0.25; }, ""},
        {"disk", [](FakeMachine& m, Prefs& p) { p.reqRemovableDisk = true, m.disk.mounted = true; }, ""},
        {"audio or apps, neither",
         [](FakeMachine&, Prefs& p) { p.reqAudio = true, p.reqApps = true, p.reqAppsList = "Player"; },
         "Pausado: no se cumple ninguna condición"},
        {"apps",
         [](FakeMachine& m, Prefs& p) {
             p.reqApps = true, p.reqAppsList = "Player", m.apps.running = {"Player"};
         },
         ""},
    };
    for (const auto& [name, setUp, reason] : cases) {
        Watching resting, ticking;
        for (Watching* rig : {&resting, &ticking})
            rig->prefs([&](Prefs& p) { setUp(*rig, p); });
        ticking.engine->setWatched(true);
        ticking.ticks(5);
        resting.clock.t = ticking.clock.t;
        resting.ticker.callback(); // the alarm of the first movement
        EXPECT_EQ(resting.engine->blocked(), ticking.engine->blocked()) << name;
        EXPECT_EQ(resting.engine->status(), ticking.engine->status()) << name;
        EXPECT_EQ(resting.jiggler.movements.size(), reason.isEmpty() ? 1u : 0u) << name;
        EXPECT_EQ(resting.engine->blocked() ? resting.engine->status() : QString(), reason) << name;
    }

    // Blocked, the resting engine looks again an interval later, or at once when the screen unlocks.
    Watching rig;
    rig.prefs([&](Prefs& p) { p.neverLocked = true; });
    rig.screenLock.locked = true;
    rig.clock.advance(5);
    rig.ticker.callback();
    ASSERT_TRUE(rig.engine->blocked());
    EXPECT_EQ(rig.ticker.restUntil, at(rig, 60));
    rig.clock.advance(10);
    rig.screenLock.locked = false;
    rig.lockEvents.onUnlocked();
    EXPECT_FALSE(rig.engine->blocked());
    EXPECT_EQ(rig.jiggler.movements.size(), 1u);
}

} // namespace
