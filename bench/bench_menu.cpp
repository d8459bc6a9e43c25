// Measures what a change costs the tray menu: building its entries from the list state,
// refilling the QMenu, and the layout Qt does when it opens (every item sized once).
#include "menu/MenuModel.h"
#include "menu/MenuStyle.h"
#include "menu/StatusMenu.h"
#include "bench/SyntheticFeed.h"
#include "bench/WidgetBenchMain.h"
#include "generated/Version.h"


namespace {

ListStore stateWith(int tasks) {
    ListStore state(kBenchClock);
    state.applyFeed(syntheticFeed(tasks));
    return state;
}

void BM_MenuEntries(benchmark::State& bm) {
    const ListStore state = stateWith(int(bm.range(0)));
    for (auto _ : bm)
        benchmark::DoNotOptimize(buildMenuEntries(state, std::nullopt, APP_VERSION));
}
BENCHMARK(BM_MenuEntries)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The first build of a menu: every item made and measured, and the layout Qt computes when
// the menu opens.
void BM_MenuFirstBuild(benchmark::State& bm) {
    const ListStore state = stateWith(int(bm.range(0)));
    for (auto _ : bm) {
        DrawnMenu menu;
        menu.setStyle(sharedMenuStyle());
        fillStatusMenu(&menu, buildMenuEntries(state, std::nullopt, APP_VERSION), {});
        benchmark::DoNotOptimize(menu.sizeHint());
    }
}
BENCHMARK(BM_MenuFirstBuild)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// A rebuild after a tick: the entries built anew from the list state and the menu brought up
// to date. With `open` set, also the layout Qt computes when the menu opens next (Qt measures
// every item's text again then, whatever changed).
void BM_MenuRebuildAfterTick(benchmark::State& bm) {
    ListStore state = stateWith(int(bm.range(0)));
    const bool open = bm.range(1) != 0;
    DrawnMenu menu;
    menu.setStyle(sharedMenuStyle());
    fillStatusMenu(&menu, buildMenuEntries(state, std::nullopt, APP_VERSION), {});
    benchmark::DoNotOptimize(menu.sizeHint());
    bool done = false;
    for (auto _ : bm) {
        done = !done;
        state.setDone(QStringLiteral("id-1"), done);
        fillStatusMenu(&menu, buildMenuEntries(state, std::nullopt, APP_VERSION), {});
        if (open)
            benchmark::DoNotOptimize(menu.sizeHint());
    }
    bm.counters["items"] = double(menu.actions().size());
}
BENCHMARK(BM_MenuRebuildAfterTick)
    ->ArgsProduct({{1000, 10000}, {0, 1}})
    ->ArgNames({"tasks", "open"})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return runWidgetBenchmarks(argc, argv);
}
