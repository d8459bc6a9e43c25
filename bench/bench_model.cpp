// Measures feed decoding throughput and view-model rebuild time on synthetic feeds shaped
// like real ones: a few sections, short Chinese texts, some tasks done today.
#include "model/ListStore.h"
#include "model/Payload.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <benchmark/benchmark.h>

namespace {

const FixedClock kClock(QDateTime(QDate(2026, 12, 6), QTime(12, 0)));

QList<Row> makeRows(int tasks, int sections) {
    QList<Row> rows;
    for (int s = 0; s < sections; ++s)
        rows.append(ListStore::headerRow(QStringLiteral("分类 %1").arg(s)));
    for (int i = 0; i < tasks; ++i) {
        Row row{QStringLiteral("item"), QStringLiteral("第 %1 件事：整理房间、回复邮件").arg(i),
                QStringLiteral("id-%1").arg(i), i % 7 == 0, std::nullopt,
                QStringLiteral("分类 %1").arg(i % sections)};
        if (*row.done)
            row.doneAt = i % 14 == 0 ? QStringLiteral("2026-12-06") : QStringLiteral("2026-12-01");
        rows.append(row);
    }
    return rows;
}

QJsonArray rowsJson(const QList<Row>& rows) {
    QJsonArray array;
    for (const Row& row : rows) {
        QJsonObject o{{"kind", row.kind}, {"text", row.text}};
        if (row.id)
            o.insert("id", *row.id);
        if (row.done)
            o.insert("done", *row.done);
        if (row.doneAt)
            o.insert("doneAt", *row.doneAt);
        if (row.cat)
            o.insert("cat", *row.cat);
        array.append(o);
    }
    return array;
}

QByteArray feedWithTasks(int tasks) {
    QJsonObject top{{"updated", "12-06 08:30"}, {"mine_title", "阿蓁的 To-do"}, {"mine", "v"},
                    {"mine_rows", rowsJson(makeRows(tasks, 20))}, {"hers_title", "晴川子的 To-do"},
                    {"hers", "v"}, {"hers_rows", QJsonArray{}}};
    return QJsonDocument(top).toJson(QJsonDocument::Compact);
}

QByteArray feedOfSize(qsizetype bytes) {
    // Measure a small feed's bytes per task, then scale to the wanted size.
    const int probe = 1000;
    const double perTask = double(feedWithTasks(probe).size()) / probe;
    return feedWithTasks(int(double(bytes) / perTask));
}

void BM_Decode(benchmark::State& state) {
    const QByteArray body = feedOfSize(state.range(0) * 1024 * 1024);
    for (auto _ : state) {
        DecodeResult result = decodePayload(body);
        if (!result.payload)
            state.SkipWithError("feed did not decode");
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * body.size());
    state.counters["feed_MB"] = double(body.size()) / 1e6;
}
BENCHMARK(BM_Decode)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// Baseline: Qt's own parser alone, without filling any record, on the same bodies. It is
// what the decoder would cost at least if it were built on QJsonDocument.
void BM_QtJsonParseOnly(benchmark::State& state) {
    const QByteArray body = feedOfSize(state.range(0) * 1024 * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(body));
    state.SetBytesProcessed(int64_t(state.iterations()) * body.size());
}
BENCHMARK(BM_QtJsonParseOnly)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

void BM_DisplayRows(benchmark::State& state) {
    const int tasks = int(state.range(0));
    const bool withOverride = state.range(1) != 0;
    ListStore list(kClock);
    list.applyFeed(Payload{"u", "M", "", makeRows(tasks, std::max(5, tasks / 50)), "H", "", {}});
    if (withOverride) {
        // A full override in reverse order, every task moved to section 0.
        QList<OrderEntry> order;
        for (const OrderedItem& item : list.orderedItems())
            order.prepend({*item.row.id, QStringLiteral("分类 0")});
        list.setOrder(order);
    }
    // Each round changes the list (one tick), so the views are made anew, as after a change.
    bool done = false;
    for (auto _ : state) {
        list.setDone(QStringLiteral("id-1"), done = !done);
        benchmark::DoNotOptimize(list.displayRows(false));
    }
    state.counters["rows"] = double(list.displayRows(false).size());
}
BENCHMARK(BM_DisplayRows)
    ->ArgsProduct({{100, 1000, 10000}, {0, 1}})
    ->ArgNames({"tasks", "override"})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
