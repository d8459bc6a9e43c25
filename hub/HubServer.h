#pragma once

#include "hub/HubLimits.h"

#include <QHostAddress>
#include <QList>
#include <QTcpServer>

class HubConnection;
class HubRoutes;

// A small HTTP/1.1 server over QTcpServer: each connection reads requests with
// HttpRequestParser, asks HubRoutes for the answer and writes it back. At most
// `limits.maxConnections` are open; one more closes the one idle longest.
class HubServer : public QObject {
    Q_OBJECT
public:
    HubServer(HubRoutes& routes, Clock& clock = Clock::system(), HubLimits limits = {},
              QObject* parent = nullptr);

    bool listen(const QHostAddress& address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

    qsizetype connectionCount() const { return m_connections.size(); }
    // Output handed to the connections and not yet taken by the kernel, summed.
    qint64 unsentBytes() const;

private:
    void acceptPending();
    bool evictOne();

    HubRoutes& m_routes;
    Clock& m_clock;
    const HubLimits m_limits;
    QTcpServer m_server;
    QList<HubConnection*> m_connections; // oldest first
};
