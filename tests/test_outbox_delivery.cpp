// The outbox's delivery through the loopback server: what each answer of the relay leads to,
// the relay down and up again, answers that never come, and quits and crashes with messages
// waiting. The clock is moved by hand, so no test waits out a retry delay.
#include "menu/MenuModel.h"
#include "model/ListActions.h"
#include "sync/FeedSync.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TestHttpServer.h"

#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using Answer = TestHttpServer::Answer;
using namespace std::chrono_literals;

namespace {

// How long a wait for the relay's answers may take: the suite runs beside a sanitizer build, and
// under that load a round trip has taken four times its usual second.
constexpr int kPatience = 20000;

const QString kDown = QStringLiteral("http://127.0.0.1:1/topic"); // nothing listens there

QByteArray feedWith(const QString& mineRows = QStringLiteral("[]")) {
    return QStringLiteral(R"({"updated":"u","mine_title":"M","mine":"","mine_rows":%1,"hers_title":"H","hers":"","hers_rows":[]})")
        .arg(mineRows)
        .toUtf8();
}

// One run of the app's list side: what a quit ends and a start makes anew.
struct App {
    App(Clock& clock, const QString& outbox, const QString& inboxUrl, const QString& dataUrl)
        : clock(clock) {
        sync.inboxUrl = inboxUrl;
        sync.dataUrl = dataUrl;
        sync.outbox().watchNetwork();
        QString error;
        if (!sync.openOutbox(outbox, &error))
            qWarning("%s", qPrintable(error));
    }
    QStringList menuLines() const {
        return menuListLines(buildMenuEntries(store, sync.lastError(), QStringLiteral("1"), false,
                                              {sync.outbox().overdue(), sync.outbox().refused()}));
    }

    Clock& clock;
    QNetworkAccessManager network;
    ListStore store{clock};
    FeedSync sync{store, network, clock};
    ListActions actions{store, sync};
};

// The child of the crash test: makes a change, which is on disk once toggle() returns, and
// dies before the event loop could post it.
int crashChild() {
    ManualClock clock(QDateTime::fromSecsSinceEpoch(1765000000));
    App app(clock, qEnvironmentVariable("VELLOA_OUTBOX_CHILD"), qEnvironmentVariable("VELLOA_OUTBOX_RELAY"), {});
    app.actions.toggle(QStringLiteral("a"), false);
    std::raise(SIGKILL);
    return 0;
}

struct NoAnswerAfterTheBodyCase {
    bool isAdd, feedShowsIt;
    bool editAndRestart; // the add's row edited, then a quit and a start
};
} // namespace

class TestOutboxDelivery : public QObject {
    Q_OBJECT

private slots:
    void init();
    void answers_data();
    void answers();
    void relayDownThenUp();
    void noAnswerAfterTheBody_data();
    void noAnswerAfterTheBody();
    void restartRestoresAndSendsOnce();
    void killedBetweenAppendAndPost();

private:
    std::unique_ptr<App> start(const QString& inboxUrl);
    QList<QByteArray> postBodies() const;
    void waitAnswers(QSignalSpy& spy, qsizetype count);

    ManualClock m_clock{QDateTime::fromSecsSinceEpoch(1765000000)};
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestHttpServer> m_server;
};

void TestOutboxDelivery::init() {
    m_clock.setNow(QDateTime::fromSecsSinceEpoch(1765000000));
    m_dir = std::make_unique<QTemporaryDir>();
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    m_server->defaultAnswer = Answer{200, "{}"};
}

std::unique_ptr<App> TestOutboxDelivery::start(const QString& inboxUrl) {
    return std::make_unique<App>(m_clock, m_dir->filePath(QStringLiteral("outbox.jsonl")), inboxUrl,
                                 m_server->url(QStringLiteral("/data.json")));
}

QList<QByteArray> TestOutboxDelivery::postBodies() const {
    QList<QByteArray> bodies;
    for (const TestHttpServer::Request& r : std::as_const(m_server->requests))
        if (r.method == "POST")
            bodies.append(r.body);
    return bodies;
}

void TestOutboxDelivery::waitAnswers(QSignalSpy& spy, qsizetype count) {
    QTRY_VERIFY_WITH_TIMEOUT(spy.size() >= count, kPatience);
}

void TestOutboxDelivery::answers_data() {
    QTest::addColumn<QList<int>>("statuses"); // the relay's answers in turn, then 200
    QTest::addColumn<bool>("refused");
    QTest::newRow("503 twice, then 200") << QList<int>{503, 503, 200} << false;
    QTest::newRow("429, then 200") << QList<int>{429, 200} << false;
    QTest::newRow("408, then 200") << QList<int>{408, 200} << false;
    QTest::newRow("425, then 200") << QList<int>{425, 200} << false;
    QTest::newRow("400: refused for good") << QList<int>{400} << true;
    QTest::newRow("404: refused for good") << QList<int>{404} << true;
}

// A message is posted until the relay takes it, each resend after the wait (5 s, doubling),
// never before; one refused for good is dropped, its tick withdrawn and a line shown until
// the next message is taken.
void TestOutboxDelivery::answers() {
    QFETCH(QList<int>, statuses);
    QFETCH(bool, refused);
    m_server->handler = [&](const TestHttpServer::Request&) {
        return Answer{statuses.value(m_server->requests.size() - 1, 200), "{}"};
    };
    auto app = start(m_server->url(QStringLiteral("/topic")));
    QSignalSpy handled(&app->sync.outbox(), &OutboxSender::noticeChanged);
    const qsizetype before = handled.size();
    app->actions.toggle(QStringLiteral("a"), false);
    QVERIFY(!app->sync.outbox().watchingNetwork()); // nothing has failed yet
    auto wait = 5000ms;
    for (qsizetype i = 1; i <= statuses.size(); ++i) {
        waitAnswers(handled, before + i);
        QCOMPARE(m_server->requests.size(), i);
        if (i == statuses.size())
            break;
        m_clock.advance(wait - 1ms);
        QTest::qWait(30);
        QCOMPARE(m_server->requests.size(), i);
        m_clock.advance(1ms);
        QVERIFY(m_server->waitForRequests(i + 1));
        wait *= 2;
    }
    for (const TestHttpServer::Request& request : std::as_const(m_server->requests))
        QCOMPARE(request.body, m_server->requests.first().body);
    QVERIFY(app->sync.outbox().outbox().isEmpty());
    // The platform's network watch starts with the first post to be sent again, not before.
    QCOMPARE(app->sync.outbox().watchingNetwork(), !refused);
    QCOMPARE(app->store.localDone().contains(QStringLiteral("a")), !refused);
    QCOMPARE(app->menuLines().contains(QStringLiteral("⚠️ 有 1 项改动被拒收")), refused);
    if (refused) {
        m_server->handler = nullptr;
        app->actions.toggle(QStringLiteral("b"), false);
        waitAnswers(handled, handled.size() + 1);
        QVERIFY(!app->menuLines().join('\n').contains(QStringLiteral("拒收")));
    }
}

// While nothing answers, messages wait in order and, after a minute, the menu says so; a good
// fetch sends them at once, oldest first, and the line goes.
void TestOutboxDelivery::relayDownThenUp() {
    auto app = start(kDown);
    QSignalSpy handled(&app->sync.outbox(), &OutboxSender::noticeChanged);
    const qsizetype before = handled.size();
    app->actions.toggle(QStringLiteral("a"), false);
    app->actions.edit(QStringLiteral("b"), QStringLiteral("B"), QStringLiteral("B2"));
    waitAnswers(handled, before + 1);
    QCOMPARE(app->sync.outbox().overdue(), 0);
    m_clock.advance(61s);
    waitAnswers(handled, before + 3); // the check at a minute, and the resend's failure
    QCOMPARE(app->sync.outbox().overdue(), 2);
    QVERIFY(app->menuLines().contains(QStringLiteral("⚠️ 2 项改动还没送出")));
    QCOMPARE(app->sync.outbox().retryDelay(), 20000ms);

    m_server->handler = [](const TestHttpServer::Request& request) {
        return Answer{200, request.method == "GET" ? feedWith() : QByteArray("{}")};
    };
    app->sync.inboxUrl = m_server->url(QStringLiteral("/topic"));
    app->sync.refresh();
    QTRY_VERIFY_WITH_TIMEOUT(app->sync.outbox().outbox().isEmpty(), kPatience);
    const QList<QByteArray> posts = postBodies();
    QCOMPARE(posts.size(), 2);
    QCOMPARE(posts[0], QByteArray(R"({"action":"done","id":"a","list":"mine","ts":1765000000})"));
    QVERIFY(posts[1].contains(R"("action":"edit")"));
    QCOMPARE(app->sync.outbox().overdue(), 0);
    QVERIFY(!app->menuLines().join('\n').contains(QStringLiteral("送出")));
}

void TestOutboxDelivery::noAnswerAfterTheBody_data() {
    QTest::addColumn<NoAnswerAfterTheBodyCase>("c");
    QTest::newRow("a tick is sent again") << NoAnswerAfterTheBodyCase{false, false, false};
    QTest::newRow("an add the feed shows is not") << NoAnswerAfterTheBodyCase{true, true, false};
    QTest::newRow("an add three feeds do not show is") << NoAnswerAfterTheBodyCase{true, false, false};
    QTest::newRow("an add edited after its post, not shown, is sent again with the new text") << NoAnswerAfterTheBodyCase{
        true, false, true};
}

// The body went out and no answer came: a tick is sent again after the wait; an add waits for
// three fetches and is sent again only if none shows a task with its text.
void TestOutboxDelivery::noAnswerAfterTheBody() {
    QFETCH(NoAnswerAfterTheBodyCase, c);
    const QString landed = R"([{"kind":"item","id":"n1","text":"买菜"}])";
    m_server->deferredHandler = [&](const TestHttpServer::Request& request, auto reply) {
        if (request.method == "GET")
            reply(Answer{200, feedWith(c.feedShowsIt ? landed : QStringLiteral("[]"))});
        else if (m_server->requests.size() > 1)
            reply(Answer{200, "{}"}); // the first post's answer never comes
    };
    auto app = start(m_server->url(QStringLiteral("/topic")));
    app->sync.postTimeout = 300ms;
    QSignalSpy handled(&app->sync.outbox(), &OutboxSender::noticeChanged);
    const qsizetype before = handled.size();
    if (c.isAdd)
        app->actions.add(QStringLiteral("买菜"));
    else
        app->actions.toggle(QStringLiteral("a"), false);
    waitAnswers(handled, before + 1);
    if (!c.isAdd) {
        m_clock.advance(5s);
        QVERIFY(m_server->waitForRequests(2));
        QCOMPARE(postBodies(), QList<QByteArray>(2, m_server->requests[0].body));
        QTRY_VERIFY_WITH_TIMEOUT(app->sync.outbox().outbox().isEmpty(), kPatience);
        return;
    }
    const QString pending = *app->store.pendingAdd().value(ListStore::kMine).first().id;
    if (c.editAndRestart) {
        // It may have arrived as it was: the message stays so, the row keeps the new text.
        app->actions.edit(pending, QStringLiteral("买菜"), QStringLiteral("买水果"));
        app.reset();
        app = start(m_server->url(QStringLiteral("/topic")));
        QCOMPARE(app->store.localText().value(pending), QStringLiteral("买水果"));
    }
    // No timer sends an add again; its three quick refreshes (4, 12, 30 s) decide.
    QSignalSpy fetched(&app->sync, &FeedSync::answerHandled);
    for (int i = 0; c.editAndRestart && i < 3; ++i)
        app->sync.refresh();
    m_clock.advance(10min);
    QTRY_COMPARE_WITH_TIMEOUT(fetched.size(), 3, kPatience);
    QTRY_VERIFY_WITH_TIMEOUT(app->sync.outbox().outbox().isEmpty(), kPatience);
    QList<QByteArray> bodies(c.feedShowsIt ? 1 : 2, m_server->requests[0].body);
    if (c.editAndRestart)
        bodies.last().replace("买菜", "买水果");
    QCOMPARE(postBodies(), bodies);
    QCOMPARE(app->store.pendingAdd().value(ListStore::kMine).isEmpty(), c.feedShowsIt);
    if (c.editAndRestart)
        QCOMPARE(app->store.pendingAdd().value(ListStore::kMine).first().text, QStringLiteral("买水果"));
}

// Changes made while the relay is down come back after a quit as they were shown, are sent
// once the relay answers, each exactly once, and are not sent again by a later start.
void TestOutboxDelivery::restartRestoresAndSendsOnce() {
    QList<QByteArray> made;
    {
        auto app = start(kDown);
        app->actions.toggle(QStringLiteral("a"), false);
        app->actions.edit(QStringLiteral("b"), QStringLiteral("B"), QStringLiteral("B2"));
        const QString pending = *app->actions.add(QStringLiteral("买菜"));
        m_clock.advance(2s);
        app->actions.edit(pending, QStringLiteral("买菜"), QStringLiteral("买菜和水果"));
        QCOMPARE(app->store.pendingAdd().value(ListStore::kMine).first().text, QStringLiteral("买菜和水果"));
        app->actions.reorder({{QStringLiteral("b"), QStringLiteral("S")}, {pending, QString()},
                              {QStringLiteral("a"), QStringLiteral("S")}});
        for (const Outbox::Entry& entry : app->sync.outbox().outbox().entries())
            made.append(entry.body);
        QTest::qWait(50);
    }
    QCOMPARE(made.size(), 4);
    // The edit of the added row, made before its post went out, is in the add itself.
    QCOMPARE(made[2], QByteArray(R"({"action":"add","list":"mine","text":"买菜和水果","ts":1765000000})"));
    auto app = start(m_server->url(QStringLiteral("/topic")));
    QCOMPARE(app->store.localDone(), (QHash<QString, bool>{{QStringLiteral("a"), true}}));
    QCOMPARE(app->store.localText(), (QHash<QString, QString>{{QStringLiteral("b"), QStringLiteral("B2")}}));
    QCOMPARE(app->store.pendingAdd().value(ListStore::kMine).size(), 1);
    QCOMPARE(app->store.pendingAdd().value(ListStore::kMine).first().text, QStringLiteral("买菜和水果"));
    QCOMPARE(app->store.orderOverride().value(ListStore::kMine),
             (QList<OrderEntry>{{QStringLiteral("b"), QStringLiteral("S")}, {QStringLiteral("a"), QStringLiteral("S")}}));
    QVERIFY(m_server->waitForRequests(4));
    QTRY_VERIFY_WITH_TIMEOUT(app->sync.outbox().outbox().isEmpty(), kPatience);
    app.reset();
    app = start(m_server->url(QStringLiteral("/topic")));
    QTest::qWait(100);
    QCOMPARE(m_server->requests.size(), 4);
    for (qsizetype i = 0; i < made.size(); ++i)
        QCOMPARE(m_server->requests[i].body, made[i]);
    QVERIFY(app->store.localDone().isEmpty() && app->store.pendingAdd().value(ListStore::kMine).isEmpty());
}

// A process killed right after the change (on disk, not yet posted): the next start posts it.
void TestOutboxDelivery::killedBetweenAppendAndPost() {
    const QString path = m_dir->filePath(QStringLiteral("outbox.jsonl"));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELLOA_OUTBOX_CHILD"), path);
    env.insert(QStringLiteral("VELLOA_OUTBOX_RELAY"), m_server->url(QStringLiteral("/topic")));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QTest::qWait(100);
    QVERIFY2(m_server->requests.isEmpty(), "killed before the post went out");

    auto app = start(m_server->url(QStringLiteral("/topic")));
    QVERIFY(app->store.localDone().value(QStringLiteral("a")));
    QVERIFY(m_server->waitForRequests(1));
    QCOMPARE(m_server->requests.first().body, QByteArray(R"({"action":"done","id":"a","list":"mine","ts":1765000000})"));
    QTRY_VERIFY_WITH_TIMEOUT(app->sync.outbox().outbox().isEmpty(), kPatience);
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("VELLOA_OUTBOX_CHILD"))
        return crashChild();
    TestOutboxDelivery test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_outbox_delivery.moc"
