// The real velloa-hub over HTTP: every refusal, the routes, and what a client can rely on.
#include "hub_process.h"

#include "InboxMessage.h"
#include "Payload.h"

#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray topicPath() {
    return '/' + HubProcess::kTopic.toLatin1();
}

} // namespace

class TestHubHttp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void refusesBadInput_data();
    void refusesBadInput();
    void neverServesOutsideReleases_data();
    void neverServesOutsideReleases();
    void servesTheFeed();
    void takesABodyOfExactly64KiB();
    void keepsConnectionsAlive();
    void answersExpectContinue();
    void servesManifestAndReleases();
    void keepsTheTopicSecret();
    void takesTheTopicFromTheEnvironment();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<HubProcess> m_hub;
};

void TestHubHttp::initTestCase() {
    m_dir = std::make_unique<QTemporaryDir>();
    m_hub = std::make_unique<HubProcess>(m_dir->path());
    QVERIFY2(m_hub->start(), m_hub->output().constData());
}

void TestHubHttp::cleanupTestCase() {
    m_hub.reset();
}

void TestHubHttp::refusesBadInput_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");
    const QByteArray t = topicPath();
    auto post = [&](const char* json) { return postRequest(t, json); };
    auto row = [](const char* name, const QByteArray& request, int status, const char* reason) {
        QTest::newRow(name) << request << status << QString::fromUtf8(reason);
    };

    row("not JSON", post("hello"), 400, "not a JSON object");
    row("an array", post(R"([{"list":"mine"}])"), 400, "not a JSON object");
    row("unknown action", post(R"({"list":"mine","action":"delete","id":"m1","ts":1})"), 400,
        "action: unknown");
    row("action missing", post(R"({"list":"mine","id":"m1","ts":1})"), 400, "action: missing");
    row("list theirs", post(R"({"list":"theirs","action":"done","id":"m1","ts":1})"), 400,
        "list: expected");
    row("ts a string", post(R"({"list":"mine","action":"done","id":"m1","ts":"1"})"), 400,
        "ts: expected an integer");
    row("ts a fraction", post(R"({"list":"mine","action":"done","id":"m1","ts":1.5})"), 400,
        "ts: expected an integer");
    row("done without id", post(R"({"list":"mine","action":"done","ts":1})"), 400, "id: missing");
    row("undone id a number", post(R"({"list":"mine","action":"undone","id":7,"ts":1})"), 400,
        "id: expected string");
    row("edit empty text", post(R"({"list":"mine","action":"edit","id":"m1","text":"","ts":1})"),
        400, "text: must not be empty");
    row("text with a lone surrogate",
        post(R"({"list":"mine","action":"add","text":"a\ud800b","ts":1})"), 400,
        "text: not valid Unicode");
    row("add without text", post(R"({"list":"mine","action":"add","ts":1})"), 400, "text: missing");
    row("order an object", post(R"({"list":"mine","action":"reorder","order":{},"ts":1})"), 400,
        "order: expected array");
    row("order of strings", post(R"({"list":"mine","action":"reorder","order":["m1"],"ts":1})"),
        400, "order[0]: expected object");
    row("order cat a number",
        post(R"({"list":"hers","action":"reorder","order":[{"id":"h1","cat":2}],"ts":1})"), 400,
        "order[0].cat: expected string");
    const QByteArray big =
        R"({"list":"mine","action":"add","ts":1,"text":")" + QByteArray(65536, 'x') + "\"}";
    row("body over 64 KiB", postRequest(t, big), 400, "64 KiB");
    row("announced over 64 KiB", "POST " + t + " HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", 400,
        "64 KiB");
    row("POST without length", "POST " + t + " HTTP/1.1\r\nConnection: close\r\n\r\n", 400,
        "Content-Length");
    row("chunked body", "POST " + t + " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
        400, "Transfer-Encoding");
    row("garbage request line", "HELLO\r\n\r\n", 400, "request line");
    row("head over 16 KiB", "GET /data.json HTTP/1.1\r\nX: " + QByteArray(17000, 'a') + "\r\n\r\n",
        431, "16 KiB");
    const QByteArray done = R"({"list":"mine","action":"done","id":"m1","ts":1})";
    row("wrong topic", postRequest("/velloa-test-topic-0123456789b", done), 404, "not found");
    row("unknown path", postRequest("/inbox", done), 404, "not found");
    row("GET the topic", "GET " + t + " HTTP/1.1\r\nConnection: close\r\n\r\n", 405, "use POST");
    row("POST the feed", postRequest("/data.json", done), 405, "use GET");
}

// Each refusal is one line of plain text, and the feed stays exactly as it was.
void TestHubHttp::refusesBadInput() {
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QString, reason);
    const QByteArray before = getPath(m_hub->port(), "/data.json").body;
    QVERIFY(!before.isEmpty());
    const RawResponse response = rawExchange(m_hub->port(), request);
    QCOMPARE(response.status, status);
    QVERIFY2(response.body.contains(reason.toUtf8()), response.body.constData());
    QCOMPARE(response.headers.value("content-type"), QByteArray("text/plain; charset=utf-8"));
    QCOMPARE(response.body.count('\n'), 1);
    QVERIFY(response.body.endsWith('\n'));
    if (status == 405)
        QVERIFY(!response.headers.value("allow").isEmpty());
    QCOMPARE(getPath(m_hub->port(), "/data.json").body, before);
    QCOMPARE(m_hub->process().state(), QProcess::Running);
}

void TestHubHttp::neverServesOutsideReleases_data() {
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("dot dot") << QByteArray("/releases/../data.json");
    QTest::newRow("encoded dots") << QByteArray("/releases/%2e%2e/data.json");
    QTest::newRow("encoded slash") << QByteArray("/releases/..%2fdata.json");
    QTest::newRow("through a subfolder") << QByteArray("/releases/sub/../../data.json");
    QTest::newRow("absolute path") << QByteArray("/releases/%2fetc%2fpasswd");
    QTest::newRow("link to the feed") << QByteArray("/releases/feed-link.json");
    QTest::newRow("hidden file") << QByteArray("/releases/.secret");
    QTest::newRow("NUL byte") << QByteArray("/releases/app.zip%00.json");
}

void TestHubHttp::neverServesOutsideReleases() {
    QFETCH(QByteArray, path);
    QDir(m_dir->path()).mkpath("releases/sub");
    QFile::link(m_dir->filePath("data.json"), m_dir->filePath("releases/feed-link.json"));
    QFile secret(m_dir->filePath("releases/.secret"));
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("secret");
    secret.close();
    const RawResponse response = getPath(m_hub->port(), path);
    QCOMPARE(response.status, 404);
    QVERIFY(!response.body.contains("mine_rows"));
    QVERIFY(!response.body.contains("secret"));
}

void TestHubHttp::servesTheFeed() {
    const RawResponse response = getPath(m_hub->port(), "/data.json?cache=bust");
    QCOMPARE(response.status, 200);
    QCOMPARE(response.headers.value("content-type"), QByteArray("application/json"));
    QCOMPARE(response.headers.value("cache-control"), QByteArray("no-store"));
    QCOMPARE(response.headers.value("content-length").toInt(), response.body.size());
    const DecodeResult decoded = decodePayload(response.body);
    QVERIFY2(decoded.payload, qPrintable(decoded.error));
    QVERIFY(!decoded.payload->mine_rows.isEmpty() && !decoded.payload->hers_rows.isEmpty());

    const RawResponse head =
        rawExchange(m_hub->port(), "HEAD /data.json HTTP/1.1\r\nConnection: close\r\n\r\n");
    QCOMPARE(head.status, 200);
    QCOMPARE(head.headers.value("content-length").toInt(), response.body.size());
    QVERIFY(head.body.isEmpty());
}

void TestHubHttp::takesABodyOfExactly64KiB() {
    QByteArray body = R"({"list":"mine","action":"add","ts":1,"text":"edge)";
    body += QByteArray(65536 - body.size() - 2, 'y') + "\"}";
    QCOMPARE(body.size(), 65536);
    QCOMPARE(postMessage(m_hub->port(), body).status, 200);
    QVERIFY(getPath(m_hub->port(), "/data.json").body.contains("edgeyyyy"));
}

void TestHubHttp::keepsConnectionsAlive() {
    const QByteArray get = "GET /data.json HTTP/1.1\r\nHost: x\r\n\r\n";
    const QByteArray bad = postRequest(topicPath(), "[]").replace("Connection: close\r\n", "");
    const RawResponse last = rawExchange(
        m_hub->port(), get + bad + "GET /nothing HTTP/1.1\r\nConnection: close\r\n\r\n");
    // Three answers on one connection, in order; rawExchange keeps the last one's body.
    QCOMPARE(last.status, 200);
    QVERIFY(last.body.contains("HTTP/1.1 400 Bad Request"));
    QVERIFY(last.body.endsWith("not found\n"));
    QVERIFY(last.body.indexOf("not a JSON object") < last.body.indexOf("HTTP/1.1 404 Not Found"));
}

void TestHubHttp::answersExpectContinue() {
    const QByteArray body = inbox::serialize(inbox::toggle("mine", "m1", "undone", 1));
    QTcpSocket socket;
    socket.connectToHost("127.0.0.1", m_hub->port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("POST " + topicPath() +
                 " HTTP/1.1\r\nExpect: 100-continue\r\nConnection: close\r\n"
                 "Content-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n");
    QByteArray got;
    while (!got.contains("\r\n\r\n") && socket.waitForReadyRead(5000))
        got += socket.readAll();
    QCOMPARE(got, QByteArray("HTTP/1.1 100 Continue\r\n\r\n"));
    socket.write(body);
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        got += socket.readAll();
    got += socket.readAll();
    QVERIFY2(got.contains("HTTP/1.1 200 OK"), got.constData());
}

void TestHubHttp::servesManifestAndReleases() {
    QCOMPARE(getPath(m_hub->port(), "/version.json").status, 404);
    QCOMPARE(getPath(m_hub->port(), "/releases/Velloa-2.14.zip").status, 404);
    const QByteArray manifest =
        R"({"version":"2.14","url":"http://127.0.0.1/releases/Velloa-2.14.zip","notes":"新"})";
    QByteArray archive(300000, '\0');
    for (qsizetype i = 0; i < archive.size(); ++i)
        archive[i] = char(i * 7919 % 251);
    QDir(m_dir->path()).mkpath("releases");
    for (const auto& [name, bytes] : {std::pair{QString("version.json"), manifest},
                                      std::pair{QString("releases/Velloa-2.14.zip"), archive}}) {
        QFile file(m_dir->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    const RawResponse version = getPath(m_hub->port(), "/version.json");
    QCOMPARE(version.status, 200);
    QCOMPARE(version.body, manifest);
    QCOMPARE(version.headers.value("content-type"), QByteArray("application/json"));
    const RawResponse release = getPath(m_hub->port(), "/releases/Velloa-2.14.zip");
    QCOMPARE(release.status, 200);
    QCOMPARE(release.body, archive);
    QCOMPARE(release.headers.value("content-type"), QByteArray("application/zip"));
}

void TestHubHttp::keepsTheTopicSecret() {
    postMessage(m_hub->port(), "{}");
    const QByteArray output = m_hub->output();
    QVERIFY(output.startsWith("velloa-hub listening on http://127.0.0.1:"));
    QVERIFY(!output.contains(HubProcess::kTopic.toLatin1()));
    QVERIFY(!output.contains("4f7c9e2a1b")); // nor the built-in one
}

void TestHubHttp::takesTheTopicFromTheEnvironment() {
    QTemporaryDir dir;
    HubProcess hub(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VELLOA_TOPIC", "velloa-from-environment-12345");
    hub.process().setProcessEnvironment(env);
    QVERIFY2(hub.start(), hub.output().constData());
    const QByteArray body = inbox::serialize(inbox::toggle("mine", "m1", "done", 1));
    QCOMPARE(rawExchange(hub.port(), postRequest("/velloa-from-environment-12345", body)).status,
             200);
    QCOMPARE(postMessage(hub.port(), body).status, 404);
}

QTEST_GUILESS_MAIN(TestHubHttp)
#include "test_hub_http.moc"
