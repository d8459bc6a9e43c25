// The sync simulation's driver: the user's steps, the network's events and the weather.
#include "tests/support/SyncSim.h"

#include "tests/support/Fixtures.h"

#include <QtTest>

namespace {

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

} // namespace

void SyncSim::trace(const QString& line) const {
    if (m_tracing)
        qInfo("%s", qPrintable(line));
}

SimFigures SyncSim::run(int ops) {
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

// The hub, the proxy in front of it and the app, up to the first feed shown.
bool SyncSim::start() {
    if (!m_hub.start()) {
        m_f.problems << "hub did not start: " + QString::fromUtf8(m_hub.output());
        return false;
    }
    m_proxy.emplace(m_hub.port());
    m_proxy->listen();
    startApp();
    if (!state().payload())
        m_f.problems << "no first feed: " + m_app->sync.lastError().value_or(QString());
    return state().payload().has_value();
}

// A start of the app: its outbox read back (the overlay as it was), then the first fetch.
void SyncSim::startApp() {
    m_app = std::make_unique<App>(m_clock, m_today);
    FeedSync& sync = m_app->sync;
    sync.dataUrl = m_proxy->url(QStringLiteral("/data.json"));
    sync.inboxUrl = m_proxy->url('/' + HubProcess::kTopic);
    // The driver decides every delay; time-outs and deadlines (real seconds) must not end a
    // request the proxy is still holding. test_transport covers them.
    sync.fetchTimeout = sync.fetchDeadline = sync.postTimeout = sync.postDeadline =
        std::chrono::hours(1);
    // Each fetch reaches the proxy before the next one starts: arrival order is start order.
    QObject::connect(&sync, &FeedSync::fetchStarted, &sync, [this] {
        ++m_expected;
        ++m_f.fetches;
        settle();
    });
    QObject::connect(&sync.outbox(), &OutboxSender::posted, &sync, [this] {
        ++m_expected;
        ++m_f.sent;
    });
    QObject::connect(&sync, &FeedSync::feedApplied, &sync, [this] {
        m_intent.shown = m_arriving;
        check({true, false, QStringLiteral("feed")});
    });
    QString error;
    if (!sync.openOutbox(m_dir.filePath(QStringLiteral("app/outbox.jsonl")), &error))
        m_f.problems << "outbox: " + error;
    settle();
    sync.refresh();
    drain();
}

// The app quits or crashes at a random point. Requests it had sent reach the relay or not, by
// chance; answers on their way are lost with it. The user chooses the list shown before.
void SyncSim::restart() {
    ++m_f.restarts;
    trace(QStringLiteral("restart"));
    settle();
    const bool down = m_clock.msecsSinceEpoch() < m_downUntilMs;
    while (!m_proxy->waiting.isEmpty()) {
        const TestHttpServer::Request& request = m_proxy->waiting.first().request;
        if (request.method != "POST" || down || !chance(50)) {
            m_proxy->waiting.removeFirst();
            continue;
        }
        const QString key = keyOfPost(request.body);
        m_intent.onTheWay[key] = std::max(0, m_intent.onTheWay.value(key) - 1);
        m_intent.atHub[key] = ++m_intent.taken;
        if (!m_proxy->forward(0))
            m_f.problems << QStringLiteral("the hub did not answer");
    }
    const QString list = state().choice();
    m_app.reset();
    // Whatever of the old run still reaches the proxy has no one to answer to.
    QTest::qWait(50);
    m_proxy->waiting.clear();
    m_proxy->answered.clear();
    m_snapshots.clear();
    m_expected = m_proxy->received();
    startApp();
    m_app->actions.chooseList(list);
    check({false, false, QStringLiteral("restart")});
}

// The relay's weather, decided before each user step.
void SyncSim::weather() {
    if (chance(m_weather.outagePercent) && m_clock.msecsSinceEpoch() >= m_downUntilMs) {
        ++m_f.outages;
        m_downUntilMs = m_clock.msecsSinceEpoch() + 5000 + qint64(pick(295)) * 1000;
        trace(QStringLiteral("relay down for %1 ms").arg(m_downUntilMs - m_clock.msecsSinceEpoch()));
    }
    if (chance(m_weather.burstPercent))
        m_burst = 1 + int(pick(5));
    if (chance(m_weather.restartPercent))
        restart();
}

void SyncSim::userStep() {
    weather();
    ++m_f.ops;
    if (m_f.ops % 1000 == 0)
        qInfo("%d ops: %d fetches, %d posts (%d lost), %d sent, flicker %d, other reverts %d, "
              "overtaken %d", m_f.ops, m_f.fetches, m_f.posts, m_f.lost, m_f.sent, m_f.flicker,
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
        m_app->actions.chooseList(state().choice() == rules::kMine ? rules::kHers : rules::kMine);
    } else if (kind < 86) { // the 30 s timer
        m_app->sync.refresh();
    } else { // time passes: the quick refreshes and the outbox's retries come due
        m_clock.advance(std::chrono::seconds(1 + pick(15)));
        settle();
    }
    trace(QStringLiteral("op %1 (%2), list %3").arg(m_f.ops).arg(kind).arg(state().choice()));
    check({false, false, QStringLiteral("op %1").arg(m_f.ops)});
}

// Ticks or unticks a shown task, or edits its text; false for a pending one, left alone.
bool SyncSim::changeTask(const QList<OrderEntry>& order, bool editText) {
    const SimShown s = shownRows()[order[pick(order.size())].id];
    if (rules::isPendingId(s.id))
        return false;
    const QString key = (editText ? "text:" : "done:") + s.id;
    if (editText) {
        const QString text = QStringLiteral("sim-edit-%1").arg(++m_made);
        for (QSet<QString>& added : m_intent.added)
            added.remove(s.text);
        m_intent.text[s.id] = text;
        m_app->actions.edit(s.id, s.text, text);
    } else {
        m_intent.done[s.id] = !s.done;
        trace(QStringLiteral("toggle %1 to %2").arg(s.id).arg(!s.done));
        m_app->actions.toggle(s.id, s.done);
    }
    m_intent.confirmed.remove(key);
    post(key);
    return true;
}

void SyncSim::add() {
    const QString text = QStringLiteral("sim-add-%1").arg(++m_made);
    m_intent.added[state().choice()].insert(text);
    m_app->actions.add(text);
    post("add:" + state().choice() + ':' + text);
}

// Drags one task to another place, into the section of the task it lands after.
void SyncSim::drag(QList<OrderEntry> order) {
    OrderEntry moved = order.takeAt(pick(order.size()));
    const qsizetype to = pick(order.size() + 1);
    moved.sec = order[to > 0 ? to - 1 : 0].sec;
    order.insert(to, moved);
    QList<OrderEntry> sent;
    for (const OrderEntry& e : order)
        if (!rules::isPendingId(e.id))
            sent.append(e);
    m_intent.order[state().choice()] = sent;
    m_app->actions.reorder(order);
    if (!sent.isEmpty())
        post("order:" + state().choice());
}

// The weather clears and everything waiting arrives (the retries' waits run out and fetches
// decide unsure additions), then each list is shown and refreshed once (an order is
// reconciled only while its list is shown).
void SyncSim::quiesce() {
    m_downUntilMs = 0;
    m_burst = 0;
    m_calm = true;
    drain();
    // Three fetches a round decide any addition held for its unknown fate.
    for (int round = 0; round < 50 && !m_app->sync.outbox().outbox().isEmpty(); ++round) {
        m_clock.advance(std::chrono::minutes(5));
        settle();
        drain();
        for (int fetch = 0; fetch < 3; ++fetch) {
            m_app->sync.refresh();
            drain();
        }
    }
    m_f.unsent = int(m_app->sync.outbox().outbox().entries().size());
    for (const QString& list : {rules::kMine, rules::kHers, rules::kMine}) {
        m_app->actions.chooseList(list);
        m_app->sync.refresh();
        drain();
        check({false, true, QStringLiteral("end")});
    }
}

void SyncSim::countLeftovers() {
    for (const QString& key : overlayKeys(state())) {
        if (m_intent.lost.contains(key)) {
            ++m_f.leftLost;
        } else {
            ++m_f.leftOther;
            m_f.problems << "left in the overlay: " + key;
        }
    }
}

// Waits until every request the app has sent is at the proxy, one at a time so that the
// arrival order is the sending order. Qt keeps at most six connections to a host; a request
// beyond them waits inside Qt and arrives once an answer frees one.
void SyncSim::settle() {
    const auto arrived = [&] {
        return m_proxy->received() >= m_expected ||
               m_proxy->waiting.size() + m_proxy->answered.size() >= 6;
    };
    if (!QTest::qWaitFor(arrived, 10000))
        m_f.problems << QStringLiteral("a request never reached the proxy");
}

// A change the user made: its message is in the outbox now, and on the wire once the ones
// before it have been taken.
void SyncSim::post(const QString& key) {
    ++m_intent.onTheWay[key];
    m_intent.exposed.remove(key);
    ++m_f.posts;
    settle();
}

void SyncSim::awaitReply(qsizetype before) {
    if (!QTest::qWaitFor([&] { return m_app->replies.size() > before; }, 10000))
        m_f.problems << QStringLiteral("an answer never reached the app");
}

// The relay, down or in a burst, answers the i-th waiting post with a 5xx instead of passing
// it on; true when it did.
bool SyncSim::relayFails(qsizetype i) {
    const bool down = m_clock.msecsSinceEpoch() < m_downUntilMs;
    if (!down && m_burst == 0)
        return false;
    if (!down)
        --m_burst;
    ++m_f.failed;
    trace(QStringLiteral("  answered 503"));
    m_proxy->waiting.takeAt(i).reply(SyncProxy::Answer{503, "down", "text/plain"});
    return true;
}

// Passes the i-th waiting request on to the hub, or loses a post, or answers it with a 5xx
// while the relay is down.
void SyncSim::passOn(qsizetype i) {
    const TestHttpServer::Request& request = m_proxy->waiting[i].request;
    trace("pass on " + QString::fromUtf8(request.method + ' ' + request.body));
    const bool fetch = request.method == "GET";
    if (!fetch) {
        const QString key = keyOfPost(request.body);
        const qsizetype repliesBefore = m_app->replies.size();
        if (relayFails(i)) {
            awaitReply(repliesBefore);
            return settle();
        }
        m_intent.onTheWay[key] = std::max(0, m_intent.onTheWay.value(key) - 1);
        if (chance(m_weather.losePercent)) {
            ++m_f.lost;
            trace("  lost");
            m_intent.lost.insert(key);
            m_proxy->lose(i);
            awaitReply(repliesBefore);
            return settle();
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

void SyncSim::deliver(qsizetype i) {
    const bool fetch = m_proxy->answered[i].request.method == "GET";
    trace("deliver " + QString::fromUtf8(m_proxy->answered[i].request.method));
    const qsizetype before = m_app->handled.size(), repliesBefore = m_app->replies.size();
    m_arriving = m_snapshots.takeAt(i);
    if (!fetch && chance(m_calm ? 0 : m_weather.cutOffPercent))
        return cutOff(i, repliesBefore);
    m_proxy->deliver(i);
    if (!fetch)
        awaitReply(repliesBefore);
    else if (!QTest::qWaitFor([&] { return m_app->handled.size() > before; }, 10000))
        m_f.problems << QStringLiteral("an answer was never handled");
    settle();
}

// The hub took the post, and the connection drops before the answer. Qt sends the request
// again by itself when that happens (twice at most): the relay drops those connections too,
// so the app's reply ends without a status and the app cannot tell whether it arrived.
void SyncSim::cutOff(qsizetype i, qsizetype repliesBefore) {
    ++m_f.cutOff;
    trace("  cut off");
    SyncProxy::Answer hangUp;
    hangUp.hangUp = true;
    const SyncProxy::Exchange exchange = m_proxy->answered.takeAt(i);
    exchange.reply(hangUp);
    const auto again = [&] {
        return std::ranges::find_if(m_proxy->waiting, [&](const SyncProxy::Exchange& e) {
            return e.request.body == exchange.request.body;
        });
    };
    while (m_app->replies.size() <= repliesBefore) {
        if (!QTest::qWaitFor([&] { return m_app->replies.size() > repliesBefore ||
                                          again() != m_proxy->waiting.end(); }, 10000)) {
            m_f.problems << QStringLiteral("an answer never reached the app");
            return;
        }
        if (const auto it = again(); it != m_proxy->waiting.end()) {
            const SyncProxy::Exchange retried = *it;
            m_proxy->waiting.erase(it);
            ++m_expected; // Qt's own resend, never posted by the app
            retried.reply(hangUp);
        }
    }
    settle();
}

void SyncSim::drain() {
    while (onTheWire()) {
        if (!m_proxy->waiting.isEmpty())
            passOn(0);
        else
            deliver(0);
    }
}
