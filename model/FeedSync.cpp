#include "FeedSync.h"

#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <memory>

namespace {

const QString kFetchFailed = QStringLiteral("拉取失败");

// Qt reports an HTTP error status as a reply error too, but the server did answer: only
// failures to get an answer at all (connection, time-out, proxy, TLS) count as transport errors.
bool isTransportError(QNetworkReply::NetworkError code) {
    const int c = int(code);
    const bool fromStatus = (c >= 200 && c < 300) || c == QNetworkReply::ProtocolInvalidOperationError ||
                            (c >= 400 && c < 500);
    return code != QNetworkReply::NoError && !fromStatus;
}

// The body of one fetch, taken in as it arrives, never beyond the cap and never after the
// deadline. The deadline is checked as bytes arrive: a fetch that receives nothing is ended by
// the transfer timeout instead.
struct Body {
    QByteArray data;
    bool oversized = false;
    QDeadlineTimer deadline;

    void checkDeadline(QNetworkReply* reply) {
        if (deadline.hasExpired() && reply->isRunning())
            reply->abort(); // as Qt's own transfer timeout does
    }

    void refuse(QNetworkReply* reply) {
        oversized = true;
        data = QByteArray();
        reply->abort(); // emits finished at once
    }

    // A declared length over the cap is refused before a byte of the body is read.
    void checkDeclaredLength(QNetworkReply* reply) {
        const QVariant header = reply->header(QNetworkRequest::ContentLengthHeader);
        const qint64 declared = header.isValid() ? header.toLongLong() : -1;
        if (oversized || declared < 0)
            return;
        if (declared > FeedSync::kMaxFeedBytes)
            refuse(reply);
        else
            data.reserve(declared);
    }

    void take(QNetworkReply* reply) {
        checkDeadline(reply);
        if (oversized || !reply->isOpen())
            return;
        const qint64 available = reply->bytesAvailable();
        if (data.size() + available > FeedSync::kMaxFeedBytes) {
            refuse(reply);
            return;
        }
        // Without a declared length the body may run up to the cap: room for all of it is
        // taken at once, so growing never holds the body twice (pages never written to cost
        // no memory).
        if (data.capacity() == 0 && available > 0)
            data.reserve(FeedSync::kMaxFeedBytes);
        data += reply->readAll();
    }
};

} // namespace

FeedSync::FeedSync(ListState& state, QNetworkAccessManager& network, Clock& clock,
                   QObject* parent)
    : QObject(parent), state(state), network(network), clock(clock) {}

void FeedSync::refresh() {
    const QUrl url(dataUrl, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    // No cache is attached to the network manager, so the GET always goes to the server;
    // forcing AlwaysNetwork would only add no-cache header fields.
    QNetworkRequest request(url);
    request.setTransferTimeout(int(fetchTimeout.count()));
    QNetworkReply* reply = network.get(request);
    // Qt's network thread reads ahead of us without bound unless told otherwise, and a transfer
    // aborted after the fact has already been held whole. With a read buffer it stops reading
    // the socket while that much waits for us, so the body is held once, here, and the cap
    // bounds the memory a fetch takes, however much the server sends.
    reply->setReadBufferSize(kReadBufferBytes);
    const quint64 sequence = nextSequence++;
    emit fetchStarted();
    auto body = std::make_shared<Body>();
    body->deadline.setRemainingTime(fetchDeadline);
    connect(reply, &QNetworkReply::metaDataChanged, reply,
            [reply, body] { body->checkDeclaredLength(reply); });
    connect(reply, &QNetworkReply::readyRead, reply, [reply, body] { body->take(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, sequence, body] {
        reply->deleteLater();
        body->take(reply);
        handleReply(reply, sequence, body->data, body->oversized);
    });
}

void FeedSync::handleReply(QNetworkReply* reply, quint64 sequence, const QByteArray& body,
                           bool oversized) {
    // Several fetches can be in flight. An answer to a request started before the one whose
    // feed is shown would turn back the clock (a tick the feed already confirmed would flip
    // back), so it is dropped without a trace, not even in lastError.
    if (sequence < appliedSequence) {
        emit answerHandled();
        return;
    }
    std::optional<QString> transportError;
    if (!oversized && isTransportError(reply->error()))
        transportError = reply->errorString();

    if (oversized) {
        // The abort was ours: the body counts as one that does not decode.
        m_lastError = kFetchFailed;
    } else if (body.isEmpty() && transportError) {
        m_lastError = *transportError;
    } else {
        // The bytes of the feed shown decode to the feed shown: it is reconciled once more
        // (the overlay may have changed since) but not decoded and built again. An idle app
        // fetches the same document every 30 s; decoding 10,000 tasks anew each time cost tens
        // of milliseconds and left the replaced copy's memory scattered through the heap.
        const bool same = m_shown && body == m_shown->body;
        std::optional<Payload> payload = same ? m_shown->payload : decodePayload(body).payload;
        if (!payload) {
            m_lastError = transportError.value_or(kFetchFailed);
        } else {
            appliedSequence = sequence;
            m_lastError.reset();
            if (!same)
                m_shown = Shown{QByteArray(body.constData(), body.size()), *payload};
            state.applyFeed(std::move(*payload), sequence);
        }
    }
    if (m_lastError)
        emit refreshFailed(*m_lastError);
    else
        emit feedApplied();
    emit answerHandled();
}

void FeedSync::scheduleQuickRefresh() {
    using namespace std::chrono_literals;
    for (const Delay delay : {Delay(4s), Delay(12s), Delay(30s)})
        clock.schedule(delay, this, [this] { refresh(); });
}

void FeedSync::postJSON(const QJsonObject& message,
                        const std::optional<OverlayFloors::Entry>& about) {
    const QUrl url(inboxUrl, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(int(postTimeout.count()));
    QNetworkReply* reply = network.post(request, inbox::serialize(message));
    // Fire and forget: the answer is never read, the reply object only has to go away. Only
    // its arrival counts: a failure too, as the message may have arrived all the same.
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    if (!about)
        return;
    state.floors.sent(*about);
    connect(reply, &QNetworkReply::finished, this,
            [this, entry = *about] { state.floors.answered(entry, nextSequence); });
}

void FeedSync::postInbox(const QString& id, inbox::Action action) {
    if (rules::isPendingId(id))
        return;
    postJSON(
        inbox::toggle(state.choice, id, action == inbox::Action::Done, clock.secondsSinceEpoch()),
        OverlayFloors::Entry{OverlayFloors::Kind::Done, id});
}

void FeedSync::postInboxEdit(const QString& id, const QString& text) {
    if (rules::isPendingId(id))
        return;
    postJSON(inbox::edit(state.choice, id, text, clock.secondsSinceEpoch()),
             OverlayFloors::Entry{OverlayFloors::Kind::Text, id});
}

void FeedSync::postInboxAdd(const QString& text, const QString& pendingId) {
    std::optional<OverlayFloors::Entry> about;
    if (!pendingId.isEmpty())
        about = OverlayFloors::Entry{OverlayFloors::Kind::Add, pendingId};
    postJSON(inbox::add(state.choice, text, clock.secondsSinceEpoch()), about);
}

void FeedSync::postInboxReorder(const QList<inbox::OrderItem>& order) {
    QList<inbox::OrderItem> named;
    for (const inbox::OrderItem& item : order) {
        if (!item.id.isEmpty() && !rules::isPendingId(item.id))
            named.append(item);
    }
    if (named.isEmpty())
        return;
    postJSON(inbox::reorder(state.choice, named, clock.secondsSinceEpoch()),
             OverlayFloors::Entry{OverlayFloors::Kind::Order, state.choice});
}
