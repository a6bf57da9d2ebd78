// Cost of the popover: building it the first time, and one engine tick while it is open with
// every part showing (both banners, three timer lines, the movement count), event loop included
// so that the repaint of what changed is counted too. And the cost of building the settings
// window again, which the shell pays at each open since it destroys the window on close.

#include "MenuView.h"
#include "SettingsTestSupport.h"
#include "UiRig.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <memory>

using namespace morvane;
using namespace morvane::test;

namespace {

UpdaterOptions feedWithUpdate() {
    UpdaterOptions o = UiRig::unreachableFeed();
    const QByteArray json = R"({"version":"2.0.0","build":99,"url":"https://127.0.0.1:9/a.zip",)"
                            R"("sha256":"00","signature":"AA=="})";
    o.feedUrl = QUrl(QStringLiteral("data:application/json;base64,") + QString::fromLatin1(json.toBase64()));
    return o;
}

// Wednesday noon inside the weekday schedule, on for 90 minutes, a run planned for tomorrow, one
// movement made, the input permission gone and an update announced.
std::unique_ptr<UiRig> everythingShowing() {
    auto rig = std::make_unique<UiRig>(feedWithUpdate());
    rig->prefs([](Prefs& p) { p.schedulesEnabled = true; });
    rig->start();
    const Instant now = rig->clock.t;
    rig->engine->activate(now.addSecs(5400));
    rig->engine->schedule(now.addDays(1), now.addDays(1).addSecs(3600));
    rig->engine->doJiggle(now);
    rig->trust.answer = false;
    rig->engine->doJiggle(now);
    rig->updater->check(true);
    const QDeadlineTimer deadline(10000);
    while (!rig->updater->available() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return rig;
}

std::unique_ptr<MenuView> popover(UiRig& rig) {
    return std::make_unique<MenuView>(*rig.engine, *rig.store, *rig.updater, rig.clock,
                                      MenuView::defaultQuick(), rig.actions);
}

void MenuView_Build(benchmark::State& state) {
    auto rig = everythingShowing();
    for (auto _ : state) {
        auto view = popover(*rig);
        view->show();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(view->sizeHint());
    }
}
// Registered first: the very first popover of the process, with fonts, style and symbol caches
// all cold. Then the same once they are warm.
BENCHMARK(MenuView_Build)->Name("MenuView/BuildFirst")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(MenuView_Build)->Name("MenuView/Build")->Unit(benchmark::kMillisecond);

void MenuView_Tick(benchmark::State& state) {
    auto rig = everythingShowing();
    const bool open = state.range(0) != 0;
    std::unique_ptr<MenuView> view;
    if (open) {
        view = popover(*rig);
        view->show();
        QCoreApplication::processEvents();
    }
    for (auto _ : state) {
        rig->tick();
        QCoreApplication::processEvents();
    }
    if (open && view->timerLines().size() != 3)
        state.SkipWithError("the timer lines are not all showing");
}
// 0: the engine tick alone, the baseline; 1: the same tick with the popover open.
BENCHMARK(MenuView_Tick)->Name("MenuView/Tick")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The four tabs built, shown and laid out, the event loop run until they settle: what a reopened
// window does before it appears.
void SettingsView_Build(benchmark::State& state) {
    SettingsRig rig;
    rig.start();
    for (auto _ : state) {
        rig.open(SettingsTab::general);
        benchmark::DoNotOptimize(rig.view->sizeHint());
        rig.view.reset();
    }
}
BENCHMARK(SettingsView_Build)->Name("SettingsView/BuildFirst")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SettingsView_Build)->Name("SettingsView/Build")->Unit(benchmark::kMillisecond);

} // namespace
