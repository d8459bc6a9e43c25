// The real velloa-hub over HTTP: every refusal, the routes, and what a client can rely on.
#include "Payload.h"
#include "hub_process.h"

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
    void servesFeedManifestAndReleases();
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
    row("wrong topic", 404, "not found", httpRequest("POST", topicPath().chopped(1) + "b", done));
    row("GET the topic", 405, "use POST", httpRequest("GET", topicPath()));
    // Nothing outside releases/ is served, however the path gets there.
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

void TestHubHttp::servesFeedManifestAndReleases() {
    const DecodeResult decoded = decodePayload(getPath(m_hub.port(), "/data.json?cache=x").body);
    QVERIFY2(decoded.payload && !decoded.payload->hers_rows.isEmpty(), qPrintable(decoded.error));
    QCOMPARE(getPath(m_hub.port(), "/version.json").body, kManifest);
    QCOMPARE(getPath(m_hub.port(), "/releases/Velloa-2.14.zip").body, kArchive);
}

// Last, so everything the hub printed while serving every test is checked.
void TestHubHttp::cleanupTestCase() {
    QVERIFY(m_hub.output().startsWith("velloa-hub listening on"));
    QVERIFY(!m_hub.output().contains(HubProcess::kTopic.toLatin1()));
}

QTEST_GUILESS_MAIN(TestHubHttp)
#include "test_hub_http.moc"
