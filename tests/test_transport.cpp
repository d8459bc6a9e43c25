// The one transport against faults on the wire, through the loopback test server. Every row is
// sent three ways, as its users send: a GET into memory (the feed, the manifest), a GET into a
// file (the release) and a POST (an inbox message). Answers out of order are the feed client's
// concern (test_feed_sync staleAnswersChangeNothing); the transport keeps no order.
#include "tests/support/TestHttpServer.h"
#include "net/Transport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QtTest>

using Answer = TestHttpServer::Answer;
using net::PostOutcome;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

// Large enough that Qt's read-ahead would show if the read buffer were not limited.
constexpr qint64 kCap = 4 * 1024 * 1024;
constexpr net::Limits kLimits{
    .maxBytes = kCap, .idleTimeout = 1000ms, .deadline = 2500ms, .readBufferBytes = 64 * 1024};
enum class Way { Get, Download, Post };

struct Report {
    int status = 0;
    qsizetype size = 0;             // of the body taken; -1: any start of what was sent
    std::optional<QString> error{}; // the transport error
    PostOutcome outcome = PostOutcome::Taken;
    bool oversized = false;
    bool deadlineHit = false;
};

struct WireFaultsCase {
    Answer answer; // status 0: to a port where nobody listens
    Way way; Report expected;
};
struct PostOutcomesCase { int status; bool sent; PostOutcome outcome; };
} // namespace

class TestTransport : public QObject {
    Q_OBJECT

private slots:
    void wireFaults_data();
    void wireFaults();
    void postOutcomes_data();
    void postOutcomes();
};

void TestTransport::wireFaults_data() {
    QTest::addColumn<WireFaultsCase>("c");

    const QByteArray feed = R"({"updated":"u","mine_rows":[],"hers_rows":[]})";
    const QByteArray page = "<html><body><h1>Not Found</h1></body></html>";
    const Answer cut{.body = feed.left(20), .contentLength = feed.size(), .closeAfter = true};
    const Answer reset{.body = feed.left(20), .contentLength = feed.size(), .resetAfter = true};
    const Answer drip{.body = feed, .dripMs = 100}; // never idle, always too slow
    const auto row = [](const char* name, const Answer& answer, const Report& expected) {
        for (const auto& [way, label] :
             {std::pair{Way::Get, "GET"}, {Way::Download, "GET into a file"}, {Way::Post, "POST"}})
            QTest::addRow("%s, %s", name, label) << WireFaultsCase{answer, way, expected};
    };
    using O = PostOutcome;
    const QString closed = u"Connection closed"_s, canceled = u"Operation canceled"_s;
    row("200 with a body", {200, feed}, {.status = 200, .size = feed.size()});
    row("exactly at the cap", {200, QByteArray(kCap, 'x')}, {.status = 200, .size = kCap});
    row("one byte over the cap", {200, QByteArray(kCap + 1, 'x')},
        {.status = 200, .oversized = true});
    row("50 MB declared", {.body = "{", .contentLength = 50 << 20},
        {.status = 200, .oversized = true});
    row("endless chunked body", {.body = {}, .endless = true}, {.status = 200, .oversized = true});
    row("404 with HTML", {404, page, "text/html"},
        {.status = 404, .size = page.size(), .outcome = O::Refused});
    row("500 with a body", {500, feed}, {.status = 500, .size = feed.size(), .outcome = O::Retry});
    row("body cut short", cut, {.status = 200, .size = 20, .error = closed});
    row("reset mid-body", reset, {.status = 200, .size = -1, .error = closed});
    row("drip under the time-out, past the deadline", drip,
        {.status = 200, .size = -1, .error = canceled, .deadlineHit = true});
    row("no byte within the time-out", {200, feed, "application/json", 60000},
        {.error = canceled, .outcome = O::Unknown});
    row("hang-up without an answer", {200, {}, {}, 0, true},
        {.error = closed, .outcome = O::Unknown});
    row("connection refused", {0, {}}, {.error = u"Connection refused"_s, .outcome = O::Retry});
}

void TestTransport::wireFaults() {
    QFETCH(WireFaultsCase, c);
    TestHttpServer server;
    QVERIFY(server.listen());
    server.defaultAnswer = c.answer;
    QNetworkRequest request(QUrl(c.answer.status ? server.url("/r") : "http://127.0.0.1:1/r"));
    if (c.way == Way::Post)
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    QNetworkAccessManager network;
    QTemporaryDir dir;
    QFile file(dir.filePath("release.zip"));
    QVERIFY(c.way != Way::Download || file.open(QIODevice::WriteOnly));
    std::optional<net::Result> result;
    net::send(
        network,
        {.http = request,
         .limits = kLimits,
         .postBody = c.way == Way::Post ? std::optional(QByteArray(R"({"id":"a"})")) : std::nullopt,
         .sink = c.way == Way::Download ? &file : nullptr},
        this, [&](net::Result r) { result = std::move(r); });
    qint64 handedOver = 0; // body bytes Qt has read for us, taken or not
    bool stalled = false;
    for (QNetworkReply* reply : network.findChildren<QNetworkReply*>())
        connect(reply, &QNetworkReply::downloadProgress, this, [&](qint64 n) {
            handedOver = n;
            // A busy main thread: Qt's network thread reads on meanwhile, as far as it may.
            if (n > kCap / 2 && !std::exchange(stalled, true))
                QThread::msleep(50);
        });
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 20000);

    file.close();
    QVERIFY(c.way != Way::Download || file.open(QIODevice::ReadOnly));
    const QByteArray body = c.way == Way::Download ? file.readAll() : result->body;
    QCOMPARE(result->status, c.expected.status);
    QCOMPARE(result->transportError, c.expected.error);
    QCOMPARE(result->oversized, c.expected.oversized);
    QCOMPARE(result->deadlineHit, c.expected.deadlineHit);
    QCOMPARE(result->aborted, c.expected.oversized || c.expected.deadlineHit);
    // Over the cap the body is dropped; a file keeps what was written, its user removes it.
    QVERIFY(result->received <= kCap);
    QCOMPARE(body.size(), c.expected.oversized && c.way != Way::Download ? 0 : result->received);
    if (!c.expected.oversized && c.expected.size >= 0)
        QCOMPARE(body, c.answer.body.left(c.expected.size));
    QVERIFY(c.answer.endless || c.answer.body.startsWith(body));
    // Qt may have one more piece on its way when the read buffer fills. (It keeps to the read
    // buffer for a GET only; a post's answer is small, and never used.)
    if (c.way != Way::Post)
        QVERIFY2(handedOver <= kCap + 2 * kLimits.readBufferBytes,
                 qPrintable(QString::number(handedOver)));
    else
        QCOMPARE(net::classifyPost(*result), c.expected.outcome);
    // Qt sends a request again by itself when the connection closes first: never a post,
    // which the server may have taken already.
    if (c.way == Way::Post)
        QCOMPARE(server.requests.size(), c.answer.status ? 1 : 0);
}

void TestTransport::postOutcomes_data() {
    QTest::addColumn<PostOutcomesCase>("c");
    const auto rows = [](std::initializer_list<int> statuses, PostOutcome outcome) {
        for (const int status : statuses)
            QTest::addRow("%d", status) << PostOutcomesCase{status, true, outcome};
    };
    rows({200, 201, 204, 299}, PostOutcome::Taken);
    rows({408, 425, 429, 500, 502, 503, 599}, PostOutcome::Retry);
    rows({100, 302, 304, 400, 401, 403, 404, 409, 413, 422, 499, 600}, PostOutcome::Refused);
    QTest::newRow("no answer, the body never went out") << PostOutcomesCase{0, false, PostOutcome::Retry};
    QTest::newRow("no answer after the body went out") << PostOutcomesCase{0, true, PostOutcome::Unknown};
}

void TestTransport::postOutcomes() {
    QFETCH(PostOutcomesCase, c);
    net::Result result;
    result.status = c.status;
    result.requestSent = c.sent;
    QCOMPARE(net::classifyPost(result), c.outcome);
}

QTEST_GUILESS_MAIN(TestTransport)
#include "test_transport.moc"
