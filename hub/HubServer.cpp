#include "HubServer.h"

#include <sys/socket.h>

namespace {

// A client that goes quiet this long loses its connection; it can always reconnect.
constexpr int kIdleMs = 30'000;
// After a refusal the rest of what the client is still sending is read and dropped, up to
// this much, so that closing does not reset the connection before the answer is read.
constexpr qint64 kMaxDiscard = 1024 * 1024;

} // namespace

HubServer::HubServer(HubRoutes& routes, QObject* parent) : QObject(parent), m_routes(routes) {
    connect(&m_server, &QTcpServer::newConnection, this, &HubServer::acceptPending);
}

bool HubServer::listen(const QHostAddress& address, quint16 port) {
    return m_server.listen(address, port);
}

void HubServer::acceptPending() {
    while (QTcpSocket* socket = m_server.nextPendingConnection())
        new HubConnection(socket, m_routes, this);
}

HubConnection::HubConnection(QTcpSocket* socket, HubRoutes& routes, QObject* parent)
    : QObject(parent), m_socket(socket), m_routes(routes) {
    socket->setParent(this);
    m_idle.setSingleShot(true);
    m_idle.setInterval(kIdleMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        m_socket->abort();
        deleteLater();
    });
    connect(socket, &QTcpSocket::readyRead, this, &HubConnection::readMore);
    connect(socket, &QTcpSocket::bytesWritten, this, &HubConnection::lingerOrClose);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    m_idle.start();
    // Bytes may already be waiting when the connection is handed over.
    QMetaObject::invokeMethod(this, &HubConnection::readMore, Qt::QueuedConnection);
}

void HubConnection::readMore() {
    m_idle.start();
    if (m_closing) {
        m_discarded += m_socket->skip(m_socket->bytesAvailable());
        if (m_discarded > kMaxDiscard) {
            m_socket->abort();
            deleteLater();
        }
        return;
    }
    HttpRequestParser::Status status = m_parser.feed(m_socket->readAll());
    while (status == HttpRequestParser::Status::Ready) {
        const HttpRequest request = m_parser.take();
        const HttpResponse response = m_routes.handle(request);
        write(response, request.method == "HEAD", request.keepAlive);
        if (!request.keepAlive) {
            finish();
            return;
        }
        status = m_parser.feed({});
    }
    if (status == HttpRequestParser::Status::Invalid) {
        answerInvalid();
        return;
    }
    if (m_parser.wantsContinue()) {
        m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
        m_parser.continueSent();
    }
}

void HubConnection::answerInvalid() {
    write(HttpResponse::text(m_parser.errorStatus(), m_parser.errorReason()), false, false);
    finish();
}

void HubConnection::write(const HttpResponse& response, bool headOnly, bool keepAlive) {
    m_socket->write(response.serialize(headOnly, keepAlive));
}

void HubConnection::finish() {
    m_closing = true;
    m_idle.setInterval(2000);
    m_idle.start();
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
    readMore();
}
