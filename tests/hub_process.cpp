#include "tests/hub_process.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTest>

HubProcess::HubProcess(const QString& dir, const QStringList& extraArgs, bool withTopic) {
    m_process.setProgram(QStringLiteral(VELLOA_HUB_BIN));
    QStringList args{"--port", "0", "--data", dir};
    if (withTopic)
        args << "--topic" << kTopic;
    m_process.setArguments(args + extraArgs);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VELLOA_TOPIC"));
    m_process.setProcessEnvironment(env);
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
    HttpResponseReader reader;
    while (socket.waitForReadyRead(10000)) // false once the hub has closed the connection
        reader.append(socket.readAll());
    reader.append(socket.readAll());
    reader.closed();
    return reader.next().value_or(RawResponse{});
}

QByteArray httpRequest(const QByteArray& method, const QByteArray& path, const QByteArray& body) {
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           (body.isEmpty() ? QByteArray() : length) + "Connection: close\r\n\r\n" + body;
}

HttpClient::HttpClient(quint16 port) {
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
        reader.append(socket.readAll());
        while (auto answer = reader.next())
            answers.append(std::move(*answer));
    });
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
}

bool HttpClient::waitForAnswers(qsizetype count, int timeoutMs) {
    return QTest::qWaitFor([&] { return answers.size() >= count; }, timeoutMs);
}

bool HttpClient::waitForClose(int timeoutMs) {
    return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                           timeoutMs);
}
