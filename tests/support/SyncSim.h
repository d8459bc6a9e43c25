#pragma once

// The sync simulation: seeded random user operations (ticks, edits, adds, drags, list
// switches, refreshes, time passing) through the real ListStore, ListActions and FeedSync
// against a real velloa-hub, behind a proxy that delays requests, loses posts and delivers
// answers out of order; in the rough weather, also relay outages, bursts of 5xx answers,
// answers cut off after the body, and app restarts at random points. After every step what the
// user sees must still show every change they made (a change shown, then reverted, is a
// flicker); after quiescence the overlay may hold only entries whose message was lost.
// docs/PERFORMANCE.md says what counts as what.
#include "model/ListActions.h"
#include "sync/FeedSync.h"
#include "tests/hub_process.h"
#include "tests/support/ManualClock.h"
#include "tests/support/SyncProxy.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <memory>
#include <random>

struct SimShown {
    QString id, text;
    bool done;
};

// What the user wants each thing to look like, from their own last change to it.
struct SimIntent {
    QHash<QString, bool> done;
    QHash<QString, QString> text;
    QHash<QString, QSet<QString>> added;     // texts per list
    QHash<QString, QList<OrderEntry>> order; // per list
    QSet<QString> confirmed;                 // keys a feed has agreed with
    QSet<QString> lost; // keys (as overlayKeys names them) whose last message was lost
    // Messages per key sent and not yet at the hub (or lost), and the number (in the hub's
    // order) of the last one the hub took; `shown` is the number the shown feed includes.
    QHash<QString, int> onTheWay;
    QHash<QString, qint64> atHub;
    qint64 taken = 0, shown = 0;
    // Keys whose overlay entry a feed took away while a message about them was on its way.
    QSet<QString> exposed;
    QSet<QString> reverted; // keys shown reverted right now: one event until they agree again
};

struct SimFigures {
    int ops = 0, posts = 0, lost = 0, fetches = 0, flicker = 0, reverts = 0, overtaken = 0;
    int divergent = 0, doubled = 0, leftLost = 0, leftOther = 0;
    // The rough weather: posts on the wire (first sends and resends), answers of 5xx and
    // answers cut off, outages, restarts, and messages still in the outbox at the end.
    int sent = 0, failed = 0, cutOff = 0, outages = 0, restarts = 0, unsent = 0;
    QStringList problems;
};

// What the relay and the app go through besides the user's steps, each in percent per step.
struct SimWeather {
    int losePercent = 10;    // a post the relay says "ok" to and drops
    int outagePercent = 0;   // the relay goes down for 5 s to 5 minutes
    int burstPercent = 0;    // the next 1 to 5 posts are answered 5xx
    int cutOffPercent = 0;   // a post's answer is cut off after the body reached the hub
    int restartPercent = 0;  // the app quits (or crashes) and starts again
};

// When a check runs: after a feed was applied (which may agree with what the user did), after
// a user's step, or at the end, when everything shown must agree.
struct SimMoment {
    bool fromFeed, atEnd;
    QString when;
};

// One seeded run. The driver decides every user step and every network event from the seed,
// so a run repeats from it; after each one what is shown is checked against the user's intent.
class SyncSim {
public:
    SyncSim(quint64 seed, SimWeather weather) : m_rng(seed), m_weather(weather) {}

    SimFigures run(int ops);

private:
    // One run of the app: what a restart ends and makes anew.
    struct App {
        App(Clock& clock, const Clock& today)
            : state(today), sync(state, network, clock), actions(state, sync) {}
        QNetworkAccessManager network;
        ListStore state;
        FeedSync sync;
        ListActions actions;
        QSignalSpy handled{&sync, &FeedSync::answerHandled};
        // A post's answer tells the app when a feed may end the overlay entry it is about, so
        // the app must have taken each answer in before the driver goes on.
        QSignalSpy replies{&network, &QNetworkAccessManager::finished};
    };

    qsizetype pick(qsizetype n) { return qsizetype(m_rng() % quint64(n)); }
    bool chance(int percent) { return int(m_rng() % 100) < percent; }
    void trace(const QString& line) const;
    bool onTheWire() const { return m_proxy->waiting.size() + m_proxy->answered.size() > 0; }
    ListStore& state() { return m_app->state; }
    const ListStore& state() const { return m_app->state; }

    bool start();
    void startApp();
    void restart();
    void weather();
    void userStep();
    bool changeTask(const QList<OrderEntry>& order, bool editText);
    void add();
    void drag(QList<OrderEntry> order);
    void quiesce();
    void countLeftovers();
    void settle();
    void post(const QString& key);
    void awaitReply(qsizetype before);
    void passOn(qsizetype i);
    bool relayFails(qsizetype i);
    void deliver(qsizetype i);
    void cutOff(qsizetype i, qsizetype repliesBefore);
    void drain();

    // SyncSimCheck.cpp: what is shown against what the user did.
    QHash<QString, SimShown> shownRows(QList<OrderEntry>* order = nullptr) const;
    void check(const SimMoment& at);
    void checkAdditions(const SimMoment& at, const QHash<QString, SimShown>& shown);
    void judge(const SimMoment& at, const QString& key, bool visible, bool agrees,
               bool feedAgrees);

    std::mt19937_64 m_rng;
    const SimWeather m_weather;
    SimFigures m_f;
    // VELLOA_SIM_TRACE=1 prints every step, to follow a seed that fails.
    const bool m_tracing = qEnvironmentVariableIsSet("VELLOA_SIM_TRACE");
    QTemporaryDir m_dir;
    HubProcess m_hub{m_dir.filePath(QStringLiteral("hub"))};
    std::optional<SyncProxy> m_proxy; // once the hub has its port
    // The feed client's delays run on a clock moved by hand; "today" is the hub's, held still.
    ManualClock m_clock;
    const FixedClock m_today{QDateTime::currentDateTime()};
    std::unique_ptr<App> m_app;
    SimIntent m_intent;
    qsizetype m_expected = 0; // requests the app has sent
    qint64 m_arriving = 0;    // what the feed being delivered includes
    int m_made = 0;           // texts made up so far
    qint64 m_downUntilMs = 0; // the relay answers 503 until then
    int m_burst = 0;          // posts still to be answered 5xx
    bool m_calm = false;      // quiescence: no more answers cut off
    QList<qint64> m_snapshots; // beside the proxy's answered: what each fetch's feed includes
};
