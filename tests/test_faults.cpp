// Faults on the wire between the app and its servers, through the loopback test server: a
// body cut short, a reset in the middle of it, a server that drips one byte a second. The
// feed client keeps the last good feed and every overlay entry; the update download ends in
// its one failure alert and leaves no partial file. (Error statuses with feeds or HTML pages,
// oversized and endless bodies and answers out of order: test_feed_sync and test_update_flow.)
#include "FeedSync.h"
#include "ManualClock.h"
#include "TestHttpServer.h"
#include "UpdateTexts.h"
#include "Updater.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using Answer = TestHttpServer::Answer;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

class RecordingUi : public UpdateUi {
public:
    bool promptUpdate(const QString&, const QString&) override { return false; }
    void alert(const QString& title, const QString& text) override {
        alerts << title + u'|' + text;
    }
    QStringList alerts;
};

const QByteArray kFeed = R"({"updated":"u","mine_title":"New","mine":"","mine_rows":[],)"
                         R"("hers_title":"H","hers":"","hers_rows":[]})";

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

private slots:
    void faults_data();
    void faults();
    void dripUnderTheTimeoutMeetsTheDeadline();
};

void TestFaults::faults_data() {
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QString>("error"); // the feed's lastError and the download's description

    Answer cut{200, kFeed.left(kFeed.size() / 2)};
    cut.contentLength = kFeed.size();
    cut.closeAfter = true;
    Answer reset = cut;
    reset.closeAfter = false;
    reset.resetAfter = true;
    Answer drip{200, kFeed};
    drip.dripMs = 1000;
    QTest::newRow("body cut short") << cut << "Connection closed";
    QTest::newRow("reset mid-body") << reset << "Connection closed";
    QTest::newRow("slow drip, 1 byte/s") << drip << "Operation canceled";
}

void TestFaults::faults() {
    QFETCH(Answer, answer);
    QFETCH(QString, error);
    TestHttpServer server;
    QVERIFY(server.listen());
    server.defaultAnswer = answer;
    QNetworkAccessManager network;

    // The feed: a good one shown, one of each overlay entry waiting for it.
    ManualClock clock;
    ListState state;
    state.clock = &clock;
    const Row task{"item", "A", QStringLiteral("a"), false, std::nullopt, std::nullopt};
    state.payload = Payload{"u", "Old", "", {task}, "H", "", {}};
    state.localDone.insert("a", true);
    state.localText.insert("a", "A2");
    state.pendingAdd["mine"] = {Row{"item", "B", QStringLiteral("pending-1"), false, {}, {}}};
    state.orderOverride["mine"] = {{"a", "S"}};
    const ListState before = state;
    FeedSync sync(state, network, clock);
    sync.dataUrl = server.url("/data.json");
    sync.fetchTimeout = 300ms; // the drip's byte a second never comes in time
    QSignalSpy failed(&sync, &FeedSync::refreshFailed);
    sync.refresh();
    QVERIFY(failed.wait(10000));
    QCOMPARE(sync.lastError().value_or(QString()), error);
    QCOMPARE(state.payload, before.payload);
    QCOMPARE(state.localDone, before.localDone);
    QCOMPARE(state.localText, before.localText);
    QCOMPARE(state.pendingAdd, before.pendingAdd);
    QCOMPARE(state.orderOverride, before.orderOverride);

    // The update download: one alert, nothing left in the temporary folder.
    QTemporaryDir tmp;
    RecordingUi ui;
    Updater updater(network, ui);
    updater.tempDir = tmp.path();
    updater.downloadTimeout = 300ms;
    const QString url = server.url("/v.zip");
    QSignalSpy updateFailed(&updater, &Updater::updateFailed);
    updater.downloadAndInstall({"2.14", url, {}, {}, QUrl(server.url("/version.json"))});
    QVERIFY(updateFailed.wait(10000));
    QCOMPARE(ui.alerts, QStringList(update_text::kDownloadFailedTitle + u'|' +
                                    update_text::failureText(error, url)));
    QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

// Every byte comes before the no-progress timeout would fire, so only the fetch's deadline can
// end it; without one this body would arrive whole and replace the shown feed seconds late.
void TestFaults::dripUnderTheTimeoutMeetsTheDeadline() {
    TestHttpServer server;
    QVERIFY(server.listen());
    server.defaultAnswer = Answer{200, kFeed};
    server.defaultAnswer.dripMs = 20;
    QNetworkAccessManager network;
    ManualClock clock;
    ListState state;
    state.clock = &clock;
    state.payload = Payload{"u", "Old", "", {}, "H", "", {}};
    FeedSync sync(state, network, clock);
    sync.dataUrl = server.url("/data.json");
    sync.fetchTimeout = 2s;
    sync.fetchDeadline = 300ms;
    QSignalSpy failed(&sync, &FeedSync::refreshFailed);
    QSignalSpy handled(&sync, &FeedSync::answerHandled);
    sync.refresh();
    QVERIFY(handled.wait(10000));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(sync.lastError().value_or(QString()), u"Operation canceled"_s);
    QCOMPARE(state.payload->mine_title, u"Old"_s);
}

QTEST_GUILESS_MAIN(TestFaults)
#include "test_faults.moc"
