// Writes a hub data file holding a synthetic list of N tasks (the shape the other benchmarks
// use, done tasks dated today) to standard output, for bench/desktop.sh.
#include "hub/FeedJson.h"
#include "bench/SyntheticFeed.h"

#include <QCoreApplication>
#include <QDate>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bool ok = false;
    const int tasks = argc == 2 ? QByteArray(argv[1]).toInt(&ok) : 0;
    if (!ok || tasks < 0) {
        std::fprintf(stderr, "usage: velloa-bench-feed TASKS > data.json\n");
        return 2;
    }
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QByteArray text = serializeFeed(syntheticFeed(tasks, today), 0);
    return std::fwrite(text.constData(), 1, size_t(text.size()), stdout) == size_t(text.size()) ? 0 : 1;
}
