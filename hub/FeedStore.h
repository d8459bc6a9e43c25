#pragma once

#include "Clock.h"
#include "FeedOps.h"
#include "Journal.h"

#include <QLockFile>
#include <QObject>
#include <chrono>
#include <functional>
#include <memory>

// The hub's data folder: the feed file, the journal of accepted messages and the lock that
// keeps a second hub out. Every accepted message is in the synced journal before accept()
// returns and is applied to the feed in memory at once (after the apply delay, when one is
// set); the feed file is rewritten at most every 100 ms with all of them. It records the last
// sequence number it includes, so after a crash the journal entries above that number are
// applied once more, and only those.
class FeedStore : public QObject {
    Q_OBJECT
public:
    static inline const QString kFeedFile = QStringLiteral("data.json");
    static inline const QString kJournalFile = QStringLiteral("journal.log");
    static inline const QString kLockFile = QStringLiteral("hub.lock");
    // The feed file is rewritten at most this often: a burst of messages costs one rewrite.
    static constexpr Clock::Delay kRewriteEvery{100};
    // After a failed rewrite (a full disk) the next try comes this much later.
    static constexpr Clock::Delay kRetryAfter{2000};
    // Applied entries are cut from the journal once this many have piled up (and at each
    // start): the journal stays small without being rewritten after every message.
    static constexpr qsizetype kCompactAfter = 256;

    explicit FeedStore(Clock& clock = Clock::system(), QObject* parent = nullptr);

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

    // Stores a checked message durably, then applies it now or schedules it. On failure
    // nothing changed and `error` says why, with the system's reason.
    std::optional<qint64> accept(const inbox::Message& message, QString* error);

    // What GET /data.json serves: the feed with every applied message.
    const QByteArray& feedText();
    const Payload& feed() const { return m_feed; }
    qint64 appliedSeq() const { return m_appliedSeq; }
    // The last sequence number the feed file on disk includes.
    qint64 writtenSeq() const { return m_writtenSeq; }
    qsizetype waitingCount() const { return m_waiting.size(); }

private:
    struct Waiting {
        qint64 seq;
        inbox::Message message;
        qint64 dueMs;
    };

    bool loadFeed(QString* error);
    bool replayJournal(QString* error);
    void applyDue();
    void applyOne(qint64 seq, const inbox::Message& message);
    void scheduleRewrite(Clock::Delay delay);
    void rewrite();
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
    QList<Waiting> m_waiting;
    qint64 m_applyAtMs = -1; // when the pending apply is due, if one is
    bool m_rewriteScheduled = false;
    qint64 m_lastRewriteMs = 0;
};
