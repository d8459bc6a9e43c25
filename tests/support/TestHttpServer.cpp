#include "TestHttpServer.h"

#include "HttpRequestParser.h"
#include "HttpResponse.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

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
    const Answer a = handler ? handler(request) : defaultAnswer;
    QPointer<QTcpSocket> guarded(socket);
    auto send = [guarded, a] {
        if (!guarded)
            return;
        if (a.hangUp) {
            guarded->abort();
            return;
        }
        if (a.endless) {
            // 64 KiB chunks, topped up as the system takes them, so the server itself
            // holds little whatever the client does.
            QByteArray head = "HTTP/1.1 " + QByteArray::number(a.status) + " Test\r\n";
            head += "Content-Type: " + a.contentType + "\r\n";
            guarded->write(head + "Transfer-Encoding: chunked\r\n\r\n");
            static const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n";
            QTcpSocket* socket = guarded;
            auto topUp = [socket] {
                while (socket->state() == QAbstractSocket::ConnectedState &&
                       socket->bytesToWrite() < 4 * chunk.size())
                    socket->write(chunk);
            };
            connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
            topUp();
            return;
        }
        HttpResponse response;
        response.status = a.status;
        response.contentType = a.contentType;
        response.body = a.body;
        QByteArray bytes = response.serialize(false, true);
        if (a.contentLength >= 0) {
            // A declared length of the test's choice, whatever the body holds.
            const QByteArray declared = "Content-Length: " + QByteArray::number(a.body.size()) + "\r\n";
            bytes.replace(bytes.indexOf(declared), declared.size(),
                          "Content-Length: " + QByteArray::number(a.contentLength) + "\r\n");
        }
        guarded->write(bytes);
    };
    if (a.delayMs > 0)
        QTimer::singleShot(a.delayMs, this, send);
    else
        send();
}

bool TestHttpServer::waitForRequests(qsizetype count, int timeoutMs) {
    return QTest::qWaitFor([&] { return requests.size() >= count; }, timeoutMs);
}
