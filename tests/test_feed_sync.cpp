#include "sync/FeedSync.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TestHttpServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QtTest>

using Answer = TestHttpServer::Answer;

namespace {

// A feed told apart by its "updated", with rows in the fixtures' shorthand.
QByteArray feedJson(const QByteArray& updated, const QString& rows = {}) {
    return listFeed(rowsJson(rowsFrom(rows)), updated);
}

} // namespace

class TestFeedSync : public QObject {
    Q_OBJECT

private slots:
    void init() {
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->listen());
        network = std::make_unique<QNetworkAccessManager>();
        state = std::make_unique<ListStore>(clock);
        clock.setNow(QDateTime::fromSecsSinceEpoch(1765000000));
        sync = std::make_unique<FeedSync>(*state, *network, clock);
        sync->dataUrl = server->url(QStringLiteral("/data.json"));
        sync->inboxUrl = server->url(QStringLiteral("/velloa-test-topic-000000000000"));
        applied = failed = 0;
        connect(sync.get(), &FeedSync::feedApplied, this, [this] { ++applied; });
        connect(sync.get(), &FeedSync::refreshFailed, this, [this](const QString& error) {
            QCOMPARE(sync->lastError(), std::optional<QString>(error));
            ++failed;
        });
    }

    void cleanup() {
        sync.reset();
        network.reset();
        server.reset();
    }

    // What the feed client makes of each kind of answer; the wire faults themselves are
    // test_transport's.
    void failureTable_data() {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("error");

        QTest::newRow("good feed") << Answer{200, feedJson("New")} << QString();
        QTest::newRow("feed with HTTP error status still decodes") << Answer{500, feedJson("New")} << QString();
        QTest::newRow("404 with a text body") << Answer{404, "Not Found", "text/plain"} << "拉取失败";
        QByteArray huge = feedJson("Huge");
        huge.insert(huge.size() - 1, ",\"pad\":\"" + QByteArray(FeedSync::kMaxFeedBytes, 'x') + "\"");
        QTest::newRow("valid but over 8 MiB") << Answer{200, huge} << "拉取失败";
        QByteArray full = feedJson("New");
        full.insert(full.size() - 1, ",\"pad\":\"" + QByteArray(FeedSync::kMaxFeedBytes - full.size() - 9, 'x') + "\"");
        QTest::newRow("valid and exactly 8 MiB") << Answer{200, full} << QString();
        // No body and a transport error; then a part of one and a transport error.
        QTest::newRow("time-out") << Answer{200, feedJson("Late"), "application/json", 3000} << "Operation canceled";
        Answer drip{200, feedJson("Late")};
        drip.dripMs = 20;
        QTest::newRow("drip under the time-out, past the deadline") << drip << "Operation canceled";
    }

    void failureTable() {
        QFETCH(Answer, answer);
        QFETCH(QString, error);

        const Payload before = feedOf(rowsFrom("a=A"));
        state->applyFeed(before);
        state->setDone(QStringLiteral("a"), true);
        server->defaultAnswer = answer;
        sync->fetchTimeout = FeedSync::Delay(1000);
        sync->fetchDeadline = answer.dripMs ? FeedSync::Delay(500) : FeedSync::kFetchDeadline;
        sync->refresh();
        waitHandled();

        QCOMPARE(applied + failed, 1);
        if (error.isNull()) {
            QVERIFY(!sync->lastError());
            QCOMPARE(state->payload()->updated, QStringLiteral("New"));
            QVERIFY2(state->localDone().contains(QStringLiteral("a")), "the new feed does not name a");
        } else {
            QCOMPARE(sync->lastError().value_or(QString()), error);
            QCOMPARE(state->payload(), std::optional<Payload>(before));
            QCOMPARE(state->localDone().value(QStringLiteral("a")), true);
        }
    }

    // The feed shown, fetched again: the overlay is reconciled against it (an entry it now agrees
    // with ends) from the rows already held, not from a fresh decode. Other bytes are decoded, also
    // after a failure in between, whose error the success clears. The GET carries only Qt's own
    // fields.
    void sameFeedIsReconciledNotRebuilt() {
        server->defaultAnswer = Answer{200, feedJson("T", "a=A")};
        sync->refresh();
        waitHandled();
        const TestHttpServer::Request& request = server->requests.value(0);
        QCOMPARE(request.method + ' ' + request.path, QByteArray("GET /data.json"));
        const QSet<QByteArray> allowed{"host", "connection", "accept-encoding", "accept-language", "user-agent"};
        for (const QByteArray& line : request.headerLines)
            QVERIFY2(allowed.contains(line.left(line.indexOf(':')).toLower()), line.constData());
        const Row* rows = state->payload()->mine_rows.constData();
        state->setDone(QStringLiteral("a"), false);
        sync->refresh();
        waitHandled();
        QVERIFY(state->localDone().isEmpty());
        QCOMPARE(applied, 2);
        QCOMPARE(state->payload()->mine_rows.constData(), rows);

        server->defaultAnswer = Answer{200, "junk", "text/plain"};
        sync->refresh();
        waitHandled();
        QCOMPARE(failed, 1);
        QCOMPARE(state->payload()->updated, QStringLiteral("T"));
        server->defaultAnswer = Answer{200, feedJson("T2", "a=A")};
        sync->refresh();
        waitHandled();
        QCOMPARE(state->payload()->updated, QStringLiteral("T2"));
        QVERIFY(!sync->lastError());
    }

    // The first request answers last, after the second one's newer feed confirmed the tick.
    void staleAnswersChangeNothing_data() {
        QTest::addColumn<Answer>("older");
        QTest::newRow("older feed after newer feed") << Answer{200, feedJson("Old"), "application/json", 800};
        QTest::newRow("older failure after newer feed") << Answer{200, "junk", "text/plain", 800};
    }

    void staleAnswersChangeNothing() {
        QFETCH(Answer, older);
        state->setDone(QStringLiteral("a"), true);
        int seen = 0;
        server->handler = [&](const TestHttpServer::Request&) {
            return seen++ == 0 ? older : Answer{200, feedJson("New", "a*=A")};
        };
        sync->refresh();
        QVERIFY(server->waitForRequests(1));
        sync->refresh();
        waitHandled(2);
        QCOMPARE(state->payload()->updated, QStringLiteral("New"));
        QVERIFY(!sync->lastError());
        QVERIFY2(!state->localDone().contains(QStringLiteral("a")), "the newer feed confirmed the tick");
        QCOMPARE(applied + failed, 1); // the stale answer does not even reach the views
    }

    void messagesOnTheWire() {
        state->choose(ListStore::kHers);
        sync->postInbox(QStringLiteral("a1"), inbox::Action::Undone);
        state->choose(ListStore::kMine);
        sync->postInbox(QStringLiteral("a1"), inbox::Action::Done);
        sync->postInboxEdit(QStringLiteral("a1"), QStringLiteral("新 \"文本\""));
        sync->postInboxAdd(QStringLiteral("买菜"));
        sync->postInboxReorder({{"b", "其他"}, {"pending-X", "S"}, {"", "S"}, {"a1", "S"}});
        QVERIFY(server->waitForRequests(5));

        QMap<QString, QJsonObject> byAction;
        for (const TestHttpServer::Request& request : server->requests) {
            QCOMPARE(request.method + ' ' + request.path, QByteArray("POST /velloa-test-topic-000000000000"));
            QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
            QVERIFY2(!request.body.contains('\n') && !request.body.contains(": "), "compact JSON");
            QVERIFY2(request.body.contains("\"ts\":1765000000"), "ts is an integer on the wire");
            const QJsonObject message = QJsonDocument::fromJson(request.body).object();
            byAction.insert(message.value("action").toString(), message);
        }
        const qint64 ts = 1765000000;
        QCOMPARE(byAction.value("undone"), (QJsonObject{{"list", "hers"}, {"action", "undone"}, {"id", "a1"}, {"ts", ts}}));
        QCOMPARE(byAction.value("done"), (QJsonObject{{"list", "mine"}, {"action", "done"}, {"id", "a1"}, {"ts", ts}}));
        QCOMPARE(byAction.value("edit"), (QJsonObject{{"list", "mine"}, {"action", "edit"}, {"id", "a1"}, {"text", "新 \"文本\""}, {"ts", ts}}));
        QCOMPARE(byAction.value("add"), (QJsonObject{{"list", "mine"}, {"action", "add"}, {"text", "买菜"}, {"ts", ts}}));
        // Pending and empty ids are left out of an order.
        QCOMPARE(byAction.value("reorder"),
                 (QJsonObject{{"list", "mine"}, {"action", "reorder"}, {"ts", ts},
                              {"order", QJsonArray{QJsonObject{{"id", "b"}, {"cat", "其他"}}, QJsonObject{{"id", "a1"}, {"cat", "S"}}}}}));
    }

    void relayDownOrSlowChangesNothing() {
        state->setDone(QStringLiteral("a"), true);
        server->defaultAnswer = Answer{500, "down", "text/plain", 600};
        sync->postTimeout = FeedSync::Delay(200);
        QSignalSpy finished(network.get(), &QNetworkAccessManager::finished);
        sync->postInbox(QStringLiteral("a"), inbox::Action::Done);
        sync->inboxUrl = QStringLiteral("http://127.0.0.1:1/topic");
        sync->postInbox(QStringLiteral("a"), inbox::Action::Done);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000); // timed out; sent again after 5 s
        clock.advance(std::chrono::seconds(5));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 15000); // refused: nothing listens there
        QCOMPARE(server->requests.size(), 1);
        QCOMPARE(state->localDone().value(QStringLiteral("a")), true);
        QVERIFY(!sync->lastError());
        QCOMPARE(applied + failed, 0);
    }

    // A feed that agrees with a tick while a post about the task waits for its answer leaves the
    // tick in the overlay (a later message may still change the feed); once the relay has taken
    // every post about it, the next fetch's feed ends it.
    void unansweredPostsKeepTheirEntry() {
        using Kind = OverlayFloors::Kind;
        const QByteArray agrees = listFeed(R"({"kind":"item","id":"a","text":"A","done":true})");
        std::function<void(const Answer&)> answerDone;
        server->deferredHandler = [&](const TestHttpServer::Request& request, auto reply) {
            if (request.method == "GET")
                reply(Answer{200, agrees});
            else if (request.body.contains("\"done\""))
                answerDone = reply;
            else
                reply(Answer{200, "{}"});
        };
        state->setDone(QStringLiteral("a"), true);
        sync->postInbox(QStringLiteral("a"), inbox::Action::Undone);
        sync->postInbox(QStringLiteral("a"), inbox::Action::Done);
        QVERIFY(server->waitForRequests(2));
        sync->refresh();
        waitHandled();
        QCOMPARE(applied, 1);
        QVERIFY2(state->localDone().contains(QStringLiteral("a")), "a post about it is unanswered");

        answerDone(Answer{200, "{}"});
        QTRY_VERIFY_WITH_TIMEOUT(state->floors().settles(Kind::Done, QStringLiteral("a"), 2), 15000);
        QVERIFY2(!state->floors().settles(Kind::Done, QStringLiteral("a"), 1),
                 "a fetch started before the answers cannot end it");
        sync->refresh();
        waitHandled();
        QVERIFY(!state->localDone().contains(QStringLiteral("a")));
        QVERIFY(!sync->lastError());
    }

    // Three refreshes 4, 12 and 30 s later, never merged: two calls give six fetches.
    void quickRefreshes() {
        server->defaultAnswer = Answer{200, feedJson("T")};
        QSignalSpy started(sync.get(), &FeedSync::fetchStarted);
        sync->scheduleQuickRefresh();
        clock.advance(std::chrono::seconds(2));
        sync->scheduleQuickRefresh();
        QList<int> fetchesAt; // seconds after the first call
        for (int second = 3; second <= 32; ++second) {
            const qsizetype before = started.size();
            clock.advance(std::chrono::seconds(1));
            for (qsizetype i = before; i < started.size(); ++i)
                fetchesAt << second;
        }
        QCOMPARE(fetchesAt, (QList<int>{4, 6, 12, 14, 30, 32}));
        QVERIFY(server->waitForRequests(6));
    }

private:
    void waitHandled(int count = 1);

    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<QNetworkAccessManager> network;
    std::unique_ptr<ListStore> state;
    std::unique_ptr<FeedSync> sync;
    ManualClock clock{QDateTime::fromSecsSinceEpoch(1765000000)};
    int applied = 0;
    int failed = 0;
};

void TestFeedSync::waitHandled(int count) {
    QSignalSpy spy(sync.get(), &FeedSync::answerHandled);
    while (spy.size() < count)
        QVERIFY(spy.wait(15000));
}

QTEST_GUILESS_MAIN(TestFeedSync)
#include "test_feed_sync.moc"
