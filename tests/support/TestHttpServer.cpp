#include "tests/support/TestHttpServer.h"

#include "hub/HttpRequestParser.h"
#include "hub/HttpResponse.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <sys/socket.h>

QByteArray TestHttpServer::Request::header(const QByteArray& name) const {
    for (const QByteArray& line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent) {
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            socket->setParent(this);
            auto parser = std::make_shared<HttpRequestParser>();
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket, parser] { onReadyRead(socket, *parser); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool TestHttpServer::listen() {
    return server.listen(QHostAddress::LocalHost, 0);
}

QString TestHttpServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

// Requests may arrive in pieces and several on one kept-alive connection; the hub's own parser
// frames them.
void TestHttpServer::onReadyRead(QTcpSocket* socket, HttpRequestParser& parser) {
    HttpRequestParser::Status status = parser.feed(socket->readAll());
    for (; status == HttpRequestParser::Status::Ready; status = parser.next()) {
        const HttpRequest parsed = parser.take();
        Request request{parsed.method, parsed.target, {}, parsed.body};
        for (const auto& [name, value] : parsed.headers.list)
            request.headerLines.append(name + ": " + value);
        requests.append(request);
        emit requestReceived();
        answer(socket, request);
    }
    if (status == HttpRequestParser::Status::Invalid) {
        socket->write(
            HttpResponse::text(parser.errorStatus(), parser.errorReason()).serialize(false, false));
        socket->disconnectFromHost();
    } else if (parser.wantsContinue()) {
        socket->write(HttpResponse::continueLine());
        parser.continueSent();
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
    // The rest of the head as the hub writes it, with a declared length of the test's choice.
    HttpResponse response;
    response.status = a.status;
    response.contentType = a.contentType;
    response.body = a.body;
    const QByteArray whole = response.serialize(true, true);
    head = whole.left(whole.indexOf("\r\n") + 2); // the status line is the hub's now
    for (const QByteArray& line : whole.mid(head.size()).split('\n')) {
        const QByteArray field = line.trimmed();
        if (field.isEmpty())
            continue;
        if (field.toLower().startsWith("content-length:") && a.contentLength >= 0)
            head += "Content-Length: " + QByteArray::number(a.contentLength) + "\r\n";
        else
            head += field + "\r\n";
    }
    head += "\r\n";
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

#include "moc_TestHttpServer.cpp"
