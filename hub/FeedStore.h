#pragma once

#include "Clock.h"
#include "FeedOps.h"
#include "Journal.h"

#include <QElapsedTimer>
#include <QLockFile>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

// The hub's data folder: the feed file, the journal of accepted messages and the lock that
// keeps a second hub out. Every accepted message is in the synced journal before accept()
// returns; the feed file records the last sequence number it includes, so after a crash the
// journal entries above that number are applied once more, and only those.
class FeedStore : public QObject {
    Q_OBJECT
public:
    static inline const QString kFeedFile = QStringLiteral("data.json");
    static inline const QString kJournalFile = QStringLiteral("journal.log");
    static inline const QString kLockFile = QStringLiteral("hub.lock");

    explicit FeedStore(QObject* parent = nullptr);

    const Clock* clock = &Clock::system();
    std::function<QString()> newId;

    // Messages are acknowledged at once and applied only after this delay (a demonstration
    // aid; a restart applies whatever is still waiting).
    void setApplyDelay(std::chrono::milliseconds delay) { m_delay = delay; }

    // Loads the folder (creating it and a demo feed when there is no feed) and applies every
    // journal entry the feed file does not include yet. Refuses a feed that does not decode:
    // it is never overwritten.
    bool open(const QString& dir, QString* error);

    // Stores a checked message durably, then applies it now or schedules it.
    std::optional<qint64> accept(const inbox::Message& message, QString* error);

    // What GET /data.json serves: the feed with every applied message.
    const QByteArray& feedText() const { return m_feedText; }
    const Payload& feed() const { return m_feed; }
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
    bool persist(QString* error);
    void persistOrRetry();

    QString m_dir;
    std::unique_ptr<QLockFile> m_lock;
    Journal m_journal;
    Payload m_feed;
    QByteArray m_feedText;
    qint64 m_appliedSeq = 0;
    qint64 m_writtenSeq = 0;
    std::chrono::milliseconds m_delay{0};
    QList<Waiting> m_waiting;
    QElapsedTimer m_uptime;
    QTimer m_applyTimer;
    QTimer m_retryTimer;
};
