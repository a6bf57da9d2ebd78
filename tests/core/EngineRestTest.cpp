// Off and with no window open, the engine does not tick: its ticker rests until the next instant
// that can change something, and a switch-on or a window brings it back with the time of now.

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

} // namespace
