// The hub's data folder in-process, on a clock the test moves: the journal's damage rules,
// coalesced feed rewrites, compaction, private files, and what a failed write reports.
#include "DurableFile.h"
#include "FeedJson.h"
#include "FeedStore.h"
#include "ManualClock.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

qint64 seqOnDisk(const QString& dir) {
    QString error;
    const auto stored = readFeed(readAll(dir + "/data.json"), &error);
    return stored ? stored->appliedSeq : -1;
}

inbox::Message addition(const QString& text) {
    return *inbox::parse(inbox::serialize(inbox::add("mine", text, 1))).message;
}

qsizetype countText(const Payload& feed, const QString& text) {
    return std::ranges::count(feed.mine_rows, text, &Row::text);
}

int modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

// Limits the size of files this process writes, as a full disk would, for one scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of ending the test
        const rlimit limit{bytes, m_old.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

} // namespace

class TestHubStore : public QObject {
    Q_OBJECT
private slots:
    void journalDamage_data();
    void journalDamage();
    void coalescesRewritesAndReplaysOnce();
    void appliesEachMessageAfterTheDelay();
    void compactsTheJournal();
    void keepsItsFilesPrivate_data();
    void keepsItsFilesPrivate();
    void reportsWhyAWriteFailed();
};

void TestHubStore::journalDamage_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<qsizetype>("kept"); // whole lines kept, and left in the file
    const QByteArray one = Journal::lineFor(1, R"({"a":1})"),
                     two = Journal::lineFor(2, R"({"b":2})");
    QByteArray badCheck = two;
    badCheck[3] = badCheck[3] == '0' ? '1' : '0';
    QTest::newRow("whole lines") << one + two << true << qsizetype(2);
    // An append a crash cut short was never acknowledged: it goes.
    QTest::newRow("last line without its break") << one + two.chopped(1) << true << qsizetype(1);
    QTest::newRow("last line with a bad check") << one + badCheck << true << qsizetype(1);
    // A whole line after a damaged one was acknowledged: nothing may be guessed away.
    QTest::newRow("damage before a whole line") << badCheck + one << false << qsizetype(0);
}

void TestHubStore::journalDamage() {
    QFETCH(QByteArray, content);
    QFETCH(bool, opens);
    QFETCH(qsizetype, kept);
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.log");
    writeFile(path, content);
    Journal journal;
    QString error;
    QCOMPARE(journal.open(path, 0, &error), opens);
    if (!opens) {
        QVERIFY2(error.contains("line 1"), qPrintable(error));
        QCOMPARE(readAll(path), content);
        return;
    }
    QCOMPARE(journal.entries().size(), kept);
    QByteArray whole;
    for (const Journal::Entry& entry : journal.entries())
        whole += Journal::lineFor(entry.seq, entry.message);
    QCOMPARE(readAll(path), whole);
}

// A burst is in the journal and served at once but written to the feed file once, 100 ms
// after the previous write; a crash before that write loses nothing and repeats nothing.
void TestHubStore::coalescesRewritesAndReplaysOnce() {
    QTemporaryDir dir;
    ManualClock clock;
    {
        FeedStore store(clock);
        QString error;
        QVERIFY2(store.open(dir.path(), &error), qPrintable(error));
        for (const QString text : {"一", "二", "三"})
            QVERIFY(store.accept(addition(text), &error));
        const auto served = readFeed(store.feedText(), &error);
        QVERIFY(served && countText(served->feed, "三") == 1 && served->appliedSeq == 3);
        clock.advance(std::chrono::milliseconds(99));
        QCOMPARE(seqOnDisk(dir.path()), 0);
        clock.advance(std::chrono::milliseconds(1));
        QCOMPARE(seqOnDisk(dir.path()), 3);
        QCOMPARE(readAll(dir.filePath("data.json")), store.feedText());
        QVERIFY(store.accept(addition("四"), &error)); // the store goes before it is written
    }
    FeedStore restarted(clock);
    QString error;
    QVERIFY2(restarted.open(dir.path(), &error), qPrintable(error));
    for (const QString text : {"一", "二", "三", "四"})
        QCOMPARE(countText(restarted.feed(), text), 1);
    QCOMPARE(seqOnDisk(dir.path()), 4);
}

// With an apply delay each message is acknowledged at once and applied when its own delay is
// up, then written with the next rewrite.
void TestHubStore::appliesEachMessageAfterTheDelay() {
    QTemporaryDir dir;
    ManualClock clock;
    FeedStore store(clock);
    store.setApplyDelay(5s);
    QString error;
    QVERIFY2(store.open(dir.path(), &error), qPrintable(error));
    QVERIFY(store.accept(addition("早"), &error));
    clock.advance(2s);
    QVERIFY(store.accept(addition("晚"), &error));
    clock.advance(2999ms);
    QCOMPARE(store.appliedSeq(), 0);
    clock.advance(1ms);
    QCOMPARE(countText(store.feed(), "早") + countText(store.feed(), "晚"), 1);
    clock.advance(1900ms);
    QCOMPARE(store.appliedSeq(), 1);
    clock.advance(100ms);
    QCOMPARE(store.appliedSeq(), 2);
    clock.advance(FeedStore::kRewriteEvery);
    QCOMPARE(seqOnDisk(dir.path()), 2);
    QCOMPARE(store.waitingCount(), 0);
}

// Entries the feed file includes leave the journal once enough have piled up, and at each
// start; sequence numbers go on counting across it.
void TestHubStore::compactsTheJournal() {
    QTemporaryDir dir;
    ManualClock clock;
    const QString journal = dir.filePath("journal.log");
    {
        FeedStore store(clock);
        QString error;
        QVERIFY2(store.open(dir.path(), &error), qPrintable(error));
        for (qsizetype i = 0; i < FeedStore::kCompactAfter; ++i)
            QVERIFY(store.accept(addition(QString::number(i)), &error));
        clock.advance(FeedStore::kRewriteEvery);
        QCOMPARE(readAll(journal), QByteArray());
        QCOMPARE(store.accept(addition("next"), &error), FeedStore::kCompactAfter + 1);
        clock.advance(FeedStore::kRewriteEvery);
        QCOMPARE(readAll(journal).count('\n'), 1);
    }
    FeedStore restarted(clock);
    QString error;
    QVERIFY2(restarted.open(dir.path(), &error), qPrintable(error));
    QCOMPARE(readAll(journal), QByteArray());
    QCOMPARE(countText(restarted.feed(), "next"), 1);
    QCOMPARE(restarted.accept(addition("after"), &error), FeedStore::kCompactAfter + 2);
}

void TestHubStore::keepsItsFilesPrivate_data() {
    QTest::addColumn<bool>("folderExists");
    QTest::newRow("a folder the hub creates") << false;
    QTest::newRow("a folder and journal an older hub left readable") << true;
}

// The journal holds every message and the feed every task: owner only, whatever the umask.
void TestHubStore::keepsItsFilesPrivate() {
    QFETCH(bool, folderExists);
    QTemporaryDir parent;
    const QString dir = parent.filePath("hub");
    const mode_t oldMask = ::umask(022);
    if (folderExists) {
        QVERIFY(QDir().mkpath(dir));
        writeFile(dir + "/journal.log", {});
    }
    ManualClock clock;
    FeedStore store(clock);
    QString error;
    const bool opened = store.open(dir, &error) && store.accept(addition("x"), &error);
    clock.advance(FeedStore::kRewriteEvery);
    ::umask(oldMask);
    QVERIFY2(opened, qPrintable(error));
    QCOMPARE(modeOf(dir), folderExists ? 0755 : 0700); // an operator's own folder is theirs
    QCOMPARE(modeOf(dir + "/journal.log"), 0600);
    QCOMPARE(modeOf(dir + "/data.json"), 0600);
    QCOMPARE(modeOf(dir + "/hub.lock"), 0600);
    QCOMPARE(seqOnDisk(dir), 1);
}

// A full disk: the client is refused with nothing changed and the operator reads the system's
// reason; a feed file that cannot be written is tried again, the message already safe.
void TestHubStore::reportsWhyAWriteFailed() {
    QTemporaryDir dir;
    ManualClock clock;
    FeedStore store(clock);
    QStringList reports;
    store.report = [&](const QString& line) { reports << line; };
    QString error;
    QVERIFY2(store.open(dir.path(), &error), qPrintable(error));
    const QByteArray feedBefore = store.feedText();
    const QString reason = QString::fromLocal8Bit(std::strerror(EFBIG));
    {
        FileSizeLimit limit(20); // not even one journal line fits
        QVERIFY(!store.accept(addition("too much"), &error));
    }
    QVERIFY2(error.endsWith(reason) && reports.value(0) == error, qPrintable(error));
    QCOMPARE(readAll(dir.filePath("journal.log")), QByteArray());
    QCOMPARE(store.feedText(), feedBefore);

    {
        FileSizeLimit limit(1000); // a journal line fits, the feed file does not
        QVERIFY(store.accept(addition("kept"), &error));
        clock.advance(FeedStore::kRewriteEvery);
    }
    QVERIFY2(reports.value(1).contains("data.json: " + reason), qPrintable(reports.join('\n')));
    QCOMPARE(seqOnDisk(dir.path()), 0);
    clock.advance(FeedStore::kRetryAfter);
    QCOMPARE(seqOnDisk(dir.path()), 1);
    QCOMPARE(readAll(dir.filePath("journal.log")).count('\n'), 1);
}

QTEST_GUILESS_MAIN(TestHubStore)
#include "test_hub_store.moc"
