#pragma once

#include "hub/HttpRequestParser.h"
#include "hub/HttpResponse.h"
#include "hub/HubLimits.h"

#include <QObject>
#include <QTcpSocket>

#include <optional>

class HubRoutes;

// One client connection: reads requests with HttpRequestParser, asks HubRoutes for each answer
// (a message's comes once its journal group is synced) and writes it back, keeping keep-alive
// and pipelining. It answers at most a few requests per event-loop turn, parses no further
// request while an answer is awaited or its unsent output is above the bound, and closes
// itself when the client makes no progress either way or sends a request too slowly.
class HubConnection : public QObject {
    Q_OBJECT
public:
    HubConnection(QTcpSocket* socket, HubRoutes& routes, Clock& clock, const HubLimits& limits,
                  QObject* parent);

    // Clock time of the last byte moved either way.
    qint64 lastActivityMs() const { return m_lastActivityMs; }
    // True while an answer is being prepared or on its way out: the connection is doing
    // useful work.
    bool sending() const { return m_awaiting || m_out.active || m_socket->bytesToWrite() > 0; }
    qint64 unsentBytes() const { return m_socket->bytesToWrite(); }
    // Ends the connection at once and deletes it later.
    void drop();

signals:
    void ended();

private:
    struct Outgoing {
        bool active = false;
        bool closeAfter = false;
        QByteArray body;
        qsizetype offset = 0;
        std::shared_ptr<QIODevice> stream;
        qint64 streamLeft = 0;
    };

    void serve();
    void serveLater();
    // The next request once it has arrived whole. Otherwise nothing: an invalid one has been
    // refused, or the rest is awaited (with its deadline running from its first byte).
    std::optional<HttpRequest> nextRequest();
    // Asks the routes for the answer and starts it; false when it comes later.
    bool respond(const HttpRequest& request);
    void start(const HttpResponse& response, bool headOnly, bool keepAlive);
    bool sendBody();
    void refuse(int status, const QByteArray& reason);
    void finish();
    void lingerOrClose();
    void touch();
    void watch(qint64 dueMs);
    void checkTimers();
    qint64 nowMs() const { return m_clock.msecsSinceEpoch(); }

    QTcpSocket* m_socket;
    HubRoutes& m_routes;
    Clock& m_clock;
    const HubLimits& m_limits;
    HttpRequestParser m_parser;
    Outgoing m_out;
    qint64 m_lastActivityMs = 0;
    qint64 m_requestStartMs = -1; // first byte of the request still arriving
    qint64 m_checkAtMs = -1;      // when the next timer check is due
    bool m_serveQueued = false;
    bool m_awaiting = false; // a message waits for its journal sync before it is answered
    bool m_closing = false;
    bool m_halfClosed = false;
    bool m_ended = false;
    qint64 m_discarded = 0;
};
