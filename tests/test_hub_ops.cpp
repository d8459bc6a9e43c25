// The hub's pure rules: reading a message, applying it to a feed, writing the feed back.
#include "FeedJson.h"
#include "FeedOps.h"
#include "InboxMessage.h"
#include "ListState.h"

#include <QRandomGenerator>
#include <QtTest>

Q_DECLARE_METATYPE(QList<Row>)

namespace {

const QDateTime kNow(QDate(2026, 12, 6), QTime(9, 15));
const QString kToday = QStringLiteral("2026-12-06");

Row item(const QString& id, const QString& cat = {}, bool done = false,
         const QString& doneAt = {}) {
    return Row{QStringLiteral("item"),
               QStringLiteral("task ") + id,
               id,
               done,
               doneAt.isEmpty() ? std::nullopt : std::optional<QString>(doneAt),
               cat.isEmpty() ? std::nullopt : std::optional<QString>(cat)};
}
Row doneToday(const QString& id, const QString& cat) {
    return item(id, cat, true, kToday);
}
Row doneBefore(const QString& id, const QString& cat) {
    return item(id, cat, true, QStringLiteral("2026-12-01"));
}
Row header(const QString& label) {
    return Row{
        QStringLiteral("header"), label, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
}

// One line per row, so a failed comparison shows exactly which row differs.
QStringList describe(const QList<Row>& rows) {
    QStringList out;
    for (const Row& r : rows)
        out << QStringLiteral("%1 %2 id=%3 done=%4 at=%5 cat=%6")
                   .arg(r.kind, r.text, r.id.value_or("-"),
                        r.done ? (*r.done ? "true" : "false") : "-", r.doneAt.value_or("-"),
                        r.cat.value_or("-"));
    return out;
}

Payload baseFeed() {
    Payload feed;
    feed.updated = QStringLiteral("before");
    feed.mine_rows = {header("工作"),
                      item("a", "工作"),
                      doneToday("b", "工作"),
                      doneBefore("c", "工作"),
                      header("生活"),
                      item("d", "生活"),
                      item("e")};
    feed.hers_rows = {header("学习"), item("h1", "学习")};
    return feed;
}

HubMessage parsed(const QJsonObject& object) {
    const MessageParse result = parseMessage(inbox::serialize(object));
    if (!result.message)
        qFatal("test message refused: %s", qPrintable(result.error));
    return *result.message;
}

QList<std::pair<QString, QString>> visiblePairs(const QList<Row>& rows, const QString& today) {
    QList<std::pair<QString, QString>> out;
    for (const Row& row : rows) {
        if (isVisibleItem(row, today))
            out.append({row.id.value_or(QString()), row.cat.value_or(QString())});
    }
    return out;
}

} // namespace

class TestHubOps : public QObject {
    Q_OBJECT

private slots:
    void appliesActions_data();
    void appliesActions();
    void reorderLayout_data();
    void reorderLayout();
    void reorderMatchesTheAppsOverride();
    void feedSurvivesSerialization();
    void demoFeedShowsBothKindsOfDoneTasks();
};

void TestHubOps::appliesActions_data() {
    QTest::addColumn<QJsonObject>("message");
    QTest::addColumn<QList<Row>>("mine");
    QTest::addColumn<QList<Row>>("hers");
    const Payload base = baseFeed();
    auto mineWith = [&](qsizetype index, const Row& row) {
        QList<Row> rows = base.mine_rows;
        rows[index] = row;
        return rows;
    };
    Row edited = item("a", "工作");
    edited.text = QStringLiteral("  new text  ");
    Row undone = item("b", "工作");

    QTest::newRow("done sets doneAt today")
        << inbox::toggle("mine", "a", "done", 1) << mineWith(1, doneToday("a", "工作"))
        << base.hers_rows;
    QTest::newRow("done on an earlier day's task moves its day")
        << inbox::toggle("mine", "c", "done", 1) << mineWith(3, doneToday("c", "工作"))
        << base.hers_rows;
    QTest::newRow("undone clears doneAt")
        << inbox::toggle("mine", "b", "undone", 1) << mineWith(2, undone) << base.hers_rows;
    QTest::newRow("edit sets the text exactly")
        << inbox::edit("mine", "a", "  new text  ", 1) << mineWith(1, edited) << base.hers_rows;
    QTest::newRow("add appends a plain task")
        << inbox::add("mine", "新任务", 1)
        << base.mine_rows + QList<Row>{Row{"item", "新任务", QStringLiteral("new-1"), false,
                                           std::nullopt, std::nullopt}}
        << base.hers_rows;
    Row hersDone = doneToday("h1", "学习");
    QTest::newRow("list hers picks hers_rows")
        << inbox::toggle("hers", "h1", "done", 1) << base.mine_rows
        << QList<Row>{header("学习"), hersDone};
    QTest::newRow("unknown id changes nothing")
        << inbox::toggle("mine", "zz", "done", 1) << base.mine_rows << base.hers_rows;
    QTest::newRow("an id of the other list changes nothing")
        << inbox::toggle("mine", "h1", "done", 1) << base.mine_rows << base.hers_rows;
    QTest::newRow("done twice on the same day changes nothing")
        << inbox::toggle("mine", "b", "done", 1) << base.mine_rows << base.hers_rows;
}

void TestHubOps::appliesActions() {
    QFETCH(QJsonObject, message);
    QFETCH(QList<Row>, mine);
    QFETCH(QList<Row>, hers);
    Payload feed = baseFeed();
    const bool changed =
        applyMessage(feed, parsed(message), ApplyContext{kNow, QStringLiteral("new-1")});
    QCOMPARE(describe(feed.mine_rows), describe(mine));
    QCOMPARE(describe(feed.hers_rows), describe(hers));
    const bool expectChanged = mine != baseFeed().mine_rows || hers != baseFeed().hers_rows;
    QCOMPARE(changed, expectChanged);
    QCOMPARE(feed.updated,
             expectChanged ? QStringLiteral("12-06 09:15") : QStringLiteral("before"));
}

void TestHubOps::reorderLayout_data() {
    QTest::addColumn<QList<Row>>("rows");
    QTest::addColumn<QStringList>("order"); // "id/cat"
    QTest::addColumn<QList<Row>>("expected");

    const QList<Row> tidy = {header("工作"), item("a", "工作"), item("b", "工作"),
                             header("生活"), item("c", "生活"), item("d")};
    QTest::newRow("same order on a tidy list changes nothing")
        << tidy << QStringList{"a/工作", "b/工作", "c/生活", "d/其他"}
        << QList<Row>{header("工作"), item("a", "工作"), item("b", "工作"),
                      header("生活"), item("c", "生活"), item("d", "其他")};
    QTest::newRow("a move across sections lands under its header")
        << tidy << QStringList{"b/工作", "c/生活", "a/生活", "d/其他"}
        << QList<Row>{header("工作"),    item("b", "工作"), header("生活"),
                      item("c", "生活"), item("a", "生活"), item("d", "其他")};
    QTest::newRow("hidden tasks stay in their section, after the visible ones")
        << QList<Row>{header("工作"), doneBefore("x", "工作"), item("a", "工作"), header("生活"),
                      item("c", "生活")}
        << QStringList{"c/工作", "a/工作"}
        << QList<Row>{header("工作"), item("c", "工作"), item("a", "工作"), doneBefore("x", "工作"),
                      header("生活")};
    QTest::newRow("a header named 其他 takes the default section")
        << QList<Row>{header("其他"), header("生活"), item("c", "生活"), item("d")}
        << QStringList{"d/其他", "c/生活"}
        << QList<Row>{header("其他"), item("d", "其他"), header("生活"), item("c", "生活")};
    QTest::newRow("interleaved sections: visible tasks swap places, the rest stays")
        << QList<Row>{header("工作"), item("a", "工作"), doneBefore("x", "工作"), header("生活"),
                      item("c", "生活")}
        << QStringList{"c/生活", "a/工作"}
        << QList<Row>{header("工作"), item("c", "生活"), doneBefore("x", "工作"), header("生活"),
                      item("a", "工作")};
    QTest::newRow("unknown and repeated ids are skipped; unnamed tasks follow in old order")
        << tidy << QStringList{"zz/工作", "c/工作", "c/生活", "x/生活"}
        << QList<Row>{header("工作"),    item("c", "工作"), item("a", "工作"),
                      item("b", "工作"), header("生活"),    item("d")};
    QTest::newRow("a hidden task named in the order stays hidden")
        << QList<Row>{doneBefore("x", "工作"), item("a", "工作"), item("b", "工作")}
        << QStringList{"x/工作", "b/工作", "a/工作"}
        << QList<Row>{item("b", "工作"), item("a", "工作"), doneBefore("x", "工作")};
}

void TestHubOps::reorderLayout() {
    QFETCH(QList<Row>, rows);
    QFETCH(QStringList, order);
    QFETCH(QList<Row>, expected);
    QList<inbox::OrderItem> entries;
    for (const QString& entry : order)
        entries.append({entry.section('/', 0, 0), entry.section('/', 1)});
    QCOMPARE(describe(reorderRows(rows, entries, kToday)), describe(expected));
}

// Random lists and orders, checked against the app's own view model: after the hub applies a
// reorder, the feed alone shows what the app showed with that order as its local override.
void TestHubOps::reorderMatchesTheAppsOverride() {
    QRandomGenerator random(20261206);
    const QStringList labels = {"工作", "生活", "其他", "阅读"};
    for (int round = 0; round < 400; ++round) {
        QList<Row> rows;
        const int size = random.bounded(0, 14);
        for (int i = 0; i < size; ++i) {
            const QString id =
                QStringLiteral("t%1").arg(random.bounded(0, 10)); // repeats on purpose
            const QString cat =
                random.bounded(4) == 0 ? QString() : labels[random.bounded(labels.size())];
            switch (random.bounded(6)) {
            case 0:
                rows.append(header(labels[random.bounded(labels.size())]));
                break;
            case 1:
                rows.append(doneBefore(id, cat));
                break;
            case 2:
                rows.append(doneToday(id, cat));
                break;
            case 3: {
                Row noId = item(id, cat);
                noId.id.reset();
                rows.append(noId);
                break;
            }
            default:
                rows.append(item(id, cat));
            }
        }
        QList<inbox::OrderItem> order;
        QList<OrderEntry> override;
        const QList<std::pair<QString, QString>> before = visiblePairs(rows, kToday);
        // Mostly a shuffle of the visible tasks (what a drag sends), sometimes anything.
        QList<qsizetype> picks;
        for (qsizetype i = 0; i < before.size(); ++i)
            picks.append(i);
        std::shuffle(picks.begin(), picks.end(), random);
        for (qsizetype pick : picks) {
            QString id = before[pick].first;
            if (random.bounded(8) == 0)
                id = QStringLiteral("t%1").arg(random.bounded(0, 12));
            const QString cat = labels[random.bounded(labels.size())];
            order.append({id, cat});
            override.append({id, cat});
        }

        ListState app;
        app.currentDate = [] { return kNow.date(); };
        app.payload = Payload{};
        app.payload->mine_rows = rows;
        app.orderOverride.insert(ListState::kMine, override);
        QList<std::pair<QString, QString>> shown;
        for (const OrderedItem& ordered : app.orderedItems())
            shown.append({ordered.row.id.value_or(QString()), ordered.sec});

        const QList<Row> after = reorderRows(rows, order, kToday);
        QCOMPARE(visiblePairs(after, kToday), shown);
        // Nothing is lost or invented: the same rows, only visible cats and places differ.
        QCOMPARE(after.size(), rows.size());
        auto withoutVisibleCats = [](QList<Row> list) {
            for (Row& row : list) {
                if (isVisibleItem(row, kToday))
                    row.cat.reset();
            }
            QStringList lines = describe(list);
            lines.sort();
            return lines;
        };
        QCOMPARE(withoutVisibleCats(after), withoutVisibleCats(rows));
        auto hiddenAndHeaders = [](const QList<Row>& list) {
            QList<Row> out;
            for (const Row& row : list) {
                if (!isVisibleItem(row, kToday))
                    out.append(row);
            }
            return describe(out);
        };
        QCOMPARE(hiddenAndHeaders(after), hiddenAndHeaders(rows));
        // Sent each visible id once (what the app sends): the feed carries exactly the message.
        QStringList visibleIds, sentIds;
        for (qsizetype i = 0; i < before.size(); ++i) {
            visibleIds << before[i].first;
            sentIds << order[i].id;
        }
        const bool unique =
            QSet<QString>(visibleIds.begin(), visibleIds.end()).size() == before.size();
        if (unique && !visibleIds.contains(QString()) &&
            std::is_permutation(visibleIds.begin(), visibleIds.end(), sentIds.begin(),
                                sentIds.end())) {
            for (qsizetype i = 0; i < order.size(); ++i)
                QCOMPARE(visiblePairs(after, kToday)[i], std::pair(order[i].id, order[i].cat));
        }
    }
}

// Every string a message can carry comes back from the written feed exactly.
void TestHubOps::feedSurvivesSerialization() {
    const QString odd =
        QStringLiteral("say \"hi\" \\ tab\tline\n\x07 🍅 𠀀 \"}, {\"kind\": ") + QChar(0);
    Payload feed = baseFeed();
    feed.mine_title = odd;
    feed.mine_rows.append(Row{QStringLiteral("note"), odd, odd, std::nullopt, odd, odd});
    feed.hers_rows.first().cat = QString();
    const QByteArray bytes = serializeFeed(feed, 41);
    const DecodeResult decoded = decodePayload(bytes);
    QVERIFY2(decoded.payload, qPrintable(decoded.error));
    QCOMPARE(describe(decoded.payload->mine_rows), describe(feed.mine_rows));
    QVERIFY(*decoded.payload == feed);
    QString error;
    QCOMPARE(readAppliedSeq(bytes, &error), std::optional<qint64>(41));
}

void TestHubOps::demoFeedShowsBothKindsOfDoneTasks() {
    const QDateTime now(QDate(2027, 3, 1), QTime(23, 59));
    const QByteArray bytes = serializeFeed(demoFeed(now), 0);
    const DecodeResult decoded = decodePayload(bytes);
    QVERIFY2(decoded.payload, qPrintable(decoded.error));
    QSet<QString> ids;
    for (const QList<Row>* rows : {&decoded.payload->mine_rows, &decoded.payload->hers_rows}) {
        int today = 0, earlier = 0, open = 0;
        for (const Row& row : *rows) {
            if (row.kind != "item")
                continue;
            QVERIFY(row.id && !ListState::isPendingId(*row.id));
            QVERIFY2(!ids.contains(*row.id), qPrintable(*row.id));
            ids.insert(*row.id);
            if (!row.done.value_or(false))
                ++open;
            else if (row.doneAt == "2027-03-01")
                ++today;
            else if (row.doneAt && *row.doneAt < "2027-03-01")
                ++earlier;
        }
        QVERIFY(open > 0 && today > 0 && earlier > 0);
    }
    QCOMPARE(decoded.payload->updated, QStringLiteral("03-01 23:59"));
}

QTEST_GUILESS_MAIN(TestHubOps)
#include "test_hub_ops.moc"
