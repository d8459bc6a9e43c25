// The hub in-process: a message applied to a feed and written back; its data folder on a clock
// the test moves (journal damage, syncs, rewrites, compaction, private files, failed writes).
#include "disk/DurableFile.h"
#include "hub/FeedJson.h"
#include "hub/FeedOps.h"
#include "hub/FeedStore.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ManualClock.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {
const QString& kToday = kFixtureToday;
// Every kind of character a message can carry, and text that looks like the feed's own JSON.
const QString kOdd =
    QStringLiteral("say \"hi\" \\ tab\tline\n\x07 🍅 𠀀 \"}, {\"kind\": ") + QChar(0);

Row item(const QString& id, std::optional<QString> cat = {}, std::optional<QString> doneAt = {}) {
    return task(id, "task " + id, cat, doneAt.has_value(), doneAt);
}

QList<Row> with(QList<Row> rows, qsizetype index, const Row& row) {
    rows[index] = row;
    return rows;
}

Payload baseFeed() {
    Payload feed;
    feed.updated = QStringLiteral("before");
    feed.mine_title = feed.hers = kOdd;
    feed.mine_rows = {header("工作"), item("a", "工作"), item("b", "工作", kToday),
                      item("c", "工作", "2026-12-01"), header("生活"), item("d", "生活"), item("e")};
    // Rows the app never shows are kept as they are; a present but empty cat stays present.
    feed.hers_rows = {header("学习"), item("h1", "学习"), {"note", kOdd, kOdd, {}, kOdd, kOdd},
                      {"note", {}, {}, {}, {}, QString()}};
    return feed;
}

QString pick(QRandomGenerator& random, const QStringList& from) {
    return from[random.bounded(qsizetype(from.size()))];
}

// A list with everything that makes placement hard: repeated ids, tasks without one, tasks
// done earlier (hidden), rows of an unknown kind, repeated headers, sections without a header.
QList<Row> randomRows(QRandomGenerator& random) {
    const QStringList labels{"A", "B", "其他"}, cats{"A", "B", "其他", "Z", ""},
        ids{"a", "b", "c", ""};
    QList<Row> rows;
    for (int i = 0, n = random.bounded(16); i < n; ++i) {
        const QString text = QStringLiteral("r%1").arg(i); // tells rows apart
        const int kind = random.bounded(10);
        if (kind < 2) {
            rows.append(header(pick(random, labels)));
            continue;
        }
        if (kind == 2) {
            rows.append({"note", text, "a", {}, {}, "A"});
            continue;
        }
        const QString id = pick(random, ids), cat = pick(random, cats);
        const int state = random.bounded(4); // open, done today, done earlier, done undated
        const std::optional<QString> doneAt[] = {{}, kToday, QString("2026-12-01"), {}};
        rows.append({"item", text, id.isEmpty() ? std::nullopt : std::optional(id),
                     state == 0 ? std::nullopt : std::optional(true), doneAt[state],
                     cat.isEmpty() ? std::nullopt : std::optional(cat)});
    }
    return rows;
}

// What a list shows: each task with its section, and the header-and-task rows.
QStringList shown(const ListStore& state) {
    QStringList out;
    for (const OrderedItem& item : state.orderedItems())
        out << item.row.id.value_or("-") + '/' + item.row.text + '/' + item.sec;
    out << "|";
    for (const Row& row : state.displayRows(false))
        out << row.kind + ':' + row.text;
    return out;
}

// Headers and rows the app never shows, in order: reordering must leave these as they were.
QStringList fixedRows(const QList<Row>& rows) {
    QStringList out;
    for (const Row& row : rows) {
        if (!rules::isVisibleItem(row, kToday))
            out << row.kind + ':' + row.text;
    }
    return out;
}

qint64 seqOnDisk(const QString& dir) {
    QString error;
    const auto stored = readFeed(readFile(dir + "/data.json"), &error);
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

struct JournalDamageCase {
    QByteArray content; bool opens;
    QList<qint64> kept; // the entries kept
    QByteArray remains; // the file afterwards
};
} // namespace

class TestHub : public QObject {
    Q_OBJECT
private slots:
    void appliesActionsAndWritesThemBack_data() {
        QTest::addColumn<QJsonObject>("message");
        QTest::addColumn<QList<Row>>("expected"); // the rows of the list the message names
        const QList<Row> mine = baseFeed().mine_rows;
        QTest::newRow("done sets doneAt today")
            << inbox::toggle("mine", "a", true, 1) << with(mine, 1, item("a", "工作", kToday));
        QTest::newRow("undone clears doneAt")
            << inbox::toggle("mine", "b", false, 1) << with(mine, 2, item("b", "工作"));
        QTest::newRow("edit sets the text exactly")
            << inbox::edit("mine", "a", "  new text  ", 1)
            << with(mine, 1, {"item", "  new text  ", "a", false, {}, "工作"});
        // Qt's reader drops a raw U+FEFF at the start of a string; the writer must not rely on it.
        const QString marks = QString(2, QChar(0xFEFF)) + "x";
        QTest::newRow("edit keeps leading U+FEFF marks")
            << inbox::edit("mine", "a", marks, 1) << with(mine, 1, {"item", marks, "a", false, {}, "工作"});
        QTest::newRow("add appends a plain task")
            << inbox::add("mine", "新任务", 1)
            << mine + QList<Row>{{"item", "新任务", "new-1", false, {}, {}}};
        QTest::newRow("list hers picks hers_rows")
            << inbox::toggle("hers", "h1", true, 1)
            << with(baseFeed().hers_rows, 1, item("h1", "学习", kToday));
        // Sections in header order: each header, its visible tasks as sent, then its hidden ones;
        // a task sent to a section without a header joins the last section.
        QTest::newRow("reorder regroups under the headers")
            << inbox::reorder("mine", {{"d", "工作"}, {"a", "工作"}, {"b", "工作"}, {"e", "其他"}}, 1)
            << QList<Row>{header("工作"), item("d", "工作"), item("a", "工作"), mine[2],
                          mine[3],        header("生活"),    item("e", "其他")};
        // An order that goes back to a section: the visible tasks take the visible tasks' old
        // places one for one, every other row stays where it was.
        QTest::newRow("reorder back and forth keeps the places")
            << inbox::reorder("mine", {{"d", "工作"}, {"e", "其他"}, {"a", "工作"}}, 1)
            << QList<Row>{header("工作"), item("d", "工作"), item("e", "其他"), mine[3],
                          header("生活"), item("a", "工作"), mine[2]};
        // Repeating the current state is no change: `updated` stays.
        QTest::newRow("done again changes nothing") << inbox::toggle("mine", "b", true, 1) << mine;
        QTest::newRow("unknown id changes nothing") << inbox::toggle("mine", "zz", true, 1) << mine;
    }

    void appliesActionsAndWritesThemBack() {
        QFETCH(QJsonObject, message);
        QFETCH(QList<Row>, expected);
        const inbox::Parse parsed = inbox::parse(inbox::serialize(message));
        QVERIFY2(parsed.message, qPrintable(parsed.error));
        const Payload before = baseFeed();
        Payload feed = before;
        const QDateTime now(QDate(2026, 12, 6), QTime(9, 5)); // one-digit minutes: the stamp pads them
        const bool changed = applyMessage(feed, *parsed.message, {now, QStringLiteral("new-1")});
        const bool hers = message["list"] == "hers";
        QCOMPARE(hers ? feed.hers_rows : feed.mine_rows, expected);
        QCOMPARE(hers ? feed.mine_rows : feed.hers_rows, hers ? before.mine_rows : before.hers_rows);
        QCOMPARE(changed, expected != (hers ? before.hers_rows : before.mine_rows));
        QCOMPARE(feed.updated, QString(changed ? "12-06 09:05" : "before"));
        QString error;
        const auto stored = readFeed(serializeFeed(feed, 41), &error);
        QVERIFY2(stored && stored->feed == feed, qPrintable(error));
        QCOMPARE(stored->appliedSeq, 41);
    }

    // The hub promises that after a reorder the feed shows what the app's order override showed.
    // Random lists and orders, the same ones on every run: the app's view with the override must
    // equal a fresh app's view of the feed the hub rewrote, and no row may be lost or doubled.
    void reorderShowsWhatTheAppShowed() {
        QRandomGenerator random(20261206);
        const QStringList orderIds{"a", "b", "c", "", "x"}, orderCats{"A", "B", "其他", "Z"};
        for (int round = 0; round < 4000; ++round) {
            const QList<Row> rows = randomRows(random);
            QList<inbox::OrderItem> order;
            for (int i = 0, n = random.bounded(8); i < n; ++i)
                order.append({pick(random, orderIds), pick(random, orderCats)});

            ListStore app(fixtureClock());
            app.applyFeed(feedOf(rows));
            QList<OrderEntry> dropped;
            for (const auto& [id, cat] : std::as_const(order))
                dropped.append({id, cat});
            if (!dropped.isEmpty())
                app.setOrder(dropped);
            // The reorder message is out: a feed may not end the override before its answer.
            const OverlayFloors::Entry message{OverlayFloors::Kind::Order, ListStore::kMine};
            app.postSent(message);

            ListStore fresh(fixtureClock());
            const QList<Row> rewritten = reorderRows(rows, order, kToday);
            fresh.applyFeed(feedOf(rewritten));

            const QString where = QStringLiteral("round %1").arg(round);
            QVERIFY2(shown(fresh) == shown(app), qPrintable(where));
            QVERIFY2(fixedRows(rewritten) == fixedRows(rows), qPrintable(where));
            // The app reconciles its override against that feed, also once a task was added after
            // the drop: ending it must not move anything on screen, and an order that named each
            // of its tasks once ends.
            QList<Row> later = rewritten;
            if (round % 2)
                later.append({"item", "later", "n", {}, {}, orderCats[(round / 2) % orderCats.size()]});
            ListStore held = app;
            held.applyFeed(feedOf(later)); // before the answer: shown over the override
            const QStringList shownHeld = shown(held);
            held.postAnswered(message, 1);
            held.applyFeed(feedOf(later), 1);
            const bool ended = !held.orderOverride().contains(ListStore::kMine);
            QVERIFY2(!ended || shown(held) == shownHeld, qPrintable(where));
            QSet<QString> named;
            bool once = true;
            for (const inbox::OrderItem& item : std::as_const(order)) {
                const QString& id = item.id; // clang 14 lambdas cannot capture a binding
                const auto visible = std::ranges::count_if(
                    rows, [&](const Row& row) { return rules::isVisibleItem(row, kToday) && row.id == id; });
                once = once && visible == 1 && !named.contains(id);
                named.insert(id);
            }
            QVERIFY2(ended || !once, qPrintable(where));
            QVERIFY2(std::ranges::is_permutation(rewritten, rows, {}, &Row::text, &Row::text),
                     qPrintable(where));
        }
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_clock = std::make_unique<ManualClock>();
        m_error.clear();
        reopen();
    }
    void cleanup() { m_store.reset(); }

    void journalDamage_data() {
        QTest::addColumn<JournalDamageCase>("c");
        const QByteArray one = Journal::lineFor(1, R"({"a":1})"),
                         two = Journal::lineFor(2, R"({"b":2})"),
                         group = Journal::lineFor(3, "{\"c\":3}\t{\"d\":4}\t{\"e\":5}");
        QByteArray badCheck = two;
        badCheck[3] = badCheck[3] == '0' ? '1' : '0';
        using Seqs = QList<qint64>;
        QTest::newRow("whole lines") << JournalDamageCase{one + two, true, Seqs{1, 2}, one + two};
        // An append a crash cut short was never acknowledged: it goes.
        QTest::newRow("last line without its break") << JournalDamageCase{one + two.chopped(1), true, Seqs{1}, one};
        QTest::newRow("last line with a bad check") << JournalDamageCase{one + badCheck, true, Seqs{1}, one};
        // A group is one line: a crash amid its write damages nothing before it.
        QTest::newRow("a number repeated") << JournalDamageCase{one + one, true, Seqs{1}, one};
        QTest::newRow("a group") << JournalDamageCase{one + group, true, Seqs{1, 3, 4, 5}, one + group};
        QTest::newRow("a group cut short") << JournalDamageCase{one + two + group.chopped(8), true, Seqs{1, 2}, one + two};
        // A whole line after a damaged one was acknowledged: nothing may be guessed away.
        QTest::newRow("damage before a whole line") << JournalDamageCase{badCheck + one, false, Seqs{}, badCheck + one};
    }

    void journalDamage() {
        QFETCH(JournalDamageCase, c);
        const QString path = m_dir->filePath("damaged.log"); // not the open store's journal
        QVERIFY(writeFile(path, c.content));
        Journal journal;
        QCOMPARE(journal.open(path, 0, &m_error), c.opens);
        QVERIFY2(c.opens || m_error.contains("line 1"), qPrintable(m_error));
        QList<qint64> seqs;
        for (const Journal::Entry& entry : journal.entries())
            seqs << entry.seq;
        QCOMPARE(seqs, c.kept);
        QCOMPARE(readFile(path), c.remains);
    }

    // Messages read in one event-loop turn share one sync, queued behind that turn: none is applied
    // or answered before it, all are applied in arrival order before the first is answered, and a
    // sender gone meanwhile is not called.
    void groupsMessagesUnderOneSync() {
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
        QCOMPARE(readFile(m_dir->filePath("journal.log")), QByteArray()); // written with the sync
        QTRY_COMPARE(answered.size(), 2);
        QCOMPARE(answered, QStringList({"甲1", "丙1"})); // the last one applied before the first answer
        QCOMPARE(readFile(m_dir->filePath("journal.log")).count('\n'), 1); // one group, one line
        QStringList last;
        for (const Row& row : m_store->feed().mine_rows.sliced(m_store->feed().mine_rows.size() - 3))
            last << row.text;
        QCOMPARE(last, texts);
    }

    // A group whose write or sync fails: every message of it is refused with the system's reason,
    // none applied, the journal cut back to what it held, the numbers given out again; a restart
    // applies exactly what was acknowledged.
    void aFailedWriteFailsTheWholeGroup() {
        const QString journal = m_dir->filePath("journal.log");
        QStringList reports;
        m_store->report = [&](const QString& line) { reports << line; };
        QVERIFY(accept(*m_store, "一", &m_error));
        const QByteArray before = readFile(journal);
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
        QCOMPARE(readFile(journal), before);
        QCOMPARE(m_store->feedText(), feedBefore);
        QCOMPARE(accept(*m_store, "五", &m_error), 2);
        reopen();
        QCOMPARE(counts({"一", "二", "三", "四", "五"}), QList<qsizetype>({1, 0, 0, 0, 1}));
    }

    // A burst is in the journal and served at once but written to the feed file once, 100 ms
    // after the previous write; a crash before that write loses nothing and repeats nothing.
    void coalescesRewritesAndReplaysOnce() {
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
        QCOMPARE(readFile(m_dir->filePath("data.json")), m_store->feedText());
        QVERIFY(accept(*m_store, "四", &m_error));
        reopen(); // the store goes before "四" is written
        QCOMPARE(counts({"一", "二", "三", "四"}), QList<qsizetype>({1, 1, 1, 1}));
        QCOMPARE(seqOnDisk(m_dir->path()), 4);
    }

    // With an apply delay each message is acknowledged at once and applied when its own delay is
    // up, then written with the next rewrite.
    void appliesEachMessageAfterTheDelay() {
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
    void compactsTheJournal() {
        const QString journal = m_dir->filePath("journal.log");
        for (qsizetype i = 0; i < FeedStore::kCompactAfter; ++i)
            QVERIFY(m_store->submit(addition(QString::number(i)), &m_error));
        m_store->commit();
        m_clock->advance(FeedStore::kRewriteEvery);
        QVERIFY(m_written->wait());
        QCOMPARE(readFile(journal), QByteArray());
        QCOMPARE(accept(*m_store, "next", &m_error), FeedStore::kCompactAfter + 1);
        m_clock->advance(FeedStore::kRewriteEvery);
        QVERIFY(m_written->wait());
        QCOMPARE(readFile(journal).count('\n'), 1);
        reopen();
        QCOMPARE(readFile(journal), QByteArray());
        QCOMPARE(counts({"next"}), QList<qsizetype>{1});
        QCOMPARE(accept(*m_store, "after", &m_error), FeedStore::kCompactAfter + 2);
    }

    void keepsItsFilesPrivate_data() {
        QTest::addColumn<bool>("folderExists");
        QTest::newRow("a folder the hub creates") << false;
        QTest::newRow("a folder and journal an older hub left readable") << true;
    }

    // The journal holds every message and the feed every task: owner only, whatever the umask.
    void keepsItsFilesPrivate() {
        QFETCH(bool, folderExists);
        QTemporaryDir parent;
        const QString dir = parent.filePath("hub");
        const mode_t oldMask = ::umask(022);
        if (folderExists) // writeFile makes the folder first
            QVERIFY(writeFile(dir + "/journal.log", {}));
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
    void retriesAFeedFileItCouldNotWrite() {
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
        QCOMPARE(readFile(m_dir->filePath("journal.log")).count('\n'), 1);
    }

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

QTEST_GUILESS_MAIN(TestHub)
#include "test_hub.moc"
