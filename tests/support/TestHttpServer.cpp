#include "TestHttpServer.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <sys/socket.h>

QByteArray TestHttpServer::Request::header(const QByteArray& name) const {
    for (const QByteArray& line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent) {
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QObject::destroyed, this, [this, socket] { buffers.remove(socket); });
        }
    });
}

bool TestHttpServer::listen() {
    return server.listen(QHostAddress::LocalHost, 0);
}

QString TestHttpServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void TestHttpServer::onReadyRead(QTcpSocket* socket) {
    // Requests may arrive in pieces and several on one kept-alive connection.
    QByteArray& buffer = buffers[socket];
    buffer += socket->readAll();
    for (;;) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        Request request;
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        qsizetype length = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            QByteArray line = lines[i];
            if (line.endsWith('\r'))
                line.chop(1);
            request.headerLines.append(line);
        }
        length = request.header("Content-Length").toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        request.body = buffer.mid(end + 4, length);
        buffer.remove(0, end + 4 + length);
        requests.append(request);
        emit requestReceived();
        answer(socket, request);
    }
}

void TestHttpServer::answer(QTcpSocket* socket, const Request& request) {
    QPointer<QTcpSocket> guarded(socket);
    if (deferredHandler) {
        deferredHandler(request, [this, guarded](const Answer& a) {
            if (guarded)
                send(guarded, a);
        });
        return;
    }
    const Answer a = handler ? handler(request) : defaultAnswer;
    if (a.delayMs > 0)
        QTimer::singleShot(a.delayMs, this, [this, guarded, a] {
            if (guarded)
                send(guarded, a);
        });
    else
        send(socket, a);
}

void TestHttpServer::send(QTcpSocket* socket, const Answer& a) {
    if (a.hangUp) {
        socket->abort();
        return;
    }
    // Clients read the status code only; the reason phrase is free text.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(a.status) + " Test\r\n";
    head += "Content-Type: " + a.contentType + "\r\n";
    if (a.endless) {
        socket->write(head + "Transfer-Encoding: chunked\r\n\r\n");
        // 64 KiB chunks, topped up as the system takes them, so the server itself
        // holds little whatever the client does.
        static const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n";
        auto topUp = [socket] {
            while (socket->state() == QAbstractSocket::ConnectedState &&
                   socket->bytesToWrite() < 4 * chunk.size())
                socket->write(chunk);
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
        topUp();
        return;
    }
    const qint64 length = a.contentLength >= 0 ? a.contentLength : a.body.size();
    head += "Content-Length: " + QByteArray::number(length) + "\r\n\r\n";
    const auto finish = [socket, a] {
        if (a.resetAfter) {
            socket->flush();
            // A zero linger time makes the close a reset.
            const linger noLinger{1, 0};
            ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger,
                         sizeof noLinger);
            socket->abort();
        } else if (a.closeAfter) {
            socket->disconnectFromHost();
        }
    };
    if (a.dripMs <= 0) {
        socket->write(head + a.body);
        finish();
        return;
    }
    socket->write(head);
    auto* drip = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    connect(drip, &QTimer::timeout, socket, [socket, drip, sent, a, finish] {
        if (*sent >= a.body.size()) {
            drip->stop();
            finish();
            return;
        }
        socket->write(a.body.mid((*sent)++, 1));
    });
    drip->start(a.dripMs);
}

bool TestHttpServer::waitForRequests(qsizetype count, int timeoutMs) {
    return QTest::qWaitFor([&] { return requests.size() >= count; }, timeoutMs);
}
