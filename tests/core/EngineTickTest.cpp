// The tick: idle measurement, own-input detection, the blocking checks and their lazy probing,
// movements, jitter and the status line.

#include "FakePorts.h"

using namespace morvane;
using namespace morvane::test;

namespace {

// An engine with no condition ticked (so no probe may be called unless a test enables one).
struct Quiet : Rig {
    Quiet() {
        prefs([](Prefs& p) {
            p.neverLocked = false;
            p.neverBatteryLow = false;
            p.randomize = false;
        });
        for (Probe* probe : {&screenLock.probe, &power.probe, &disk.probe, &audio.probe, &apps.runningProbe,
                             &apps.frontmostProbe})
            probe->forbidden = true;
    }
    void switchOn() {
        start();
        engine->setEnabled(true);
    }
};

} // namespace

TEST(EngineTick, WhenIdleWaitsAndCountsDownTheRemainingIdleTime) {
    Quiet rig;
    rig.idle.lastInput = instant::plusSeconds(rig.clock.t, -29);
    rig.switchOn();
    rig.tick();
    EXPECT_EQ(rig.engine->status(), "Esperando inactividad · 1 min 30 s");
    EXPECT_TRUE(rig.jiggler.movements.empty());
    rig.ticks(89);
    EXPECT_TRUE(rig.jiggler.movements.empty());
    rig.tick();
    EXPECT_EQ(rig.jiggler.movements.size(), 1u) << "moves once the user has been idle for the interval";
    EXPECT_EQ(rig.engine->status(), "Trabajando · movió recién");
}

TEST(EngineTick, StatusCyclesThroughItsForms) {
    Quiet rig;
    rig.prefs([](Prefs& p) { p.policy = TriggerPolicy::always; });
    rig.switchOn();
    rig.tick();
    EXPECT_EQ(rig.engine->status(), "Activo · próximo en 4 s");
    rig.ticks(4);
    EXPECT_EQ(rig.engine->status(), "Trabajando · movió recién");
    rig.tick();
    EXPECT_EQ(rig.engine->status(), "Trabajando · próximo en 1 min 59 s");
    EXPECT_TRUE(rig.engine->working());

    // Genuine input 20 s after the movement, then 95.4 s left to the next one.
    rig.clock.advance(19);
    rig.idle.userInput();
    rig.clock.advance(4.6 - 1);
    rig.tick();
    EXPECT_EQ(rig.engine->status(), "Activo · próximo en 1 min 35 s");
    EXPECT_FALSE(rig.engine->working());
}

TEST(EngineTick, InputRightAfterAMovementIsTheEnginesOwn) {
    for (const auto& [delay, own] :
         {std::pair{0.2, true}, {1.5, true}, {-0.5, true}, {1.6, false}, {-0.6, false}}) {
        Quiet rig;
        rig.prefs([](Prefs& p) { p.policy = TriggerPolicy::always; });
        rig.jiggler.ownInputDelay = delay;
        rig.switchOn();
        rig.ticks(5);
        ASSERT_EQ(rig.jiggler.movements.size(), 1u);
        const Instant before = rig.engine->lastUserInput();
        rig.ticks(2);
        EXPECT_EQ(rig.engine->lastUserInput() == before, own) << delay;
        // Genuine input just before the movement still leaves the movement as the latest event.
        EXPECT_EQ(rig.engine->working(), own || delay < 0) << delay;
    }
}

TEST(EngineTick, OwnInputNeverPostponesTheNextMovementInWhenIdleMode) {
    Quiet rig;
    rig.prefs([](Prefs& p) { p.interval = 10; });
    rig.switchOn();
    rig.ticks(60);
    EXPECT_EQ(rig.jiggler.movements.size(), 6u);
    EXPECT_DOUBLE_EQ(rig.engine->userIdle(), 60);
}

TEST(EngineTick, FreshLockNoteBlocksWithoutProbingThenTheProbeDecides) {
    Quiet rig;
    rig.prefs([](Prefs& p) { p.neverLocked = true; });
    rig.switchOn();
    rig.lockEvents.onLocked();
    rig.ticks(4);
    EXPECT_TRUE(rig.engine->blocked());
    EXPECT_EQ(rig.engine->status(), "Pausado: pantalla bloqueada");

    rig.screenLock.probe.forbidden = false;
    rig.tick(); // 5 s after the note
    EXPECT_EQ(rig.screenLock.probe.calls, 1);
    EXPECT_FALSE(rig.engine->blocked());
    rig.screenLock.locked = true;
    rig.tick();
    EXPECT_EQ(rig.engine->status(), "Pausado: pantalla bloqueada");
    rig.lockEvents.onUnlocked();
    rig.screenLock.locked = false;
    rig.tick();
    EXPECT_FALSE(rig.engine->blocked());
}

TEST(EngineTick, NeverGroupChecksInOrderAndStopsAtTheFirstAnswer) {
    struct Case {
        bool onBattery;
        std::optional<int> percent;
        bool neverOnBattery;
        bool neverLow;
        const char* expected;
    };
    for (const Case& c :
         {Case{true, 10, true, true, "Pausado: usando batería"},
          Case{true, 15, false, true, "Pausado: batería baja (15%)"}, Case{true, 20, false, true, nullptr},
          Case{false, 5, false, true, nullptr}, Case{true, std::nullopt, false, true, nullptr}}) {
        Quiet rig;
        rig.prefs([&](Prefs& p) {
            p.neverOnBattery = c.neverOnBattery;
            p.neverBatteryLow = c.neverLow;
            p.neverFrontmost = true;
            p.neverFrontmostList = "Editor";
            p.reqAudio = true;
        });
        rig.power.probe.forbidden = false;
        rig.power.state = {c.onBattery, c.percent};
        rig.apps.frontmostProbe.forbidden = c.expected != nullptr;
        rig.audio.probe.forbidden = c.expected != nullptr;
        rig.switchOn();
        rig.tick();
        EXPECT_EQ(rig.power.probe.calls, 1);
        if (c.expected) {
            EXPECT_EQ(rig.engine->status(), QString::fromUtf8(c.expected));
        } else {
            EXPECT_EQ(rig.engine->status(), "Pausado: no se cumple ninguna condición")
                << "passes the never group, then audio is not playing";
        }
    }
}

TEST(EngineTick, FrontmostApplicationInTheListBlocks) {
    Quiet rig;
    rig.prefs([](Prefs& p) {
        p.neverFrontmost = true;
        p.neverFrontmostList = " editor , Slack";
    });
    rig.apps.frontmostProbe.forbidden = false;
    rig.apps.frontmost = "Text Editor";
    rig.switchOn();
    rig.tick();
    EXPECT_EQ(rig.engine->status(), "Pausado: Text Editor está al frente");
    rig.apps.frontmost = std::nullopt;
    rig.tick();
    EXPECT_FALSE(rig.engine->blocked());
}

TEST(EngineTick, MoveOnlyIfGroupCallsProbesLazily) {
    // CPU alone, below and above the threshold (the smoothed value, no probe).
    for (const auto& [load, blocked] : {std::pair{0.19, true}, {0.25, false}}) {
        Quiet rig;
        rig.prefs([](Prefs& p) { p.reqCPU = true; });
        rig.cpu.next = load;
        rig.switchOn();
        rig.tick();
        EXPECT_EQ(rig.engine->blocked(), blocked) << load;
        if (blocked) {
            EXPECT_EQ(rig.engine->status(), "Pausado: no se cumple ninguna condición");
        }
    }
    // CPU met: no other probe of the group runs.
    {
        Quiet rig;
        rig.prefs([](Prefs& p) { p.reqCPU = p.reqRemovableDisk = p.reqAudio = p.reqApps = true; });
        rig.cpu.next = 0.9;
        rig.switchOn();
        rig.ticks(3);
        EXPECT_FALSE(rig.engine->blocked());
    }
    // Audio playing: the running-applications probe is not called.
    {
        Quiet rig;
        rig.prefs([](Prefs& p) { p.reqAudio = p.reqApps = true; });
        rig.audio.probe.forbidden = false;
        rig.audio.playing = true;
        rig.switchOn();
        rig.tick();
        EXPECT_FALSE(rig.engine->blocked());
    }
    // Nothing met until an application of the list runs.
    {
        Quiet rig;
        rig.prefs([](Prefs& p) { p.reqAudio = p.reqApps = true; });
        rig.audio.probe.forbidden = rig.apps.runningProbe.forbidden = false;
        rig.switchOn();
        rig.tick();
        EXPECT_EQ(rig.engine->status(), "Pausado: no se cumple ninguna condición");
        rig.apps.running = {"Finder", "zoom.us"};
        rig.tick();
        EXPECT_FALSE(rig.engine->blocked());
        EXPECT_EQ(rig.engine->blockingReason(), std::nullopt);
    }
}

TEST(EngineTick, RemovableDiskAnswerIsCachedForFiveSeconds) {
    Quiet rig;
    rig.prefs([](Prefs& p) { p.reqRemovableDisk = true; });
    rig.disk.probe.forbidden = false;
    rig.switchOn();
    rig.tick();
    EXPECT_EQ(rig.disk.probe.calls, 1);
    rig.disk.mounted = true;
    rig.ticks(4);
    EXPECT_EQ(rig.disk.probe.calls, 1);
    EXPECT_TRUE(rig.engine->blocked()) << "still the cached answer";
    rig.tick();
    EXPECT_EQ(rig.disk.probe.calls, 2);
    EXPECT_FALSE(rig.engine->blocked());
}

TEST(EngineTick, MovementDueWhileBlockedHappensOnTheFirstFreeTick) {
    Quiet rig;
    rig.prefs([](Prefs& p) {
        p.policy = TriggerPolicy::always;
        p.neverOnBattery = true;
    });
    rig.power.probe.forbidden = false;
    rig.power.state = {true, 80};
    rig.switchOn();
    const Instant due = rig.engine->nextJiggleAt();
    rig.ticks(30);
    EXPECT_TRUE(rig.jiggler.movements.empty());
    EXPECT_EQ(rig.engine->nextJiggleAt(), due);
    rig.power.state = {false, 80};
    rig.tick();
    EXPECT_EQ(rig.jiggler.movements.size(), 1u);
}

TEST(EngineTick, MissingPermissionDeclaresActivityAndRetries) {
    Quiet rig;
    rig.prefs([](Prefs& p) { p.policy = TriggerPolicy::always; });
    rig.trust.answer = false;
    rig.switchOn();
    rig.ticks(5);
    EXPECT_EQ(rig.engine->status(), "Falta permiso de Accesibilidad");
    EXPECT_FALSE(rig.engine->accessibilityOK());
    EXPECT_EQ(rig.jiggler.declarations, 1);
    rig.ticks(4);
    EXPECT_TRUE(rig.engine->status().startsWith("Activo · próximo en"));
    rig.tick();
    EXPECT_EQ(rig.jiggler.declarations, 2);
    EXPECT_EQ(rig.engine->jiggleCount(), 0);
    EXPECT_TRUE(rig.jiggler.movements.empty());

    rig.prefs([](Prefs& p) { p.mode = JiggleMode::zen; });
    rig.ticks(5);
    EXPECT_EQ(rig.engine->jiggleCount(), 1) << "zen needs no permission";
    EXPECT_EQ(rig.jiggler.movements.back().mode, JiggleMode::zen);
}

TEST(EngineTick, PermissionIsRecheckedEveryThirdSecond) {
    Quiet rig;
    rig.start();
    rig.trust.answer = false;
    int changedAt = -1;
    for (int i = 1; i <= 3 && changedAt < 0; ++i) {
        rig.tick();
        if (!rig.engine->accessibilityOK())
            changedAt = int((rig.clock.t.toMSecsSinceEpoch() / 1000) % 3);
    }
    EXPECT_EQ(changedAt, 0);
}

TEST(EngineTick, MovementUsesTheSettingsAndJittersTheInterval) {
    Quiet rig;
    rig.prefs([](Prefs& p) {
        p.policy = TriggerPolicy::always;
        p.interval = 100;
        p.randomize = true;
        p.mode = JiggleMode::click;
        p.distance = 7;
        p.showIconOnJiggle = true;
    });
    rig.switchOn();
    rig.random.value = 0.0;
    rig.ticks(5);
    ASSERT_EQ(rig.jiggler.movements.size(), 1u);
    EXPECT_EQ(rig.jiggler.movements[0].mode, JiggleMode::click);
    EXPECT_EQ(rig.jiggler.movements[0].distance, 7);
    EXPECT_TRUE(rig.jiggler.movements[0].randomize);
    EXPECT_EQ(rig.overlay.flashes, 1);
    EXPECT_DOUBLE_EQ(instant::secondsBetween(rig.clock.t, rig.engine->nextJiggleAt()), 80);
    rig.random.value = 1.0;
    rig.ticks(80);
    EXPECT_EQ(rig.jiggler.movements.size(), 2u);
    EXPECT_DOUBLE_EQ(instant::secondsBetween(rig.clock.t, rig.engine->nextJiggleAt()), 120);
}

TEST(EngineTick, CpuLoadIsTheLoadSinceThePreviousSample) {
    Quiet rig;
    rig.start();
    rig.cpu.next = 0.4;
    rig.tick();
    EXPECT_DOUBLE_EQ(*rig.engine->cpuUsage(), 0.4);
    rig.cpu.next = 0.8;
    rig.tick();
    EXPECT_DOUBLE_EQ(*rig.engine->cpuUsage(), 0.8) << "no average with earlier samples";
    rig.cpu.next = std::nullopt;
    rig.tick();
    EXPECT_DOUBLE_EQ(*rig.engine->cpuUsage(), 0.8);
}

TEST(EngineTick, ExtremeIntervalsSaturateInsteadOfMisbehaving) {
    Quiet rig;
    rig.prefs([](Prefs& p) {
        p.policy = TriggerPolicy::always;
        p.interval = 1e308;
    });
    rig.switchOn();
    rig.ticks(10);
    EXPECT_EQ(rig.jiggler.movements.size(), 1u) << "the first movement comes within 5 s";
    EXPECT_EQ(rig.engine->nextJiggleAt().toMSecsSinceEpoch(), instant::kMaxMSecs);
    EXPECT_TRUE(rig.engine->status().startsWith("Trabajando · próximo en "))
        << rig.engine->status().toStdString();

    rig.prefs([](Prefs& p) { p.interval = -1e308; });
    rig.engine->doJiggle(rig.clock.t);
    rig.ticks(3);
    EXPECT_EQ(rig.jiggler.movements.size(), 5u) << "a non-positive interval moves every tick";

    rig.prefs([](Prefs& p) {
        p.interval = 1e308;
        p.policy = TriggerPolicy::whenIdle;
    });
    rig.tick();
    EXPECT_TRUE(rig.engine->status().startsWith("Esperando inactividad · "))
        << rig.engine->status().toStdString();
}

TEST(EngineTick, TimerJitterDoesNotPostponeAMovementByAWholeTick) {
    Quiet rig;
    rig.prefs([](Prefs& p) {
        p.policy = TriggerPolicy::always;
        p.interval = 2;
    });
    rig.switchOn();
    rig.tick(2.003); // the movement's tick came 3 ms late
    ASSERT_EQ(rig.jiggler.movements.size(), 1u);
    rig.tick(0.999);
    rig.tick(0.999); // 1.998 s later: a tick this close to the due time moves
    EXPECT_EQ(rig.jiggler.movements.size(), 2u);
    rig.tick(1.5);
    EXPECT_EQ(rig.jiggler.movements.size(), 2u) << "half a second early is not due";
}

TEST(EngineTick, WaitsKeepTheirRealLengthAcrossAWallClockStepButNotAcrossASuspend) {
    // 20 s after the anchor (a movement, or the user's input when idle is required) the wall clock
    // steps `by` (or the machine sleeps that long); a tick later the status reads `status`, and the
    // next movement comes `next` wall-clock seconds after the anchor. Steps of 3 s or less stand.
    using P = TriggerPolicy;
    for (const auto& [policy, by, suspend, status, next] :
         {std::tuple{P::always, -3600.0, false, "Trabajando · próximo en 1 min 39 s", -3480.0},
          {P::always, 3600.0, false, "Trabajando · próximo en 1 min 39 s", 3720.0},
          {P::always, -2.0, false, "Trabajando · próximo en 1 min 41 s", 120.0},
          {P::always, 3600.0, true, "Trabajando · movió recién", 3621.0},
          {P::whenIdle, -3600.0, false, "Esperando inactividad · 1 min 39 s", -3480.0},
          {P::whenIdle, 3600.0, true, "Trabajando · movió recién", 3621.0}}) {
        Quiet rig;
        rig.prefs([policy = policy](Prefs& p) { p.policy = policy; });
        rig.switchOn();
        policy == P::always ? rig.ticks(5) : rig.idle.userInput();
        const Instant anchor = rig.clock.t;
        const size_t moved = rig.jiggler.movements.size();
        rig.ticks(20);
        suspend ? rig.clock.advance(by) : rig.stepWall(by);
        rig.tick();
        EXPECT_EQ(rig.engine->status(), QString::fromUtf8(status)) << by;
        if (policy == P::always) { // the anchor's readback keeps its real age: "hace 21 s" after a step
            EXPECT_EQ(instant::secondsBetween(*rig.engine->activityCheck().lastVerified(), rig.clock.t),
                      21 + (suspend || std::abs(by) <= 3 ? by : 0))
                << by;
        }
        for (int i = 0; i < 200 && rig.jiggler.movements.size() == moved; ++i)
            rig.tick();
        ASSERT_GT(rig.jiggler.movements.size(), moved) << by;
        EXPECT_EQ(rig.jiggler.movements.back().at, instant::plusSeconds(anchor, next)) << by;
    }
}
