// Cost of one engine tick with every condition enabled and the fakes answering at once, and the
// heap in use before and after many ticks (a tick must not accumulate memory).

#include "FakePorts.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

using namespace morvane;
using namespace morvane::test;

namespace {

// On, every condition of both groups ticked, none blocking, no movement due.
std::unique_ptr<Rig> allConditionsRig() {
    auto rig = std::make_unique<Rig>();
    rig->prefs([](Prefs& p) {
        p.policy = TriggerPolicy::always;
        p.interval = 1e9;
        p.reqCPU = p.reqRemovableDisk = p.reqAudio = p.reqApps = true;
        p.neverOnBattery = p.neverBatteryLow = p.neverLocked = p.neverFrontmost = true;
        p.neverFrontmostList = QStringLiteral("Terminal, Editor");
    });
    rig->apps.frontmost = QStringLiteral("Firefox");
    rig->apps.running = {QStringLiteral("Finder"), QStringLiteral("Firefox"), QStringLiteral("zoom.us")};
    rig->power.state = {false, 90};
    rig->cpu.next = 0.05;
    rig->start();
    rig->engine->setEnabled(true);
    rig->ticks(10); // past the first movement
    return rig;
}

void EngineTick_AllConditions(benchmark::State& state) {
    auto rig = allConditionsRig();
    const auto moves = rig->jiggler.movements.size();
    for (auto _ : state) {
        rig->clock.advance(1);
        rig->ticker.callback();
    }
    if (rig->engine->blocked() || rig->jiggler.movements.size() != moves)
        state.SkipWithError("the rig blocked or moved: not the case being measured");
}
BENCHMARK(EngineTick_AllConditions)->Name("EngineTick/AllConditions");

void EngineTick_HeapGrowth(benchmark::State& state) {
    auto rig = allConditionsRig();
    rig->ticks(1000); // let one-time caches settle
    const size_t before = mallinfo2().uordblks;
    for (auto _ : state) {
        rig->clock.advance(1);
        rig->ticker.callback();
    }
    const size_t after = mallinfo2().uordblks;
    state.counters["heap_growth_bytes"] = double(after) - double(before);
}
BENCHMARK(EngineTick_HeapGrowth)->Name("EngineTick/HeapGrowth")->Iterations(100000);

} // namespace
