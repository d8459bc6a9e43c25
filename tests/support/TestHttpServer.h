#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <functional>

class HttpRequestParser;
class QTcpSocket;

// A loopback HTTP/1.1 server for network tests. It reads requests with the hub's parser,
// records each one and answers as the test programs it: a status and body, after a delay, or
// by hanging up.
class TestHttpServer : public QObject {
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QList<QByteArray> headerLines; // "name: value", the name lower-cased, in arrival order
        QByteArray body;

        QByteArray header(const QByteArray& name) const; // first value, name case-insensitive
    };

    struct Answer {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        int delayMs = 0;
        bool hangUp = false; // close the connection without any answer
        // A chunked body that never ends, sent as fast as the client takes it.
        bool endless = false;
        // Declared instead of the body's size; after the body the connection stays open.
        qint64 contentLength = -1;
        // The body one byte every `dripMs` milliseconds instead of all at once.
        int dripMs = 0;
        // After the body: close the connection (with a larger contentLength, a body cut
        // short), or reset it (RST, no orderly close).
        bool closeAfter = false;
        bool resetAfter = false;
    };

    explicit TestHttpServer(QObject* parent = nullptr);

    bool listen(); // 127.0.0.1, a free port
    quint16 port() const { return server.serverPort(); }
    QString url(const QString& path) const;

    // Decides the answer per request; by default every request gets `defaultAnswer`.
    std::function<Answer(const Request&)> handler;
    Answer defaultAnswer;
    // Takes precedence over `handler`: the answer is sent whenever the test calls `reply`,
    // as a proxy does once its upstream has answered.
    std::function<void(const Request&, std::function<void(const Answer&)> reply)> deferredHandler;

    QList<Request> requests;

    bool waitForRequests(qsizetype count, int timeoutMs = 10000);

signals:
    void requestReceived();

private:
    void onReadyRead(QTcpSocket* socket, HttpRequestParser& parser);
    void answer(QTcpSocket* socket, const Request& request);
    void send(QTcpSocket* socket, const Answer& answer);

    QTcpServer server;
};
