#pragma once

#include "model/Clock.h"
#include "hub/FeedOps.h"
#include "hub/Journal.h"

#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <chrono>
#include <functional>
#include <memory>

// The hub's data folder: the feed file, the journal of accepted messages and the lock that
// keeps a second hub out. Messages are accepted in groups: each is written to the journal as it
// arrives, and once the event loop is done with what arrived in this turn (or while the
// previous sync ran), one fsync covers the whole group; only then are its messages applied to
// the feed in memory (after the apply delay, when one is set), in arrival order, and their
// senders told. The feed file is rewritten at most every 100 ms with all of them, on a thread
// of its own, so a large feed does not hold up the answers. It records the last sequence
// number it includes, so after a crash the journal entries above that number are applied
// once more, and only those.
class FeedStore : public QObject {
    Q_OBJECT
public:
    static inline const QString kFeedFile = QStringLiteral("data.json");
    static inline const QString kJournalFile = QStringLiteral("journal.log");
    static inline const QString kLockFile = QStringLiteral("hub.lock");
    // The feed file is rewritten this long after the previous rewrite ended at the earliest,
    // and one millisecond longer for every 100 tasks beyond 10,000: a burst of messages costs
    // one rewrite, and a large feed, whose rewrite takes longer (serializing it, the first
    // change copying the row list the writer shares, the sync competing with the journal's),
    // is rewritten less often, so rewrites take about the same share of the time at any size.
    static constexpr Clock::Delay kRewriteEvery{100};
    static constexpr qsizetype kRowsPerPauseMs = 100;
    // After a failed rewrite (a full disk) the next try comes this much later.
    static constexpr Clock::Delay kRetryAfter{2000};
    // Applied entries are cut from the journal once this many have piled up (and at each
    // start): the journal stays small without being rewritten often, since each compaction
    // syncs a file and the folder while answers wait.
    static constexpr qsizetype kCompactAfter = 4096;

    explicit FeedStore(Clock& clock = Clock::system(), QObject* parent = nullptr);
    // Waits for a feed file being written.
    ~FeedStore() override;

    std::function<QString()> newId;
    // Problems an operator should hear of that no client is told about: a feed file that
    // could not be written, a journal that could not be compacted. The hub prints them.
    std::function<void(const QString&)> report;

    // Messages are acknowledged at once and applied only after this delay (a demonstration
    // aid; a restart applies whatever is still waiting).
    void setApplyDelay(std::chrono::milliseconds delay) { m_delay = delay; }

    // Loads the folder (creating it, owner-only, and a demo feed when there is no feed) and
    // applies every journal entry the feed file does not include yet. Refuses a feed that does
    // not decode: it is never overwritten.
    bool open(const QString& dir, QString* error);

    // What a sender of a message learns once its group's sync is over: an empty error when
    // the message is synced and applied (or waiting for the apply delay), else the system's
    // reason and the message is gone.
    using Done = std::function<void(const QString& error)>;

    // Writes a checked message to the journal and puts it in the group the next sync covers
    // (queued to run once the event loop is back); returns its sequence number. `done` runs
    // after that sync, unless `context` is gone by then. Nothing is applied or answered before
    // the sync. On failure nothing changed, `error` says why with the system's reason, and
    // `done` never runs.
    std::optional<qint64> submit(const inbox::Message& message, QString* error,
                                 QObject* context = nullptr, Done done = {});
    // Syncs the group now: what the queued call does. Tests call it to close a group by hand.
    void commit();
    qsizetype groupSize() const { return m_group.size(); }

    // What GET /data.json serves: the feed with every applied message.
    const QByteArray& feedText();
    const Payload& feed() const { return m_feed; }
    qint64 appliedSeq() const { return m_appliedSeq; }
    // The last sequence number the feed file on disk includes.
    qint64 writtenSeq() const { return m_writtenSeq; }
    qsizetype waitingCount() const { return m_waiting.size(); }

signals:
    // The feed file on disk now includes every message up to `seq`.
    void feedWritten(qint64 seq);

private:
    struct Waiting {
        qint64 seq;
        inbox::Message message;
        qint64 dueMs;
    };
    struct Submitted {
        qint64 seq;
        inbox::Message message;
        QPointer<QObject> context;
        bool hasContext;
        Done done;
    };
    struct Written;

    bool loadFeed(QString* error);
    bool replayJournal(QString* error);
    void applyDue();
    void applyOne(qint64 seq, const inbox::Message& message);
    void scheduleRewrite(Clock::Delay delay);
    void rewrite();
    void rewriteDone(const Written& written);
    void compactIfDue();
    Clock::Delay rewritePause() const;
    bool persist(QString* error);
    qint64 nowMs() const { return m_clock.msecsSinceEpoch(); }

    Clock& m_clock;
    QString m_dir;
    std::unique_ptr<QLockFile> m_lock;
    Journal m_journal;
    Payload m_feed;
    QByteArray m_feedText;
    qint64 m_textSeq = -1; // the sequence number m_feedText was written for
    qint64 m_appliedSeq = 0;
    qint64 m_writtenSeq = 0;
    std::chrono::milliseconds m_delay{0};
    QList<Submitted> m_group; // written to the journal, waiting for its sync
    bool m_commitQueued = false;
    bool m_compactDue = false; // compaction waits for the group in progress
    QList<Waiting> m_waiting;
    qint64 m_applyAtMs = -1; // when the pending apply is due, if one is
    bool m_rewriteScheduled = false;
    qint64 m_nextRewriteMs = 0;        // the earliest start of the next rewrite
    std::unique_ptr<QThread> m_writer; // the rewrite in progress, if one is
};
