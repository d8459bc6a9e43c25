// The hub's data folder in-process, on a clock the test moves: the journal's damage rules, groups
// of messages under one sync, coalesced feed rewrites, compaction, private files, and what a
// failed write reports.
#include "disk/DurableFile.h"
#include "hub/FeedJson.h"
#include "hub/FeedStore.h"
#include "tests/support/ManualClock.h"

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

// One message in a group of its own, synced: its sequence number, or nullopt.
std::optional<qint64> accept(FeedStore& store, const QString& text, QString* error) {
    const auto seq = store.submit(addition(text), error);
    store.commit();
    return seq && store.appliedSeq() >= *seq ? seq : std::nullopt;
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
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_clock = std::make_unique<ManualClock>();
        m_error.clear();
        reopen();
    }
    void cleanup() { m_store.reset(); }
    void journalDamage_data();
    void journalDamage();
    void groupsMessagesUnderOneSync();
    void aFailedWriteFailsTheWholeGroup();
    void coalescesRewritesAndReplaysOnce();
    void appliesEachMessageAfterTheDelay();
    void compactsTheJournal();
    void keepsItsFilesPrivate_data();
    void keepsItsFilesPrivate();
    void retriesAFeedFileItCouldNotWrite();

private:
    // A store on the test's folder, as after a restart: the old one is gone first.
    void reopen() {
        m_store.reset();
        m_store = std::make_unique<FeedStore>(*m_clock);
        m_written = std::make_unique<QSignalSpy>(m_store.get(), &FeedStore::feedWritten);
        QVERIFY2(m_store->open(m_dir->path(), &m_error), qPrintable(m_error));
    }
    QList<qsizetype> counts(const QStringList& texts) const {
        QList<qsizetype> out;
        for (const QString& text : texts)
            out << countText(m_store->feed(), text);
        return out;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ManualClock> m_clock;
    std::unique_ptr<FeedStore> m_store;
    std::unique_ptr<QSignalSpy> m_written;
    QString m_error;
};

void TestHubStore::journalDamage_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QList<qint64>>("kept"); // the entries kept
    QTest::addColumn<QByteArray>("remains"); // the file afterwards
    const QByteArray one = Journal::lineFor(1, R"({"a":1})"),
                     two = Journal::lineFor(2, R"({"b":2})"),
                     group = Journal::lineFor(3, "{\"c\":3}\t{\"d\":4}\t{\"e\":5}");
    QByteArray badCheck = two;
    badCheck[3] = badCheck[3] == '0' ? '1' : '0';
    const auto row = [](const char* name, const QByteArray& content, bool opens,
                        const QList<qint64>& kept, const QByteArray& remains) {
        QTest::newRow(name) << content << opens << kept << remains;
    };
    row("whole lines", one + two, true, {1, 2}, one + two);
    // An append a crash cut short was never acknowledged: it goes.
    row("last line without its break", one + two.chopped(1), true, {1}, one);
    row("last line with a bad check", one + badCheck, true, {1}, one);
    // A group is one line: a crash amid its write damages nothing before it.
    row("a group", one + group, true, {1, 3, 4, 5}, one + group);
    row("a group cut short", one + two + group.chopped(8), true, {1, 2}, one + two);
    // A whole line after a damaged one was acknowledged: nothing may be guessed away.
    row("damage before a whole line", badCheck + one, false, {}, badCheck + one);
}

void TestHubStore::journalDamage() {
    QFETCH(QByteArray, content);
    QFETCH(bool, opens);
    QFETCH(QList<qint64>, kept);
    QFETCH(QByteArray, remains);
    const QString path = m_dir->filePath("damaged.log"); // not the open store's journal
    writeFile(path, content);
    Journal journal;
    QCOMPARE(journal.open(path, 0, &m_error), opens);
    QVERIFY2(opens || m_error.contains("line 1"), qPrintable(m_error));
    QList<qint64> seqs;
    for (const Journal::Entry& entry : journal.entries())
        seqs << entry.seq;
    QCOMPARE(seqs, kept);
    QCOMPARE(readAll(path), remains);
}

// Messages read in one event-loop turn share one sync, queued behind that turn: none is applied
// or answered before it, all are applied in arrival order before the first is answered, and a
// sender gone meanwhile is not called.
void TestHubStore::groupsMessagesUnderOneSync() {
    QStringList answered;
    auto gone = std::make_unique<QObject>();
    const QStringList texts = {"甲", "乙", "丙"};
    for (const QString& text : texts) {
        QObject* context = text == "乙" ? gone.get() : m_store.get();
        const auto seq =
            m_store->submit(addition(text), &m_error, context, [&, text](const QString& e) {
                answered << text + e + QString::number(countText(m_store->feed(), "丙"));
            });
        QCOMPARE(seq, texts.indexOf(text) + 1);
    }
    gone.reset();
    QCOMPARE(m_store->appliedSeq(), 0);
    QCOMPARE(readAll(m_dir->filePath("journal.log")), QByteArray()); // written with the sync
    QTRY_COMPARE(answered.size(), 2);
    QCOMPARE(answered, QStringList({"甲1", "丙1"})); // the last one applied before the first answer
    QCOMPARE(readAll(m_dir->filePath("journal.log")).count('\n'), 1); // one group, one line
    QStringList last;
    for (const Row& row : m_store->feed().mine_rows.sliced(m_store->feed().mine_rows.size() - 3))
        last << row.text;
    QCOMPARE(last, texts);
}

// A group whose write or sync fails: every message of it is refused with the system's reason,
// none applied, the journal cut back to what it held, the numbers given out again; a restart
// applies exactly what was acknowledged.
void TestHubStore::aFailedWriteFailsTheWholeGroup() {
    const QString journal = m_dir->filePath("journal.log");
    QStringList reports;
    m_store->report = [&](const QString& line) { reports << line; };
    QVERIFY(accept(*m_store, "一", &m_error));
    const QByteArray before = readAll(journal);
    const QByteArray feedBefore = m_store->feedText();
    QStringList failures;
    {
        // Half a line more fits: the group's write stops part way.
        FileSizeLimit limit(before.size() * 3 / 2);
        for (const QString text : {"二", "三", "四"})
            QVERIFY(m_store->submit(addition(text), &m_error, nullptr,
                                    [&](const QString& e) { failures << e; }));
        m_store->commit();
    }
    const QString reason = QString::fromLocal8Bit(std::strerror(EFBIG));
    QCOMPARE(failures.size(), 3);
    QVERIFY2(std::ranges::all_of(failures, [&](const QString& e) { return e.endsWith(reason); }),
             qPrintable(failures.join('\n')));
    QCOMPARE(reports, QStringList{failures.first()});
    QCOMPARE(readAll(journal), before);
    QCOMPARE(m_store->feedText(), feedBefore);
    QCOMPARE(accept(*m_store, "五", &m_error), 2);
    reopen();
    QCOMPARE(counts({"一", "二", "三", "四", "五"}), QList<qsizetype>({1, 0, 0, 0, 1}));
}

// A burst is in the journal and served at once but written to the feed file once, 100 ms
// after the previous write; a crash before that write loses nothing and repeats nothing.
void TestHubStore::coalescesRewritesAndReplaysOnce() {
    for (const QString text : {"一", "二", "三"})
        QVERIFY(m_store->submit(addition(text), &m_error));
    m_store->commit();
    const auto served = readFeed(m_store->feedText(), &m_error);
    QVERIFY(served && countText(served->feed, "三") == 1 && served->appliedSeq == 3);
    m_clock->advance(std::chrono::milliseconds(99));
    QCOMPARE(seqOnDisk(m_dir->path()), 0);
    m_clock->advance(std::chrono::milliseconds(1));
    QVERIFY(m_written->wait());
    QCOMPARE(m_written->value(0).value(0), 3);
    QCOMPARE(readAll(m_dir->filePath("data.json")), m_store->feedText());
    QVERIFY(accept(*m_store, "四", &m_error));
    reopen(); // the store goes before "四" is written
    QCOMPARE(counts({"一", "二", "三", "四"}), QList<qsizetype>({1, 1, 1, 1}));
    QCOMPARE(seqOnDisk(m_dir->path()), 4);
}

// With an apply delay each message is acknowledged at once and applied when its own delay is
// up, then written with the next rewrite.
void TestHubStore::appliesEachMessageAfterTheDelay() {
    m_store->setApplyDelay(5s);
    QVERIFY(m_store->submit(addition("早"), &m_error));
    m_store->commit();
    m_clock->advance(2s);
    QVERIFY(m_store->submit(addition("晚"), &m_error));
    m_store->commit();
    m_clock->advance(2999ms);
    QCOMPARE(m_store->appliedSeq(), 0);
    m_clock->advance(1ms);
    QCOMPARE(counts({"早", "晚"}), QList<qsizetype>({1, 0}));
    m_clock->advance(1900ms);
    QCOMPARE(m_store->appliedSeq(), 1);
    m_clock->advance(100ms);
    QCOMPARE(m_store->appliedSeq(), 2);
    QVERIFY(m_written->wait());
    m_clock->advance(FeedStore::kRewriteEvery);
    QTRY_COMPARE(seqOnDisk(m_dir->path()), 2);
    QCOMPARE(m_store->waitingCount(), 0);
}

// Entries the feed file includes leave the journal once enough have piled up, and at each
// start; sequence numbers go on counting across it.
void TestHubStore::compactsTheJournal() {
    const QString journal = m_dir->filePath("journal.log");
    for (qsizetype i = 0; i < FeedStore::kCompactAfter; ++i)
        QVERIFY(m_store->submit(addition(QString::number(i)), &m_error));
    m_store->commit();
    m_clock->advance(FeedStore::kRewriteEvery);
    QVERIFY(m_written->wait());
    QCOMPARE(readAll(journal), QByteArray());
    QCOMPARE(accept(*m_store, "next", &m_error), FeedStore::kCompactAfter + 1);
    m_clock->advance(FeedStore::kRewriteEvery);
    QVERIFY(m_written->wait());
    QCOMPARE(readAll(journal).count('\n'), 1);
    reopen();
    QCOMPARE(readAll(journal), QByteArray());
    QCOMPARE(counts({"next"}), QList<qsizetype>{1});
    QCOMPARE(accept(*m_store, "after", &m_error), FeedStore::kCompactAfter + 2);
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
    FeedStore store(*m_clock);
    QSignalSpy written(&store, &FeedStore::feedWritten);
    const bool opened = store.open(dir, &m_error) && accept(store, "x", &m_error);
    m_clock->advance(FeedStore::kRewriteEvery);
    const bool rewritten = written.wait(); // on the writer's thread, under the same umask
    ::umask(oldMask);
    QVERIFY(rewritten);
    QVERIFY2(opened, qPrintable(m_error));
    QCOMPARE(modeOf(dir), folderExists ? 0755 : 0700); // an operator's own folder is theirs
    QCOMPARE(modeOf(dir + "/journal.log"), 0600);
    QCOMPARE(modeOf(dir + "/data.json"), 0600);
    QCOMPARE(modeOf(dir + "/hub.lock"), 0600);
    QCOMPARE(seqOnDisk(dir), 1);
}

// A feed file that cannot be written (a full disk): the operator reads the system's reason, the
// message already safe in the journal, and the write is tried again.
void TestHubStore::retriesAFeedFileItCouldNotWrite() {
    QStringList reports;
    m_store->report = [&](const QString& line) { reports << line; };
    {
        FileSizeLimit limit(1000); // a journal line fits, the feed file does not
        QVERIFY(accept(*m_store, "kept", &m_error));
        m_clock->advance(FeedStore::kRewriteEvery);
        QTRY_COMPARE(reports.size(), 1);
    }
    const QString reason = QString::fromLocal8Bit(std::strerror(EFBIG));
    QVERIFY2(reports.value(0).contains("data.json: " + reason), qPrintable(reports.join('\n')));
    QCOMPARE(seqOnDisk(m_dir->path()), 0);
    m_clock->advance(FeedStore::kRetryAfter);
    QVERIFY(m_written->wait());
    QCOMPARE(seqOnDisk(m_dir->path()), 1);
    QCOMPARE(readAll(m_dir->filePath("journal.log")).count('\n'), 1);
}

QTEST_GUILESS_MAIN(TestHubStore)
#include "test_hub_store.moc"
