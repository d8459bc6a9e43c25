// The sync simulation: seeded random user operations (ticks, edits, adds, drags, list
// switches, refreshes, time passing) through the real ListStore, ListActions and FeedSync
// against a real velloa-hub, behind a proxy that delays requests, loses posts and delivers
// answers out of order. After every step what the user sees must still show every change they
// made (a change shown, then reverted, is a flicker); after quiescence the overlay may hold
// only entries whose message was lost. VELLOA_SIM_OPS=10000 (and VELLOA_SIM_SEED) runs one
// long simulation instead of the short CI table (with QTEST_FUNCTION_TIMEOUT raised); figures
// go to stdout. docs/PERFORMANCE.md says what counts as what.
#include "sync/FeedSync.h"
#include "tests/support/Fixtures.h"
#include "model/ListActions.h"
#include "tests/support/ManualClock.h"
#include "tests/support/SyncProxy.h"
#include "tests/hub_process.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <random>

namespace {

struct Shown {
    QString id, text;
    bool done;
};

// What the user wants each thing to look like, from their own last change to it.
struct Intent {
    QHash<QString, bool> done;
    QHash<QString, QString> text;
    QHash<QString, QSet<QString>> added;     // texts per list
    QHash<QString, QList<OrderEntry>> order; // per list
    QSet<QString> confirmed;                 // keys a feed has agreed with
    QSet<QString> lost; // keys (as overlayKeys names them) whose last message was lost
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
    int divergent = 0, doubled = 0, leftLost = 0, leftOther = 0;
    QStringList problems;
};

// When a check runs: after a feed was applied (which may agree with what the user did), after
// a user's step, or at the end, when everything shown must agree.
struct Moment {
    bool fromFeed, atEnd;
    QString when;
};

// Which overlay key a message is about, for the record of lost ones.
QString keyOfPost(const QByteArray& body) {
    const inbox::Message m = inbox::parse(body).message.value_or(inbox::Message{});
    switch (m.action) {
    case inbox::Action::Done:
    case inbox::Action::Undone:
        return "done:" + m.id;
    case inbox::Action::Edit:
        return "text:" + m.id;
    case inbox::Action::Add:
        return "add:" + m.list + ':' + m.text;
    case inbox::Action::Reorder:
        return "order:" + m.list;
    }
    return QString();
}

// One seeded run. The driver decides every user step and every network event from the seed,
// so a run repeats from it; after each one what is shown is checked against the user's intent.
class SyncSim {
public:
    explicit SyncSim(quint64 seed) : m_rng(seed) {}

    Figures run(int ops) {
        if (!start())
            return m_f;
        // Requests reach the hub in the order they were sent, each after a random wait; answers
        // come back in any order.
        while (m_f.ops < ops && m_f.problems.size() < 20) {
            if (!onTheWire() || !chance(75))
                userStep();
            else if (!m_proxy->waiting.isEmpty() && (m_proxy->answered.isEmpty() || chance(50)))
                passOn(0);
            else
                deliver(pick(m_proxy->answered.size()));
        }
        quiesce();
        countLeftovers();
        return m_f;
    }

private:
    qsizetype pick(qsizetype n) { return qsizetype(m_rng() % quint64(n)); }
    bool chance(int percent) { return int(m_rng() % 100) < percent; }
    void trace(const QString& line) const {
        if (m_tracing)
            qInfo("%s", qPrintable(line));
    }
    bool onTheWire() const { return m_proxy->waiting.size() + m_proxy->answered.size() > 0; }

    // The hub, the proxy in front of it and the app's client, up to the first feed shown.
    bool start() {
        if (!m_hub.start()) {
            m_f.problems << "hub did not start: " + QString::fromUtf8(m_hub.output());
            return false;
        }
        m_proxy.emplace(m_hub.port());
        m_proxy->listen();
        m_sync.dataUrl = m_proxy->url(QStringLiteral("/data.json"));
        m_sync.inboxUrl = m_proxy->url('/' + HubProcess::kTopic);
        // The driver decides every delay; time-outs and deadlines (real seconds) must not end a
        // request the proxy is still holding. test_transport covers them.
        m_sync.fetchTimeout = m_sync.fetchDeadline = m_sync.postTimeout = m_sync.postDeadline =
            std::chrono::hours(1);
        // Each fetch reaches the proxy before the next one starts: arrival order is start order.
        QObject::connect(&m_sync, &FeedSync::fetchStarted, &m_sync, [this] {
            ++m_expected;
            ++m_f.fetches;
            settle();
        });
        QObject::connect(&m_sync, &FeedSync::feedApplied, &m_sync, [this] {
            m_intent.shown = m_arriving;
            check({true, false, QStringLiteral("feed")});
        });
        m_sync.refresh();
        drain();
        if (!m_state.payload())
            m_f.problems << "no first feed: " + m_sync.lastError().value_or(QString());
        return m_state.payload().has_value();
    }

    void userStep() {
        ++m_f.ops;
        if (m_f.ops % 1000 == 0)
            qInfo("%d ops: %d fetches, %d posts (%d lost), flicker %d, other reverts %d, "
                  "overtaken %d", m_f.ops, m_f.fetches, m_f.posts, m_f.lost, m_f.flicker,
                  m_f.reverts, m_f.overtaken);
        QList<OrderEntry> order;
        shownRows(&order);
        const int kind = int(pick(100));
        if (kind < 45 && !order.isEmpty()) { // tick or untick (below 30), or edit
            if (!changeTask(order, kind >= 30))
                return;
        } else if (kind < 55) {
            add();
        } else if (kind < 70 && order.size() > 1) {
            drag(order);
        } else if (kind < 76) { // the other list
            m_actions.chooseList(m_state.choice() == rules::kMine ? rules::kHers : rules::kMine);
        } else if (kind < 86) { // the 30 s timer
            m_sync.refresh();
        } else { // time passes: the quick refreshes come due
            m_clock.advance(std::chrono::seconds(1 + pick(15)));
        }
        trace(QStringLiteral("op %1 (%2), list %3").arg(m_f.ops).arg(kind).arg(m_state.choice()));
        check({false, false, QStringLiteral("op %1").arg(m_f.ops)});
    }

    // Ticks or unticks a shown task, or edits its text; false for a pending one, left alone.
    bool changeTask(const QList<OrderEntry>& order, bool editText) {
        const Shown s = shownRows()[order[pick(order.size())].id];
        if (rules::isPendingId(s.id))
            return false;
        const QString key = (editText ? "text:" : "done:") + s.id;
        if (editText) {
            const QString text = QStringLiteral("sim-edit-%1").arg(++m_made);
            for (QSet<QString>& added : m_intent.added)
                added.remove(s.text);
            m_intent.text[s.id] = text;
            m_actions.edit(s.id, s.text, text);
        } else {
            m_intent.done[s.id] = !s.done;
            trace(QStringLiteral("toggle %1 to %2").arg(s.id).arg(!s.done));
            m_actions.toggle(s.id, s.done);
        }
        m_intent.confirmed.remove(key);
        post(key);
        return true;
    }

    void add() {
        const QString text = QStringLiteral("sim-add-%1").arg(++m_made);
        m_intent.added[m_state.choice()].insert(text);
        m_actions.add(text);
        post("add:" + m_state.choice() + ':' + text);
    }

    // Drags one task to another place, into the section of the task it lands after.
    void drag(QList<OrderEntry> order) {
        OrderEntry moved = order.takeAt(pick(order.size()));
        const qsizetype to = pick(order.size() + 1);
        moved.sec = order[to > 0 ? to - 1 : 0].sec;
        order.insert(to, moved);
        QList<OrderEntry> sent;
        for (const OrderEntry& e : order)
            if (!rules::isPendingId(e.id))
                sent.append(e);
        m_intent.order[m_state.choice()] = sent;
        m_actions.reorder(order);
        if (!sent.isEmpty())
            post("order:" + m_state.choice());
    }

    // Everything on the way arrives, then each list is shown and refreshed once (an order is
    // reconciled only while its list is shown).
    void quiesce() {
        drain();
        for (const QString& list : {rules::kMine, rules::kHers, rules::kMine}) {
            m_actions.chooseList(list);
            m_sync.refresh();
            drain();
            check({false, true, QStringLiteral("end")});
        }
    }

    void countLeftovers() {
        for (const QString& key : overlayKeys(m_state)) {
            if (m_intent.lost.contains(key)) {
                ++m_f.leftLost;
            } else {
                ++m_f.leftOther;
                m_f.problems << "left in the overlay: " + key;
            }
        }
    }

    // Waits until every request the app has sent is at the proxy, one at a time so that the
    // arrival order is the sending order. Qt keeps at most six connections to a host; a
    // request beyond them waits inside Qt and arrives once an answer frees one.
    void settle() {
        const auto arrived = [&] {
            return m_proxy->received() >= m_expected ||
                   m_proxy->waiting.size() + m_proxy->answered.size() >= 6;
        };
        if (!QTest::qWaitFor(arrived, 10000))
            m_f.problems << QStringLiteral("a request never reached the proxy");
    }

    void post(const QString& key) {
        ++m_intent.onTheWay[key];
        m_intent.exposed.remove(key);
        ++m_expected;
        ++m_f.posts;
        settle();
    }

    void awaitReply(qsizetype before) {
        if (!QTest::qWaitFor([&] { return m_replies.size() > before; }, 10000))
            m_f.problems << QStringLiteral("an answer never reached the app");
    }

    // Passes the i-th waiting request on to the hub, or loses a post (one in ten).
    void passOn(qsizetype i) {
        const TestHttpServer::Request& request = m_proxy->waiting[i].request;
        trace("pass on " + QString::fromUtf8(request.method + ' ' + request.body));
        const bool fetch = request.method == "GET";
        if (!fetch) {
            const QString key = keyOfPost(request.body);
            --m_intent.onTheWay[key];
            if (chance(10)) {
                ++m_f.lost;
                trace("  lost");
                m_intent.lost.insert(key);
                const qsizetype repliesBefore = m_replies.size();
                m_proxy->lose(i);
                awaitReply(repliesBefore);
                settle();
                return;
            }
            m_intent.lost.remove(key);
            m_intent.atHub[key] = ++m_intent.taken;
        }
        m_snapshots.append(fetch ? m_intent.taken : -1);
        if (!m_proxy->forward(i)) {
            m_snapshots.removeLast();
            m_f.problems << QStringLiteral("the hub did not answer");
        }
    }

    void deliver(qsizetype i) {
        const bool fetch = m_proxy->answered[i].request.method == "GET";
        trace("deliver " + QString::fromUtf8(m_proxy->answered[i].request.method));
        const qsizetype before = m_handled.size(), repliesBefore = m_replies.size();
        m_arriving = m_snapshots.takeAt(i);
        m_proxy->deliver(i);
        if (!fetch)
            awaitReply(repliesBefore);
        else if (!QTest::qWaitFor([&] { return m_handled.size() > before; }, 10000))
            m_f.problems << QStringLiteral("an answer was never handled");
        settle();
    }

    void drain() {
        while (onTheWire()) {
            if (!m_proxy->waiting.isEmpty())
                passOn(0);
            else
                deliver(0);
        }
    }

    // The shown tasks with an id, by id, and (into `order`) in order with their sections.
    QHash<QString, Shown> shownRows(QList<OrderEntry>* order = nullptr) const {
        QHash<QString, Shown> out;
        QString label;
        for (const Row& row : m_state.displayRows(false)) {
            if (rules::isHeader(row)) {
                label = row.text;
            } else if (row.id) {
                out.insert(*row.id, {*row.id, row.text, m_state.effDone(row)});
                if (order)
                    order->append({*row.id, label});
            }
        }
        return out;
    }

    // Compares what is shown with what the user last did; a check after a feed notes where
    // the feed agrees.
    void check(const Moment& at) {
        QList<OrderEntry> shownOrder;
        const QHash<QString, Shown> shown = shownRows(&shownOrder);
        // A feed reconciles the overlay of both lists, so agreement is noted for every task,
        // shown or not; only what is shown can look reverted.
        QHash<QString, Row> feedItems;
        if (at.fromFeed) {
            const Payload& feed = *m_state.payload();
            for (const QList<Row>* rows : {&feed.mine_rows, &feed.hers_rows})
                for (const Row& row : *rows)
                    if (rules::isItem(row) && row.id && !feedItems.contains(*row.id))
                        feedItems.insert(*row.id, row);
        }
        for (auto it = m_intent.done.cbegin(); it != m_intent.done.cend(); ++it) {
            const bool visible = shown.contains(it.key());
            const auto row = feedItems.constFind(it.key());
            if (visible || row != feedItems.cend())
                judge(at, "done:" + it.key(), visible, visible && shown[it.key()].done == *it,
                      row != feedItems.cend() && row->done.value_or(false) == *it);
        }
        for (auto it = m_intent.text.cbegin(); it != m_intent.text.cend(); ++it) {
            const bool visible = shown.contains(it.key());
            const auto row = feedItems.constFind(it.key());
            if (visible || row != feedItems.cend())
                judge(at, "text:" + it.key(), visible, visible && shown[it.key()].text == *it,
                      row != feedItems.cend() && row->text == *it);
        }
        checkAdditions(at, shown);
        const QList<OrderEntry> order = m_intent.order.value(m_state.choice());
        if (!order.isEmpty()) {
            QList<OrderEntry> wanted, now;
            QSet<QString> named;
            for (const OrderEntry& e : order) {
                if (shown.contains(e.id))
                    wanted.append(e);
                named.insert(e.id);
            }
            for (const OrderEntry& e : std::as_const(shownOrder))
                if (named.contains(e.id))
                    now.append(e);
            judge(at, "order:" + m_state.choice(), true, now == wanted,
                  !m_state.orderOverride().contains(m_state.choice()));
        }
    }

    // Every added text is unique, so a text shown twice is an added row still shown beside
    // the task the feed made of it.
    void checkAdditions(const Moment& at, const QHash<QString, Shown>& shown) {
        QSet<QString> texts, feedTexts;
        QHash<QString, int> copies;
        for (const Shown& s : shown) {
            texts.insert(s.text);
            ++copies[s.text];
        }
        for (const Row& row : m_state.pendingAdd().value(m_state.choice()))
            texts.insert(row.text);
        for (const Row& row : rules::rowsOf(*m_state.payload(), m_state.choice()))
            feedTexts.insert(row.text);
        for (const QString& text : m_intent.added.value(m_state.choice())) {
            judge(at, "add:" + m_state.choice() + ':' + text, true, texts.contains(text),
                  feedTexts.contains(text));
            if (copies.value(text) > 1) {
                ++m_f.doubled;
                m_f.problems << QStringLiteral("%1: %2 shown twice").arg(at.when, text);
            }
        }
    }

    void judge(const Moment& at, const QString& key, bool visible, bool agrees, bool feedAgrees) {
        Intent& in = m_intent;
        const bool inTransit = in.onTheWay.value(key) > 0 || in.atHub.value(key) > in.shown;
        if (at.fromFeed && feedAgrees) {
            in.confirmed.insert(key);
            if (inTransit)
                in.exposed.insert(key);
            else
                in.exposed.remove(key);
        }
        if (!visible)
            return;
        if (at.atEnd && !agrees) {
            ++m_f.divergent;
            if (!in.lost.contains(key))
                m_f.problems << "shown against the user's last change at the end: " + key;
            return;
        }
        if (agrees) {
            in.reverted.remove(key);
            return;
        }
        if (in.reverted.contains(key))
            return; // the same revert, still shown
        in.reverted.insert(key);
        trace("  REVERTED " + key);
        // Overtaken: a feed that agreed with the last change while another message about the
        // same thing was still on its way took the overlay entry with it (tick, untick, tick:
        // the feed after the first message agrees), and the message after it then shows as a
        // revert. A flicker too, counted apart to tell the causes apart.
        if (inTransit || in.exposed.contains(key))
            ++m_f.overtaken;
        else
            (in.confirmed.contains(key) ? m_f.flicker : m_f.reverts)++;
        m_f.problems << QStringLiteral("%1: %2 reverted").arg(at.when, key);
    }

    std::mt19937_64 m_rng;
    Figures m_f;
    // VELLOA_SIM_TRACE=1 prints every step, to follow a seed that fails.
    const bool m_tracing = qEnvironmentVariableIsSet("VELLOA_SIM_TRACE");
    QTemporaryDir m_dir;
    HubProcess m_hub{m_dir.filePath(QStringLiteral("hub"))};
    std::optional<SyncProxy> m_proxy; // once the hub has its port
    QNetworkAccessManager m_network;
    // The feed client's delays run on a clock moved by hand; "today" is the hub's, held still.
    ManualClock m_clock;
    const FixedClock m_today{QDateTime::currentDateTime()};
    ListStore m_state{m_today};
    FeedSync m_sync{m_state, m_network, m_clock};
    ListActions m_actions{m_state, m_sync};
    Intent m_intent;
    qsizetype m_expected = 0; // requests the app has sent
    qint64 m_arriving = 0;    // what the feed being delivered includes
    int m_made = 0;           // texts made up so far
    QSignalSpy m_handled{&m_sync, &FeedSync::answerHandled};
    // A post's answer tells the app when a feed may end the overlay entry it is about, so the
    // app must have taken each answer in before the driver goes on, or runs would depend on
    // timing.
    QSignalSpy m_replies{&m_network, &QNetworkAccessManager::finished};
    QList<qint64> m_snapshots; // beside the proxy's answered: what each fetch's feed includes
};

} // namespace

class TestSyncSim : public QObject {
    Q_OBJECT

private slots:
    void simulate_data();
    void simulate();
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
    const Figures f = SyncSim(seed).run(ops);
    qInfo("seed %llu: %d ops, %d fetches, %d posts (%d lost); flicker %d, other reverts %d, "
          "overtaken by a later message %d, added task shown twice %d, shown against the last "
          "change at the end %d; left after quiescence: %d for lost messages, %d other; %lld ms",
          seed, f.ops, f.fetches, f.posts, f.lost, f.flicker, f.reverts, f.overtaken, f.doubled,
          f.divergent, f.leftLost, f.leftOther, timer.elapsed());
    QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.mid(0, 5).join(u'\n')));
    QCOMPARE(f.ops, ops);
}

QTEST_GUILESS_MAIN(TestSyncSim)
#include "test_sync_sim.moc"
