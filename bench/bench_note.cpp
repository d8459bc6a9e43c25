// Measures what a change costs the note panel: the content rebuilt from the list state, the
// rows made, their texts measured and stacked. The panel is built offscreen.
#include "app/AppDelegate.h"
#include "sync/FeedSync.h"
#include "model/ListActions.h"
#include "note/NoteController.h"
#include "note/NotePanel.h"
#include "note/NoteRow.h"
#include "note/NoteViews.h"
#include "support/Settings.h"
#include "bench/SyntheticFeed.h"
#include "bench/WidgetBenchMain.h"

#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>

namespace {

// The fixed bench clock, whose repeating call (the drag's tick) the benchmark runs by hand,
// 1/60 s apart.
class TickClock : public FixedClock {
public:
    TickClock() : FixedClock(kBenchClock.now()) {}
    void every(Delay, QObject*, std::function<void()> call) override { tick = std::move(call); }
    qint64 msecsSinceEpoch() const override { return ms; }
    void step() {
        ms += 17;
        if (tick)
            tick();
    }

    std::function<void()> tick;
    qint64 ms = 0;
};

struct Fixture {
    QTemporaryDir dir;
    QSettings store{dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat};
    Settings settings{store};
    QNetworkAccessManager network;
    ListStore state{kBenchClock};
    FeedSync sync{state, network, const_cast<FixedClock&>(kBenchClock)};
    ListActions actions{state, sync};
    TickClock ticks;
    NoteController note{state, actions, settings, ticks};

    explicit Fixture(int tasks) {
        state.applyFeed(syntheticFeed(tasks));
    }
};

// A tick: one task's state flips, the content is rebuilt and every row made anew; the texts
// were measured before.
void BM_RefreshNoteAfterTick(benchmark::State& bm) {
    Fixture f(int(bm.range(0)));
    f.note.showNote();
    bool done = false;
    for (auto _ : bm) {
        done = !done;
        f.state.setDone(QStringLiteral("id-1"), done);
        f.note.refreshNote();
    }
    bm.counters["rows"] = double(f.note.rows().count());
    // Row widgets made, shown or spare: the rows near the visible part only.
    bm.counters["widgets"] = double(f.note.panel()->stack()->findChildren<NoteRow*>().size());
}
BENCHMARK(BM_RefreshNoteAfterTick)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The first showing: every text measured.
void BM_RefreshNoteFirst(benchmark::State& bm) {
    for (auto _ : bm) {
        bm.PauseTiming();
        auto f = std::make_unique<Fixture>(int(bm.range(0)));
        bm.ResumeTiming();
        f->note.showNote();
        bm.PauseTiming();
        f.reset();
        bm.ResumeTiming();
    }
}
BENCHMARK(BM_RefreshNoteFirst)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// A refresh that changes nothing visible.
void BM_RefreshNoteUnchanged(benchmark::State& bm) {
    Fixture f(int(bm.range(0)));
    f.note.showNote();
    for (auto _ : bm)
        f.note.refreshNote();
}
BENCHMARK(BM_RefreshNoteUnchanged)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// One tick of a drag over 500 rows: the pointer moves (new slot and targets), the rows glide.
void BM_DragTick(benchmark::State& bm) {
    Fixture f(int(bm.range(0)));
    f.note.showNote();
    NoteRow* dragged = f.note.rows().view(3);
    f.note.dragging().begin(dragged, QPointF(230, f.note.rows().top(3) + 10));
    double y = 0;
    for (auto _ : bm) {
        y = y > 4000 ? 0 : y + 37; // through the whole list, crossing headers
        f.note.dragging().moved(dragged, QPointF(230, y));
        f.ticks.step();
    }
    f.note.dragging().end(dragged);
}
BENCHMARK(BM_DragTick)->Arg(500)->Unit(benchmark::kMicrosecond);

// What a user's change costs the whole app: the write path, the menu brought up to date and
// the panel rebuilt (no network: the endpoints are empty).
void BM_ChangeRebuildsMenuAndPanel(benchmark::State& bm) {
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    AppDelegate app(store, Endpoints{}, const_cast<FixedClock&>(kBenchClock));
    app.listStore().applyFeed(syntheticFeed(int(bm.range(0))));
    app.rebuildMenu();
    app.showNote();
    QCoreApplication::processEvents();
    const int kind = int(bm.range(1));
    // The order a drop records: every visible task with its section, as the panel sends it.
    QList<OrderEntry> order;
    for (const OrderedItem& item : app.listStore().orderedItems())
        order.append({item.row.id.value_or(QString()), item.sec});
    int n = 0;
    for (auto _ : bm) {
        ++n;
        switch (kind) {
        case 0: // a tick
            app.listActions().toggle(QStringLiteral("id-1"), n % 2 == 0);
            break;
        case 1: // an add
            app.listActions().add(QStringLiteral("新任务 %1").arg(n));
            break;
        case 2: // a committed edit
            app.listActions().edit(QStringLiteral("id-2"), QString(), QStringLiteral("改过 %1").arg(n));
            break;
        case 3: { // a drop: an early task dropped far down, into another section
            OrderEntry moved = order.takeAt(1);
            moved.sec = order[order.size() * 3 / 10].sec;
            order.insert(order.size() * 3 / 10, moved);
            app.listActions().reorder(order);
            break;
        }
        default: // a section folded, then unfolded
            app.listActions().toggleCollapse(QStringLiteral("分类 1"));
            break;
        }
        QCoreApplication::processEvents(); // the menu's rebuild runs from the event loop
    }
}
BENCHMARK(BM_ChangeRebuildsMenuAndPanel)
    ->ArgsProduct({{1000, 10000}, {0, 1, 2, 3, 4}})
    ->ArgNames({"tasks", "tick_add_edit_drop_fold"})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return runWidgetBenchmarks(argc, argv);
}
