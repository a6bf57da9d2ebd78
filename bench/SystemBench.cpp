// Cost of each real probe and of a whole engine tick on the real adapters. The benchmark brings
// its own servers: a private Xvfb (when there is no DISPLAY), private session and system buses,
// and a PulseAudio server with a null sink.

#include "ActivityCheck.h"
#include "Engine.h"
#include "FakePorts.h"
#include "LinuxPorts.h"
#include "MutterIdleTime.h"
#include "Probes.h"
#include "SettingsStore.h"
#include "TestServers.h"
#include "UpdateWorker.h"
#include "WorkerProtocol.h"
#include "X11Input.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <cstring>

using namespace morvane;
using namespace morvane::test;

namespace {

struct Servers {
    std::unique_ptr<XServer> x;
    PrivateBus session;
    PrivateBus system;
    PulseServer pulse;
    Servers() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            x = std::make_unique<XServer>(true);
    }
};

Servers& servers() {
    static Servers s;
    return s;
}

template <typename Probe, typename Call> void measure(benchmark::State& state, Probe& probe, Call call) {
    for (auto _ : state)
        benchmark::DoNotOptimize(call(probe));
}

void Probe_XIdle(benchmark::State& state) {
    servers();
    X11IdleTime idle;
    measure(state, idle, [](X11IdleTime& p) { return p.idleSeconds(); });
}
BENCHMARK(Probe_XIdle)->Name("Probe/XIdleTime");

// What verifying one movement costs the engine: recording it, then at the next tick asking the
// source whether it can answer, one idle read (the tick's own) and the judgement.
template <typename Idle> void readBackEach(benchmark::State& state, Idle& idle) {
    ActivityCheck check;
    Instant t = QDateTime::currentDateTimeUtc();
    for (auto _ : state) {
        check.moved(t, Action::zen, 60.0);
        t = t.addSecs(1);
        const bool available = idle.available();
        benchmark::DoNotOptimize(
            check.readBack(t, available ? std::optional<double>(idle.idleSeconds()) : std::nullopt));
    }
}

void Readback_X11(benchmark::State& state) {
    servers();
    X11IdleTime idle;
    readBackEach(state, idle);
}
BENCHMARK(Readback_X11)->Name("Readback/X11");

void Probe_Power(benchmark::State& state) {
    SysfsPowerProbe power;
    measure(state, power, [](SysfsPowerProbe& p) { return p.power(); });
}
BENCHMARK(Probe_Power)->Name("Probe/Power");

void Probe_PowerUncached(benchmark::State& state) {
    SysfsPowerProbe power;
    measure(state, power, [](SysfsPowerProbe& p) { return p.read(); });
}
BENCHMARK(Probe_PowerUncached)->Name("Probe/PowerUncached");

void Probe_Disk(benchmark::State& state) {
    MountDiskProbe disk;
    measure(state, disk, [](MountDiskProbe& p) { return p.removableWritableDiskMounted(); });
}
BENCHMARK(Probe_Disk)->Name("Probe/RemovableDisk");

void Probe_Cpu(benchmark::State& state) {
    ProcStatCpuMeter cpu;
    measure(state, cpu, [](ProcStatCpuMeter& p) { return p.sample(); });
}
BENCHMARK(Probe_Cpu)->Name("Probe/CpuMeter");

void Probe_Audio(benchmark::State& state) {
    servers();
    PulseAudioProbe audio;
    measure(state, audio, [](PulseAudioProbe& p) { return p.audioPlaying(); });
}
BENCHMARK(Probe_Audio)->Name("Probe/Audio");

void Probe_Apps(benchmark::State& state) {
    servers();
    X11AppsProbe apps;
    for (auto _ : state) {
        benchmark::DoNotOptimize(apps.frontmostAppName());
        benchmark::DoNotOptimize(apps.runningApp(QStringLiteral("nothing-runs-by-this-name")));
    }
}
BENCHMARK(Probe_Apps)->Name("Probe/FrontmostAndRunningApps");

// On, every condition of both groups ticked and none blocking, no movement due; the event loop
// runs between ticks as it does in the application.
void tickEngine(benchmark::State& state, const LinuxPorts::Options& options) {
    MemoryDefaults defaults;
    SettingsStore store(defaults);
    store.update([](Prefs& p) {
        p.policy = TriggerPolicy::always;
        p.interval = 1e9;
        p.reqCPU = p.reqRemovableDisk = p.reqAudio = p.reqApps = true;
        p.reqAppsList = QStringLiteral("morvane_bench");
        p.neverOnBattery = p.neverBatteryLow = p.neverLocked = p.neverFrontmost = true;
        p.neverFrontmostList = QStringLiteral("nothing-in-front-by-this-name");
        p.hotkey = false;
        p.preventDisplaySleep = false;
    });
    LinuxPorts linux(store, defaults, options);
    // The benchmark drives the tick itself instead of the engine's one-second timer.
    FakeTicker manual;
    EnginePorts ports = linux.ports();
    Engine engine(store,
                  EnginePorts{ports.clock, ports.idle, ports.trust, ports.screenLock, ports.power, ports.disk,
                              ports.audio, ports.apps, ports.cpu, ports.jiggler, ports.overlay,
                              ports.notifier, ports.sleepGuard, ports.hotKeys, ports.lockEvents,
                              ports.termination, ports.random, manual, ports.defaults});
    engine.start();
    engine.setEnabled(true);
    // Past the first movement (due within 5 s), with the adapters' connections settled.
    waitUntil(
        [&] {
            manual.callback();
            return engine.jiggleCount() > 0;
        },
        10000);
    for (auto _ : state) {
        manual.callback();
        QCoreApplication::processEvents();
    }
    const Engine& measured = engine;
    if (measured.blocked())
        state.SkipWithError(qPrintable(QStringLiteral("blocked: ") + measured.status()));
}

void EngineTick_RealProbes(benchmark::State& state) {
    Servers& s = servers();
    LinuxPorts::Options options;
    options.sessionBusAddress = s.session.address();
    options.systemBusAddress = s.system.address();
    options.useOverlay = false;
    tickEngine(state, options);
}
BENCHMARK(EngineTick_RealProbes)->Name("EngineTick/RealProbes")->MeasureProcessCPUTime()->UseRealTime();

// GNOME on Wayland, on the session bus of the environment: inside a GNOME Wayland session, or
// beside a headless Mutter, e.g.
//   dbus-run-session -- sh -c 'mutter --headless --wayland --no-x11 --virtual-monitor 1280x800 &
//       sleep 2; build/bench/morvane_bench --benchmark_filter=Mutter'
bool mutterOnSessionBus(benchmark::State& state) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const bool there =
        bus.isConnected() &&
        bus.interface()->isServiceRegistered(QStringLiteral("org.gnome.Mutter.IdleMonitor")).value();
    if (!there)
        state.SkipWithError(
            "no Mutter on the session bus (run inside GNOME on Wayland or beside mutter --headless)");
    return there;
}

// The engine's tick on the GNOME adapters: the idle time from Mutter's watches, the permission
// from the remote-desktop service's presence.
void EngineTick_MutterProbes(benchmark::State& state) {
    if (!mutterOnSessionBus(state))
        return;
    LinuxPorts::Options options;
    options.systemBusAddress = servers().system.address();
    options.useOverlay = false;
    options.sessionKind = SessionKind::gnomeWayland;
    tickEngine(state, options);
}
BENCHMARK(EngineTick_MutterProbes)->Name("EngineTick/MutterProbes")->MeasureProcessCPUTime()->UseRealTime();

// A readback on Mutter's idle monitor, followed through its watches: no bus call.
void Readback_Mutter(benchmark::State& state) {
    if (!mutterOnSessionBus(state))
        return;
    MutterIdleTime idle(QDBusConnection::sessionBus());
    if (!waitUntil([&] { return idle.following(); }, 5000)) {
        state.SkipWithError("Mutter's idle monitor did not answer");
        return;
    }
    readBackEach(state, idle);
}
BENCHMARK(Readback_Mutter)->Name("Readback/Mutter");

// What asking Mutter on every tick would cost instead of following its watches.
void Probe_MutterGetIdletime(benchmark::State& state) {
    if (!mutterOnSessionBus(state))
        return;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
        QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"));
    for (auto _ : state)
        benchmark::DoNotOptimize(bus.call(ask));
}
BENCHMARK(Probe_MutterGetIdletime)
    ->Name("Probe/MutterGetIdletimeBlocking")
    ->MeasureProcessCPUTime()
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    // The popover's update banner comes from a check, which runs in this executable as the worker.
    if (argc == 2 && std::strcmp(argv[1], morvane::kWorkerFlag) == 0)
        return morvane::runUpdateWorker(argc, argv);
    // The popover's benchmarks need widgets. On the offscreen platform Qt opens no X11 connection,
    // just as under QCoreApplication, so the adapters above measure the same as before.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
