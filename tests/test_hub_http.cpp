// The real velloa-hub over HTTP: every refusal, the routes, and what a client can rely on.
#include "model/InboxMessage.h"
#include "model/Payload.h"
#include "tests/hub_process.h"

#include <QTemporaryDir>
#include <QtTest>

static const QByteArray kManifest = R"({"version":"2.14","url":"http://x/r/V.zip","notes":"新"})";
// Binary bytes, a NUL and 0xFF among them, must come back exactly.
static const QByteArray kArchive = QByteArray::fromHex("504b030400ff") + " binary";

class TestHubHttp : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    HubProcess m_hub{m_dir.path()};

private slots:
    void initTestCase();
    void refusesBadRequests_data();
    void refusesBadRequests();
    void answersPipelinedRequestsInOrder();
    void expectContinue_data();
    void expectContinue();
    void backlogDoesNotStarveOthers();
    void publicTopicOnlyOnLoopback_data();
    void publicTopicOnlyOnLoopback();
    void cleanupTestCase();
};

void TestHubHttp::initTestCase() {
    QVERIFY2(m_hub.start(), m_hub.output().constData());
    QVERIFY(QDir(m_dir.path()).mkpath("releases"));
    QVERIFY(QFile::link(m_dir.filePath("data.json"), m_dir.filePath("releases/feed-link.json")));
    for (const auto& [name, bytes] :
         {std::pair{"version.json", kManifest}, std::pair{"releases/Velloa-2.14.zip", kArchive}}) {
        QFile file(m_dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
}

void TestHubHttp::refusesBadRequests_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reason");
    const auto row = [](const char* name, int status, const char* reason, const QByteArray& req) {
        QTest::newRow(name) << req << status << QByteArray(reason);
    };
    // Bodies name a task that exists where they can, so a hub that took one would change the feed.
    const auto post = [&](const char* name, const char* reason, const QByteArray& body) {
        row(name, 400, reason, httpRequest("POST", topicPath(), body));
    };
    post("not JSON", "not a JSON object", "hello");
    post("unknown action", "action: unknown", R"({"list":"mine","action":"x","id":"m1","ts":1})");
    post("list theirs", "list: expected", R"({"list":"theirs","action":"done","id":"m1","ts":1})");
    post("ts a string", "ts: expected an integer",
         R"({"list":"mine","action":"done","id":"m1","ts":"1"})");
    post("done without id", "id: missing", R"({"list":"mine","action":"done","ts":1})");
    post("edit empty text", "text: must not be empty",
         R"({"list":"mine","action":"edit","id":"m1","text":"","ts":1})");
    post("lone surrogate", "text: not valid Unicode",
         R"({"list":"mine","action":"add","text":"a\ud800b","ts":1})");
    post("order of strings", "order[0]: expected object",
         R"({"list":"mine","action":"reorder","order":["m1"],"ts":1})");
    post("body over 64 KiB", "64 KiB",
         R"({"list":"mine","action":"add","ts":1,"text":")" + QByteArray(65536, 'x') + "\"}");
    const QByteArray done = R"({"list":"mine","action":"done","id":"m1","ts":1})";
    // A second framing of the body, or a line break hidden in a value, is how a request gets
    // read one way here and another way by a proxy in front.
    row("Transfer-Encoding", 400, "Transfer-Encoding",
        httpRequest("POST", topicPath(), done)
            .replace("Host:", "Transfer-Encoding: chunked\r\nHost:"));
    row("CR in a value", 400, "control character",
        httpRequest("POST", topicPath(), done).replace("Host: 127.0.0.1", "Host: 127.0.0.1\rX: y"));
    row("NUL in a value", 400, "control character",
        httpRequest("POST", topicPath(), done)
            .replace("Host: 127.0.0.1", QByteArray("Host: 127\0.1", 13)));
    row("wrong topic", 404, "not found", httpRequest("POST", topicPath().chopped(1) + "b", done));
    row("GET the topic", 405, "use POST", httpRequest("GET", topicPath()));
    // Nothing outside releases/ is served, however the path gets there.
    row("missing release", 404, "not found", httpRequest("GET", "/releases/missing.zip"));
    row("dot dot", 404, "not found", httpRequest("GET", "/releases/../data.json"));
    row("encoded dots", 404, "not found", httpRequest("GET", "/releases/%2e%2e/data.json"));
    row("link to the feed", 404, "not found", httpRequest("GET", "/releases/feed-link.json"));
}

// Each refusal is one line of plain text, and the feed stays exactly as it was.
void TestHubHttp::refusesBadRequests() {
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, reason);
    const QByteArray before = getPath(m_hub.port(), "/data.json").body;
    QVERIFY(!before.isEmpty());
    const RawResponse answer = rawExchange(m_hub.port(), request);
    QCOMPARE(answer.status, status);
    const bool oneLine = answer.body.indexOf('\n') == answer.body.size() - 1;
    QVERIFY2(answer.body.contains(reason) && oneLine, answer.body.constData());
    QCOMPARE(answer.headers.value("content-type"), "text/plain; charset=utf-8");
    QCOMPARE(getPath(m_hub.port(), "/data.json").body, before);
}

// Several requests in one write on a kept-alive connection: each answered, in order (a query
// on the feed ignored, a release's bytes exact), and the message applied before the GET that
// follows it.
void TestHubHttp::answersPipelinedRequestsInOrder() {
    const QByteArray done = inbox::serialize(inbox::toggle("hers", "h4", true, 1));
    QByteArray requests =
        httpRequest("POST", topicPath(), done) + httpRequest("GET", "/data.json?cache=x") +
        httpRequest("GET", "/releases/Velloa-2.14.zip") + httpRequest("GET", "/version.json");
    requests.replace("Connection: close\r\n", "");
    requests.replace("GET /version.json HTTP/1.1\r\n",
                     "GET /version.json HTTP/1.1\r\nConnection: close\r\n");
    HttpClient client(m_hub.port());
    client.send(requests);
    QVERIFY(client.waitForAnswers(4));
    QCOMPARE(client.answers[0].body, "ok\n");
    const auto feed = decodePayload(client.answers[1].body).payload;
    QVERIFY(feed &&
            std::ranges::count(feed->hers_rows, std::optional(QString("h4")), &Row::id) == 1);
    QVERIFY(std::ranges::find(feed->hers_rows, std::optional(QString("h4")), &Row::id)->done ==
            true);
    QCOMPARE(client.answers[2].body, kArchive);
    QCOMPARE(client.answers[3].body, kManifest);
    QVERIFY(client.waitForClose());
    QCOMPARE(client.answers.size(), 4);
}

void TestHubHttp::expectContinue_data() {
    QTest::addColumn<QByteArray>("length");
    QTest::addColumn<QList<int>>("statuses");
    QTest::newRow("a body that fits: go on, then the answer")
        << QByteArray() << QList<int>{100, 200};
    // Refused from the head alone: the client is spared sending the body at all.
    QTest::newRow("a body over 64 KiB: refused at once") << QByteArray("65537") << QList<int>{400};
}

// A client that asks before sending its body gets a go-ahead, and then the answer.
void TestHubHttp::expectContinue() {
    QFETCH(QByteArray, length);
    QFETCH(QList<int>, statuses);
    const QByteArray body = inbox::serialize(inbox::toggle("hers", "h5", true, 1));
    HttpClient client(m_hub.port());
    client.send("POST " + topicPath() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nExpect: 100-continue\r\n" +
                "Content-Length: " + (length.isEmpty() ? QByteArray::number(body.size()) : length) +
                "\r\n\r\n");
    QVERIFY(client.waitForAnswers(1, 5000));
    QCOMPARE(client.answers[0].status, statuses[0]);
    if (statuses.size() > 1) {
        client.send(body);
        QVERIFY(client.waitForAnswers(2, 5000));
    }
    QList<int> seen;
    for (const RawResponse& answer : std::as_const(client.answers))
        seen << answer.status;
    QCOMPARE(seen, statuses);
}

// 50,000 requests in one write on one connection: all answered, in order, and a second
// connection's request answered while most of that backlog still waits.
void TestHubHttp::backlogDoesNotStarveOthers() {
    const int total = 50000;
    QByteArray backlog;
    for (int i = 1; i <= total; ++i)
        backlog += i % 1000 == 0 ? "GET /version.json HTTP/1.1\r\n\r\n" : "GET /x HTTP/1.1\r\n\r\n";
    HttpClient busy(m_hub.port());
    busy.send(backlog);
    QVERIFY(busy.socket.waitForConnected(5000));
    HttpClient other(m_hub.port());
    other.send(httpRequest("GET", "/version.json"));
    QVERIFY(other.waitForAnswers(1, 10000));
    const qsizetype busyDone = busy.answers.size();
    QVERIFY(busy.waitForAnswers(total, 120000));
    QVERIFY2(busyDone < total / 2, QByteArray::number(busyDone));
    QCOMPARE(other.answers[0].body, kManifest);
    for (int i = 1; i <= total; ++i)
        QCOMPARE(busy.answers[i - 1].status, i % 1000 == 0 ? 200 : 404);
}

void TestHubHttp::publicTopicOnlyOnLoopback_data() {
    QTest::addColumn<QString>("bind");
    QTest::addColumn<bool>("ownTopic");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QByteArray>("says");
    const QByteArray publicTopic = "built-in inbox topic, which is public";
    QTest::newRow("any address, built-in topic") << "0.0.0.0" << false << false << publicTopic;
    // Passes the topic check and fails only to listen: the address is not this machine's.
    QTest::newRow("another address, own topic")
        << "192.0.2.1" << true << false << QByteArray("cannot listen on 192.0.2.1");
    QTest::newRow("loopback, built-in topic") << "127.0.0.1" << false << true << publicTopic;
}

// The topic compiled into the source is public: taken on this machine with a notice after the
// start line, refused anywhere else.
void TestHubHttp::publicTopicOnlyOnLoopback() {
    QFETCH(QString, bind);
    QFETCH(bool, ownTopic);
    QFETCH(bool, starts);
    QFETCH(QByteArray, says);
    QTemporaryDir dir;
    HubProcess hub(dir.filePath("hub"), {"--bind", bind}, ownTopic);
    QCOMPARE(hub.start(), starts);
    QTRY_VERIFY2(hub.output().contains(says), hub.output().constData());
    if (starts) {
        QVERIFY(hub.output().startsWith("velloa-hub listening on http://127.0.0.1:"));
        return;
    }
    QCOMPARE(hub.process().exitCode(), 1);
    if (!ownTopic)
        QVERIFY(!QFileInfo::exists(dir.filePath("hub"))); // refused before touching anything
}

// Last, so everything the hub printed while serving every test is checked.
void TestHubHttp::cleanupTestCase() {
    QVERIFY(m_hub.output().startsWith("velloa-hub listening on"));
    QVERIFY(!m_hub.output().contains(HubProcess::kTopic.toLatin1()));
}

QTEST_GUILESS_MAIN(TestHubHttp)
#include "test_hub_http.moc"
