#pragma once

// Fakes of every engine port, and a rig that wires them to a real SettingsStore and Engine.
// Probes count their calls and can be marked forbidden: calling a forbidden probe fails the
// test, which is how the tests prove the engine's lazy probing order.

#include "AppList.h"
#include "DefaultsStore.h"
#include "Engine.h"
#include "Ports.h"
#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QTimeZone>

#include <memory>
#include <utility>
#include <vector>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace morvane::test {

struct Probe {
    int calls = 0;
    bool forbidden = false;
    const char* name = "";
    void hit() {
        ++calls;
        if (forbidden)
            ADD_FAILURE() << "probe called although it must not be: " << name;
    }
};

class FakeClock final : public Clock {
public:
    Instant t = QDateTime(QDate(2026, 12, 2), QTime(12, 0), instant::kUtc); // a Wednesday
    QTimeZone zone = QTimeZone("UTC");
    double wallSteps = 0; // the monotonic clock moves with `t` but skips these (FakeMachine::stepWall)
    Instant now() const override { return t; }
    QTimeZone timeZone() const override { return zone; }
    double monotonicSeconds() const override { return instant::toEpochSeconds(t) - wallSteps; }
    void advance(double seconds) { t = instant::plusSeconds(t, seconds); }
};

// Idle time follows the last input instant, which tests (and the fake jiggler) move.
class FakeIdle final : public IdleTime {
public:
    explicit FakeIdle(const FakeClock& clock)
        : clock(clock)
        , lastInput(clock.t) {}
    double idleSeconds() override {
        ++reads;
        return answers ? std::max(0.0, instant::secondsBetween(lastInput, clock.now())) : 0.0;
    }
    bool available() override { return answers; }
    bool canWatch() override { return watches; }
    void watch(std::function<void()> callback) override { edge = std::move(callback); }
    void userInput() { lastInput = clock.now(); }
    const FakeClock& clock;
    Instant lastInput;
    bool answers = true;  // false: a session without an idle source
    bool watches = false; // true: the source tells of activity edges (the test calls `edge`)
    std::function<void()> edge;
    int reads = 0;
};

class FakeTrust final : public AccessibilityTrust {
public:
    bool answer = true;
    int calls = 0;
    bool trusted() override {
        ++calls;
        return answer;
    }
};

class FakeScreenLock final : public ScreenLockProbe {
public:
    bool locked = false;
    Probe probe{0, false, "screenLocked"};
    bool screenLocked() override {
        probe.hit();
        return locked;
    }
};

class FakePower final : public PowerProbe {
public:
    PowerState state;
    Probe probe{0, false, "power"};
    PowerState power() override {
        probe.hit();
        return state;
    }
};

class FakeDisk final : public DiskProbe {
public:
    bool mounted = false;
    Probe probe{0, false, "removableWritableDiskMounted"};
    bool removableWritableDiskMounted() override {
        probe.hit();
        return mounted;
    }
};

class FakeAudio final : public AudioProbe {
public:
    bool playing = false;
    Probe probe{0, false, "audioPlaying"};
    bool audioPlaying() override {
        probe.hit();
        return playing;
    }
};

class FakeApps final : public AppsProbe {
public:
    QStringList running;
    std::optional<QString> frontmost;
    Probe runningProbe{0, false, "runningApp"};
    Probe frontmostProbe{0, false, "frontmostAppName"};
    std::optional<QString> runningApp(const QString& list) override;
    std::optional<QString> frontmostAppName() override {
        frontmostProbe.hit();
        return frontmost;
    }
};

class FakeCpu final : public CpuMeter {
public:
    std::optional<double> next;
    Probe probe{0, false, "cpu.sample"};
    std::optional<double> sample() override {
        probe.hit();
        return next;
    }
};

struct Movement {
    JiggleMode mode;
    double distance;
    bool randomize;
    Instant at;
};

class FakeJiggler final : public Jiggler {
public:
    explicit FakeJiggler(FakeIdle& idle)
        : idle(idle) {}
    // Like the real thing, a movement resets the session's idle time a moment later.
    void perform(JiggleMode mode, double distance, bool randomize) override {
        movements.push_back({mode, distance, randomize, idle.clock.now()});
        if (registers)
            idle.lastInput = instant::plusSeconds(idle.clock.now(), ownInputDelay);
    }
    void declareActivity() override { ++declarations; }
    FakeIdle& idle;
    double ownInputDelay = 0.06;
    bool registers = true; // false: a session that ignores our input
    std::vector<Movement> movements;
    int declarations = 0;
};

class FakeOverlay final : public JiggleOverlay {
public:
    int flashes = 0;
    void flash() override { ++flashes; }
};

struct Note {
    QString title;
    QString body;
    bool operator==(const Note&) const = default;
};

inline void PrintTo(const Note& n, std::ostream* os) {
    *os << n.title.toStdString() << " / " << n.body.toStdString();
}

// Honours the `notifications` setting, as the real notifier does.
class FakeNotifier final : public Notifier {
public:
    SettingsStore* store = nullptr;
    int setups = 0;
    std::vector<Note> sent;
    void setup() override { ++setups; }
    void send(const QString& title, const QString& body) override {
        if (store && !store->p().notifications)
            return;
        sent.push_back({title, body});
    }
};

class FakeSleepGuard final : public SleepGuard {
public:
    bool held = false;
    int takes = 0;
    int releases = 0;
    void set(bool on) override {
        if (on == held)
            return;
        held = on;
        ++(on ? takes : releases);
    }
};

class FakeHotKey final : public HotKey {
public:
    explicit FakeHotKey(std::function<void()> action)
        : action(std::move(action)) {}
    void registerKey() override {
        if (!registered)
            ++registrations;
        registered = true;
    }
    void unregisterKey() override { registered = false; }
    bool isRegistered() const override { return registered; }
    std::function<void()> action;
    bool registered = false;
    int registrations = 0;
};

class FakeHotKeys final : public HotKeyFactory {
public:
    FakeHotKey* last = nullptr;
    int created = 0;
    std::unique_ptr<HotKey> create(std::function<void()> action) override {
        ++created;
        auto key = std::make_unique<FakeHotKey>(std::move(action));
        last = key.get();
        return key;
    }
};

class FakeLockEvents final : public LockEvents {
public:
    std::function<void()> onLocked;
    std::function<void()> onUnlocked;
    void subscribe(std::function<void()> locked, std::function<void()> unlocked) override {
        onLocked = std::move(locked);
        onUnlocked = std::move(unlocked);
    }
};

class FakeTermination final : public Termination {
public:
    int requests = 0;
    void requestQuit() override { ++requests; }
};

class FakeRandom final : public RandomSource {
public:
    double value = 0.5;
    double unitClosed() override { return value; }
};

// Ticks only when a test calls `callback`; records whether the engine would rest, and until when.
class FakeTicker final : public Ticker {
public:
    double period = 0;
    std::function<void()> callback;
    bool resting = false;
    OptInstant restUntil;
    void start(double seconds, std::function<void()> tick) override {
        period = seconds;
        callback = std::move(tick);
    }
    void rest(const OptInstant& until) override {
        resting = true;
        restUntil = until;
    }
    void resume() override {
        resting = false;
        restUntil.reset();
    }
};

class MemoryDefaults final : public DefaultsStore {
public:
    QHash<QString, QVariant> values;
    int writes = 0;
    QVariant value(const QString& key) const override { return values.value(key); }
    void setValue(const QString& key, const QVariant& v) override {
        ++writes;
        values.insert(key, v);
    }
};

inline std::optional<QString> FakeApps::runningApp(const QString& list) {
    runningProbe.hit();
    for (const QString& name : running)
        if (!name.isEmpty() && AppList::matches(name, list))
            return name;
    return std::nullopt;
}

// Everything an engine test needs. Build it, adjust the settings and fakes, then start().
// Every fake port but the notifier and the defaults store, which programs built on the fakes (the
// updater's test application) replace with real ones.
struct FakeMachine {
    FakeClock clock;
    FakeIdle idle{clock};
    FakeTrust trust;
    FakeScreenLock screenLock;
    FakePower power;
    FakeDisk disk;
    FakeAudio audio;
    FakeApps apps;
    FakeCpu cpu;
    FakeJiggler jiggler{idle};
    FakeOverlay overlay;
    FakeSleepGuard sleepGuard;
    FakeHotKeys hotKeys;
    FakeLockEvents lockEvents;
    FakeTermination termination;
    FakeRandom random;
    FakeTicker ticker;

    // Steps the wall clock alone; the monotonic clock and the session's idle counter ignore it.
    void stepWall(double seconds) {
        clock.advance(seconds);
        clock.wallSteps += seconds;
        idle.lastInput = instant::plusSeconds(idle.lastInput, seconds);
    }

    EnginePorts ports(Notifier& notifier, DefaultsStore& defaults) {
        return EnginePorts{clock,      idle,        trust,   screenLock, power,    disk,       audio,
                           apps,       cpu,         jiggler, overlay,    notifier, sleepGuard, hotKeys,
                           lockEvents, termination, random,  ticker,     defaults};
    }
};

struct Rig : FakeMachine {
    FakeNotifier notifier;
    MemoryDefaults defaults;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<Engine> engine;

    Rig() { rebuild(); }

    // A new store and engine over the same defaults: what a relaunch sees.
    void rebuild() {
        engine.reset();
        store = std::make_unique<SettingsStore>(defaults);
        notifier.store = store.get();
        engine = std::make_unique<Engine>(*store, ports(notifier, defaults));
    }

    void prefs(const std::function<void(Prefs&)>& edit) { store->update(edit); }

    void start() { engine->start(); }

    // One second passes and the tick timer fires.
    void tick(double seconds = 1.0) {
        clock.advance(seconds);
        ASSERT_TRUE(ticker.callback) << "engine not started";
        ticker.callback();
    }

    void ticks(int n) {
        for (int i = 0; i < n; ++i)
            tick();
    }

    // Zen movements every two seconds, the user away for five minutes.
    void moveEveryTwoSeconds() {
        prefs([](Prefs& p) {
            p.interval = 2;
            p.mode = JiggleMode::zen;
            p.policy = TriggerPolicy::always;
            p.randomize = false;
        });
        idle.lastInput = instant::plusSeconds(clock.t, -300);
    }

    // Ticks until the engine's verdict is `verdict`, at most `ticks` times; answers whether it came.
    bool tickUntil(Verdict verdict, int ticks = 30) {
        for (int i = 0; i < ticks && engine->activityCheck().verdict() != verdict; ++i)
            tick();
        return engine->activityCheck().verdict() == verdict;
    }

    std::optional<RunState::Numbers> storedState() const {
        return RunState::parse(defaults.value(Engine::kStateKey));
    }
};

} // namespace morvane::test
