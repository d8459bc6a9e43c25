#pragma once

#include "disk/Outbox.h"
#include "model/Clock.h"
#include "model/ListStore.h"
#include "net/Transport.h"

#include <QJsonObject>
#include <QObject>
#include <functional>
#include <optional>

class QNetworkAccessManager;

// Delivers the outbox: every inbox message is kept on disk until the relay takes it, and sent
// one at a time, oldest first, so a later change never overtakes an earlier one. What became
// of a post (net::classifyPost) decides what follows: taken, it leaves; refused for good, it
// leaves and its change is withdrawn from the overlay; not taken, it is sent again after 5 s,
// the wait doubling up to 5 minutes, or at once after a good fetch or when the network comes
// back; an answer that never came sends a tick, an edit or an order again (twice leaves the
// same state) but holds an addition until three fetches have not shown it. It tells the list
// state's floors of each message made and of each that left.
class OutboxSender : public QObject {
    Q_OBJECT

public:
    using Delay = Clock::Delay;
    using MakeRequest = std::function<std::optional<net::Request>(const QByteArray& body)>;

    static constexpr Delay kFirstRetry{5000};
    static constexpr Delay kLongestRetry{300000};
    // Messages waiting longer than this are shown to the user.
    static constexpr qint64 kOverdueMs = 60000;

    // `request` makes the post of a body (nothing while the relay's address is unusable);
    // `nextFetch` says the number the next fetch will carry.
    OutboxSender(ListStore& store, QNetworkAccessManager& network, Clock& clock,
                 MakeRequest request, std::function<quint64()> nextFetch,
                 QObject* parent = nullptr);

    const Outbox& outbox() const { return m_outbox; }

    // Reads the outbox file at `path` (messages are kept in memory only until then), puts
    // their changes back into the overlay and starts sending them. False, with `error`, when
    // the file cannot be used; sending goes on from memory.
    bool open(const QString& path, QString* error);
    // A new message; an add names its pending row.
    void enqueue(const QJsonObject& message, const QString& pendingId = {});
    // The user edited the row of an add still waiting here. Until its post may have gone out
    // the add carries the new text (its other members as they were); after that the message
    // stays as it may have arrived and only the row keeps the new text, across a restart too,
    // until the add turns out not to have arrived: then it carries the new text after all.
    // An add that has left already is not touched: the row's text stays local.
    void editPending(const QString& pendingId, const QString& text);
    // The same, written straight from the message (a long reorder is not built as JSON objects).
    void enqueue(const inbox::Message& message, const QString& pendingId = {});
    // A fetch's feed was applied: unsure additions it shows leave, and what waits is sent now.
    void feedFetched(quint64 fetch);
    // Sends what waits now, without waiting out the retry delay.
    void resendNow();
    // Resends at once whenever the platform says the network is back (where it can tell), from
    // the first post that fails on: before that nothing waits for the network, and the platform's
    // watch (a system-bus or netlink connection) would only wake an idle app for nothing.
    void watchNetwork();
    // Whether the platform's watch has been asked for: a post has failed since watchNetwork().
    bool watchingNetwork() const { return m_networkWatched; }

    // The count of messages waiting, while any has waited longer than a minute; else 0.
    qsizetype overdue() const;
    // Messages the relay refused for good since the last one it took.
    qsizetype refused() const { return m_refused; }
    // What the next wait after a failed post will be.
    Delay retryDelay() const { return m_backoff; }
    // The outbox file's last failure, if any.
    const QString& lastError() const { return m_error; }

signals:
    // A post went out.
    void posted();
    // What overdue() or refused() says may have changed, or an overlay entry was withdrawn.
    void noticeChanged();

private:
    void enqueued(const QByteArray& body, const inbox::Message& message, const QString& pendingId);
    void pump();
    void answered(qint64 seq, const net::Result& result);
    void leave(qint64 seq, bool refused);
    void retryLater();
    void adoptShownTexts();
    void watchOverdue();
    void startNetworkWatch();
    bool shows(const Outbox::Entry& entry) const;
    std::optional<OverlayFloors::Entry> aboutOf(const Outbox::Entry& entry) const;

    ListStore& m_store;
    QNetworkAccessManager& m_network;
    Clock& m_clock;
    MakeRequest m_request;
    std::function<quint64()> m_nextFetch;
    Outbox m_outbox;
    QString m_error;
    qint64 m_inFlight = 0; // the message whose post is under way, if any
    bool m_retryWaiting = false;
    bool m_watchNetwork = false;   // watchNetwork() was called
    bool m_networkWatched = false; // and a post has failed since: the watch is on
    quint64 m_retryRound = 0; // a wait whose round has passed is void
    Delay m_backoff = kFirstRetry;
    qsizetype m_refused = 0;
    qint64 m_overdueCheckAt = 0;
};
