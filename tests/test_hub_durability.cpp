// The real velloa-hub through crashes: what it acknowledged is applied exactly once, what it
// cannot read it never overwrites.
#include "hub_process.h"

#include "InboxMessage.h"
#include "ListState.h"
#include "Payload.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QtTest>

namespace {

Payload fetchFeed(quint16 port) {
    const RawResponse response = getPath(port, "/data.json");
    const DecodeResult decoded = decodePayload(response.body);
    if (!decoded.payload)
        qFatal("feed does not decode: %s", qPrintable(decoded.error));
    return *decoded.payload;
}

int countText(const Payload& feed, const QString& text) {
    int n = 0;
    for (const Row& row : feed.mine_rows)
        n += row.text == text ? 1 : 0;
    return n;
}

std::optional<Row> findId(const QList<Row>& rows, const QString& id) {
    for (const Row& row : rows) {
        if (row.id == id)
            return row;
    }
    return std::nullopt;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestHubDurability : public QObject {
    Q_OBJECT

private slots:
    void crashDuringABurstLosesNothingAndRepeatsNothing();
    void delayedMessagesApplyAfterTheDelay();
    void delayedMessagesSurviveACrash();
    void refusesAFeedItCannotRead_data();
    void refusesAFeedItCannotRead();
};

// Posts many additions at once, kills the hub after some are acknowledged, restarts it and
// counts: every acknowledged text exactly once, none of the others twice. Three rounds on one
// folder, so numbering and replay also hold across several crashes.
void TestHubDurability::crashDuringABurstLosesNothingAndRepeatsNothing() {
    QTemporaryDir dir;
    QNetworkAccessManager network;
    QSet<QString> acknowledged;
    QStringList sent;
    for (int round = 0; round < 3; ++round) {
        HubProcess hub(dir.path());
        QVERIFY2(hub.start(), hub.output().constData());
        const int total = 120;
        const int killAfter = 15 + 25 * round;
        int finished = 0;
        int acked = 0;
        QEventLoop loop;
        const QUrl url(
            QStringLiteral("http://127.0.0.1:%1/%2").arg(hub.port()).arg(HubProcess::kTopic));
        for (int i = 0; i < total; ++i) {
            const QString text = QStringLiteral("burst %1-%2").arg(round).arg(i);
            sent << text;
            QNetworkRequest request(url);
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
            QNetworkReply* reply =
                network.post(request, inbox::serialize(inbox::add("mine", text, 1)));
            connect(reply, &QNetworkReply::finished, &loop, [&, reply, text] {
                reply->deleteLater();
                if (reply->error() == QNetworkReply::NoError &&
                    reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200) {
                    acknowledged.insert(text);
                    if (++acked == killAfter)
                        hub.crash();
                }
                if (++finished == total)
                    loop.quit();
            });
        }
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(finished, total);
        QVERIFY2(acked >= killAfter && acked < total, qPrintable(QString::number(acked)));
        hub.crash();

        HubProcess restarted(dir.path());
        QVERIFY2(restarted.start(), restarted.output().constData());
        const Payload feed = fetchFeed(restarted.port());
        for (const QString& text : std::as_const(sent)) {
            const int n = countText(feed, text);
            if (acknowledged.contains(text))
                QVERIFY2(n == 1,
                         qPrintable(QStringLiteral("%1 applied %2 times").arg(text).arg(n)));
            else
                QVERIFY2(n <= 1,
                         qPrintable(QStringLiteral("%1 applied %2 times").arg(text).arg(n)));
        }
        restarted.crash();
    }
}

void TestHubDurability::delayedMessagesApplyAfterTheDelay() {
    QTemporaryDir dir;
    HubProcess hub(dir.path(), {"--apply-delay", "1"});
    QVERIFY2(hub.start(), hub.output().constData());
    QVERIFY(!findId(fetchFeed(hub.port()).mine_rows, "m1")->done.value_or(false));
    QElapsedTimer sinceAck;
    QCOMPARE(
        postMessage(hub.port(), inbox::serialize(inbox::toggle("mine", "m1", "done", 1))).status,
        200);
    sinceAck.start();
    const bool doneAtOnce = findId(fetchFeed(hub.port()).mine_rows, "m1")->done.value_or(false);
    // A slow machine may take the whole second between answer and fetch; only an earlier
    // fetch proves that the delay holds the change back.
    if (sinceAck.elapsed() < 800)
        QVERIFY(!doneAtOnce);
    QTRY_VERIFY_WITH_TIMEOUT(findId(fetchFeed(hub.port()).mine_rows, "m1")->done.value_or(false),
                             5000);
    QVERIFY(sinceAck.elapsed() >= 900);
}

// Acknowledged but still waiting when the hub dies: the restart applies them, once, and the
// app's own reconciliation then finds every change it made in the feed.
void TestHubDurability::delayedMessagesSurviveACrash() {
    QTemporaryDir dir;
    // Long enough that the kill surely comes first; the test never waits for it.
    HubProcess hub(dir.path(), {"--apply-delay", "30"});
    QVERIFY2(hub.start(), hub.output().constData());
    const QByteArray before = getPath(hub.port(), "/data.json").body;
    const QList<inbox::OrderItem> order = {
        {"h5", "学习"}, {"h1", "学习"}, {"h2", "家务"}, {"h4", "家务"}, {"h6", "家务"}};
    const QList<QJsonObject> messages = {
        inbox::toggle("mine", "m1", "done", 1), inbox::toggle("mine", "m2", "undone", 1),
        inbox::edit("mine", "m4", "改好的文字", 1), inbox::add("mine", "等一会儿再加", 1),
        inbox::reorder("hers", order, 1)};
    for (const QJsonObject& message : messages)
        QCOMPARE(postMessage(hub.port(), inbox::serialize(message)).status, 200);
    QCOMPARE(getPath(hub.port(), "/data.json").body, before);
    hub.crash();

    for (int start = 0; start < 2; ++start) {
        HubProcess restarted(dir.path());
        QVERIFY2(restarted.start(), restarted.output().constData());
        const Payload feed = fetchFeed(restarted.port());
        QCOMPARE(countText(feed, "等一会儿再加"), 1);
        const Row added = feed.mine_rows.last();
        QVERIFY(added.id && !added.id->isEmpty() && !ListState::isPendingId(*added.id));
        QVERIFY(!added.cat && added.done == false);

        ListState app;
        app.choice = ListState::kHers;
        app.localDone = {{"m1", true}, {"m2", false}};
        app.localText = {{"m4", "改好的文字"}};
        app.pendingAdd = {
            {ListState::kMine,
             {Row{"item", "等一会儿再加", ListState::newPendingId(), false, {}, {}}}}};
        QList<OrderEntry> override;
        for (const inbox::OrderItem& item : order)
            override.append({item.id, item.cat});
        app.orderOverride = {{ListState::kHers, override}};
        app.applyFeed(feed);
        QVERIFY(app.localDone.isEmpty());
        QVERIFY(app.localText.isEmpty());
        QVERIFY(app.pendingAdd.value(ListState::kMine).isEmpty());
        QVERIFY(app.orderOverride.isEmpty());
        QCOMPARE(findId(feed.mine_rows, "m1")->doneAt, QDate::currentDate().toString("yyyy-MM-dd"));
        restarted.crash();
    }
}

void TestHubDurability::refusesAFeedItCannotRead_data() {
    QTest::addColumn<QByteArray>("content");
    const QByteArray valid =
        R"({"updated":"","mine_title":"","mine":"","mine_rows":[],"hers_title":"","hers":"","hers_rows":[]})";
    QTest::newRow("not JSON") << QByteArray("{\"updated\": ");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("an array") << QByteArray("[]");
    QTest::newRow("a member missing") << QByteArray(valid).replace(R"(,"hers_rows":[])", "");
    QTest::newRow("done as a number") << QByteArray(valid).replace(
        R"("mine_rows":[])", R"("mine_rows":[{"kind":"item","text":"x","done":1}])");
    QTest::newRow("invalid UTF-8")
        << QByteArray(valid).replace(R"("updated":"")", "\"updated\":\"\xff\"");
    QTest::newRow("a bad sequence number") << QByteArray(valid).replace("}", R"(,"hub_seq":-3})");
}

void TestHubDurability::refusesAFeedItCannotRead() {
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    QFile file(dir.filePath("data.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    HubProcess hub(dir.path());
    QCOMPARE(hub.runToExit(), 1);
    QVERIFY2(hub.output().contains("data.json is not a feed the app can read"),
             hub.output().constData());
    QVERIFY(!hub.output().contains("listening"));
    QCOMPARE(readAll(dir.filePath("data.json")), content);
    QVERIFY(!QFile::exists(dir.filePath("journal.log")));
}

QTEST_GUILESS_MAIN(TestHubDurability)
#include "test_hub_durability.moc"
