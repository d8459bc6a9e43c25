#include "hub/HubConnection.h"

#include "hub/HubRoutes.h"

#include <sys/socket.h>

namespace {

// Qt keeps at most this much of what a client sent; the rest waits in the kernel (and then at
// the client) until the connection takes more, so a connection held back by its own unsent
// output does not pile up its client's further requests.
constexpr qint64 kReadChunk = 64 * 1024;
// Bodies go out in pieces of this size, read from memory or disk only as the client takes them.
constexpr qint64 kBodyChunk = 64 * 1024;
// After a refusal the rest of what the client is still sending is read and dropped, up to
// this much, so that closing does not reset the connection before the answer is read.
constexpr qint64 kMaxDiscard = 1024 * 1024;

} // namespace

HubConnection::HubConnection(QTcpSocket* socket, HubRoutes& routes, Clock& clock,
                             const HubLimits& limits, QObject* parent)
    : QObject(parent), m_socket(socket), m_routes(routes), m_clock(clock), m_limits(limits) {
    socket->setParent(this);
    socket->setReadBufferSize(kReadChunk);
    // Answers go out as soon as they are written: waiting to fill a packet would hold a short
    // answer until the client's delayed acknowledgement (up to 40 ms).
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, [this] {
        touch();
        serve();
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        touch();
        if (m_closing)
            lingerOrClose();
        else
            serve();
    });
    connect(socket, &QTcpSocket::disconnected, this, &HubConnection::drop);
    touch();
    watch(m_lastActivityMs + m_limits.idle.count());
    serveLater(); // bytes may already be waiting when the connection is handed over
}

void HubConnection::drop() {
    if (m_ended)
        return;
    m_ended = true;
    m_socket->abort();
    emit ended();
    deleteLater();
}

void HubConnection::serveLater() {
    if (m_serveQueued)
        return;
    m_serveQueued = true;
    QMetaObject::invokeMethod(this, &HubConnection::serve, Qt::QueuedConnection);
}

void HubConnection::serve() {
    m_serveQueued = false;
    if (m_ended)
        return;
    if (m_closing) {
        m_discarded += m_socket->skip(m_socket->bytesAvailable());
        if (m_discarded > kMaxDiscard)
            drop();
        return;
    }
    if (m_awaiting)
        return;
    for (int answered = 0;;) {
        // Back-pressure: no further request is read while this answer is not handed over
        // whole or the unsent output is above the bound; bytesWritten brings us back.
        if (m_out.active && !sendBody())
            return;
        if (m_out.closeAfter) {
            finish();
            return;
        }
        if (answered == m_limits.requestsPerTurn) {
            serveLater(); // the other connections first
            return;
        }
        const std::optional<HttpRequest> request = nextRequest();
        if (!request || !respond(*request))
            return;
        ++answered;
    }
}

std::optional<HttpRequest> HubConnection::nextRequest() {
    HttpRequestParser::Status status = m_parser.next();
    while (status == HttpRequestParser::Status::NeedMore && m_socket->bytesAvailable() > 0) {
        m_parser.append(m_socket->read(kReadChunk));
        status = m_parser.next();
    }
    if (status == HttpRequestParser::Status::Invalid) {
        refuse(m_parser.errorStatus(), m_parser.errorReason());
        return std::nullopt;
    }
    if (status == HttpRequestParser::Status::NeedMore) {
        if (m_parser.wantsContinue()) {
            m_socket->write(HttpResponse::continueLine());
            m_parser.continueSent();
        }
        if (m_parser.midRequest() && m_requestStartMs < 0) {
            m_requestStartMs = nowMs();
            watch(m_requestStartMs + m_limits.requestDeadline.count());
        }
        return std::nullopt;
    }
    m_requestStartMs = -1;
    return m_parser.take();
}

bool HubConnection::respond(const HttpRequest& request) {
    const bool headOnly = request.method == "HEAD", keepAlive = request.keepAlive;
    const auto answer =
        m_routes.handle(request, this, [this, headOnly, keepAlive](const HttpResponse& later) {
            m_awaiting = false;
            if (m_ended)
                return;
            start(later, headOnly, keepAlive);
            serve();
        });
    if (!answer) {
        // Answers leave in request order, and a request after a message sees it applied:
        // nothing further is read until this answer is in.
        m_awaiting = true;
        return false;
    }
    start(*answer, headOnly, keepAlive);
    return true;
}

void HubConnection::start(const HttpResponse& response, bool headOnly, bool keepAlive) {
    m_out = Outgoing{true, !keepAlive, {}, 0, nullptr, 0};
    if (!headOnly) {
        m_out.body = response.body;
        m_out.stream = response.stream;
        m_out.streamLeft = response.streamLength;
    }
    // A short answer leaves in one piece, head and body together.
    QByteArray head = response.head(keepAlive);
    if (m_out.body.size() <= kBodyChunk) {
        head += m_out.body;
        m_out.offset = m_out.body.size();
    }
    m_socket->write(head);
}

// Hands the body over while the unsent output is below the bound; true once all of it is
// handed over and the output is below the bound (also for an answer without a body).
bool HubConnection::sendBody() {
    while (m_socket->bytesToWrite() < m_limits.maxUnsent) {
        if (m_out.offset < m_out.body.size()) {
            const qsizetype n = std::min<qsizetype>(kBodyChunk, m_out.body.size() - m_out.offset);
            m_socket->write(m_out.body.constData() + m_out.offset, n);
            m_out.offset += n;
        } else if (m_out.streamLeft > 0) {
            const QByteArray chunk = m_out.stream->read(std::min(kBodyChunk, m_out.streamLeft));
            if (chunk.isEmpty()) {
                // The file shrank or cannot be read: an answer cut short must not end like a
                // whole one, so the connection goes.
                drop();
                return false;
            }
            m_socket->write(chunk);
            m_out.streamLeft -= chunk.size();
        } else {
            m_out = Outgoing{false, m_out.closeAfter, {}, 0, nullptr, 0};
            return true;
        }
    }
    return false;
}

void HubConnection::refuse(int status, const QByteArray& reason) {
    m_socket->write(HttpResponse::text(status, reason).serialize(false, false));
    finish();
}

void HubConnection::finish() {
    m_closing = true;
    touch();
    watch(m_lastActivityMs + m_limits.linger.count());
    lingerOrClose();
}

// Once the answer is out, stop sending but keep reading until the client closes, so the
// answer reaches it even when it was still sending a body we refused.
void HubConnection::lingerOrClose() {
    if (!m_closing || m_halfClosed || m_socket->bytesToWrite() > 0)
        return;
    m_halfClosed = true;
    if (::shutdown(int(m_socket->socketDescriptor()), SHUT_WR) != 0)
        m_socket->disconnectFromHost();
    serve();
}

void HubConnection::touch() {
    m_lastActivityMs = nowMs();
}

// One check is kept pending, for the earliest moment a limit could run out; activity only
// moves a timestamp, and the check looks again when it comes.
void HubConnection::watch(qint64 dueMs) {
    if (m_checkAtMs >= 0 && m_checkAtMs <= dueMs)
        return;
    m_checkAtMs = dueMs;
    m_clock.schedule(Clock::Delay(std::max<qint64>(0, dueMs - nowMs())), this, [this, dueMs] {
        if (m_checkAtMs == dueMs)
            checkTimers();
    });
}

void HubConnection::checkTimers() {
    m_checkAtMs = -1;
    if (m_ended)
        return;
    const qint64 now = nowMs();
    if (m_closing) {
        if (now - m_lastActivityMs >= m_limits.linger.count())
            drop();
        else
            watch(m_lastActivityMs + m_limits.linger.count());
        return;
    }
    if (m_requestStartMs >= 0 && now - m_requestStartMs >= m_limits.requestDeadline.count()) {
        m_requestStartMs = -1;
        refuse(408, "the request did not arrive whole within " +
                        QByteArray::number(m_limits.requestDeadline.count() / 1000) + " s");
        return;
    }
    if (now - m_lastActivityMs >= m_limits.idle.count()) {
        drop(); // nothing moved either way: the client is gone or stuck
        return;
    }
    qint64 due = m_lastActivityMs + m_limits.idle.count();
    if (m_requestStartMs >= 0)
        due = std::min(due, m_requestStartMs + m_limits.requestDeadline.count());
    watch(due);
}

#include "moc_HubConnection.cpp"
