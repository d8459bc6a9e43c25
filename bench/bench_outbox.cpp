// Measures the outbox on this machine's disk and prints the figures docs/PERFORMANCE.md quotes:
// the time of one append (the line written and fsync'd), and the time a start takes to read an
// outbox of N messages and put their changes back into the overlay.
//
//   velloa-bench-outbox [--dir FOLDER] [--appends N] [--messages N] [--rounds N]
//
// The folder defaults to a new one under the current folder (not /tmp, which may live in
// memory); it is removed afterwards.
#include "disk/Outbox.h"
#include "model/ListStore.h"
#include "sync/FeedSync.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

struct Options {
    QString dir = QDir::currentPath();
    int appends = 1000;
    int messages = 10000;
    int rounds = 7;
};

Options parse(const QStringList& args) {
    Options o;
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--dir")
            o.dir = args[i + 1];
        else if (args[i] == u"--appends")
            o.appends = args[i + 1].toInt();
        else if (args[i] == u"--messages")
            o.messages = args[i + 1].toInt();
        else if (args[i] == u"--rounds")
            o.rounds = args[i + 1].toInt();
    }
    return o;
}

// CPU time of this process, in ms: on a machine shared with others it says what the work costs
// whatever else runs, where the wall clock says what the user waits.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

QString summary(QList<double> ms) {
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[qsizetype(q * double(ms.size() - 1))]; };
    return QStringLiteral("p50 %1 ms, p99 %2 ms, max %3 ms")
        .arg(at(0.5), 0, 'f', 3)
        .arg(at(0.99), 0, 'f', 3)
        .arg(ms.last(), 0, 'f', 3);
}

// The user's changes in the mix they come in: ticks, edits, additions and the odd drag.
QByteArray message(int i) {
    const QString list = i % 3 ? QStringLiteral("mine") : QStringLiteral("hers");
    const QString id = QStringLiteral("task-%1").arg(i % 500);
    const qint64 ts = 1765000000 + i;
    switch (i % 10) {
    case 0: case 1: case 2: case 3:
        return inbox::serialize(inbox::toggle(list, id, i % 2, ts));
    case 4: case 5:
        return inbox::serialize(inbox::edit(list, id, QStringLiteral("改过的文字 %1").arg(i), ts));
    case 6: case 7: case 8:
        return inbox::serialize(inbox::add(list, QStringLiteral("新的待办事项 %1").arg(i), ts));
    default: {
        QList<inbox::OrderItem> order;
        for (int k = 0; k < 12; ++k)
            order.append({QStringLiteral("task-%1").arg((i + k) % 500), QStringLiteral("工作")});
        return inbox::serialize(inbox::reorder(list, order, ts));
    }
    }
}

void appends(const QString& path, int count) {
    Outbox outbox(Clock::system());
    QString error;
    if (!outbox.open(path, &error)) {
        std::printf("cannot open %s: %s\n", qPrintable(path), qPrintable(error));
        return;
    }
    QList<double> ms;
    for (int i = 0; i < count; ++i) {
        const QByteArray body = message(i);
        QElapsedTimer timer;
        timer.start();
        outbox.append(body, i % 10 >= 6 && i % 10 <= 8 ? QStringLiteral("pending-%1").arg(i) : QString(),
                      {}, &error);
        ms.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("append (write + fsync), %d messages: %s\n", count, qPrintable(summary(ms)));
}

void loads(const QString& path, int count, int rounds) {
    {
        Outbox outbox(Clock::system());
        QString error;
        QFile::remove(path);
        outbox.open(path, &error);
        for (int i = 0; i < count; ++i)
            outbox.append(message(i), i % 10 >= 6 && i % 10 <= 8 ? QStringLiteral("pending-%1").arg(i) : QString(),
                          {}, &error);
    }
    std::printf("outbox of %d messages: %lld bytes\n", count, qint64(QFileInfo(path).size()));
    QList<double> read, start, readCpu, startCpu;
    for (int r = 0; r < rounds; ++r) {
        QString error;
        QElapsedTimer timer;
        timer.start();
        double cpu = cpuMs();
        Outbox outbox(Clock::system());
        outbox.open(path, &error);
        read.append(double(timer.nsecsElapsed()) / 1e6);
        readCpu.append(cpuMs() - cpu);
        if (outbox.entries().size() != count)
            std::printf("read %lld messages, not %d\n", qint64(outbox.entries().size()), count);

        // What a start does: the feed client reads the outbox and rebuilds the overlay (no
        // relay address here, so nothing is sent).
        QNetworkAccessManager network;
        ListStore store;
        FeedSync sync(store, network, Clock::system());
        timer.restart();
        cpu = cpuMs();
        sync.openOutbox(path, &error);
        start.append(double(timer.nsecsElapsed()) / 1e6);
        startCpu.append(cpuMs() - cpu);
    }
    std::printf("read the file, %d rounds: wall %s; CPU %s\n", rounds, qPrintable(summary(read)),
                qPrintable(summary(readCpu)));
    std::printf("read and rebuild the overlay, %d rounds: wall %s; CPU %s\n", rounds,
                qPrintable(summary(start)), qPrintable(summary(startCpu)));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const Options o = parse(app.arguments());
    QTemporaryDir dir(o.dir + QStringLiteral("/velloa-bench-outbox-XXXXXX"));
    if (!dir.isValid()) {
        std::printf("cannot make a folder in %s\n", qPrintable(o.dir));
        return 1;
    }
    std::printf("folder: %s\n", qPrintable(dir.path()));
    appends(dir.filePath(QStringLiteral("append.jsonl")), o.appends);
    loads(dir.filePath(QStringLiteral("load.jsonl")), o.messages, o.rounds);
    return 0;
}
