#pragma once

#include "HttpRequestParser.h"
#include "HubRoutes.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// A small HTTP/1.1 server over QTcpServer: it reads requests with HttpRequestParser, asks
// HubRoutes for the answer and writes it back. Keep-alive and pipelining are kept; a
// request that cannot be framed gets its answer and the connection ends.
class HubServer : public QObject {
    Q_OBJECT
public:
    HubServer(HubRoutes& routes, QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

private:
    void acceptPending();

    HubRoutes& m_routes;
    QTcpServer m_server;
};

// One client connection.
class HubConnection : public QObject {
    Q_OBJECT
public:
    HubConnection(QTcpSocket* socket, HubRoutes& routes, QObject* parent);

private:
    void readMore();
    void answerInvalid();
    void write(const HttpResponse& response, bool headOnly, bool keepAlive);
    void finish();
    void lingerOrClose();

    QTcpSocket* m_socket;
    HubRoutes& m_routes;
    HttpRequestParser m_parser;
    QTimer m_idle;
    bool m_closing = false;
    bool m_halfClosed = false;
    qint64 m_discarded = 0;
};
