#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

namespace {

constexpr char kShow[] = "show\n";

} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent)
    : QObject(parent), m_folder(folder),
      m_lock(QDir(folder).filePath(QStringLiteral("velloa.lock"))) {
    // Only a dead owner makes a lock stale: the app holds it for days, so any age would do
    // harm.
    m_lock.setStaleLockTime(0);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

QString SingleInstance::lockPath() const {
    return QDir(m_folder).filePath(QStringLiteral("velloa.lock"));
}

QString SingleInstance::socketPath() const {
    return QDir(m_folder).filePath(QStringLiteral("velloa.socket"));
}

bool SingleInstance::claim() {
    // tryLock removes a lock whose process is gone (QLockFile checks the pid and its name).
    if (!m_lock.tryLock(0))
        return m_lock.error() != QLockFile::LockFailedError;
    // A socket left by a crashed instance would keep listen() from binding; the lock says
    // nobody uses it.
    QLocalServer::removeServer(socketPath());
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(socketPath());
    return true;
}

void SingleInstance::serve(QLocalSocket* socket) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > 64)
                socket->abort(); // not a request of ours
            return;
        }
        const bool show = socket->readLine(64) == kShow;
        // Closing tells the later launch its request was read.
        socket->disconnectFromServer();
        if (show)
            emit activationRequested();
    });
}

bool SingleInstance::handOver(std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(int(deadline.remainingTime()))) {
            socket.write(kShow);
            if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
                return false;
            return socket.state() == QLocalSocket::UnconnectedState ||
                   socket.waitForDisconnected(int(deadline.remainingTime()));
        }
        if (deadline.hasExpired())
            return false;
        // The running one has the lock but may not listen yet: it is still starting.
        QThread::msleep(100);
    }
}

#include "moc_SingleInstance.cpp"
