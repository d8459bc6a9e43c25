#pragma once

#include <QProcess>

// Drives the real velloa-hub binary for tests: a free port, a test folder, a fixed topic.
class HubProcess {
public:
    static inline const QString kTopic = QStringLiteral("velloa-test-topic-0123456789a");

    explicit HubProcess(const QString& dataDir, const QStringList& extraArgs = {});
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

struct RawResponse {
    int status = 0;  // 0: no parseable answer
    QByteArray head; // header lines, each ending in CRLF; lower-cased, as names are case-blind
    QByteArray body;
};

// Sends bytes as they are over a fresh connection and reads until the hub closes it.
RawResponse rawExchange(quint16 port, const QByteArray& request);
// A request with Connection: close, and a Content-Length when there is a body.
QByteArray httpRequest(const QByteArray& method, const QByteArray& path,
                       const QByteArray& body = {});
inline QByteArray topicPath() { return '/' + HubProcess::kTopic.toLatin1(); }
inline RawResponse getPath(quint16 port, const QByteArray& path) {
    return rawExchange(port, httpRequest("GET", path));
}
