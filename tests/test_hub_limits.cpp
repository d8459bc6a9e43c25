// What one client can take of the hub: the server in-process on a clock the test moves, real
// sockets on 127.0.0.1. A slow reader still gets the whole file, a client that never reads
// holds at most the bound, and a request sent a byte at a time cannot hold a connection.
#include "hub/FeedStore.h"
#include "hub/HubRoutes.h"
#include "hub/HubServer.h"
#include "tests/support/ManualClock.h"
#include "tests/hub_process.h"

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

class TestHubLimits : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    ManualClock m_clock;
    QByteArray m_release;
    std::unique_ptr<FeedStore> m_store;
    std::unique_ptr<HubRoutes> m_routes;
    std::unique_ptr<HubServer> m_server;

    void startServer(const HubLimits& limits);

private slots:
    void initTestCase();
    void slowReaderGetsTheWholeFile();
    void neverReadingClientHoldsOnlyTheBound_data();
    void neverReadingClientHoldsOnlyTheBound();
    void unfinishedRequestsAreCutOff();
    void cleanup();
};

void TestHubLimits::initTestCase() {
    QVERIFY(QDir(m_dir.path()).mkpath("releases"));
    m_release.resize(kReleaseSize);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(m_release.data()), kReleaseSize / 4);
    QFile file(m_dir.filePath("releases/big.zip"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(m_release) == kReleaseSize);
}

void TestHubLimits::startServer(const HubLimits& limits) {
    m_store = std::make_unique<FeedStore>(m_clock);
    QString error;
    QVERIFY2(m_store->open(m_dir.path(), &error), qPrintable(error));
    m_routes = std::make_unique<HubRoutes>(*m_store, HubProcess::kTopic, m_dir.path());
    m_server = std::make_unique<HubServer>(*m_routes, m_clock, limits);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
}

void TestHubLimits::cleanup() {
    m_server.reset();
    m_routes.reset();
    m_store.reset();
}

// About 64 KB a second, far longer than the idle time in all: the bytes going out are the
// progress that keeps the connection, and the file arrives whole.
void TestHubLimits::slowReaderGetsTheWholeFile() {
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

void TestHubLimits::neverReadingClientHoldsOnlyTheBound_data() {
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
void TestHubLimits::neverReadingClientHoldsOnlyTheBound() {
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
void TestHubLimits::unfinishedRequestsAreCutOff() {
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

QTEST_GUILESS_MAIN(TestHubLimits)
#include "test_hub_limits.moc"
