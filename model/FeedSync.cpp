#include "FeedSync.h"

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
    const quint64 sequence = nextSequence++;
    emit fetchStarted();
    auto oversized = std::make_shared<bool>(false);
    // Stop reading a runaway body early instead of holding it all in memory.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, oversized](qint64 received, qint64) {
        if (received > kMaxFeedBytes && !*oversized) {
            *oversized = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, sequence, oversized] {
        reply->deleteLater();
        handleReply(reply, sequence, *oversized);
    });
}

void FeedSync::handleReply(QNetworkReply* reply, quint64 sequence, bool oversized) {
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

    const QByteArray body = oversized || !reply->isOpen() ? QByteArray() : reply->readAll();
    if (oversized || body.size() > kMaxFeedBytes) {
        m_lastError = transportError.value_or(kFetchFailed);
    } else if (body.isEmpty() && transportError) {
        m_lastError = *transportError;
    } else {
        DecodeResult decoded = decodePayload(body);
        if (!decoded.payload) {
            m_lastError = transportError.value_or(kFetchFailed);
        } else {
            appliedSequence = sequence;
            m_lastError.reset();
            state.applyFeed(std::move(*decoded.payload));
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

void FeedSync::postJSON(const QJsonObject& message) {
    const QUrl url(inboxUrl, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(int(postTimeout.count()));
    QNetworkReply* reply = network.post(request, inbox::serialize(message));
    // Fire and forget: the answer is never read, the reply object only has to go away.
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

void FeedSync::postInbox(const QString& id, inbox::Action action) {
    if (rules::isPendingId(id))
        return;
    postJSON(inbox::toggle(state.choice, id, action == inbox::Action::Done,
                           clock.secondsSinceEpoch()));
}

void FeedSync::postInboxEdit(const QString& id, const QString& text) {
    if (rules::isPendingId(id))
        return;
    postJSON(inbox::edit(state.choice, id, text, clock.secondsSinceEpoch()));
}

void FeedSync::postInboxAdd(const QString& text) {
    postJSON(inbox::add(state.choice, text, clock.secondsSinceEpoch()));
}

void FeedSync::postInboxReorder(const QList<inbox::OrderItem>& order) {
    QList<inbox::OrderItem> named;
    for (const inbox::OrderItem& item : order) {
        if (!item.id.isEmpty() && !rules::isPendingId(item.id))
            named.append(item);
    }
    if (named.isEmpty())
        return;
    postJSON(inbox::reorder(state.choice, named, clock.secondsSinceEpoch()));
}
