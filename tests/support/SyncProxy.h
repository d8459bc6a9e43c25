#pragma once

#include "tests/support/TestHttpServer.h"

#include <optional>

// A loopback proxy in front of a velloa-hub for the sync simulation. It holds every request
// until the driver passes it on (or loses it), and every answer until the driver delivers it,
// so a seeded driver decides every delay and every order, and a run repeats from its seed.
class SyncProxy {
public:
    using Answer = TestHttpServer::Answer;

    struct Exchange {
        TestHttpServer::Request request;
        std::function<void(const Answer&)> reply;
        Answer answer; // once passed on
    };

    explicit SyncProxy(quint16 upstreamPort);

    bool listen() { return server.listen(); }
    QString url(const QString& path) const { return server.url(path); }
    qsizetype received() const { return server.requests.size(); }

    QList<Exchange> waiting;  // arrived, not passed on yet, in arrival order
    QList<Exchange> answered; // passed on, the answer not delivered yet

    // Passes waiting[i] on to the hub (over loopback, waiting for its answer) and holds the
    // answer; false if the hub did not answer.
    bool forward(qsizetype i);
    // Drops waiting[i] as a relay that lost it would: it says "ok" and never passes it on.
    void lose(qsizetype i);
    void deliver(qsizetype i);

private:
    TestHttpServer server;
    quint16 upstream;
};
