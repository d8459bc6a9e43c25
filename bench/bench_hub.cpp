// Measures velloa-hub and prints the figures docs/HUB.md quotes: request parsing time at two
// sizes, POST and GET throughput with latency percentiles (small and large feed), how long a
// second client waits behind a pipelined backlog, and the hub's memory with clients that never
// read. Talks only to a hub it starts itself on 127.0.0.1.
//
//   velloa-bench-hub [--hub PATH] [--posts N] [--lazy CLIENTS]
//                    [--parts parse,small,large,backlog,memory]
#include "hub/FeedJson.h"
#include "hub/HttpRequestParser.h"
#include "hub/HttpResponseReader.h"
#include "bench/ProcessFigures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

const QByteArray kTopic = "velloa-bench-topic-0123456789";

struct Latencies {
    QList<double> ms;
    QString summary() const {
        if (ms.isEmpty())
            return QStringLiteral("none");
        QList<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&](double q) { return sorted[qsizetype(q * double(sorted.size() - 1))]; };
        return QStringLiteral("p50 %1 ms, p99 %2 ms, max %3 ms")
            .arg(at(0.5), 0, 'f', 2)
            .arg(at(0.99), 0, 'f', 2)
            .arg(sorted.last(), 0, 'f', 2);
    }
};

class Hub {
public:
    bool start(const QString& binary, const QString& dir) {
        m_process.setProgram(binary);
        m_process.setArguments(
            {"--port", "0", "--data", dir, "--topic", QString::fromLatin1(kTopic)});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        static const QRegularExpression line("listening on http://127.0.0.1:(\\d+)/");
        QByteArray out;
        while (m_process.waitForReadyRead(10000)) {
            out += m_process.readAll();
            if (const auto match = line.match(QString::fromUtf8(out)); match.hasMatch()) {
                port = match.captured(1).toUShort();
                return true;
            }
        }
        return false;
    }
    ~Hub() {
        m_process.kill();
        m_process.waitForFinished();
    }
    // "VmRSS" or "VmHWM" of the hub, in MiB.
    double memory(const char* field) const {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& row : status.readAll().split('\n')) {
            if (row.startsWith(field))
                return row.mid(row.indexOf(':') + 1).trimmed().split(' ').value(0).toDouble() /
                       1024;
        }
        return -1;
    }
    // User and system CPU time the hub has used, in seconds.
    double cpuSeconds() const { return ::cpuSeconds(m_process.processId()); }
    quint16 port = 0;

private:
    QProcess m_process;
};

// One kept-alive connection that sends a request as soon as the previous answer is in.
class Client {
public:
    Client(quint16 port, std::function<QByteArray()> next, int count, Latencies& out)
        : m_next(std::move(next)), m_left(count), m_out(out) {
        QObject::connect(&m_socket, &QTcpSocket::connected, &m_socket, [this] { send(); });
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
            m_reader.append(m_socket.readAll());
            while (auto answer = m_reader.next()) {
                m_out.ms.append(double(m_timer.nsecsElapsed()) / 1e6);
                failures += answer->status != 200;
                send();
            }
        });
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    }
    bool done() const { return m_left < 0; }
    int failures = 0;

private:
    void send() {
        if (m_left-- <= 0)
            return;
        m_timer.start();
        m_socket.write(m_next());
    }
    QTcpSocket m_socket;
    HttpResponseReader m_reader;
    std::function<QByteArray()> m_next;
    int m_left;
    Latencies& m_out;
    QElapsedTimer m_timer;
};

void waitUntil(const std::function<bool()>& done) {
    QElapsedTimer limit;
    limit.start();
    while (!done() && limit.elapsed() < 600'000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

QByteArray postAdd(int i) {
    const QByteArray body =
        R"({"list":"mine","action":"add","ts":1,"text":"bench )" + QByteArray::number(i) + "\"}";
    return "POST /" + kTopic +
           " HTTP/1.1\r\nHost: h\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

void parsing(int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "GET /data.json HTTP/1.1\r\nHost: 127.0.0.1:47613\r\n\r\n";
    QElapsedTimer timer;
    timer.start();
    HttpRequestParser parser;
    parser.append(bytes);
    int parsed = 0;
    while (parser.next() == HttpRequestParser::Status::Ready) {
        parser.take();
        ++parsed;
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    std::printf(
        "parse %d pipelined requests (%.1f MB) in one buffer: %.1f ms, %.0f ns per request\n",
        parsed, double(bytes.size()) / 1e6, ms, ms * 1e6 / parsed);
}

// A feed of about `bytes` bytes: tasks in a few sections.
void writeFeed(const QString& path, int tasks) {
    Payload feed{"12-06 09:00", "Mine", "v1", {}, "Hers", "v1", {}};
    for (int i = 0; i < tasks; ++i)
        feed.mine_rows.append({"item",
                               QStringLiteral("第 %1 件事：整理房间、回复邮件、买菜").arg(i),
                               QStringLiteral("id-%1").arg(i), false, std::nullopt, "工作"});
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(serializeFeed(feed, 0));
}

void throughput(const QString& binary, int tasks, int posts) {
    QTemporaryDir dir;
    if (tasks > 0)
        writeFeed(dir.filePath("data.json"), tasks);
    Hub hub;
    if (!hub.start(binary, dir.path()))
        return (void)std::printf("the hub did not start\n");
    const double feedKb = double(QFile(dir.filePath("data.json")).size()) / 1024;
    const int clients = 8;
    // GETs first, while the feed still has its starting size; each POST then adds a task.
    for (const bool get : {true, false}) {
        Latencies latencies;
        std::vector<std::unique_ptr<Client>> all;
        int sent = 0;
        QElapsedTimer wall;
        wall.start();
        const double cpuBefore = hub.cpuSeconds();
        for (int c = 0; c < clients; ++c) {
            all.push_back(std::make_unique<Client>(
                hub.port,
                [&] {
                    return get ? QByteArray("GET /data.json HTTP/1.1\r\nHost: h\r\n\r\n")
                               : postAdd(sent++);
                },
                posts / clients, latencies));
        }
        waitUntil(
            [&] { return std::ranges::all_of(all, [](const auto& c) { return c->done(); }); });
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        int failures = 0;
        for (const auto& c : all)
            failures += c->failures;
        const double cpuUs = (hub.cpuSeconds() - cpuBefore) * 1e6 / double(latencies.ms.size());
        std::printf("%s, feed %.0f KB%s, %d connections: %lld requests in %.2f s = %.0f/s; %s; "
                    "hub CPU %.0f us per request%s\n",
                    get ? "GET /data.json" : "POST add", feedKb, get ? "" : " at the start",
                    clients, latencies.ms.size(), seconds, double(latencies.ms.size()) / seconds,
                    qPrintable(latencies.summary()), cpuUs,
                    failures ? qPrintable(QStringLiteral(" (%1 not 200)").arg(failures)) : "");
    }
}

// A hub with a 10 MB release in its folder.
struct ReleaseHub {
    QTemporaryDir dir;
    Hub hub;
    bool start(const QString& binary) {
        QDir().mkpath(dir.filePath("releases"));
        QFile release(dir.filePath("releases/big.zip"));
        return release.open(QIODevice::WriteOnly) &&
               release.write(QByteArray(10 * 1024 * 1024, 'r')) == 10 * 1024 * 1024 &&
               (release.close(), hub.start(binary, dir.path()));
    }
};

Latencies probe(quint16 port, int times) {
    Latencies latencies;
    for (int i = 0; i < times; ++i) {
        Client client(
            port, [] { return QByteArray("GET /data.json HTTP/1.1\r\nHost: h\r\n\r\n"); }, 1,
            latencies);
        waitUntil([&] { return client.done(); });
    }
    return latencies;
}

// A backlog on one connection, and GETs on others, one after another, until it is answered.
void backlog(const QString& binary) {
    Hub hub;
    QTemporaryDir dir;
    if (!hub.start(binary, dir.path()))
        return (void)std::printf("the hub did not start\n");
    const int total = 50000;
    QByteArray requests;
    for (int i = 0; i < total; ++i)
        requests += "GET /x HTTP/1.1\r\nHost: h\r\n\r\n";
    QTcpSocket busy;
    qint64 answered = 0;
    HttpResponseReader reader;
    QObject::connect(&busy, &QTcpSocket::readyRead, &busy, [&] {
        reader.append(busy.readAll());
        while (reader.next())
            ++answered;
    });
    busy.connectToHost(QStringLiteral("127.0.0.1"), hub.port);
    if (!busy.waitForConnected(10000))
        return (void)std::printf("no connection to the hub\n");
    busy.write(requests);
    QElapsedTimer wall;
    wall.start();
    Latencies others;
    while (answered < total && busy.state() == QAbstractSocket::ConnectedState &&
           wall.elapsed() < 300'000)
        others.ms += probe(hub.port, 1).ms;
    std::printf("%d pipelined requests on one connection: %lld answered in %.2f s; meanwhile %lld "
                "GETs on other connections: %s\n",
                total, answered, double(wall.nsecsElapsed()) / 1e9, others.ms.size(),
                qPrintable(others.summary()));
}

// Clients that each pipeline 30 GETs of the 10 MB release and never read.
void memory(const QString& binary, int clients) {
    ReleaseHub release;
    if (!release.start(binary))
        return (void)std::printf("the hub did not start\n");
    probe(release.hub.port, 1);
    const double before = release.hub.memory("VmRSS");
    std::vector<std::unique_ptr<QTcpSocket>> lazy;
    QByteArray gets;
    for (int i = 0; i < 30; ++i)
        gets += "GET /releases/big.zip HTTP/1.1\r\nHost: h\r\n\r\n";
    for (int c = 0; c < clients; ++c) {
        lazy.push_back(std::make_unique<QTcpSocket>());
        lazy.back()->setReadBufferSize(1);
        lazy.back()->connectToHost(QStringLiteral("127.0.0.1"), release.hub.port);
        lazy.back()->write(gets);
    }
    const Latencies during = probe(release.hub.port, 50); // the hub does all it will meanwhile
    std::printf("memory, %d client(s) never reading 30 pipelined GETs of a 10 MB file: resident "
                "%.1f MiB before, %.1f MiB after, peak %.1f MiB; other GETs meanwhile: %s\n",
                clients, before, release.hub.memory("VmRSS"), release.hub.memory("VmHWM"),
                qPrintable(during.summary()));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as soon as it is measured
    QString binary = QStringLiteral(VELLOA_HUB_BIN);
    int posts = 4000;
    int lazy = 30;
    QStringList parts{"parse", "small", "large", "backlog", "memory"};
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--hub")
            binary = args[i + 1];
        else if (args[i] == "--posts")
            posts = args[i + 1].toInt();
        else if (args[i] == "--lazy")
            lazy = args[i + 1].toInt();
        else if (args[i] == "--parts")
            parts = args[i + 1].split(',');
    }
    if (parts.contains("parse")) {
        parsing(10000);
        parsing(80000);
    }
    if (parts.contains("small"))
        throughput(binary, 0, posts);
    if (parts.contains("large"))
        throughput(binary, 5000, posts);
    if (parts.contains("backlog"))
        backlog(binary);
    if (parts.contains("memory")) {
        memory(binary, 1);
        if (lazy > 1)
            memory(binary, lazy);
    }
    return 0;
}
