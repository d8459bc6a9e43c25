#include "hub_process.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

HubProcess::HubProcess(QString dataDir, QStringList extraArgs)
    : m_dataDir(std::move(dataDir)), m_extraArgs(std::move(extraArgs)) {
    m_process.setProgram(QStringLiteral(VELLOA_HUB_BIN));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

HubProcess::~HubProcess() {
    if (m_process.state() != QProcess::NotRunning)
        crash();
}

void HubProcess::launch() {
    QStringList args{"--port", "0", "--data", m_dataDir};
    if (!m_process.processEnvironment().contains("VELLOA_TOPIC"))
        args << "--topic" << kTopic;
    m_process.setArguments(args + m_extraArgs);
    m_process.start();
}

bool HubProcess::start() {
    m_port = 0;
    launch();
    if (!m_process.waitForStarted(10000))
        return false;
    const QByteArray prefix = "velloa-hub listening on http://127.0.0.1:";
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        const QByteArray all = output();
        const qsizetype at = all.indexOf(prefix);
        const qsizetype end = at < 0 ? -1 : all.indexOf("/\n", at);
        if (end > 0) {
            m_port = quint16(all.mid(at + prefix.size(), end - at - prefix.size()).toUInt());
            return m_port != 0;
        }
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(100);
    }
    return false;
}

void HubProcess::crash() {
    m_process.kill();
    m_process.waitForFinished(10000);
    output();
}

int HubProcess::runToExit(int timeoutMs) {
    launch();
    if (!m_process.waitForFinished(timeoutMs)) {
        crash();
        return -1;
    }
    output();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QByteArray HubProcess::output() {
    m_output += m_process.readAll();
    return m_output;
}

RawResponse rawExchange(quint16 port, const QByteArray& request, int timeoutMs) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    RawResponse response;
    if (!socket.waitForConnected(timeoutMs))
        return response;
    socket.write(request);
    QByteArray all;
    QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        all += socket.readAll();
    }
    all += socket.readAll();

    const qsizetype headEnd = all.indexOf("\r\n\r\n");
    if (!all.startsWith("HTTP/1.1 ") || headEnd < 0)
        return response;
    const QList<QByteArray> lines = all.left(headEnd).split('\n');
    response.status = lines.first().mid(9, 3).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        response.headers.insert(lines[i].left(colon).toLower(), lines[i].mid(colon + 1).trimmed());
    }
    response.body = all.mid(headEnd + 4);
    return response;
}

QByteArray postRequest(const QByteArray& path, const QByteArray& body) {
    return "POST " + path +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

RawResponse postMessage(quint16 port, const QByteArray& body) {
    return rawExchange(port, postRequest('/' + HubProcess::kTopic.toLatin1(), body));
}

RawResponse getPath(quint16 port, const QByteArray& path) {
    return rawExchange(port,
                       "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}
