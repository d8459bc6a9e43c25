#include "tests/support/Fixtures.h"

#include <QtTest>

namespace {

const QString A = QStringLiteral("A"), B = QStringLiteral("B"), Z = QStringLiteral("Z");
// "H:label" for a header, a task's text with "*" when it shows done.
QStringList render(const ListStore& state, bool honorCollapse) {
    QStringList out;
    for (const Row& row : state.displayRows(honorCollapse))
        out << (row.kind == "header" ? "H:" + row.text : row.text + (state.effDone(row) ? "*" : ""));
    return out;
}

struct DisplayCase {
    QList<Row> rows; QStringList overlay, labels;
    QStringList shown; // displayRows(true); collapsed sections differ below
};
struct ReconcileCase { QList<Row> mine, hers; QString choice; QStringList kept; };
struct SettleCase { QString initial; QStringList steps, kept; };
} // namespace

class TestListStore : public QObject {
    Q_OBJECT

private slots:
    void display_data() {
        QTest::addColumn<DisplayCase>("c");

        const QString other = QStringLiteral("其他");
        QTest::newRow("no feed, one pending addition") << DisplayCase{QList<Row>{}, QStringList{"nofeed", "pending:pending-1=new"},
                                                       QStringList{other}, QStringList{"H:其他", "new"}};
        QTest::newRow("repeated header, unknown and absent cat") << DisplayCase{
            QList<Row>{header(A), header(B), header(A), task("1", "a", A), task("2", "b", B), task("3", "z", Z), task("4", "none")},
            QStringList(), QStringList{A, B, other}, QStringList{"H:A", "a", "H:B", "b", "H:其他", "z", "none"}};
        QTest::newRow("feed header 其他 first") << DisplayCase{QList<Row>{header(other), header(A), task("1", "a", A), task("2", "z", Z)},
                                              QStringList(), QStringList{other, A}, QStringList{"H:其他", "z", "H:A", "a"}};
        QTest::newRow("done today shown, done earlier or undated hidden") << DisplayCase{
            QList<Row>{task("y", "y", {}, true, "2026-12-05"), task("t", "t", {}, true, kFixtureToday), task("n", "n", {}, true)},
            QStringList(), QStringList{other}, QStringList{"H:其他", "t*"}};
        QTest::newRow("local tick beats any date, local untick beats today") << DisplayCase{
            QList<Row>{task("y", "y", {}, true, "2026-12-05"), task("t", "t", {}, true, kFixtureToday)},
            QStringList{"done:y", "undone:t"}, QStringList{other}, QStringList{"H:其他", "y*", "t"}};
        QTest::newRow("override moves across sections") << DisplayCase{
            QList<Row>{header(A), header(B), task("1", "a1", A), task("2", "a2", A), task("3", "b1", B)},
            QStringList{"order:3:A", "order:1:B", "order:2:A"}, QStringList{A, B, other}, QStringList{"H:A", "b1", "a2", "H:B", "a1"}};
        QTest::newRow("override sec no longer a label goes to default") << DisplayCase{
            QList<Row>{header(A), task("1", "a1", A), task("2", "a2", A)}, QStringList{"order:2:Gone", "order:1:A"},
            QStringList{A, other}, QStringList{"H:A", "a1", "H:其他", "a2"}};
        QTest::newRow("unnamed items keep feed order after the named") << DisplayCase{
            QList<Row>{header(A), task("1", "a1", A), task("2", "a2", A), task("3", "a3", A), task("4", "a4", A)},
            QStringList{"order:3:A", "order:unknown:A", "order:1:A"}, QStringList{A, other}, QStringList{"H:A", "a3", "a1", "a2", "a4"}};
        // Three items without an id and two sharing one: none of them may vanish.
        QTest::newRow("override with shared keys keeps every task") << DisplayCase{
            QList<Row>{task(QString(), "n1"), task("d", "d1"), task(QString(), "n2"), task("d", "d2"), task(QString(), "n3"), task("u", "u")},
            QStringList{"order:u:其他", "order:d:其他", "order::其他", "order:d:其他"}, QStringList{other},
            QStringList{"H:其他", "u", "d1", "n1", "d2", "n2", "n3"}};
        QTest::newRow("local text and tick, pending additions last") << DisplayCase{
            QList<Row>{header(A), task("1", "old", A)}, QStringList{"text:1=new", "done:1", "pending:pending-1=p1", "text:pending-1=p2"},
            QStringList{A, other}, QStringList{"H:A", "new*", "H:其他", "p2"}};
        QTest::newRow("collapsed section keeps only its header") << DisplayCase{
            QList<Row>{header(A), task("1", "a", A), task("2", "b")}, QStringList{"collapse:A"},
            QStringList{A, other}, QStringList{"H:A", "H:其他", "b"}};
    }

    void display() {
        QFETCH(DisplayCase, c);
        const ListStore state = stateWith(c.rows, c.overlay);
        QCOMPARE(state.sectionLabels(), c.labels);
        QCOMPARE(render(state, true), c.shown);
        // The menu ignores collapsing: it lists every task of the collapsed section too.
        QCOMPARE(render(state, false).size() > c.shown.size(), !state.collapsedCats().isEmpty());
        // Folded once the rows are made, the rows are the same as folded before.
        ListStore later = stateWith(c.rows, c.overlay);
        const QSet<QString> folded = later.collapsedCats();
        for (const QString& label : folded)
            later.toggleCollapse(label);
        render(later, true);
        for (const QString& label : folded)
            later.toggleCollapse(label);
        QCOMPARE(render(later, true), c.shown);
    }

    void localTickSetsToday() {
        ListStore state = stateWith({task("y", "y", {}, true, "2026-12-01"), task("t", "t", A, true, kFixtureToday)},
                                   {"done:y", "undone:t"});
        const QList<OrderedItem> items = state.orderedItems();
        QCOMPARE(items[0].row.doneAt, std::optional<QString>(kFixtureToday));
        QCOMPARE(items[1].row.done, std::optional<bool>(false));
        QVERIFY(!items[1].row.doneAt);
        QCOMPARE(state.displayRows(false)[0], ListStore::headerRow(QStringLiteral("其他")));
        QCOMPARE(items[1].sec, A);
    }

    // The snapshot is made anew when the day changes, with no change to the list: a task done
    // on the day before is hidden the next morning.
    // The views skip a refresh while the revision stands: the same feed again leaves it; a
    // change, a fold and a new day move it on (the day also hides the day before's ticks).
    void revisionFollowsWhatIsShown() {
        struct MovedByHand : Clock {
            QDateTime at = fixtureClock().now();
            QDateTime now() const override { return at; }
        } clock;
        ListStore state(clock);
        const Payload feed = feedOf({task("t", "t", {}, true, kFixtureToday), task("u", "u")});
        state.applyFeed(feed);
        quint64 seen = state.revision();
        const auto movedOn = [&] {
            const quint64 before = std::exchange(seen, state.revision());
            return before != seen;
        };
        state.applyFeed(feed, 2);
        QVERIFY(!movedOn());
        state.setDone(QStringLiteral("u"), true);
        QVERIFY(movedOn());
        state.toggleCollapse(QStringLiteral("其他"));
        QVERIFY(movedOn());
        QCOMPARE(render(state, true), QStringList{"H:其他"});
        state.toggleCollapse(QStringLiteral("其他"));
        QVERIFY(movedOn());
        QCOMPARE(render(state, false), (QStringList{"H:其他", "t*", "u*"}));
        clock.at = clock.at.addDays(1);
        QVERIFY(movedOn());
        QCOMPARE(render(state, false), (QStringList{"H:其他", "u*"}));
    }

    void noFeedTitlesAndPendingIds() {
        ListStore state = stateWith({}, {"nofeed", "pending:pending-1=mine only"});
        QCOMPARE(state.currentTitle(), QStringLiteral("阿蓁的 To-do"));
        state.choose(ListStore::kHers);
        QCOMPARE(state.currentTitle(), QStringLiteral("晴川子的 To-do"));
        QVERIFY2(state.displayRows(false).isEmpty(), "pending additions belong to their own list");
        state.applyFeed(feedOf({}));
        QCOMPARE(state.currentTitle(), QStringLiteral("Hers"));

        const QString id = ListStore::newPendingId();
        QVERIFY(QRegularExpression("^pending-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$").match(id).hasMatch());
        QVERIFY(id != ListStore::newPendingId());
    }

    // Before each row the overlay is: localDone x=true, y=false; localText x="new", y=" spaced";
    // pendingAdd mine ["add me", "old done"], hers ["hers only"]; order of mine [2:A, 1:"", 3:A].
    void reconcile_data() {
        QTest::addColumn<ReconcileCase>("c");

        const QStringList all{"done:x", "done:y", "text:x", "text:y", "add:mine:add me", "add:mine:old done", "add:hers:hers only"};
        QTest::newRow("feed disagrees with everything") << ReconcileCase{
            QList<Row>{task("x", "old"), task("y", "spaced", {}, true, kFixtureToday)}, QList<Row>{}, "mine", all + QStringList{"order:mine"}};
        QTest::newRow("feed agrees; absent done equals false; whitespace differs") << ReconcileCase{
            QList<Row>{task("x", "new", {}, true, "2020-01-01"), task("y", "spaced"), task("z", "add me"), task("w", "old done", {}, true, "2020-01-01")},
            QList<Row>{}, "mine", QStringList{"text:y", "add:hers:hers only", "order:mine"}};
        QTest::newRow("ids found in the other list count; texts only in their own list") << ReconcileCase{
            QList<Row>{task("h", "hers only")}, QList<Row>{task("x", "new", {}, true), task("y", " spaced", {}, false), task("q", "add me")},
            "mine", QStringList{"add:mine:add me", "add:mine:old done", "add:hers:hers only", "order:mine"}};
        QTest::newRow("order matches; done today counts, done earlier does not") << ReconcileCase{
            QList<Row>{header(A), task("2", "b", A, true, kFixtureToday), task("9", "old", A, true, "2026-12-05"), task("1", "a"), task("3", "c", A)},
            QList<Row>{}, "mine", all};
        QTest::newRow("order with a cat that differs from its sec stays") << ReconcileCase{
            QList<Row>{task("2", "b", A), task("1", "a", A), task("3", "c", A)}, QList<Row>{}, "mine", all + QStringList{"order:mine"}};
        // Items its tasks come before in their sections show the same with or without it.
        QTest::newRow("order followed by tasks it does not name ends") << ReconcileCase{
            QList<Row>{task("2", "b", A), task("1", "a"), task("3", "c", A), task("4", "d"), task("5", "e", A)},
            QList<Row>{}, "mine", all};
        QTest::newRow("order with a task it does not name before its own in a section stays") << ReconcileCase{
            QList<Row>{task("2", "b", A), task("4", "d"), task("1", "a"), task("3", "c", A)}, QList<Row>{}, "mine", all + QStringList{"order:mine"}};
        QTest::newRow("order of the list not chosen is not examined") << ReconcileCase{
            QList<Row>{task("2", "b", A), task("1", "a"), task("3", "c", A)}, QList<Row>{}, "hers", all + QStringList{"order:mine"}};
    }

    void reconcile() {
        QFETCH(ReconcileCase, c);

        ListStore state = stateWith({}, {"done:x", "undone:y", "text:x=new", "text:y= spaced", "pending:pending-1=add me",
                                        "pending:pending-2=old done", "order:2:A", "order:1:", "order:3:A"});
        state.choose(ListStore::kHers);
        state.addPending(task("pending-3", "hers only"));
        state.choose(c.choice);
        state.applyFeed(feedOf(c.mine, c.hers));

        for (const QString& list : {ListStore::kMine, ListStore::kHers})
            QVERIFY2(state.pendingAdd().contains(list), "a list key stays even when emptied");
        c.kept.sort();
        QCOMPARE(overlayKeys(state), c.kept);
        QCOMPARE(state.payload(), std::optional<Payload>(feedOf(c.mine, c.hers)));
    }

    // The user's changes against feeds that arrive while messages about them are on their way.
    // Steps: "done ID", "undone ID", "text ID=V", "add PENDING=V", "order ID:SEC ..." (the user's
    // change and its message); "answer KIND KEY" (the relay answered one message about it, or the
    // post failed); "fetch" (a fetch starts, numbered from 1); "feed N ROWS" (fetch N's feed
    // arrives, rows as in feedRows); "shows ROWS" (the display, as render gives it, space-separated).
    void settle_data() {
        QTest::addColumn<SettleCase>("c");

        QTest::newRow("tick untick tick: a feed agrees while later messages wait for answers") << SettleCase{
            "a", QStringList{"done a", "undone a", "done a", "fetch", "answer done a", "fetch",
                                  "feed 2 a*", "shows H:其他 a*",
                                  "answer done a", "fetch", "feed 3 a", "shows H:其他 a*",
                                  "answer done a", "fetch", "feed 4 a*", "shows H:其他 a*"},
            QStringList{}};
        QTest::newRow("tick untick tick: the agreeing feed was fetched before the last answer") << SettleCase{
            "a", QStringList{"done a", "fetch", "undone a", "done a", "answer done a",
                                  "answer done a", "fetch", "answer done a",
                                  "feed 1 a*", "feed 2 a", "shows H:其他 a*",
                                  "fetch", "feed 3 a*", "shows H:其他 a*"},
            QStringList{}};
        // The last post fails and its message never lands: the entry stays until a feed agrees
        // (here once someone else unticks the task), as the failure counts as an answer.
        QTest::newRow("untick tick untick: a failed post counts as answered") << SettleCase{
            "a*", QStringList{"undone a", "done a", "undone a", "answer done a", "fetch",
                                   "answer done a", "feed 1 a", "shows H:其他 a",
                                   "answer done a", "fetch", "feed 2 a*", "shows H:其他 a",
                                   "fetch", "feed 3 a", "shows H:其他 a"},
            QStringList{}};
        QTest::newRow("an edit overtaken by an edit back") << SettleCase{
            "a=x", QStringList{"text a=y", "text a=x", "fetch", "feed 1 a=x", "shows H:其他 x",
                                    "answer text a", "fetch", "feed 2 a=y", "shows H:其他 x",
                                    "answer text a", "fetch", "feed 3 a=x", "shows H:其他 x"},
            QStringList{}};
        QTest::newRow("an add whose text a hidden old task has") << SettleCase{
            "o~=x", QStringList{"add pending-1=x", "fetch", "feed 1 o~=x", "shows H:其他 x",
                                     "answer add pending-1", "fetch", "feed 2 o~=x,n=x",
                                     "shows H:其他 x"},
            QStringList{}};
        // The feed carries the added task before the app has the answer: a task that was not
        // there when the user added it is the addition, so the row goes at once (never shown twice).
        QTest::newRow("an add that lands before its answer is in") << SettleCase{
            "o~=x,p=x", QStringList{"add pending-1=x", "fetch", "feed 1 o~=x,p=x", "shows H:其他 x x",
                                         "feed 1 o~=x,p=x,n=x", "shows H:其他 x x"},
            QStringList{}};
        QTest::newRow("an order dragged and dragged back") << SettleCase{
            "#A,1@A,2@A", QStringList{"order 2:A 1:A", "order 1:A 2:A", "fetch",
                                           "feed 1 #A,1@A,2@A", "shows H:A 1 2",
                                           "answer order mine", "fetch", "feed 2 #A,2@A,1@A",
                                           "shows H:A 1 2", "answer order mine", "fetch",
                                           "feed 3 #A,1@A,2@A", "shows H:A 1 2"},
            QStringList{}};
        QTest::newRow("an order outrun by a task added after the drag") << SettleCase{
            "#A,1@A,2@A,#B,3@B", QStringList{"order 2:A 1:A 3:B", "add pending-1=n", "fetch",
                                                  "answer order mine", "answer add pending-1",
                                                  "fetch", "feed 2 #A,2@A,1@A,#B,3@B,4=n,5=m@A",
                                                  "shows H:A 2 1 m H:B 3 H:其他 n"},
            QStringList{}};
    }

    void settle() {
        QFETCH(SettleCase, c);
        using Kind = OverlayFloors::Kind;
        const QHash<QString, Kind> kinds{{"done", Kind::Done}, {"text", Kind::Text}, {"add", Kind::Add}, {"order", Kind::Order}};

        ListStore state = stateWith(rowsFrom(c.initial), {});
        quint64 started = 0;
        for (qsizetype i = 0; i < c.steps.size(); ++i) {
            const QString& step = c.steps[i];
            const QString verb = step.section(' ', 0, 0), rest = step.section(' ', 1);
            const QString id = rest.section('=', 0, 0), value = rest.section('=', 1);
            if (verb == "done" || verb == "undone") {
                state.setDone(rest, verb == "done");
                state.postSent({Kind::Done, rest});
            } else if (verb == "text") {
                state.setText(id, value);
                state.postSent({Kind::Text, id});
            } else if (verb == "add") {
                state.addPending(task(id, value, std::nullopt, false));
                state.postSent({Kind::Add, id});
            } else if (verb == "order") {
                QList<OrderEntry> order;
                for (const QString& entry : rest.split(' '))
                    order.append({entry.section(':', 0, 0), entry.section(':', 1)});
                state.setOrder(order);
                state.postSent({Kind::Order, ListStore::kMine});
            } else if (verb == "answer") {
                state.postAnswered({kinds.value(rest.section(' ', 0, 0)), rest.section(' ', 1)}, started + 1);
            } else if (verb == "fetch") {
                ++started;
            } else if (verb == "feed") {
                state.applyFeed(feedOf(rowsFrom(rest.section(' ', 1))), rest.section(' ', 0, 0).toULongLong());
            } else if (verb == "shows") {
                QVERIFY2(render(state, false).join(' ') == rest,
                         qPrintable(QStringLiteral("step %1: %2").arg(i).arg(render(state, false).join(' '))));
            } else {
                QFAIL(qPrintable("unknown step " + step));
            }
        }
        QCOMPARE(overlayKeys(state), c.kept);
        QVERIFY2(!c.kept.isEmpty() || state.floors().isEmpty(), "an ended entry leaves no record behind");
    }
};

QTEST_APPLESS_MAIN(TestListStore)
#include "test_list_store.moc"
