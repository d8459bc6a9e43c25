#include "net/Transport.h"

#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <memory>

namespace net {

namespace {

// Qt reports an HTTP error status as a reply error too, but the server did answer and its body
// counts: only failures to get an answer at all (connection, time-out, proxy, TLS) are
// transport errors.
bool isTransportError(QNetworkReply::NetworkError code) {
    const int c = int(code);
    const bool fromStatus = (c >= 200 && c < 300) ||
                            code == QNetworkReply::ProtocolInvalidOperationError ||
                            (c >= 400 && c < 500);
    return code != QNetworkReply::NoError && !fromStatus;
}

// One request under way. The body is taken as it arrives, never beyond the cap and never after
// the deadline; the reply's signals hold this and let it go with the reply.
class Transfer {
public:
    Transfer(QNetworkReply* reply, const Request& request, QObject* context,
             std::function<void(Result)> done)
        : m_reply(reply), m_limits(request.limits), m_sink(request.sink), m_context(context),
          m_done(std::move(done)) {}

    // A declared length over the cap is refused before a byte of the body is read.
    void onHeaders() {
        const QVariant header = m_reply->header(QNetworkRequest::ContentLengthHeader);
        const qint64 declared = header.isValid() ? header.toLongLong() : -1;
        if (m_result.aborted || declared < 0)
            return;
        if (declared > m_limits.maxBytes)
            refuse();
        else if (!m_sink)
            m_result.body.reserve(declared);
    }

    void take() {
        if (m_over || m_result.aborted || !m_reply->isOpen())
            return;
        const qint64 available = m_reply->bytesAvailable();
        if (m_result.received + available > m_limits.maxBytes)
            return refuse();
        if (available <= 0)
            return;
        const QByteArray chunk = m_reply->read(available);
        if (m_sink) {
            if (m_sink->write(chunk) != chunk.size()) {
                m_result.sinkError = m_sink->errorString();
                return stop();
            }
        } else {
            // Without a declared length the body may run up to the cap: room for all of it is
            // taken at once, so growing never holds the body twice (pages never written to
            // cost no memory).
            if (m_result.body.capacity() == 0)
                m_result.body.reserve(m_limits.maxBytes);
            m_result.body += chunk;
        }
        m_result.received += chunk.size();
    }

    void onDeadline() {
        if (!m_reply->isRunning())
            return;
        m_result.deadlineHit = true;
        stop(); // reads as Qt's own transfer time-out does: "Operation canceled"
    }

    void onSent(qint64 sent, qint64 total) {
        if (total > 0 && sent == total)
            m_result.requestSent = true;
    }

    void finish() {
        m_reply->deleteLater();
        take();
        m_over = true; // the sink may go with `done`
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        m_result.status = status.isValid() ? status.toInt() : 0;
        m_result.url = m_reply->url();
        const bool oursForTheBody = m_result.oversized || !m_result.sinkError.isEmpty();
        if (!oursForTheBody && isTransportError(m_reply->error()))
            m_result.transportError = m_reply->errorString();
        std::function<void(Result)> done = std::move(m_done);
        if (m_context && done)
            done(std::move(m_result));
    }

private:
    void stop() {
        m_result.aborted = true;
        m_reply->abort(); // emits finished at once
    }

    void refuse() {
        m_result.oversized = true;
        m_result.body = QByteArray();
        stop();
    }

    QNetworkReply* m_reply;
    Limits m_limits;
    QIODevice* m_sink;
    QPointer<QObject> m_context;
    std::function<void(Result)> m_done;
    Result m_result;
    bool m_over = false;
};

} // namespace

void send(QNetworkAccessManager& network, const Request& request, QObject* context,
          std::function<void(Result)> done) {
    QNetworkRequest http = request.http;
    http.setTransferTimeout(int(request.limits.idleTimeout.count()));
    QNetworkReply* reply =
        request.postBody ? network.post(http, *request.postBody) : network.get(http);
    // With a read buffer Qt's network thread stops reading the socket while that much waits
    // for us, so the body is held once, here, and the cap bounds the memory a request takes,
    // however much the server sends.
    reply->setReadBufferSize(request.limits.readBufferBytes);
    auto transfer = std::make_shared<Transfer>(reply, request, context, std::move(done));
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply,
                     [transfer] { transfer->onHeaders(); });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [transfer] { transfer->take(); });
    QObject::connect(reply, &QNetworkReply::uploadProgress, reply,
                     [transfer](qint64 sent, qint64 total) { transfer->onSent(sent, total); });
    QObject::connect(reply, &QNetworkReply::finished, reply, [transfer] { transfer->finish(); });
    // A child of the reply, so it goes with it instead of holding the transfer until it fires.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [transfer] { transfer->onDeadline(); });
    deadline->start(request.limits.deadline);
}

PostOutcome classifyPost(const Result& result) {
    const int status = result.status;
    if (status >= 200 && status < 300)
        return PostOutcome::Taken;
    if (status == 408 || status == 425 || status == 429 || (status >= 500 && status < 600))
        return PostOutcome::Retry;
    if (status != 0)
        return PostOutcome::Refused;
    return result.requestSent ? PostOutcome::Unknown : PostOutcome::Retry;
}

} // namespace net
