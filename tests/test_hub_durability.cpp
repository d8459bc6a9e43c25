// The real velloa-hub through crashes: what it acknowledged is applied exactly once, what it
// cannot read it never overwrites.
#include "tests/support/Fixtures.h"
#include "model/InboxMessage.h"
#include "tests/hub_process.h"

#include <QNetworkReply>
#include <QTemporaryDir>
#include <QtTest>

class TestHubDurability : public QObject {
    Q_OBJECT
private slots:
    void crashDuringABurstLosesNothingAndRepeatsNothing();
    void delayedMessagesSurviveACrash();
    void refusesAFeedItCannotRead_data();
    void refusesAFeedItCannotRead();
};

// Many additions in flight, a kill once some are acknowledged, then a restart: every acknowledged
// text exactly once, none of the others twice, also on top of an earlier round's recovery.
void TestHubDurability::crashDuringABurstLosesNothingAndRepeatsNothing() {
    QTemporaryDir dir;
    QNetworkAccessManager network;
    QSet<QString> acknowledged;
    QStringList sent;
    int replays = 0;
    for (int round = 0; round < 2; ++round) {
        HubProcess hub(dir.path());
        QVERIFY2(hub.start(), hub.output().constData());
        const int total = 120, killAfter = 20 + 30 * round;
        int finished = 0, acked = 0;
        QNetworkRequest request("http://127.0.0.1:" + QString::number(hub.port()) + topicPath());
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        for (int i = 0; i < total; ++i) {
            const QString text = sent.emplaceBack(QStringLiteral("burst %1-%2").arg(round).arg(i));
            QNetworkReply* reply =
                network.post(request, inbox::serialize(inbox::add("mine", text, 1)));
            connect(reply, &QNetworkReply::finished, reply, [&, reply, text] {
                ++finished;
                if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200) {
                    acknowledged.insert(text);
                    if (++acked == killAfter)
                        hub.crash();
                }
            });
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished, total, 60000);
        QVERIFY2(acked >= killAfter && acked < total, qPrintable(QString::number(acked)));

        HubProcess restarted(dir.path());
        QVERIFY2(restarted.start(), restarted.output().constData());
        const auto feed = decodePayload(getPath(restarted.port(), "/data.json").body).payload;
        QVERIFY(feed);
        for (const QString& text : std::as_const(sent)) {
            const auto n = std::ranges::count(feed->mine_rows, text, &Row::text);
            QVERIFY2(n == 1 || (n == 0 && !acknowledged.contains(text)), qPrintable(text));
        }
        replays += restarted.output().contains("journal entries the feed file did not include");
    }
    // The feed file is written at most every 100 ms, so a kill amid the burst leaves
    // acknowledged messages only in the journal: the restart applied them.
    QVERIFY(replays > 0);
}

// Acknowledged but still waiting when the hub dies: the restart applies them, once, and the
// app's own reconciliation then finds every change it made in the feed.
void TestHubDurability::delayedMessagesSurviveACrash() {
    QTemporaryDir dir;
    HubProcess hub(dir.path(), {"--apply-delay", "30"}); // the kill surely comes first
    QVERIFY2(hub.start(), hub.output().constData());
    const QByteArray before = getPath(hub.port(), "/data.json").body;
    const QList<inbox::OrderItem> order = {
        {"h5", "学习"}, {"h1", "学习"}, {"h2", "家务"}, {"h4", "家务"}, {"h6", "家务"}};
    for (const QJsonObject& message :
         {inbox::toggle("mine", "m1", true, 1), inbox::toggle("mine", "m2", false, 1),
          inbox::edit("mine", "m4", "改好的文字", 1), inbox::add("mine", "等一会儿再加", 1),
          inbox::reorder("hers", order, 1)}) {
        const QByteArray body = inbox::serialize(message);
        QCOMPARE(rawExchange(hub.port(), httpRequest("POST", topicPath(), body)).status, 200);
    }
    QCOMPARE(getPath(hub.port(), "/data.json").body, before);
    hub.crash();

    HubProcess restarted(dir.path());
    QVERIFY2(restarted.start(), restarted.output().constData());
    const auto feed = decodePayload(getPath(restarted.port(), "/data.json").body).payload;
    QVERIFY(feed);
    QCOMPARE(std::ranges::count(feed->mine_rows, QString("等一会儿再加"), &Row::text), 1);
    ListStore app;
    app.choose(ListStore::kHers);
    app.setDone(QStringLiteral("m1"), true);
    app.setDone(QStringLiteral("m2"), false);
    app.setText(QStringLiteral("m4"), QStringLiteral("改好的文字"));
    QList<OrderEntry> hersOrder;
    for (const auto& [id, cat] : order)
        hersOrder.append({id, cat});
    app.setOrder(hersOrder);
    app.choose(ListStore::kMine);
    app.addPending(task(ListStore::newPendingId(), "等一会儿再加"));
    app.choose(ListStore::kHers); // an order ends only while its list is shown
    app.applyFeed(*feed);
    QVERIFY(app.localDone().isEmpty() && app.localText().isEmpty() && app.orderOverride().isEmpty());
    QVERIFY(app.pendingAdd().value(ListStore::kMine).isEmpty());
}

void TestHubDurability::refusesAFeedItCannotRead_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("not JSON") << QByteArray("{\"updated\": ");
    QTest::newRow("hub_seq negative") << listFeed({}, "u", R"(,"hub_seq":-1)");
}

void TestHubDurability::refusesAFeedItCannotRead() {
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    QFile file(dir.filePath("data.json"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    HubProcess hub(dir.path());
    QVERIFY(!hub.start());
    QCOMPARE(hub.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(hub.process().exitCode(), 1);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

QTEST_GUILESS_MAIN(TestHubDurability)
#include "test_hub_durability.moc"
