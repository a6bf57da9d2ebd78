#pragma once

// The engine, on and with no window open, over a real idle source in when-idle mode: it must learn
// of the user's input through the source's own watch, never by going back to a tick every second.

#include "Engine.h"
#include "FakePorts.h"
#include "QtPorts.h"
#include "SettingsStore.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <functional>
#include <vector>

namespace morvane::test {

// The real ticker, counting the times the engine asks for a tick every second again.
class CountingTicker final : public Ticker {
public:
    void start(double seconds, std::function<void()> tick) override {
        m_real.start(seconds, std::move(tick));
    }
    void rest(const OptInstant& until) override { m_real.rest(until); }
    void resume() override {
        ++resumes;
        m_real.resume();
    }
    int resumes = 0;

private:
    QtTicker m_real;
};

// Posts nothing; notes the idle time the source reports at each movement.
class IdleNotingJiggler final : public Jiggler {
public:
    explicit IdleNotingJiggler(IdleTime& idle)
        : m_idle(idle) {}
    void perform(JiggleMode, double, bool) override { idleAtMovement.push_back(m_idle.idleSeconds()); }
    void declareActivity() override {}
    std::vector<double> idleAtMovement;

private:
    IdleTime& m_idle;
};

// `input` gives the session one input event as the user would.
inline void idleOnlyFollowsTheSourcesWatch(IdleTime& idle, const std::function<void()>& input) {
    constexpr double kInterval = 3;
    ASSERT_TRUE(idle.canWatch());
    FakeMachine fakes;
    SystemClock clock;
    CountingTicker ticker;
    IdleNotingJiggler jiggler(idle);
    FakeNotifier notifier;
    MemoryDefaults defaults;
    SettingsStore store(defaults);
    store.update([](Prefs& p) {
        p.interval = kInterval;
        p.policy = TriggerPolicy::whenIdle;
        p.mode = JiggleMode::zen;
        p.randomize = false;
        p.neverLocked = false;
        p.neverBatteryLow = false;
        p.preventDisplaySleep = false;
        p.hotkey = false;
    });
    Engine engine(store, EnginePorts{clock, idle, fakes.trust, fakes.screenLock, fakes.power, fakes.disk,
                                     fakes.audio, fakes.apps, fakes.cpu, jiggler, fakes.overlay, notifier,
                                     fakes.sleepGuard, fakes.hotKeys, fakes.lockEvents, fakes.termination,
                                     fakes.random, ticker, defaults});
    engine.start();
    engine.setEnabled(true);

    // Input for longer than the interval holds the movement back.
    QElapsedTimer typing;
    typing.start();
    while (typing.elapsed() < 2000 * kInterval) {
        input();
        waitUntil([] { return false; }, 250);
    }
    EXPECT_TRUE(jiggler.idleAtMovement.empty()) << "moved while the user was at work";
    EXPECT_EQ(engine.statusForm().text, QStringLiteral("Esperando inactividad"));

    // Once it stops, the movement comes when the source itself counts the interval of idleness
    // (to within the second by which the sources tell of an edge).
    ASSERT_TRUE(waitUntil([&] { return !jiggler.idleAtMovement.empty(); }, 4000 * kInterval));
    EXPECT_GE(jiggler.idleAtMovement.front(), kInterval - 1.0);
    ASSERT_TRUE(waitUntil([&] { return engine.statusForm().text == QStringLiteral("Trabajando"); }));

    // Input after it reaches the engine through the watch: with a long interval, nothing else
    // would wake the engine for a minute.
    store.update([](Prefs& p) { p.interval = 60; });
    input();
    EXPECT_TRUE(
        waitUntil([&] { return engine.statusForm().text == QStringLiteral("Esperando inactividad"); }));
    EXPECT_EQ(ticker.resumes, 0) << "the engine went back to a tick every second";
}

} // namespace morvane::test
