#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QStringList>

// Drives the real velloa-hub binary for tests: started on a free port with a test folder.
class HubProcess {
public:
    static inline const QString kTopic = QStringLiteral("velloa-test-topic-0123456789a");

    explicit HubProcess(QString dataDir, QStringList extraArgs = {});
    ~HubProcess();

    // Starts the hub and waits for its "listening" line. False if it exited instead. The
    // topic is kTopic, given on the command line unless the process environment has one.
    bool start();
    // SIGKILL, as a crash would: nothing in the hub gets to run.
    void crash();
    // Starts the hub expecting it to refuse; returns its exit code (-1 if it kept running).
    int runToExit(int timeoutMs = 15000);

    quint16 port() const { return m_port; }
    // Everything the hub wrote so far on stdout and stderr.
    QByteArray output();
    QProcess& process() { return m_process; }

private:
    void launch();

    QString m_dataDir;
    QStringList m_extraArgs;
    QProcess m_process;
    QByteArray m_output;
    quint16 m_port = 0;
};

struct RawResponse {
    int status = 0;                       // 0: no parseable answer
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
};

// Sends bytes as they are over a fresh connection and reads until the hub closes it.
RawResponse rawExchange(quint16 port, const QByteArray& request, int timeoutMs = 10000);
// POST of `body` to /TOPIC (or any path) with a correct Content-Length and Connection: close.
QByteArray postRequest(const QByteArray& path, const QByteArray& body);
RawResponse postMessage(quint16 port, const QByteArray& body);
RawResponse getPath(quint16 port, const QByteArray& path);
