#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>

#include <chrono>

// One running app per user. The first process takes a lock file in `folder` (the user's
// runtime folder) and listens on a local socket beside it; a later one finds the lock taken
// and hands over: it asks the first to show itself and ends. A lock left by a process that is
// gone (a crash) is taken over.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString& folder, QObject* parent = nullptr);

    // True when this process is the one that runs: it took the lock (also one left behind by
    // a crash) and listens for later launches. Also true when no lock can be made at all
    // (the folder is not writable): an app that runs twice beats one that never starts.
    bool claim();
    // From a later launch: asks the running one to show itself. True once it has read the
    // request; false when it does not answer within `timeout`.
    bool handOver(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    QString lockPath() const;
    QString socketPath() const;

signals:
    // A later launch asked this one to show itself.
    void activationRequested();

private:
    void serve(QLocalSocket* socket);

    QString m_folder;
    QLockFile m_lock;
    QLocalServer m_server;
};
