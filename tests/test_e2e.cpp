// The app's own write path and feed client against a real velloa-hub on loopback: a tick, an
// edit, an addition and a reorder go out as the menu and the panel send them, the hub applies
// each, and later refreshes end every overlay entry without changing what the user sees.
#include "sync/FeedSync.h"
#include "model/ListActions.h"
#include "tests/hub_process.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void changesTravelAndOverlayMelts();
};

void TestEndToEnd::changesTravelAndOverlayMelts() {
    QTemporaryDir dir;
    HubProcess hub(dir.filePath(QStringLiteral("hub")));
    QVERIFY2(hub.start(), hub.output().constData());
    QNetworkAccessManager network;
    ListStore state;
    FeedSync sync(state, network, Clock::system());
    ListActions actions(state, sync);
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(hub.port());
    sync.dataUrl = base + QStringLiteral("data.json");
    sync.inboxUrl = base + HubProcess::kTopic;
    const auto refreshUntil = [&](const std::function<bool()>& done) {
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired(); QTest::qWait(100)) {
            QSignalSpy handled(&sync, &FeedSync::answerHandled);
            sync.refresh();
            if (!handled.wait(5000))
                return false;
            if (!sync.lastError() && done())
                return true;
        }
        return false;
    };
    // What the user sees: headers and tasks in order, with their texts and ticks.
    const auto shown = [&] {
        QStringList out;
        for (const Row& row : state.displayRows(false))
            out << row.kind + '|' + row.text + (state.effDone(row) ? "|x" : "");
        return out;
    };
    QVERIFY(refreshUntil([&] { return state.payload().has_value(); }));
    QList<Row> open;
    for (const OrderedItem& item : state.orderedItems()) {
        if (!state.effDone(item.row) && item.row.id)
            open.append(item.row);
    }
    QVERIFY2(open.size() >= 2, "the demo feed has open tasks in the mine list");

    actions.toggle(*open[0].id, false);
    QVERIFY(actions.edit(*open[1].id, open[1].text, QStringLiteral("端到端 改过的文字")));
    QVERIFY(actions.add(QStringLiteral("端到端 新任务")));
    const QStringList changed = shown();
    QVERIFY(refreshUntil([&] {
        return state.localDone().isEmpty() && state.localText().isEmpty() &&
               state.pendingAdd().value(ListStore::kMine).isEmpty();
    }));
    QCOMPARE(shown(), changed);

    // Every task reversed, all into the first section.
    QList<OrderEntry> order;
    for (const OrderedItem& item : state.orderedItems()) {
        if (item.row.id)
            order.prepend({*item.row.id, state.sectionLabels().first()});
    }
    actions.reorder(order);
    const QStringList reordered = shown();
    QVERIFY(refreshUntil([&] { return !state.orderOverride().contains(ListStore::kMine); }));
    QCOMPARE(shown(), reordered);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "test_e2e.moc"
