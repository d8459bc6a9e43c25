// The hub's pure rules: applying a message to a feed, and writing the feed back.
#include "hub/FeedJson.h"
#include "hub/FeedOps.h"
#include "tests/support/Fixtures.h"

#include <QRandomGenerator>
#include <algorithm>
#include <QtTest>

Q_DECLARE_METATYPE(QList<Row>)
Q_DECLARE_METATYPE(inbox::Message)

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
    feed.mine_rows = {header("工作"),
                      item("a", "工作"),
                      item("b", "工作", kToday),
                      item("c", "工作", "2026-12-01"),
                      header("生活"),
                      item("d", "生活"),
                      item("e")};
    // Rows the app never shows are kept as they are; a present but empty cat stays present.
    feed.hers_rows = {header("学习"),
                      item("h1", "学习"),
                      {"note", kOdd, kOdd, {}, kOdd, kOdd},
                      {"note", {}, {}, {}, {}, QString()}};
    return feed;
}
} // namespace

class TestHubOps : public QObject {
    Q_OBJECT
private slots:
    void writtenAsQtWritesIt_data();
    void writtenAsQtWritesIt();
    void appliesActionsAndWritesThemBack_data();
    void appliesActionsAndWritesThemBack();
    void reorderShowsWhatTheAppShowed();
};

// A message written straight from its fields is byte for byte what Qt's writer makes of it,
// escapes and all.
void TestHubOps::writtenAsQtWritesIt_data() {
    using inbox::Action;
    QTest::addColumn<inbox::Message>("message");
    const QString odd = QStringLiteral("a\"b\\c\td\n\x01\x1f/é中😀\uFEFF") + QChar(0xD800) + u'x';
    QTest::newRow("done") << inbox::Message{"mine", Action::Done, 1765000000, "t1", {}, {}};
    QTest::newRow("undone") << inbox::Message{"hers", Action::Undone, -3, "t\"1", {}, {}};
    QTest::newRow("edit, every escape") << inbox::Message{"mine", Action::Edit, 7, odd, odd, {}};
    QTest::newRow("add") << inbox::Message{"mine", Action::Add, 0, {}, QStringLiteral("新任务"), {}};
    QTest::newRow("reorder") << inbox::Message{"mine", Action::Reorder, 9, {}, {}, {{"a", "工作"}, {odd, odd}}};
    QTest::newRow("empty reorder") << inbox::Message{"hers", Action::Reorder, 9, {}, {}, {}};
}

void TestHubOps::writtenAsQtWritesIt() {
    QFETCH(inbox::Message, message);
    const QByteArray written = inbox::serialize(message);
    QCOMPARE(written, inbox::serialize(inbox::toJson(message)));
}

void TestHubOps::appliesActionsAndWritesThemBack_data() {
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
        << QList<Row>{header("工作"), item("d", "工作"), item("e", "其他"),
                      mine[3],        header("生活"),    item("a", "工作"),
                      mine[2]};
    // Repeating the current state is no change: `updated` stays.
    QTest::newRow("done again changes nothing") << inbox::toggle("mine", "b", true, 1) << mine;
    QTest::newRow("unknown id changes nothing") << inbox::toggle("mine", "zz", true, 1) << mine;
}

void TestHubOps::appliesActionsAndWritesThemBack() {
    QFETCH(QJsonObject, message);
    QFETCH(QList<Row>, expected);
    const inbox::Parse parsed = inbox::parse(inbox::serialize(message));
    QVERIFY2(parsed.message, qPrintable(parsed.error));
    const Payload before = baseFeed();
    Payload feed = before;
    const QDateTime now(QDate(2026, 12, 6), QTime(9, 15));
    const bool changed = applyMessage(feed, *parsed.message, {now, QStringLiteral("new-1")});
    const bool hers = message["list"] == "hers";
    QCOMPARE(hers ? feed.hers_rows : feed.mine_rows, expected);
    QCOMPARE(hers ? feed.mine_rows : feed.hers_rows, hers ? before.mine_rows : before.hers_rows);
    QCOMPARE(changed, expected != (hers ? before.hers_rows : before.mine_rows));
    QCOMPARE(feed.updated, QString(changed ? "12-06 09:15" : "before"));

    QString error;
    const auto stored = readFeed(serializeFeed(feed, 41), &error);
    QVERIFY2(stored && stored->feed == feed, qPrintable(error));
    QCOMPARE(stored->appliedSeq, 41);
}

namespace {

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
        rows.append({"item", text, id.isEmpty() ? std::nullopt : std::optional(id),
                     state == 0 ? std::nullopt : std::optional(true),
                     state == 1   ? std::optional(kToday)
                     : state == 2 ? std::optional(QString("2026-12-01"))
                                  : std::nullopt,
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

} // namespace

// The hub promises that after a reorder the feed shows what the app's order override showed.
// Random lists and orders, the same ones on every run: the app's view with the override must
// equal a fresh app's view of the feed the hub rewrote, and no row may be lost or doubled.
void TestHubOps::reorderShowsWhatTheAppShowed() {
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
        for (const auto& [id, cat] : std::as_const(order)) {
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

QTEST_GUILESS_MAIN(TestHubOps)
#include "test_hub_ops.moc"
