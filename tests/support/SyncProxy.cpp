#include "tests/support/SyncProxy.h"

#include <QTcpSocket>

SyncProxy::SyncProxy(quint16 upstreamPort) : upstream(upstreamPort) {
    server.deferredHandler = [this](const TestHttpServer::Request& request,
                                    std::function<void(const Answer&)> reply) {
        waiting.append({request, std::move(reply), {}});
    };
}

bool SyncProxy::forward(qsizetype i) {
    Exchange exchange = waiting.takeAt(i);
    const TestHttpServer::Request& r = exchange.request;
    QByteArray bytes = r.method + ' ' + r.path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!r.body.isEmpty())
        bytes += "Content-Type: application/json\r\nContent-Length: " +
                 QByteArray::number(r.body.size()) + "\r\n";
    bytes += "Connection: close\r\n\r\n" + r.body;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), upstream);
    socket.write(bytes);
    QByteArray all;
    while (socket.waitForReadyRead(10000)) // false once the hub has closed the connection
        all += socket.readAll();
    const qsizetype headEnd = all.indexOf("\r\n\r\n");
    if (!all.startsWith("HTTP/1.1 ") || headEnd < 0)
        return false;
    exchange.answer.status = all.mid(9, 3).toInt();
    exchange.answer.body = all.mid(headEnd + 4);
    answered.append(std::move(exchange));
    return true;
}

void SyncProxy::lose(qsizetype i) {
    waiting.takeAt(i).reply(Answer{200, "ok", "text/plain"});
}

void SyncProxy::deliver(qsizetype i) {
    const Exchange exchange = answered.takeAt(i);
    exchange.reply(exchange.answer);
}
