#include "net/Transport.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstring>
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
    // Qt could not send a post again after the connection closed: as for a closed connection.
    if (code == QNetworkReply::ContentReSendError)
        return true;
    return code != QNetworkReply::NoError && !fromStatus;
}

// Qt gives no text with its refusal to send a post again ("Unknown error"): it is what the
// user would have seen otherwise, a closed connection, in Qt's words (and its translation).
QString errorText(QNetworkReply::NetworkError code, const QString& qtText) {
    if (code == QNetworkReply::ContentReSendError)
        return QCoreApplication::translate("QHttp", "Connection closed");
    return qtText;
}

// A post's body that can be read once only. Qt sends a request again by itself (up to twice)
// when the connection closes before an answer, a post too, so a message the relay took before
// hanging up would arrive two or three times while we count one post. Qt rewinds the body
// before it sends it again; this body refuses to once any of it was read, so the post ends
// with an error instead and its sender decides (a rewind before the first byte is harmless:
// nothing of it went out).
class OneShotBody : public QIODevice {
public:
    explicit OneShotBody(const QByteArray& body) : m_body(body) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        return m_body.size() - m_read + QIODevice::bytesAvailable();
    }
    bool reset() override { return m_read == 0; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 n = std::min(maxSize, m_body.size() - m_read);
        std::memcpy(data, m_body.constData() + m_read, size_t(n));
        m_read += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    const QByteArray m_body;
    qint64 m_read = 0;
};

QNetworkReply* post(QNetworkAccessManager& network, QNetworkRequest http,
                    const QByteArray& body) {
    // Qt reads a sequential body straight from the device, without a copy it could rewind,
    // only when it is told the length and told not to buffer it.
    http.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    http.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    auto* device = new OneShotBody(body);
    QNetworkReply* reply = network.post(http, device);
    device->setParent(reply);
    return reply;
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
            m_result.transportError = errorText(m_reply->error(), m_reply->errorString());
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
        request.postBody ? post(network, http, *request.postBody) : network.get(http);
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
