#include "FeedSync.h"
#include "TestHttpServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QtTest>

using Answer = TestHttpServer::Answer;

namespace {

const QDate kToday(2026, 12, 6);

QByteArray feedJson(const QString& title, const QString& mineRows = QStringLiteral("[]"),
                    const QString& hersRows = QStringLiteral("[]")) {
    return QStringLiteral(R"({"updated":"u","mine_title":"%1","mine":"","mine_rows":%2,"hers_title":"H","hers":"","hers_rows":%3})")
        .arg(title, mineRows, hersRows)
        .toUtf8();
}

Row task(const QString& id, const QString& text) {
    return Row{QStringLiteral("item"), text, id, false, std::nullopt, std::nullopt};
}

} // namespace

class TestFeedSync : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void failureTable_data();
    void failureTable();
    void timeoutReportsTransportError();
    void requestCarriesNoExtraHeaders();
    void reconcilesThroughHttp();
    void noteUntouchedWhileBusy();
    void staleAnswersChangeNothing_data();
    void staleAnswersChangeNothing();
    void badUrlDoesNothing();
    void messagesOnTheWire_data();
    void messagesOnTheWire();
    void pendingIdsNeverSent();
    void relayDownOrSlowChangesNothing();
    void quickRefreshes();

private:
    void waitHandled(int count = 1);

    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<QNetworkAccessManager> network;
    std::unique_ptr<ListState> state;
    std::unique_ptr<FeedSync> sync;
    int menuBuilds = 0;
    int noteBuilds = 0;
    bool busy = false;
};

void TestFeedSync::init() {
    server = std::make_unique<TestHttpServer>();
    QVERIFY(server->listen());
    network = std::make_unique<QNetworkAccessManager>();
    state = std::make_unique<ListState>();
    state->currentDate = [] { return kToday; };
    sync = std::make_unique<FeedSync>(*state, *network);
    sync->dataUrl = server->url(QStringLiteral("/data.json"));
    sync->inboxUrl = server->url(QStringLiteral("/velloa-test-topic-000000000000"));
    sync->nowSeconds = [] { return qint64(1765000000); };
    menuBuilds = noteBuilds = 0;
    busy = false;
    sync->rebuildMenu = [this] { ++menuBuilds; };
    sync->refreshNote = [this] { ++noteBuilds; };
    sync->noteBusy = [this] { return busy; };
}

void TestFeedSync::cleanup() {
    sync.reset();
    network.reset();
    server.reset();
}

void TestFeedSync::waitHandled(int count) {
    QSignalSpy spy(sync.get(), &FeedSync::refreshHandled);
    QVERIFY(spy.wait(15000));
    while (spy.size() < count)
        QVERIFY(spy.wait(15000));
}

void TestFeedSync::failureTable_data() {
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("error");

    QTest::newRow("good feed") << Answer{200, feedJson("New")} << false << QString();
    QTest::newRow("feed with HTTP error status still decodes") << Answer{500, feedJson("New")} << false << QString();
    QTest::newRow("not JSON") << Answer{200, "<html>oops</html>"} << false << "拉取失败";
    QTest::newRow("404 with a text body") << Answer{404, "Not Found", "text/plain"} << false << "拉取失败";
    QTest::newRow("empty body") << Answer{200, ""} << false << "拉取失败";
    QTest::newRow("missing member") << Answer{200, R"({"updated":"u"})"} << false << "拉取失败";
    QByteArray huge = feedJson("Huge");
    huge.insert(huge.size() - 1, ",\"pad\":\"" + QByteArray(FeedSync::kMaxFeedBytes, 'x') + "\"");
    QTest::newRow("valid but over 8 MiB") << Answer{200, huge} << false << "拉取失败";
    QTest::newRow("server hangs up") << Answer{200, {}, {}, 0, true} << false << "Connection closed";
    QTest::newRow("connection refused") << Answer{} << true << "Connection refused";
}

void TestFeedSync::failureTable() {
    QFETCH(Answer, answer);
    QFETCH(bool, refused);
    QFETCH(QString, error);

    const Payload before{"old", "Old", "", {task("a", "A")}, "H", "", {}};
    state->payload = before;
    state->localDone[QStringLiteral("a")] = true;
    sync->lastError = QStringLiteral("earlier");
    server->defaultAnswer = answer;
    if (refused) {
        TestHttpServer closed;
        QVERIFY(closed.listen());
        sync->dataUrl = closed.url(QStringLiteral("/data.json"));
    } // `closed` is gone: its port refuses connections now
    sync->refresh();
    waitHandled();

    QCOMPARE(menuBuilds, 1);
    QCOMPARE(noteBuilds, 1);
    if (error.isNull()) {
        QVERIFY(!sync->lastError);
        QCOMPARE(state->currentTitle(), QStringLiteral("New"));
        QVERIFY2(state->localDone.contains(QStringLiteral("a")), "the new feed does not name a");
    } else {
        QCOMPARE(sync->lastError.value_or(QString()), error);
        QCOMPARE(state->payload, std::optional<Payload>(before));
        QCOMPARE(state->localDone.value(QStringLiteral("a")), true);
    }
}

void TestFeedSync::timeoutReportsTransportError() {
    server->defaultAnswer = Answer{200, feedJson("Late"), "application/json", 3000};
    sync->fetchTimeout = FeedSync::Delay(300);
    sync->refresh();
    waitHandled();
    QCOMPARE(sync->lastError.value_or(QString()), QStringLiteral("Operation canceled"));
    QVERIFY(!state->payload);
}

void TestFeedSync::requestCarriesNoExtraHeaders() {
    server->defaultAnswer = Answer{200, feedJson("T")};
    sync->refresh();
    waitHandled();
    QCOMPARE(server->requests.size(), 1);
    const TestHttpServer::Request& request = server->requests[0];
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.path, QByteArray("/data.json"));
    QVERIFY(request.body.isEmpty());
    // Only the fields Qt always sends (see docs/ARCHITECTURE.md); nothing about caching.
    const QSet<QByteArray> allowed{"host", "connection", "accept-encoding", "accept-language", "user-agent"};
    for (const QByteArray& line : request.headerLines) {
        const QByteArray name = line.left(line.indexOf(':')).toLower();
        QVERIFY2(allowed.contains(name), line.constData());
    }
}

void TestFeedSync::reconcilesThroughHttp() {
    state->localDone = {{"a", true}, {"b", false}};
    state->localText = {{"a", "new text"}};
    state->pendingAdd[ListState::kMine] = {task("pending-1", "milk")};
    state->orderOverride[ListState::kMine] = {{"b", "S"}, {"a", ""}};
    server->defaultAnswer = Answer{200, feedJson("T", QStringLiteral(
        R"([{"kind":"header","text":"S"},{"kind":"item","id":"b","text":"B","cat":"S"},
            {"kind":"item","id":"a","text":"new text","done":true,"doneAt":"2026-12-06"},
            {"kind":"item","id":"c","text":"milk","done":true,"doneAt":"2020-01-01"}])"))};
    sync->refresh();
    waitHandled();
    QVERIFY(state->localDone.isEmpty());
    QVERIFY(state->localText.isEmpty());
    QVERIFY(state->pendingAdd.value(ListState::kMine).isEmpty());
    QVERIFY(!state->orderOverride.contains(ListState::kMine));
}

void TestFeedSync::noteUntouchedWhileBusy() {
    busy = true;
    server->defaultAnswer = Answer{200, feedJson("T")};
    sync->refresh();
    waitHandled();
    QCOMPARE(state->currentTitle(), QStringLiteral("T"));
    QCOMPARE(menuBuilds, 1);
    QCOMPARE(noteBuilds, 0);
}

void TestFeedSync::staleAnswersChangeNothing_data() {
    QTest::addColumn<Answer>("older");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("error");

    // The first request answers last; the second answers at once with a newer feed.
    QTest::newRow("older feed after newer feed") << Answer{200, feedJson("Old"), "application/json", 800} << "New" << QString();
    QTest::newRow("older failure after newer feed") << Answer{200, "junk", "text/plain", 800} << "New" << QString();
}

void TestFeedSync::staleAnswersChangeNothing() {
    QFETCH(Answer, older);
    QFETCH(QString, title);
    QFETCH(QString, error);

    state->localDone[QStringLiteral("a")] = true;
    int seen = 0;
    server->handler = [&](const TestHttpServer::Request&) {
        return seen++ == 0 ? older
                           : Answer{200, feedJson("New", QStringLiteral(R"([{"kind":"item","id":"a","text":"A","done":true,"doneAt":"2026-12-06"}])"))};
    };
    sync->refresh();
    QVERIFY(server->waitForRequests(1));
    sync->refresh();
    waitHandled(2);
    QCOMPARE(state->currentTitle(), title);
    QCOMPARE(sync->lastError, error.isNull() ? std::nullopt : std::optional<QString>(error));
    QVERIFY2(!state->localDone.contains(QStringLiteral("a")), "the newer feed confirmed the tick");
    // The stale answer does not even rebuild the views.
    QCOMPARE(menuBuilds, 1);
}

void TestFeedSync::badUrlDoesNothing() {
    sync->dataUrl = QStringLiteral("not a url at all");
    sync->inboxUrl = QStringLiteral("::");
    sync->refresh();
    sync->postInboxAdd(QStringLiteral("x"));
    QTest::qWait(200);
    QVERIFY(server->requests.isEmpty());
    QCOMPARE(menuBuilds, 0);
    QVERIFY(!sync->lastError);
}

void TestFeedSync::messagesOnTheWire_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QJsonObject>("expected");

    const qint64 ts = 1765000000;
    QTest::newRow("done") << 0 << "mine" << QJsonObject{{"list", "mine"}, {"action", "done"}, {"id", "a1"}, {"ts", ts}};
    QTest::newRow("undone, hers") << 1 << "hers" << QJsonObject{{"list", "hers"}, {"action", "undone"}, {"id", "a1"}, {"ts", ts}};
    QTest::newRow("edit") << 2 << "mine" << QJsonObject{{"list", "mine"}, {"action", "edit"}, {"id", "a1"}, {"text", "新 \"文本\""}, {"ts", ts}};
    QTest::newRow("add") << 3 << "hers" << QJsonObject{{"list", "hers"}, {"action", "add"}, {"text", "买菜"}, {"ts", ts}};
    QTest::newRow("reorder without pending or empty ids")
        << 4 << "mine"
        << QJsonObject{{"list", "mine"}, {"action", "reorder"}, {"ts", ts},
                       {"order", QJsonArray{QJsonObject{{"id", "b"}, {"cat", "其他"}}, QJsonObject{{"id", "a1"}, {"cat", "S"}}}}};
}

void TestFeedSync::messagesOnTheWire() {
    QFETCH(int, kind);
    QFETCH(QString, choice);
    QFETCH(QJsonObject, expected);

    state->choice = choice;
    switch (kind) {
    case 0:
        sync->postInbox(QStringLiteral("a1"), QStringLiteral("done"));
        break;
    case 1:
        sync->postInbox(QStringLiteral("a1"), QStringLiteral("undone"));
        break;
    case 2:
        sync->postInboxEdit(QStringLiteral("a1"), QStringLiteral("新 \"文本\""));
        break;
    case 3:
        sync->postInboxAdd(QStringLiteral("买菜"));
        break;
    default:
        sync->postInboxReorder({{"b", "其他"}, {"pending-X", "S"}, {"", "S"}, {"a1", "S"}});
    }
    QVERIFY(server->waitForRequests(1));
    const TestHttpServer::Request& request = server->requests[0];
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QByteArray("/velloa-test-topic-000000000000"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    QVERIFY2(!request.body.contains('\n') && !request.body.contains(": "), "compact JSON");
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(doc.object(), expected);
    // ts must be an integer on the wire, not 1.765e9.
    QVERIFY(request.body.contains("\"ts\":1765000000"));
}

void TestFeedSync::pendingIdsNeverSent() {
    sync->postInbox(QStringLiteral("pending-1B4E28BA-2FA1-11D2-883F-0016D3CCA427"), QStringLiteral("done"));
    sync->postInboxEdit(QStringLiteral("pending-x"), QStringLiteral("t"));
    sync->postInboxReorder({{"pending-x", "S"}, {"", "S"}});
    sync->postInboxAdd(QStringLiteral("marker")); // sent, and proves the others had their chance
    QVERIFY(server->waitForRequests(1));
    QTest::qWait(200);
    QCOMPARE(server->requests.size(), 1);
    QVERIFY(!server->requests[0].body.contains("pending-"));
}

void TestFeedSync::relayDownOrSlowChangesNothing() {
    state->payload = Payload{"u", "T", "", {task("a", "A")}, "H", "", {}};
    state->localDone[QStringLiteral("a")] = true;
    server->defaultAnswer = Answer{500, "down", "text/plain", 600};
    sync->postTimeout = FeedSync::Delay(200);
    sync->postInbox(QStringLiteral("a"), QStringLiteral("done"));
    sync->inboxUrl = QStringLiteral("http://127.0.0.1:1/topic");
    sync->postInbox(QStringLiteral("a"), QStringLiteral("done"));
    QVERIFY(server->waitForRequests(1));
    QTest::qWait(900);
    QCOMPARE(state->localDone.value(QStringLiteral("a")), true);
    QVERIFY(!sync->lastError);
    QCOMPARE(menuBuilds, 0);
    QCOMPARE(state->displayRows(false).size(), 2);
}

void TestFeedSync::quickRefreshes() {
    QList<std::pair<FeedSync::Delay, std::function<void()>>> scheduled;
    sync->scheduler = [&](FeedSync::Delay delay, std::function<void()> call) { scheduled.append({delay, std::move(call)}); };
    sync->scheduleQuickRefresh();
    sync->scheduleQuickRefresh();
    QCOMPARE(scheduled.size(), 6);
    QList<qint64> delays;
    for (const auto& entry : scheduled)
        delays << entry.first.count();
    QCOMPARE(delays, (QList<qint64>{4000, 12000, 30000, 4000, 12000, 30000}));
    QVERIFY(server->requests.isEmpty());

    server->defaultAnswer = Answer{200, feedJson("T")};
    for (const auto& entry : scheduled)
        entry.second();
    QVERIFY(server->waitForRequests(6));
    for (const TestHttpServer::Request& request : server->requests)
        QCOMPARE(request.path, QByteArray("/data.json"));
}

QTEST_GUILESS_MAIN(TestFeedSync)
#include "test_feed_sync.moc"
