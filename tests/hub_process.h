#pragma once

#include "hub/HttpResponseReader.h"

#include <QProcess>
#include <QTcpSocket>

// Drives the real velloa-hub binary for tests: a free port, a test folder, a fixed topic.
class HubProcess {
public:
    static inline const QString kTopic = QStringLiteral("velloa-test-topic-0123456789a");

    // `withTopic` false: neither --topic nor VELLOA_TOPIC, so the hub falls back to its own.
    explicit HubProcess(const QString& dataDir, const QStringList& extraArgs = {},
                        bool withTopic = true);
    ~HubProcess() { crash(); }

    bool start(); // false if the hub exited before it said it was listening
    void crash(); // SIGKILL, as a crash would: nothing in the hub gets to run
    quint16 port() const { return m_port; }
    const QProcess& process() const { return m_process; }
    QByteArray output() { return m_output += m_process.readAll(); } // stdout and stderr so far

private:
    QProcess m_process;
    QByteArray m_output;
    quint16 m_port = 0;
};

using RawResponse = HttpResponseReader::Response; // status 0: no answer that reads as one

// Sends bytes as they are over a fresh connection and reads until the hub closes it.
RawResponse rawExchange(quint16 port, const QByteArray& request);
// A request with Connection: close, and a Content-Length when there is a body.
QByteArray httpRequest(const QByteArray& method, const QByteArray& path,
                       const QByteArray& body = {});
inline QByteArray topicPath() {
    return '/' + HubProcess::kTopic.toLatin1();
}
inline RawResponse getPath(quint16 port, const QByteArray& path) {
    return rawExchange(port, httpRequest("GET", path));
}

// One kept-alive connection on 127.0.0.1 whose answers are read as they arrive, with the
// hub's own framing. Waiting runs the event loop, so a server in the test process is served.
class HttpClient {
public:
    explicit HttpClient(quint16 port);

    void send(const QByteArray& bytes) { socket.write(bytes); }
    // True once `count` answers in all (interim 100 Continue included) have arrived.
    bool waitForAnswers(qsizetype count, int timeoutMs = 10000);
    bool waitForClose(int timeoutMs = 10000);

    QTcpSocket socket;
    HttpResponseReader reader;
    QList<RawResponse> answers;
};
