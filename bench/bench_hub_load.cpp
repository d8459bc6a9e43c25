// velloa-hub under load: paced "add" posts from several kept-alive connections on loopback for
// a bounded time, then kill -9 in the middle of the traffic and a restart on the same folder.
// Every post the hub acknowledged must be in the feed exactly once; one it never answered may
// be there once or not at all. Prints throughput and answer times (p50, p99, max).
//
//   velloa-bench-hub-load [--seconds 60] [--rate 1000] [--connections 8]
#include "model/Payload.h"
#include "bench/ProcessFigures.h"
#include "tests/hub_process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

struct Connection {
    QTcpSocket socket;
    QByteArray buffer;
    QString inFlight; // the text of the post waiting for its answer, empty when idle
    qint64 sentAtNs = 0;
    int next = 0;
};

QByteArray addPost(const QString& text) {
    const QByteArray body =
        QJsonDocument(
            QJsonObject{{"list", "mine"}, {"action", "add"}, {"text", text}, {"ts", 1765000000}})
            .toJson(QJsonDocument::Compact);
    return "POST /" + HubProcess::kTopic.toLatin1() +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// Takes one whole answer off the front of the buffer: its status, or 0 while incomplete.
int takeAnswer(QByteArray& buffer) {
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return 0;
    const QByteArray head = buffer.left(headEnd).toLower();
    const qsizetype at = head.indexOf("content-length:");
    const qsizetype lineEnd = head.indexOf("\r\n", at);
    const qint64 length = at < 0 ? 0 : head.mid(at + 15, lineEnd - at - 15).trimmed().toLongLong();
    if (buffer.size() < headEnd + 4 + length)
        return 0;
    const int status = buffer.mid(9, 3).toInt();
    buffer.remove(0, headEnd + 4 + length);
    return status;
}

double percentile(QList<qint64> ns, double p) {
    if (ns.isEmpty())
        return 0;
    std::sort(ns.begin(), ns.end());
    return double(ns[std::min<qsizetype>(ns.size() - 1, qsizetype(p * double(ns.size())))]) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const QString& name, int fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
    };
    const int seconds = option("--seconds", 60);
    const int rate = option("--rate", 1000);
    const int connections = option("--connections", 8);

    QTemporaryDir dir;
    const QString data = dir.filePath("hub");
    auto hub = std::make_unique<HubProcess>(data);
    if (!hub->start()) {
        std::fprintf(stderr, "hub did not start: %s\n", hub->output().constData());
        return 1;
    }
    std::printf("velloa-hub load: %d posts/s from %d connections for %d s (127.0.0.1:%u), "
                "load average %s\n",
                rate, connections, seconds, unsigned(hub->port()), loadAverage().constData());

    QList<Connection*> conns;
    QSet<QString> acked, unanswered;
    QList<qint64> latencies;
    int errors = 0, sent = 0;
    QElapsedTimer clock;
    clock.start();
    for (int c = 0; c < connections; ++c) {
        auto* conn = new Connection;
        conns.append(conn);
        conn->socket.connectToHost(QStringLiteral("127.0.0.1"), hub->port());
        QObject::connect(&conn->socket, &QTcpSocket::readyRead, [&, conn] {
            conn->buffer += conn->socket.readAll();
            while (const int status = takeAnswer(conn->buffer)) {
                latencies.append(clock.nsecsElapsed() - conn->sentAtNs);
                unanswered.remove(conn->inFlight);
                if (status == 200)
                    acked.insert(conn->inFlight);
                else
                    ++errors;
                conn->inFlight.clear();
            }
        });
        QObject::connect(&conn->socket, &QTcpSocket::errorOccurred, [&, conn] {
            if (!conn->inFlight.isEmpty())
                ++errors;
        });
    }
    // Every millisecond: each idle connection sends while the total is behind the schedule.
    QTimer pace;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        const qint64 due = clock.elapsed() * rate / 1000;
        for (Connection* conn : conns) {
            if (sent >= due)
                break;
            if (!conn->inFlight.isEmpty() ||
                conn->socket.state() != QAbstractSocket::ConnectedState)
                continue;
            conn->inFlight =
                QStringLiteral("load-%1-%2").arg(conns.indexOf(conn)).arg(conn->next++);
            unanswered.insert(conn->inFlight);
            conn->sentAtNs = clock.nsecsElapsed();
            conn->socket.write(addPost(conn->inFlight));
            ++sent;
        }
    });
    pace.start(1);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    // Killed with posts still on the way, as a crash would.
    const qint64 elapsedMs = clock.elapsed();
    const double hubCpu = cpuSeconds(hub->process().processId());
    hub->crash();
    pace.stop();
    qDeleteAll(conns);

    std::printf("sent %d, acknowledged %lld (%.0f/s), errors %d, unanswered at the kill %lld\n",
                sent, qlonglong(acked.size()), acked.size() * 1000.0 / double(elapsedMs), errors,
                qlonglong(unanswered.size()));
    std::printf("answer time ms: p50 %.2f  p99 %.2f  max %.2f\n", percentile(latencies, 0.5),
                percentile(latencies, 0.99), percentile(latencies, 1.0));
    std::printf("hub CPU %.1f s in all, %.0f us per acknowledged post; load average now %s\n",
                hubCpu, hubCpu * 1e6 / double(std::max<qsizetype>(1, acked.size())),
                loadAverage().constData());

    QElapsedTimer restart;
    restart.start();
    hub = std::make_unique<HubProcess>(data);
    if (!hub->start()) {
        std::fprintf(stderr, "hub did not restart: %s\n", hub->output().constData());
        return 1;
    }
    const qint64 restartMs = restart.elapsed();
    const RawResponse feed = getPath(hub->port(), "/data.json");
    const DecodeResult decoded = decodePayload(feed.body);
    if (!decoded.payload) {
        std::fprintf(stderr, "feed after restart: %s\n", qPrintable(decoded.error));
        return 1;
    }
    QHash<QString, int> seen;
    for (const Row& row : decoded.payload->mine_rows)
        seen[row.text] += 1;
    int missing = 0, duplicated = 0, unackedApplied = 0;
    for (const QString& text : acked)
        missing += seen.value(text) == 0;
    for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
        duplicated += it.key().startsWith("load-") && *it > 1;
        unackedApplied += unanswered.contains(it.key());
    }
    std::printf("restart %lld ms, feed %lld bytes; acknowledged but missing %d, applied twice %d, "
                "unanswered but applied %d\n",
                restartMs, qlonglong(feed.body.size()), missing, duplicated, unackedApplied);
    const bool ok = errors == 0 && missing == 0 && duplicated == 0;
    std::printf("%s\n", ok ? "OK" : "FAILED");
    return ok ? 0 : 1;
}
