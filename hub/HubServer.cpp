#include "hub/HubServer.h"

#include "hub/HubConnection.h"

HubServer::HubServer(HubRoutes& routes, Clock& clock, HubLimits limits, QObject* parent)
    : QObject(parent), m_routes(routes), m_clock(clock), m_limits(limits) {
    connect(&m_server, &QTcpServer::newConnection, this, &HubServer::acceptPending);
    // Out of file descriptors: Qt stops accepting. Make room and go on, or, with no
    // connection to close, try again a second later rather than spin.
    connect(&m_server, &QTcpServer::acceptError, this, [this] {
        if (evictOne())
            m_server.resumeAccepting();
        else
            m_clock.schedule(std::chrono::seconds(1), this, [this] { m_server.resumeAccepting(); });
    });
}

bool HubServer::listen(const QHostAddress& address, quint16 port) {
    return m_server.listen(address, port);
}

qint64 HubServer::unsentBytes() const {
    qint64 sum = 0;
    for (const HubConnection* connection : m_connections)
        sum += connection->unsentBytes();
    return sum;
}

void HubServer::acceptPending() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_connections.size() >= m_limits.maxConnections)
            evictOne();
        auto* connection = new HubConnection(socket, m_routes, m_clock, m_limits, this);
        m_connections.append(connection);
        connect(connection, &HubConnection::ended, this,
                [this, connection] { m_connections.removeOne(connection); });
    }
}

// The connection that moved nothing for longest goes, one that is sending an answer only when
// every one is; a client can always reconnect.
bool HubServer::evictOne() {
    HubConnection* victim = nullptr;
    for (HubConnection* connection : std::as_const(m_connections)) {
        if (!victim || (victim->sending() && !connection->sending()) ||
            (victim->sending() == connection->sending() &&
             connection->lastActivityMs() < victim->lastActivityMs()))
            victim = connection;
    }
    if (!victim)
        return false;
    victim->drop();
    return true;
}

#include "moc_HubServer.cpp"
