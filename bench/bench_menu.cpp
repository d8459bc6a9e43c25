// Measures what a change costs the tray menu: building its entries from the list state,
// refilling the QMenu, and the layout Qt does when it opens (every item sized once).
#include "MenuModel.h"
#include "MenuStyle.h"
#include "StatusMenu.h"
#include "Version.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

const FixedClock kClock(QDateTime(QDate(2026, 12, 6), QTime(12, 0)));

ListState stateWith(int tasks) {
    ListState state;
    state.clock = &kClock;
    Payload feed{"12-06 08:30", "阿蓁的 To-do", "", {}, "晴川子的 To-do", "", {}};
    const int sections = std::max(5, tasks / 50);
    for (int s = 0; s < sections; ++s)
        feed.mine_rows.append(ListState::headerRow(QStringLiteral("分类 %1").arg(s)));
    for (int i = 0; i < tasks; ++i) {
        feed.mine_rows.append(Row{QStringLiteral("item"), QStringLiteral("第 %1 件事：整理房间、回复邮件").arg(i),
                                  QStringLiteral("id-%1").arg(i), i % 7 == 0,
                                  i % 7 == 0 ? std::optional<QString>(QStringLiteral("2026-12-06")) : std::nullopt,
                                  QStringLiteral("分类 %1").arg(i % sections)});
    }
    state.payload = feed;
    return state;
}

void BM_MenuEntries(benchmark::State& bm) {
    const ListState state = stateWith(int(bm.range(0)));
    for (auto _ : bm)
        benchmark::DoNotOptimize(buildMenuEntries(state, std::nullopt, APP_VERSION));
}
BENCHMARK(BM_MenuEntries)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The first build of a menu: every item made and measured, and the layout Qt computes when
// the menu opens.
void BM_MenuFirstBuild(benchmark::State& bm) {
    const ListState state = stateWith(int(bm.range(0)));
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
    ListState state = stateWith(int(bm.range(0)));
    const bool open = bm.range(1) != 0;
    DrawnMenu menu;
    menu.setStyle(sharedMenuStyle());
    fillStatusMenu(&menu, buildMenuEntries(state, std::nullopt, APP_VERSION), {});
    benchmark::DoNotOptimize(menu.sizeHint());
    bool done = false;
    for (auto _ : bm) {
        done = !done;
        state.localDone[QStringLiteral("id-1")] = done;
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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
