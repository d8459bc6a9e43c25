#include "ListState.h"

#include <QtTest>

Q_DECLARE_METATYPE(QList<Row>)

namespace {

const QDate kToday(2026, 12, 6);
const QString kTodayStr = QStringLiteral("2026-12-06");

Row header(const QString& text) {
    return Row{QStringLiteral("header"), text, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
}

Row item(const QString& id, const QString& text, std::optional<QString> cat = std::nullopt,
         std::optional<bool> done = std::nullopt, std::optional<QString> doneAt = std::nullopt) {
    return Row{QStringLiteral("item"), text,
               id.isNull() ? std::nullopt : std::optional<QString>(id), done, doneAt, cat};
}

Payload feedOf(const QList<Row>& mine, const QList<Row>& hers = {}) {
    return Payload{QStringLiteral("u"), QStringLiteral("Mine"), QString(), mine,
                   QStringLiteral("Hers"), QString(), hers};
}

ListState stateWith(const QList<Row>& mine, const QList<Row>& hers = {}) {
    ListState state;
    state.currentDate = [] { return kToday; };
    state.payload = feedOf(mine, hers);
    return state;
}

// "H:label" for a header, "text" for a task with its effective mark: "text*" when done.
QStringList render(const ListState& state, bool honorCollapse = false) {
    QStringList out;
    for (const Row& row : state.displayRows(honorCollapse)) {
        if (row.kind == QLatin1String("header"))
            out << QStringLiteral("H:") + row.text;
        else
            out << row.text + (state.effDone(row) ? QStringLiteral("*") : QString());
    }
    return out;
}

} // namespace

class TestListState : public QObject {
    Q_OBJECT

private slots:
    void noFeed();
    void titles();
    void display_data();
    void display();
    void doneTodayRule();
    void overrideDuplicatesKeepEveryTask();
    void displayHeadersAreClean();
    void collapse();
    void pendingIds();
    void reconcile_data();
    void reconcile();
    void reconcileOverride_data();
    void reconcileOverride();
};

void TestListState::noFeed() {
    ListState state;
    state.currentDate = [] { return kToday; };
    QCOMPARE(state.currentTitle(), QStringLiteral("阿蓁的 To-do"));
    QCOMPARE(state.sectionLabels(), QStringList{QStringLiteral("其他")});
    QVERIFY(state.displayRows(true).isEmpty());
    state.choice = ListState::kHers;
    QCOMPARE(state.currentTitle(), QStringLiteral("晴川子的 To-do"));

    state.pendingAdd[ListState::kHers] = {item(QStringLiteral("pending-X"), QStringLiteral("new"), std::nullopt, false)};
    QCOMPARE(render(state), (QStringList{QStringLiteral("H:其他"), QStringLiteral("new")}));
    state.choice = ListState::kMine;
    QVERIFY2(state.displayRows(false).isEmpty(), "pending additions belong to their own list");
}

void TestListState::titles() {
    ListState state = stateWith({});
    QCOMPARE(state.currentTitle(), QStringLiteral("Mine"));
    state.choice = QStringLiteral("anything else");
    QCOMPARE(state.currentTitle(), QStringLiteral("Hers"));
}

void TestListState::display_data() {
    QTest::addColumn<QList<Row>>("rows");
    QTest::addColumn<QStringList>("overlay");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QStringList>("shown");

    const QString A = QStringLiteral("A"), B = QStringLiteral("B"), Z = QStringLiteral("Z");
    const QString other = QStringLiteral("其他");
    const QList<Row> repeated = {header(A), header(B), header(A), item("1", "a", A), item("2", "b", B),
                                 item("3", "z", Z), item("4", "none")};
    QTest::newRow("repeated header, unknown and absent cat")
        << repeated << QStringList() << QStringList{A, B, other}
        << QStringList{"H:A", "a", "H:B", "b", "H:其他", "z", "none"};
    QTest::newRow("feed header 其他 first")
        << QList<Row>{header(other), header(A), item("1", "a", A), item("2", "z", Z)} << QStringList()
        << QStringList{other, A} << QStringList{"H:其他", "z", "H:A", "a"};
    QTest::newRow("header without items shows nothing")
        << QList<Row>{header(A), header(B), item("1", "b", B), Row{"note", "x", {}, {}, {}, B}}
        << QStringList() << QStringList{A, B, other} << QStringList{"H:B", "b"};
    QTest::newRow("override moves across sections")
        << QList<Row>{header(A), header(B), item("1", "a1", A), item("2", "a2", A), item("3", "b1", B)}
        << QStringList{"order:3:A", "order:1:B", "order:2:A"} << QStringList{A, B, other} << QStringList{"H:A", "b1", "a2", "H:B", "a1"};
    QTest::newRow("override sec no longer a label goes to default")
        << QList<Row>{header(A), item("1", "a1", A), item("2", "a2", A)} << QStringList{"order:2:Gone", "order:1:A"}
        << QStringList{A, other} << QStringList{"H:A", "a1", "H:其他", "a2"};
    QTest::newRow("items the override does not name keep feed order after it")
        << QList<Row>{header(A), item("1", "a1", A), item("2", "a2", A), item("3", "a3", A), item("4", "a4", A)}
        << QStringList{"order:3:A", "order:unknown:A", "order:1:A"} << QStringList{A, other} << QStringList{"H:A", "a3", "a1", "a2", "a4"};
    QTest::newRow("override entry named twice places one task")
        << QList<Row>{header(A), item("1", "a1", A), item("2", "a2", A)} << QStringList{"order:2:A", "order:2:A", "order:1:A"}
        << QStringList{A, other} << QStringList{"H:A", "a2", "a1"};
    QTest::newRow("local text and local tick together")
        << QList<Row>{item("1", "old")} << QStringList{"text:1=new", "done:1"} << QStringList{other}
        << QStringList{"H:其他", "new*"};
    QTest::newRow("local untick of an item done today")
        << QList<Row>{item("1", "t", std::nullopt, true, kTodayStr)} << QStringList{"undone:1"} << QStringList{other}
        << QStringList{"H:其他", "t"};
    QTest::newRow("pending additions after feed items, with local text")
        << QList<Row>{header(A), item("1", "a", A)} << QStringList{"pending:pending-1=p1", "pending:pending-2=p2", "text:pending-2=edited"}
        << QStringList{A, other} << QStringList{"H:A", "a", "H:其他", "p1", "edited"};
}

void TestListState::display() {
    QFETCH(QList<Row>, rows);
    QFETCH(QStringList, overlay);
    QFETCH(QStringList, labels);
    QFETCH(QStringList, shown);

    ListState state = stateWith(rows);
    // Overlay shorthand: "order:ID:SEC", "done:ID", "undone:ID", "text:ID=V", "pending:ID=V".
    for (const QString& part : overlay) {
        const QString kind = part.section(QLatin1Char(':'), 0, 0);
        const QString rest = part.section(QLatin1Char(':'), 1);
        const QString id = rest.section(QLatin1Char('='), 0, 0);
        const QString value = rest.section(QLatin1Char('='), 1);
        if (kind == QLatin1String("order"))
            state.orderOverride[ListState::kMine].append(
                {rest.section(QLatin1Char(':'), 0, 0), rest.section(QLatin1Char(':'), 1)});
        else if (kind == QLatin1String("done") || kind == QLatin1String("undone"))
            state.localDone[id] = kind == QLatin1String("done");
        else if (kind == QLatin1String("text"))
            state.localText[id] = value;
        else if (kind == QLatin1String("pending"))
            state.pendingAdd[ListState::kMine].append(item(id, value, std::nullopt, false));
        else
            QFAIL(qPrintable(QStringLiteral("bad overlay shorthand ") + part));
    }
    QCOMPARE(state.sectionLabels(), labels);
    QCOMPARE(render(state), shown);
}

void TestListState::doneTodayRule() {
    ListState state = stateWith({item("y", "yesterday", std::nullopt, true, QStringLiteral("2026-12-05")),
                                 item("t", "today", std::nullopt, true, kTodayStr),
                                 item("n", "no date", std::nullopt, true)});
    QCOMPARE(render(state), (QStringList{"H:其他", "today*"}));

    // A local tick shows the task done today whatever the feed's date says.
    state.localDone[QStringLiteral("y")] = true;
    state.localDone[QStringLiteral("t")] = false;
    const QList<OrderedItem> items = state.orderedItems();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0].row.doneAt, std::optional<QString>(kTodayStr));
    QCOMPARE(items[0].row.done, std::optional<bool>(true));
    QCOMPARE(items[1].row.done, std::optional<bool>(false));
    QVERIFY(!items[1].row.doneAt);
}

void TestListState::overrideDuplicatesKeepEveryTask() {
    // Three items without an id and two sharing one: every one of them must stay visible.
    ListState state = stateWith({item(QString(), "n1"), item("d", "d1"), item(QString(), "n2"),
                                 item("d", "d2"), item(QString(), "n3"), item("u", "u")});
    state.orderOverride[ListState::kMine] = {{"u", "其他"}, {"d", "其他"}, {"", "其他"}, {"d", "其他"}};
    QCOMPARE(render(state), (QStringList{"H:其他", "u", "d1", "n1", "d2", "n2", "n3"}));
}

void TestListState::displayHeadersAreClean() {
    ListState state = stateWith({header(QStringLiteral("A")), item("1", "a", QStringLiteral("Z"))});
    state.orderOverride[ListState::kMine] = {{"1", "A"}};
    const QList<Row> rows = state.displayRows(false);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0], ListState::headerRow(QStringLiteral("A")));
    QCOMPARE(rows[0].cat, std::optional<QString>(QStringLiteral("A")));
    QVERIFY(!rows[0].id && !rows[0].done && !rows[0].doneAt);
    QCOMPARE(rows[1].cat, std::optional<QString>(QStringLiteral("Z")));
}

void TestListState::collapse() {
    ListState state = stateWith({header(QStringLiteral("A")), item("1", "a", QStringLiteral("A")), item("2", "b")});
    int rebuilt = 0;
    state.collapseChanged = [&] { ++rebuilt; };
    state.toggleCollapse(QStringLiteral("A"));
    QCOMPARE(rebuilt, 1);
    QCOMPARE(render(state, true), (QStringList{"H:A", "H:其他", "b"}));
    QCOMPARE(render(state, false), (QStringList{"H:A", "a", "H:其他", "b"}));
    state.choice = ListState::kHers;
    QVERIFY2(state.collapsedCats.contains(QStringLiteral("A")), "one set serves both lists");
    state.toggleCollapse(QStringLiteral("A"));
    QCOMPARE(rebuilt, 2);
    QVERIFY(state.collapsedCats.isEmpty());
}

void TestListState::pendingIds() {
    const QString id = ListState::newPendingId();
    QCOMPARE(id.size(), 44);
    QVERIFY(ListState::isPendingId(id));
    QVERIFY(QRegularExpression(QStringLiteral("^pending-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"))
                .match(id)
                .hasMatch());
    QVERIFY(id != ListState::newPendingId());
}

void TestListState::reconcile_data() {
    QTest::addColumn<QList<Row>>("mine");
    QTest::addColumn<QList<Row>>("hers");
    QTest::addColumn<QStringList>("kept");

    // Overlay before each row: localDone x=true, y=false; localText x="new", y=" spaced";
    // pendingAdd mine ["add me", "old done"], hers ["hers only"].
    QTest::newRow("feed disagrees with everything")
        << QList<Row>{item("x", "old"), item("y", "spaced", std::nullopt, true, kTodayStr)} << QList<Row>{}
        << QStringList{"done:x", "done:y", "text:x", "text:y", "add:mine:add me", "add:mine:old done", "add:hers:hers only"};
    QTest::newRow("feed agrees; absent done equals false; whitespace differs")
        << QList<Row>{item("x", "new", std::nullopt, true, "2020-01-01"), item("y", "spaced"),
                      item("z", "add me"), item("w", "old done", std::nullopt, true, "2020-01-01")}
        << QList<Row>{}
        << QStringList{"text:y", "add:hers:hers only"};
    QTest::newRow("ids found in the other list count; texts only in their own list")
        << QList<Row>{item("h", "hers only")}
        << QList<Row>{item("x", "new", std::nullopt, true), item("y", " spaced", std::nullopt, false), item("q", "add me")}
        << QStringList{"add:mine:add me", "add:mine:old done", "add:hers:hers only"};
    QTest::newRow("headers and other kinds never reconcile")
        << QList<Row>{Row{"header", "add me", QStringLiteral("x"), true, {}, {}}, Row{"note", "new", QStringLiteral("x"), true, {}, {}}}
        << QList<Row>{}
        << QStringList{"done:x", "done:y", "text:x", "text:y", "add:mine:add me", "add:mine:old done", "add:hers:hers only"};
}

void TestListState::reconcile() {
    QFETCH(QList<Row>, mine);
    QFETCH(QList<Row>, hers);
    QFETCH(QStringList, kept);

    ListState state;
    state.currentDate = [] { return kToday; };
    state.localDone = {{"x", true}, {"y", false}};
    state.localText = {{"x", "new"}, {"y", " spaced"}};
    state.pendingAdd[ListState::kMine] = {item("pending-1", "add me"), item("pending-2", "old done")};
    state.pendingAdd[ListState::kHers] = {item("pending-3", "hers only")};
    state.applyFeed(feedOf(mine, hers));

    QStringList left;
    for (auto it = state.localDone.cbegin(); it != state.localDone.cend(); ++it)
        left << QStringLiteral("done:") + it.key();
    for (auto it = state.localText.cbegin(); it != state.localText.cend(); ++it)
        left << QStringLiteral("text:") + it.key();
    for (const QString& list : {ListState::kMine, ListState::kHers}) {
        QVERIFY2(state.pendingAdd.contains(list), "a list key stays even when emptied");
        for (const Row& row : state.pendingAdd[list])
            left << QStringLiteral("add:%1:%2").arg(list, row.text);
    }
    left.sort();
    kept.sort();
    QCOMPARE(left, kept);
    QCOMPARE(state.payload, std::optional<Payload>(feedOf(mine, hers)));
}

void TestListState::reconcileOverride_data() {
    QTest::addColumn<QList<Row>>("rows");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("dropped");

    const QString A = QStringLiteral("A");
    // The override under test is always mine: [2:A, 1:"", 3:A].
    QTest::newRow("exact match") << QList<Row>{header(A), item("2", "b", A), item("1", "a"), item("3", "c", A)}
                                 << ListState::kMine << true;
    QTest::newRow("cat differs from sec") << QList<Row>{item("2", "b", A), item("1", "a", A), item("3", "c", A)}
                                          << ListState::kMine << false;
    QTest::newRow("order differs") << QList<Row>{item("1", "a"), item("2", "b", A), item("3", "c", A)}
                                   << ListState::kMine << false;
    QTest::newRow("done today counts") << QList<Row>{item("2", "b", A, true, kTodayStr), item("1", "a"), item("3", "c", A)}
                                       << ListState::kMine << true;
    QTest::newRow("done earlier does not count")
        << QList<Row>{item("2", "b", A), item("9", "old", A, true, "2026-12-05"), item("1", "a"), item("3", "c", A)}
        << ListState::kMine << true;
    QTest::newRow("extra visible item") << QList<Row>{item("2", "b", A), item("1", "a"), item("3", "c", A), item("4", "d")}
                                        << ListState::kMine << false;
    QTest::newRow("missing item") << QList<Row>{item("2", "b", A), item("1", "a")} << ListState::kMine << false;
    QTest::newRow("other list chosen is not examined")
        << QList<Row>{item("2", "b", A), item("1", "a"), item("3", "c", A)} << ListState::kHers << false;
}

void TestListState::reconcileOverride() {
    QFETCH(QList<Row>, rows);
    QFETCH(QString, choice);
    QFETCH(bool, dropped);

    ListState state;
    state.currentDate = [] { return kToday; };
    state.choice = choice;
    state.orderOverride[ListState::kMine] = {{"2", "A"}, {"1", ""}, {"3", "A"}};
    state.applyFeed(feedOf(rows, rows));
    QCOMPARE(!state.orderOverride.contains(ListState::kMine), dropped);
}

QTEST_APPLESS_MAIN(TestListState)
#include "test_list_state.moc"
