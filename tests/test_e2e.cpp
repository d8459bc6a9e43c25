// The app's own refresh and inbox code against a real velloa-hub on loopback: every kind of
// change travels to the hub, the hub applies it, and the next refresh drops the overlay entry.
#include "FeedSync.h"
#include "hub_process.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void changesTravelAndOverlayMelts();

private:
    bool refreshUntil(const std::function<bool()>& done, int timeoutMs = 20000);
    QList<OrderedItem> visible() const { return state->orderedItems(); }

    QTemporaryDir dir;
    std::unique_ptr<HubProcess> hub;
    std::unique_ptr<QNetworkAccessManager> network;
    std::unique_ptr<ListState> state;
    std::unique_ptr<FeedSync> sync;
};

void TestEndToEnd::init() {
    QVERIFY(dir.isValid());
    network = std::make_unique<QNetworkAccessManager>();
    state = std::make_unique<ListState>();
    sync = std::make_unique<FeedSync>(*state, *network, Clock::system());
}

void TestEndToEnd::cleanup() {
    sync.reset();
    hub.reset();
}

bool TestEndToEnd::refreshUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QSignalSpy handled(sync.get(), &FeedSync::answerHandled);
        sync->refresh();
        if (!handled.wait(5000))
            return false;
        if (!sync->lastError() && done())
            return true;
        QTest::qWait(100);
    }
    return false;
}

void TestEndToEnd::changesTravelAndOverlayMelts() {
    hub = std::make_unique<HubProcess>(dir.filePath(QStringLiteral("hub")));
    QVERIFY2(hub->start(), hub->output().constData());
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(hub->port());
    sync->dataUrl = base + QStringLiteral("data.json");
    sync->inboxUrl = base + HubProcess::kTopic;

    QVERIFY(refreshUntil([&] { return state->payload.has_value(); }));
    QList<OrderedItem> items = visible();
    QList<OrderedItem> open;
    for (const OrderedItem& item : items) {
        if (!state->effDone(item.row) && item.row.id)
            open.append(item);
    }
    QVERIFY2(open.size() >= 2, "the demo feed has open tasks in the mine list");
    const QString ticked = *open[0].row.id;
    const QString edited = *open[1].row.id;

    // Tick, edit and add, as the menu and the panel do: overlay first, then one message each.
    state->localDone[ticked] = true;
    sync->postInbox(ticked, inbox::Action::Done);
    state->localText[edited] = QStringLiteral("端到端 改过的文字");
    sync->postInboxEdit(edited, QStringLiteral("端到端 改过的文字"));
    const QString pendingId = ListState::newPendingId();
    state->pendingAdd[ListState::kMine].append(
        Row{QStringLiteral("item"), QStringLiteral("端到端 新任务"), pendingId, false, std::nullopt, std::nullopt});
    sync->postInboxAdd(QStringLiteral("端到端 新任务"));

    QVERIFY(refreshUntil([&] {
        return state->localDone.isEmpty() && state->localText.isEmpty() &&
               state->pendingAdd.value(ListState::kMine).isEmpty();
    }));
    // Each entry went only because the feed now carries that very change.
    items = visible();

    // Reorder: reverse the whole list and move everything into the first section.
    const QString firstSection = state->sectionLabels().first();
    QList<OrderEntry> order;
    QList<inbox::OrderItem> message;
    for (auto it = items.crbegin(); it != items.crend(); ++it) {
        if (!it->row.id)
            continue;
        order.append({*it->row.id, firstSection});
        message.append({*it->row.id, firstSection});
    }
    state->orderOverride[ListState::kMine] = order;
    // What the user sees: headers and tasks in order, with their texts and ticks (a task's own
    // cat is not shown, and under the override it still holds the feed's old value).
    const auto shown = [&] {
        QStringList out;
        for (const Row& row : state->displayRows(false))
            out << QStringLiteral("%1|%2|%3|%4").arg(row.kind, row.text, row.id.value_or(QString()),
                                                   state->effDone(row) ? QStringLiteral("x") : QString());
        return out;
    };
    const QStringList shownWithOverride = shown();
    sync->postInboxReorder(message);
    QVERIFY(refreshUntil([&] { return !state->orderOverride.contains(ListState::kMine); }));
    QCOMPARE(shown(), shownWithOverride);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_e2e.moc"
