// The sync simulation: seeded random user operations (ticks, edits, adds, drags, list
// switches, refreshes, time passing) through the real ListState, ListActions and FeedSync
// against a real velloa-hub, behind a proxy that delays requests, loses posts and delivers
// answers out of order. After every step what the user sees must still show every change they
// made (a change shown, then reverted, is a flicker); after quiescence the overlay may hold
// only entries whose message was lost. VELLOA_SIM_OPS=10000 (and VELLOA_SIM_SEED) runs one
// long simulation instead of the short CI table (with QTEST_FUNCTION_TIMEOUT raised); figures
// go to stdout. docs/PERFORMANCE.md says what counts as what.
#include "FeedSync.h"
#include "ListActions.h"
#include "ManualClock.h"
#include "SyncProxy.h"
#include "hub_process.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <random>

namespace {

struct Shown {
    QString id, text, sec;
    bool done;
};

// What the user wants each thing to look like, from their own last change to it.
struct Intent {
    QHash<QString, bool> done;
    QHash<QString, QString> text;
    QHash<QString, QSet<QString>> added;     // texts per list
    QHash<QString, QList<OrderEntry>> order; // per list
    QSet<QString> confirmed;                 // keys a feed has agreed with
    // Keys ("done:ID", "text:ID", "add:TEXT", "order:LIST") whose last message was lost.
    QSet<QString> lost;
    // Messages per key sent and not yet at the hub (or lost), and the number (in the hub's
    // order) of the last one the hub took; `shown` is the number the shown feed includes.
    QHash<QString, int> onTheWay;
    QHash<QString, qint64> atHub;
    qint64 taken = 0, shown = 0;
    // Keys whose overlay entry a feed took away while a message about them was on its way.
    QSet<QString> exposed;
    QSet<QString> reverted; // keys shown reverted right now: one event until they agree again
};

struct Figures {
    int ops = 0, posts = 0, lost = 0, fetches = 0, flicker = 0, reverts = 0, overtaken = 0;
    int divergent = 0, doubled = 0;
    int leftLost = 0, leftOther = 0;
    QStringList problems;
};

} // namespace

class TestSyncSim : public QObject {
    Q_OBJECT

private slots:
    void simulate_data();
    void simulate();

private:
    Figures run(quint64 seed, int ops);
};

void TestSyncSim::simulate_data() {
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<int>("ops");
    const int full = qEnvironmentVariableIntValue("VELLOA_SIM_OPS");
    if (full > 0) {
        const quint64 seed = qEnvironmentVariable("VELLOA_SIM_SEED", "1").toULongLong();
        QTest::newRow("full") << seed << full;
        return;
    }
    for (quint64 seed : {1, 3})
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed << 120;
}

void TestSyncSim::simulate() {
    QFETCH(quint64, seed);
    QFETCH(int, ops);
    QElapsedTimer timer;
    timer.start();
    const Figures f = run(seed, ops);
    qInfo("seed %llu: %d ops, %d fetches, %d posts (%d lost); flicker %d, other reverts %d, "
          "overtaken by a later message %d, added task shown twice %d, shown against the last "
          "change at the end %d; left after quiescence: %d for lost messages, %d other; %lld ms",
          seed, f.ops, f.fetches, f.posts, f.lost, f.flicker, f.reverts, f.overtaken, f.doubled,
          f.divergent, f.leftLost, f.leftOther, timer.elapsed());
    QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.mid(0, 5).join(u'\n')));
    QCOMPARE(f.ops, ops);
}

Figures TestSyncSim::run(quint64 seed, int ops) {
    Figures f;
    std::mt19937_64 rng(seed);
    const auto pick = [&](qsizetype n) { return qsizetype(rng() % quint64(n)); };
    const auto chance = [&](int percent) { return int(rng() % 100) < percent; };

    QTemporaryDir dir;
    HubProcess hub(dir.filePath(QStringLiteral("hub")));
    if (!hub.start()) {
        f.problems << "hub did not start: " + QString::fromUtf8(hub.output());
        return f;
    }
    SyncProxy proxy(hub.port());
    proxy.listen();
    QNetworkAccessManager network;
    // The feed client's delays run on a clock moved by hand; "today" is the hub's, held still.
    ManualClock clock;
    const FixedClock today(QDateTime::currentDateTime());
    ListState state;
    state.clock = &today;
    FeedSync sync(state, network, clock);
    sync.dataUrl = proxy.url(QStringLiteral("/data.json"));
    sync.inboxUrl = proxy.url('/' + HubProcess::kTopic);
    // The driver decides every delay; time-outs and deadlines (real seconds) must not end a
    // request the proxy is still holding. test_transport covers them.
    sync.fetchTimeout = sync.fetchDeadline = sync.postTimeout = sync.postDeadline = std::chrono::hours(1);
    ListActions actions(state, sync);
    Intent intent;
    // VELLOA_SIM_TRACE=1 prints every step, to follow a seed that fails.
    const bool tracing = qEnvironmentVariableIsSet("VELLOA_SIM_TRACE");
    const auto trace = [&](const QString& line) {
        if (tracing)
            qInfo("%s", qPrintable(line));
    };
    qsizetype expected = 0; // requests the app has sent

    // Waits until every request the app has sent is at the proxy, one at a time so that the
    // arrival order is the sending order. Qt keeps at most six connections to a host; a request
    // beyond them waits inside Qt and arrives once an answer frees one.
    const auto settle = [&] {
        const auto arrived = [&] {
            return proxy.received() >= expected ||
                   proxy.waiting.size() + proxy.answered.size() >= 6;
        };
        if (!QTest::qWaitFor(arrived, 10000))
            f.problems << QStringLiteral("a request never reached the proxy");
    };
    // Each fetch reaches the proxy before the next one starts, so arrival order is start order.
    connect(&sync, &FeedSync::fetchStarted, this, [&] {
        ++expected;
        ++f.fetches;
        settle();
    });

    const auto shownRows = [&] {
        QHash<QString, Shown> out;
        QString label;
        for (const Row& row : state.displayRows(false)) {
            if (rules::isHeader(row))
                label = row.text;
            else if (row.id)
                out.insert(*row.id, {*row.id, row.text, label, state.effDone(row)});
        }
        return out;
    };
    const auto shownOrder = [&] {
        QList<OrderEntry> order;
        QString label;
        for (const Row& row : state.displayRows(false)) {
            if (rules::isHeader(row))
                label = row.text;
            else if (row.id)
                order.append({*row.id, label});
        }
        return order;
    };

    // Compares what is shown with what the user last did; `fromFeed` marks agreement.
    bool finalCheck = false;
    qint64 arriving = 0; // what the feed being delivered includes
    const auto check = [&](bool fromFeed, const QString& when) {
        const QHash<QString, Shown> shown = shownRows();
        // A feed reconciles the overlay of both lists, so agreement is noted for every task,
        // shown or not; only what is shown can look reverted.
        QHash<QString, Row> feedItems;
        if (fromFeed) {
            for (const QList<Row>* rows : {&state.payload->mine_rows, &state.payload->hers_rows})
                for (const Row& row : *rows)
                    if (rules::isItem(row) && row.id && !feedItems.contains(*row.id))
                        feedItems.insert(*row.id, row);
        }
        const auto judge = [&](const QString& key, bool visible, bool agrees, bool feedAgrees) {
            const bool inTransit =
                intent.onTheWay.value(key) > 0 || intent.atHub.value(key) > intent.shown;
            if (fromFeed && feedAgrees) {
                intent.confirmed.insert(key);
                if (inTransit)
                    intent.exposed.insert(key);
                else
                    intent.exposed.remove(key);
            }
            if (!visible)
                return;
            if (finalCheck && !agrees) {
                ++f.divergent;
                if (!intent.lost.contains(key))
                    f.problems << "shown against the user's last change at the end: " + key;
                return;
            }
            if (agrees) {
                intent.reverted.remove(key);
                return;
            }
            if (intent.reverted.contains(key))
                return; // the same revert, still shown
            intent.reverted.insert(key);
            trace("  REVERTED " + key);
            // Overtaken: a feed that agreed with the last change while another message about
            // the same thing was still on its way took the overlay entry with it (tick, untick,
            // tick: the feed after the first message agrees), and the message after it then
            // shows as a revert. A flicker too, counted apart to tell the causes apart.
            if (inTransit || intent.exposed.contains(key))
                ++f.overtaken;
            else
                (intent.confirmed.contains(key) ? f.flicker : f.reverts)++;
            f.problems << QStringLiteral("%1: %2 reverted").arg(when, key);
        };
        for (auto it = intent.done.cbegin(); it != intent.done.cend(); ++it) {
            const bool visible = shown.contains(it.key());
            const auto row = feedItems.constFind(it.key());
            if (visible || row != feedItems.cend())
                judge("done:" + it.key(), visible, visible && shown[it.key()].done == *it,
                      row != feedItems.cend() && row->done.value_or(false) == *it);
        }
        for (auto it = intent.text.cbegin(); it != intent.text.cend(); ++it) {
            const bool visible = shown.contains(it.key());
            const auto row = feedItems.constFind(it.key());
            if (visible || row != feedItems.cend())
                judge("text:" + it.key(), visible, visible && shown[it.key()].text == *it,
                      row != feedItems.cend() && row->text == *it);
        }
        QSet<QString> texts;
        for (const Shown& s : shown)
            texts.insert(s.text);
        for (const Row& row : state.pendingAdd.value(state.choice))
            texts.insert(row.text);
        QSet<QString> feedTexts;
        for (const Row& row : rules::rowsOf(*state.payload, state.choice))
            feedTexts.insert(row.text);
        // Every added text is unique, so a text shown twice is an added row still shown
        // beside the task the feed made of it.
        QHash<QString, int> copies;
        for (const Shown& s : shown)
            ++copies[s.text];
        for (const QString& text : intent.added.value(state.choice)) {
            judge("add:" + text, true, texts.contains(text), feedTexts.contains(text));
            if (copies.value(text) > 1) {
                ++f.doubled;
                f.problems << QStringLiteral("%1: %2 shown twice").arg(when, text);
            }
        }
        const QList<OrderEntry> order = intent.order.value(state.choice);
        if (!order.isEmpty()) {
            QList<OrderEntry> wanted, now;
            for (const OrderEntry& e : order)
                if (shown.contains(e.id))
                    wanted.append(e);
            QSet<QString> named;
            for (const OrderEntry& e : order)
                named.insert(e.id);
            for (const OrderEntry& e : shownOrder())
                if (named.contains(e.id))
                    now.append(e);
            judge("order:" + state.choice, true, now == wanted,
                  !state.orderOverride.contains(state.choice));
        }
    };

    QSignalSpy handled(&sync, &FeedSync::answerHandled);
    // A post's answer tells the app when a feed may end the overlay entry it is about, so the
    // app must have taken each answer in before the driver goes on, or runs would depend on
    // timing.
    QSignalSpy replies(&network, &QNetworkAccessManager::finished);
    const auto awaitReply = [&](qsizetype before) {
        if (!QTest::qWaitFor([&] { return replies.size() > before; }, 10000))
            f.problems << QStringLiteral("an answer never reached the app");
    };
    connect(&sync, &FeedSync::feedApplied, this, [&] {
        intent.shown = arriving;
        check(true, QStringLiteral("feed"));
    });
    QList<qint64> snapshots; // beside proxy.answered: what each fetch's feed includes

    const auto post = [&](const QString& key) {
        ++intent.onTheWay[key];
        intent.exposed.remove(key);
        ++expected;
        ++f.posts;
        settle();
    };
    const auto deliver = [&](qsizetype i) {
        const bool fetch = proxy.answered[i].request.method == "GET";
        trace("deliver " + QString::fromUtf8(proxy.answered[i].request.method));
        const qsizetype before = handled.size(), repliesBefore = replies.size();
        arriving = snapshots.takeAt(i);
        proxy.deliver(i);
        if (!fetch)
            awaitReply(repliesBefore);
        else if (!QTest::qWaitFor([&] { return handled.size() > before; }, 10000))
            f.problems << QStringLiteral("an answer was never handled");
        settle();
    };
    // Which overlay key a message is about, for the record of lost ones.
    const auto keyOfPost = [](const QByteArray& body) {
        const inbox::Message m = inbox::parse(body).message.value_or(inbox::Message{});
        switch (m.action) {
        case inbox::Action::Done:
        case inbox::Action::Undone:
            return "done:" + m.id;
        case inbox::Action::Edit:
            return "text:" + m.id;
        case inbox::Action::Add:
            return "add:" + m.text;
        case inbox::Action::Reorder:
            return "order:" + m.list;
        }
        return QString();
    };
    const auto passOn = [&](qsizetype i) {
        const TestHttpServer::Request& request = proxy.waiting[i].request;
        trace("pass on " + QString::fromUtf8(request.method + ' ' + request.body));
        const bool fetch = request.method == "GET";
        if (!fetch) {
            const QString key = keyOfPost(request.body);
            --intent.onTheWay[key];
            if (chance(10)) {
                ++f.lost;
                trace("  lost");
                intent.lost.insert(key);
                const qsizetype repliesBefore = replies.size();
                proxy.lose(i);
                awaitReply(repliesBefore);
                settle();
                return;
            }
            intent.lost.remove(key);
            intent.atHub[key] = ++intent.taken;
        }
        snapshots.append(fetch ? intent.taken : -1);
        if (!proxy.forward(i)) {
            snapshots.removeLast();
            f.problems << QStringLiteral("the hub did not answer");
        }
    };

    sync.refresh();
    while (proxy.waiting.size() + proxy.answered.size() > 0) {
        if (!proxy.waiting.isEmpty())
            passOn(0);
        else
            deliver(0);
    }
    if (!state.payload) {
        f.problems << QStringLiteral("no first feed: ") + sync.lastError().value_or(QString());
        return f;
    }
    int made = 0;
    while (f.ops < ops && f.problems.size() < 20) {
        const bool onTheWire = proxy.waiting.size() + proxy.answered.size() > 0 && chance(75);
        if (onTheWire) {
            // Requests reach the hub in the order they were sent, each after a random wait;
            // answers come back in any order.
            if (!proxy.waiting.isEmpty() && (proxy.answered.isEmpty() || chance(50)))
                passOn(0);
            else
                deliver(pick(proxy.answered.size()));
            continue;
        }
        ++f.ops;
        if (f.ops % 1000 == 0)
            qInfo("%d ops: %d fetches, %d posts (%d lost), flicker %d, other reverts %d, "
                  "overtaken %d",
                  f.ops, f.fetches, f.posts, f.lost, f.flicker, f.reverts, f.overtaken);
        const QHash<QString, Shown> shown = shownRows();
        QList<OrderEntry> order = shownOrder();
        const int kind = int(pick(100));
        if (kind < 30 && !order.isEmpty()) { // tick or untick
            const Shown& s = shown[order[pick(order.size())].id];
            if (rules::isPendingId(s.id))
                continue;
            intent.done[s.id] = !s.done;
            trace(QStringLiteral("toggle %1 to %2").arg(s.id).arg(!s.done));
            intent.confirmed.remove("done:" + s.id);
            actions.toggle(s.id, s.done);
            post("done:" + s.id);
        } else if (kind < 45 && !order.isEmpty()) { // edit
            const Shown& s = shown[order[pick(order.size())].id];
            if (rules::isPendingId(s.id))
                continue;
            const QString text = QStringLiteral("sim-edit-%1").arg(++made);
            for (QSet<QString>& added : intent.added)
                added.remove(s.text);
            intent.text[s.id] = text;
            intent.confirmed.remove("text:" + s.id);
            actions.edit(s.id, s.text, text);
            post("text:" + s.id);
        } else if (kind < 55) { // add
            const QString text = QStringLiteral("sim-add-%1").arg(++made);
            intent.added[state.choice].insert(text);
            actions.add(text);
            post("add:" + text);
        } else if (kind < 70 && order.size() > 1) { // drag one task to another place
            OrderEntry moved = order.takeAt(pick(order.size()));
            const qsizetype to = pick(order.size() + 1);
            moved.sec = order[to > 0 ? to - 1 : 0].sec;
            order.insert(to, moved);
            bool named = false;
            QList<OrderEntry> sent;
            for (const OrderEntry& e : order) {
                if (!rules::isPendingId(e.id))
                    sent.append(e);
                named = named || !rules::isPendingId(e.id);
            }
            intent.order[state.choice] = sent;
            actions.reorder(order);
            if (named)
                post("order:" + state.choice);
        } else if (kind < 76) { // the other list
            actions.chooseList(state.choice == rules::kMine ? rules::kHers : rules::kMine);
        } else if (kind < 86) { // the 30 s timer
            sync.refresh();
        } else { // time passes: the quick refreshes come due
            clock.advance(std::chrono::seconds(1 + pick(15)));
        }
        trace(QStringLiteral("op %1 (%2), list %3").arg(f.ops).arg(kind).arg(state.choice));
        check(false, QStringLiteral("op %1").arg(f.ops));
    }

    // Quiescence: everything on the way arrives, then each list is shown and refreshed once
    // (an order is reconciled only while its list is shown).
    const auto drain = [&] {
        while (proxy.waiting.size() + proxy.answered.size() > 0) {
            if (!proxy.waiting.isEmpty())
                passOn(0);
            else
                deliver(0);
        }
    };
    drain();
    for (const QString& list : {rules::kMine, rules::kHers, rules::kMine}) {
        actions.chooseList(list);
        sync.refresh();
        drain();
        finalCheck = true;
        check(false, QStringLiteral("end"));
        finalCheck = false;
    }
    const auto left = [&](const QString& key) {
        if (intent.lost.contains(key))
            ++f.leftLost;
        else {
            ++f.leftOther;
            f.problems << "left in the overlay: " + key;
        }
    };
    for (auto it = state.localDone.cbegin(); it != state.localDone.cend(); ++it)
        left("done:" + it.key());
    for (auto it = state.localText.cbegin(); it != state.localText.cend(); ++it)
        left("text:" + it.key());
    for (auto it = state.pendingAdd.cbegin(); it != state.pendingAdd.cend(); ++it)
        for (const Row& row : *it)
            left("add:" + row.text);
    for (auto it = state.orderOverride.cbegin(); it != state.orderOverride.cend(); ++it)
        left("order:" + it.key());
    return f;
}

QTEST_GUILESS_MAIN(TestSyncSim)
#include "test_sync_sim.moc"
