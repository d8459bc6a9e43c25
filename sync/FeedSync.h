#pragma once

#include "model/Clock.h"
#include "model/InboxMessage.h"
#include "model/InboxPoster.h"
#include "model/ListStore.h"
#include "sync/OutboxSender.h"

#include <QJsonObject>
#include <QObject>
#include <optional>

class QNetworkAccessManager;
namespace net {
struct Result;
}

// Fetches the list feed, hands each good one to the list state for reconciliation, and makes
// the inbox messages, which its outbox keeps until the relay has taken them; both go through the
// one transport (net/). It knows no view: it says what happened through its signals. One
// instance per process, on the main thread.
class FeedSync : public QObject, public InboxPoster {
    Q_OBJECT

public:
    using Delay = Clock::Delay;

    // A feed body over this is not taken in: reading stops as soon as it is passed.
    static constexpr qsizetype kMaxFeedBytes = 8 * 1024 * 1024;
    // A fetch is given up when no byte has come for this long...
    static constexpr Delay kFetchTimeout{30000};
    // ...and when it has not finished this long after it was sent: a server dripping a byte
    // now and then must not hold a fetch open for good.
    static constexpr Delay kFetchDeadline{120000};
    static constexpr Delay kPostTimeout{20000};
    // The relay's answer is read up to this for its status; its body is dropped.
    static constexpr qsizetype kMaxAnswerBytes = 64 * 1024;
    static constexpr Delay kPostDeadline{60000};

    FeedSync(ListStore& store, QNetworkAccessManager& network, Clock& clock,
             QObject* parent = nullptr);

    QString dataUrl;
    QString inboxUrl; // NTFY_URL: the relay's base URL joined with the topic
    Delay fetchTimeout = kFetchTimeout;
    Delay fetchDeadline = kFetchDeadline;
    Delay postTimeout = kPostTimeout;
    Delay postDeadline = kPostDeadline;

    // The text of the last refresh failure; nothing after a success.
    const std::optional<QString>& lastError() const { return m_lastError; }

    void refresh();
    // Three more refreshes, 4, 12 and 30 s from now (never merged with earlier ones).
    void scheduleQuickRefresh() override;

    // The messages waiting for the relay. Until openOutbox() they are held in memory only.
    OutboxSender& outbox() { return m_outbox; }
    const OutboxSender& outbox() const { return m_outbox; }
    // Reads the outbox file (before the first fetch): its changes go back into the overlay
    // and sending resumes; from then on every message is on disk before it is posted.
    bool openOutbox(const QString& path, QString* error) { return m_outbox.open(path, error); }

    void postInbox(const QString& id, inbox::Action action) override; // Done or Undone
    void postInboxEdit(const QString& id, const QString& text) override;
    // `pendingId`: the added row waiting in the overlay for the feed to carry the task.
    void postInboxAdd(const QString& text, const QString& pendingId = {}) override;
    void postInboxReorder(const QList<inbox::OrderItem>& order) override;

signals:
    // A fetch of the feed has been sent.
    void fetchStarted();
    // A new feed is stored and the overlay reconciled against it.
    void feedApplied();
    // The refresh failed; lastError() holds `error`, the last good feed stays.
    void refreshFailed(const QString& error);
    // Emitted after every answer, also one dropped as stale (after the two above).
    void answerHandled();

private:
    void handleReply(quint64 sequence, const net::Result& result);
    std::optional<net::Request> postRequest(const QByteArray& body) const;

    ListStore& m_store;
    QNetworkAccessManager& m_network;
    Clock& m_clock;
    std::optional<QString> m_lastError;
    // The last feed applied and a fingerprint of the bytes it came from (the rows are shared with
    // the list state's copy, not held twice; at 10,000 tasks the bytes themselves were a MB).
    struct Shown {
        QByteArray digest;
        Payload payload;
    };
    std::optional<Shown> m_shown;
    quint64 m_nextSequence = 1;
    quint64 m_appliedSequence = 0;
    OutboxSender m_outbox;
};
