// The hub's server: in-process on a clock the test moves for what one client can take of it
// (a slow reader, a client that never reads, requests sent a byte at a time), and the real
// velloa-hub binary over HTTP (every refusal, the routes) and through crashes (what it
// acknowledged is applied exactly once, what it cannot read it never overwrites).
#include "hub/FeedStore.h"
#include "hub/HubRoutes.h"
#include "hub/HubServer.h"
#include "model/InboxMessage.h"
#include "model/Payload.h"
#include "tests/hub_process.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ManualClock.h"

#include <QNetworkReply>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

constexpr qsizetype kReleaseSize = 10 * 1024 * 1024;

QByteArray get(const QByteArray& path, bool close = false) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           (close ? "Connection: close\r\n\r\n" : "\r\n");
}

} // namespace

static const QByteArray kManifest = R"({"version":"2.14","url":"http://x/r/V.zip","notes":"新"})";
// Binary bytes, a NUL and 0xFF among them, must come back exactly.
static const QByteArray kArchive = QByteArray::fromHex("504b030400ff") + " binary";

namespace {
struct PublicTopicOnlyOnLoopbackCase { QString bind; bool ownTopic, starts; QByteArray says; };
struct RefusesBadRequestsCase { QByteArray request; int status; QByteArray reason; };
} // namespace

class TestHubServer : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_local; // the in-process server's; the real hub's is m_dir
    ManualClock m_clock;
    QByteArray m_release;
    std::unique_ptr<FeedStore> m_store;
    std::unique_ptr<HubRoutes> m_routes;
    std::unique_ptr<HubServer> m_server;
    QTemporaryDir m_dir;
    HubProcess m_hub{m_dir.path()};

    void startServer(const HubLimits& limits);

private slots:
    void initTestCase() {
        m_release.resize(kReleaseSize);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(m_release.data()), kReleaseSize / 4);
        QVERIFY(writeFile(m_local.filePath("releases/big.zip"), m_release));
        QVERIFY2(m_hub.start(), m_hub.output().constData());
        QVERIFY(QDir(m_dir.path()).mkpath("releases"));
        QVERIFY(QFile::link(m_dir.filePath("data.json"), m_dir.filePath("releases/feed-link.json")));
        QVERIFY(writeFile(m_dir.filePath("version.json"), kManifest));
        QVERIFY(writeFile(m_dir.filePath("releases/Velloa-2.14.zip"), kArchive));
    }

    // About 64 KB a second, far longer than the idle time in all: the bytes going out are the
    // progress that keeps the connection, and the file arrives whole.
    void slowReaderGetsTheWholeFile() {
        startServer({});
        QTcpSocket client;
        client.setReadBufferSize(64 * 1024);
        client.connectToHost(QHostAddress::LocalHost, m_server->port());
        client.write(get("/releases/big.zip"));
        HttpResponseReader reader;
        std::optional<RawResponse> answer;
        for (int step = 0; step < 2000 && !answer; ++step) {
            QVERIFY(QTest::qWaitFor([&] { return client.bytesAvailable() > 0; }, 10000));
            reader.append(client.read(64 * 1024));
            answer = reader.next();
            m_clock.advance(1s);
        }
        QVERIFY(answer && answer->body == m_release);
    }

    void neverReadingClientHoldsOnlyTheBound_data() {
        QTest::addColumn<QByteArray>("requests");
        QByteArray releases, heads;
        for (int i = 0; i < 30; ++i)
            releases += get("/releases/big.zip");
        for (int i = 0; i < 100000; ++i)
            heads += "HEAD /data.json HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        QTest::newRow("30 GETs of a 10 MB file") << releases;
        QTest::newRow("100,000 HEADs, answers without a body") << heads;
    }

    // A client that sends many requests and reads nothing: what waits for it is never more than
    // the bound, and other clients are still served.
    void neverReadingClientHoldsOnlyTheBound() {
        QFETCH(QByteArray, requests);
        const HubLimits limits;
        startServer(limits);
        QTcpSocket lazy;
        lazy.setReadBufferSize(1);
        lazy.connectToHost(QHostAddress::LocalHost, m_server->port());
        lazy.write(requests);
        // Once the kernel's buffers are full, output waits in the hub, up to the bound.
        QTRY_VERIFY_WITH_TIMEOUT(m_server->unsentBytes() >= limits.maxUnsent, 30000);
        qint64 most = 0;
        for (int probe = 0; probe < 20; ++probe) {
            HttpClient other(m_server->port());
            other.send(get("/data.json", true));
            QVERIFY(other.waitForAnswers(1));
            QCOMPARE(other.answers[0].status, 200);
            most = std::max(most, m_server->unsentBytes());
        }
        // The bound, plus what one answer adds before the connection stops: a head and a chunk.
        QVERIFY2(most <= limits.maxUnsent + 65 * 1024, QByteArray::number(most));
        QCOMPARE(lazy.state(), QAbstractSocket::ConnectedState);
    }

    // Heads sent a byte a second: each is answered 408 and closed ten seconds after its first
    // byte. Meanwhile one connection over the cap closes the one idle longest, so a good client is
    // served; a kept-alive connection that then moves nothing is closed after the idle time.
    void unfinishedRequestsAreCutOff() {
        HubLimits limits;
        limits.maxConnections = 4;
        startServer(limits);
        // Sends and lets the hub read what was sent before the clock moves on.
        const auto send = [](HttpClient& client, const QByteArray& bytes) {
            client.send(bytes);
            QVERIFY(client.socket.waitForBytesWritten(5000));
            for (int i = 0; i < 5; ++i)
                QCoreApplication::processEvents();
        };
        std::vector<std::unique_ptr<HttpClient>> slow;
        for (int i = 0; i < limits.maxConnections; ++i) {
            slow.push_back(std::make_unique<HttpClient>(m_server->port()));
            QVERIFY(slow.back()->socket.waitForConnected(5000));
            QTRY_COMPARE(m_server->connectionCount(), i + 1);
            send(*slow.back(), "GET /data.json HTTP/1.1\r\nX-Slow: ");
        }
        for (int second = 1; second < 10; ++second) {
            m_clock.advance(1s);
            for (std::size_t i = 1; i < slow.size(); ++i) // the first one sends nothing more
                send(*slow[i], "z");
        }
        for (const auto& client : slow)
            QCOMPARE(client->socket.state(), QAbstractSocket::ConnectedState);

        HttpClient good(m_server->port());
        good.send(get("/data.json"));
        QVERIFY(good.waitForAnswers(1));
        QCOMPARE(good.answers[0].status, 200);
        QVERIFY(slow[0]->waitForClose());
        QVERIFY(slow[0]->answers.isEmpty());

        m_clock.advance(1s);
        for (std::size_t i = 1; i < slow.size(); ++i) {
            QVERIFY(slow[i]->waitForClose());
            QCOMPARE(slow[i]->answers.value(0).status, 408);
        }
        QCOMPARE(good.socket.state(), QAbstractSocket::ConnectedState);
        m_clock.advance(limits.idle);
        QVERIFY(good.waitForClose());
    }

    void cleanup() {
        m_server.reset();
        m_routes.reset();
        m_store.reset();
    }

private slots:
    void refusesBadRequests_data();

    // Each refusal is one line of plain text, and the feed stays exactly as it was.
    void refusesBadRequests() {
        QFETCH(RefusesBadRequestsCase, c);
        const QByteArray before = getPath(m_hub.port(), "/data.json").body;
        QVERIFY(!before.isEmpty());
        const RawResponse answer = rawExchange(m_hub.port(), c.request);
        QCOMPARE(answer.status, c.status);
        const bool oneLine = answer.body.indexOf('\n') == answer.body.size() - 1;
        QVERIFY2(answer.body.contains(c.reason) && oneLine, answer.body.constData());
        QCOMPARE(answer.headers.value("content-type"), "text/plain; charset=utf-8");
        QCOMPARE(getPath(m_hub.port(), "/data.json").body, before);
    }

    // Several requests in one write on a kept-alive connection: each answered, in order (a query
    // on the feed ignored, a release's bytes exact), and the message applied before the GET that
    // follows it.
    void answersPipelinedRequestsInOrder() {
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

    void expectContinue_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("length");
        QTest::addColumn<QList<int>>("statuses");
        const QByteArray toggle = inbox::serialize(inbox::toggle("hers", "h5", true, 1));
        QTest::newRow("a body that fits: go on, then the answer")
            << toggle << QByteArray() << QList<int>{100, 200};
        QList<inbox::OrderItem> order;
        for (int i = 0; i < 10000; ++i)
            order.append({QStringLiteral("task-%1").arg(i), QStringLiteral("section %1").arg(i / 500)});
        QTest::newRow("a reorder of 10,000 tasks: taken")
            << inbox::serialize(inbox::reorder("hers", order, 1)) << QByteArray() << QList<int>{100, 200};
        // Refused from the head alone: the client is spared sending the body at all.
        QTest::newRow("a body over 1 MiB: refused at once")
            << toggle << QByteArray("1048577") << QList<int>{400};
    }

    // A client that asks before sending its body gets a go-ahead, and then the answer.
    void expectContinue() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, length);
        QFETCH(QList<int>, statuses);
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
    void backlogDoesNotStarveOthers() {
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

    void publicTopicOnlyOnLoopback_data() {
        QTest::addColumn<PublicTopicOnlyOnLoopbackCase>("c");
        const QByteArray publicTopic = "built-in inbox topic, which is public";
        QTest::newRow("any address, built-in topic") << PublicTopicOnlyOnLoopbackCase{"0.0.0.0", false, false, publicTopic};
        // Passes the topic check and fails only to listen: the address is not this machine's.
        QTest::newRow("another address, own topic") << PublicTopicOnlyOnLoopbackCase{
            "192.0.2.1", true, false, QByteArray("cannot listen on 192.0.2.1")};
        QTest::newRow("loopback, built-in topic") << PublicTopicOnlyOnLoopbackCase{"127.0.0.1", false, true, publicTopic};
    }

    // The topic compiled into the source is public: taken on this machine with a notice after the
    // start line, refused anywhere else.
    void publicTopicOnlyOnLoopback() {
        QFETCH(PublicTopicOnlyOnLoopbackCase, c);
        QTemporaryDir dir;
        HubProcess hub(dir.filePath("hub"), {"--bind", c.bind}, c.ownTopic);
        QCOMPARE(hub.start(), c.starts);
        QTRY_VERIFY2(hub.output().contains(c.says), hub.output().constData());
        if (c.starts) {
            QVERIFY(hub.output().startsWith("velloa-hub listening on http://127.0.0.1:"));
            return;
        }
        QCOMPARE(hub.process().exitCode(), 1);
        if (!c.ownTopic)
            QVERIFY(!QFileInfo::exists(dir.filePath("hub"))); // refused before touching anything
    }

    // Last, so everything the hub printed while serving every test is checked.
    void cleanupTestCase() {
        QVERIFY(m_hub.output().startsWith("velloa-hub listening on"));
        QVERIFY(!m_hub.output().contains(HubProcess::kTopic.toLatin1()));
    }

private slots:
    // Many additions in flight, a kill once some are acknowledged, then a restart: every acknowledged
    // text exactly once, none of the others twice, also on top of an earlier round's recovery.
    void crashDuringABurstLosesNothingAndRepeatsNothing() {
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
    void delayedMessagesSurviveACrash() {
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

    void refusesAFeedItCannotRead_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("{\"updated\": ");
        QTest::newRow("hub_seq negative") << listFeed({}, "u", R"(,"hub_seq":-1)");
    }

    void refusesAFeedItCannotRead() {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("data.json"), content));
        HubProcess hub(dir.path());
        QVERIFY(!hub.start());
        QCOMPARE(hub.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(hub.process().exitCode(), 1);
        QCOMPARE(readFile(dir.filePath("data.json")), content);
    }
};

void TestHubServer::refusesBadRequests_data() {
    QTest::addColumn<RefusesBadRequestsCase>("c");
    const auto row = [](const char* name, int status, const char* reason, const QByteArray& req) {
        QTest::newRow(name) << RefusesBadRequestsCase{req, status, QByteArray(reason)};
    };
    // Bodies name a task that exists where they can, so a hub that took one would change the feed.
    const auto post = [&](const char* name, const char* reason, const QByteArray& body) {
        row(name, 400, reason, httpRequest("POST", topicPath(), body));
    };
    post("no Content-Length", "Content-Length", {});
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
    post("body over 1 MiB", "1 MiB",
         R"({"list":"mine","action":"add","ts":1,"text":")" + QByteArray(1024 * 1024, 'x') + "\"}");
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

void TestHubServer::startServer(const HubLimits& limits) {
    m_store = std::make_unique<FeedStore>(m_clock);
    QString error;
    QVERIFY2(m_store->open(m_local.path(), &error), qPrintable(error));
    m_routes = std::make_unique<HubRoutes>(*m_store, HubProcess::kTopic, m_local.path());
    m_server = std::make_unique<HubServer>(*m_routes, m_clock, limits);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
}

QTEST_GUILESS_MAIN(TestHubServer)
#include "test_hub_server.moc"
