#include "hub_process.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTcpSocket>

HubProcess::HubProcess(const QString& dir, const QStringList& extraArgs) {
    m_process.setProgram(QStringLiteral(VELLOA_HUB_BIN));
    m_process.setArguments(QStringList{"--port", "0", "--data", dir, "--topic", kTopic} +
                           extraArgs);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

bool HubProcess::start() {
    m_process.start();
    static const QRegularExpression listening("velloa-hub listening on http://127.0.0.1:(\\d+)/\n");
    for (QDeadlineTimer deadline(20000); !deadline.hasExpired(); m_process.waitForReadyRead(100)) {
        if (const auto match = listening.match(QString::fromUtf8(output())); match.hasMatch())
            return (m_port = match.captured(1).toUShort()) != 0;
        if (m_process.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}

void HubProcess::crash() {
    m_process.kill(); // neither call does anything once the process has ended
    m_process.waitForFinished(10000);
    output();
}

RawResponse rawExchange(quint16 port, const QByteArray& request) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    socket.write(request); // sent once connected; waitForReadyRead waits for that too
    QByteArray all;
    while (socket.waitForReadyRead(10000)) // false once the hub has closed the connection
        all += socket.readAll();
    all += socket.readAll();
    const qsizetype headEnd = all.indexOf("\r\n\r\n");
    if (!all.startsWith("HTTP/1.1 ") || headEnd < 0)
        return {};
    return {all.mid(9, 3).toInt(), all.left(headEnd + 2).toLower(), all.mid(headEnd + 4)};
}

QByteArray httpRequest(const QByteArray& method, const QByteArray& path, const QByteArray& body) {
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           (body.isEmpty() ? QByteArray() : length) + "Connection: close\r\n\r\n" + body;
}
