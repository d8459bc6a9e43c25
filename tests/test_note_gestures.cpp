// Working in the panel: ticking, inline editing, adding and dragging, through the one write
// path; what is sent, what is shown, and what waits while a gesture is under way.
#include "tests/support/AppHarness.h"
#include "note/NotePanel.h"
#include "note/NoteRow.h"
#include "note/NoteViews.h"

#include <QJsonArray>
#include <QScrollArea>
#include <QScrollBar>
#include <QWindow>
#include <QtTest>

class TestNoteGestures : public QObject {
    Q_OBJECT

private slots:
    void init();
    void editStateMachine();
    void editOutcomes_data();
    void editOutcomes();
    void rightClickInTheEditorKeepsEditing();
    void identicalAddsStaySeparate();
    void dragAcrossAHeader();
    void pressAndRelease_data();
    void pressAndRelease();
    void edgeScrollAddsUpFractions_data();
    void edgeScrollAddsUpFractions();
    void refreshWaitsForTheGesture();

private:
    NoteRow* row(const QString& label) { return h->row(label); }
    // The open editor, if any.
    EditField* editor() const {
        const NoteRow* edited = delegate->note().editing().editingRow();
        return edited ? edited->editField() : nullptr;
    }
    EditField* edit(const QString& label) {
        delegate->note().editing().begin(row(label));
        return editor();
    }
    QList<QJsonObject> sent(const QString& action) const { return h->posted(action); }
    // Lets `ms` milliseconds pass in small steps, as the drag's tick (on the clock) sees them.
    void elapse(int ms) {
        for (; ms > 0; ms -= 4)
            clock->advance(std::chrono::milliseconds(std::min(ms, 4)));
    }
    // A list of `n` tasks under one header.
    void showLongList(int n) {
        QString rows = QStringLiteral("#A");
        for (int i = 0; i < n; ++i)
            rows += QStringLiteral(",t%1=任务 %1@A").arg(i);
        delegate->listStore().applyFeed(feedOf(rowsFrom(rows)));
        delegate->refreshNote();
    }
    QStringList shownOrder() const {
        QStringList out;
        for (qsizetype i = 0; i < delegate->note().rows().count(); ++i)
            out << delegate->note().rows().data(i).label;
        return out;
    }

    std::optional<AppHarness> h;
    AppDelegate* delegate = nullptr;
    ManualClock* clock = nullptr;
};

void TestNoteGestures::init() {
    h.emplace(); // the previous test's app is gone first
    delegate = &h->app();
    clock = &h->clock;
    // Header A (56 high), tasks a1 a2; header B, task b1; every text fits one line (40 high).
    delegate->listStore().applyFeed(*decodePayload(listFeed(kTwoSections)).payload);
    delegate->showNote();
    clock->requests.clear();
}

// The pencil of the edited row cancels; another row's pencil drops the first edit and opens the
// second; Escape cancels; focus loss commits, once.
void TestNoteGestures::editStateMachine() {
    NoteEditing& editing = delegate->note().editing();
    edit("第一")->setText(QStringLiteral("改了但不要"));
    editing.begin(editing.editingRow());
    QVERIFY(!editing.editingRow());

    edit("第一")->setText(QStringLiteral("丢掉"));
    edit("第二");
    QCOMPARE(editing.editingRow(), row("第二"));
    QVERIFY(!row("第一")->editField());
    QTest::keyClick(editor(), Qt::Key_Escape);
    QVERIFY(!editing.editingRow());

    EditField* field = edit("第三");
    field->setText(QStringLiteral("  第三，改好了  "));
    QFocusEvent lost(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(field, &lost);
    QApplication::sendEvent(field, &lost);
    QVERIFY(!editing.editingRow());
    QCOMPARE(delegate->listStore().localText(), (QHash<QString, QString>{{"b1", "第三，改好了"}}));
    h->flushPosts();
    QTRY_COMPARE(sent("edit").size(), 1);
    QCOMPARE(sent("edit")[0].value("text").toString(), QStringLiteral("第三，改好了"));
    QTRY_VERIFY(row("第三，改好了"));
}

void TestNoteGestures::editOutcomes_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("sent");
    QTest::newRow("trimmed text") << "a1" << "  新的  \n" << true << true;
    QTest::newRow("unchanged") << "a1" << " 第一 " << false << false;
    QTest::newRow("emptied: no deletion") << "a1" << "   " << false << false;
    QTest::newRow("pending task: stored, not sent") << "pending" << "改了" << true << false;
}

void TestNoteGestures::editOutcomes() {
    QFETCH(QString, id);
    QFETCH(QString, typed);
    QFETCH(bool, stored);
    QFETCH(bool, sent);
    QString label = QStringLiteral("第一");
    if (id == "pending") {
        label = QStringLiteral("待定");
        id = *delegate->listActions().add(label);
        QTRY_VERIFY(row(label));
        clock->requests.clear();
    }
    edit(label)->setText(typed);
    QTest::keyClick(editor(), Qt::Key_Return);
    QVERIFY(!editor());
    QCOMPARE(delegate->listStore().localText().contains(id), stored);
    h->flushPosts();
    QTRY_COMPARE(this->sent("edit").size(), sent ? 1 : 0);
    // Quick refreshes follow every stored edit, pending or not.
    QCOMPARE(clock->requests.size(), stored ? 3 : 0);
}

// A right click opens the editor's own menu (to paste, say): the edit goes on, nothing is
// committed, and Escape closes only the menu.
void TestNoteGestures::rightClickInTheEditorKeepsEditing() {
    EditField* field = edit("第一");
    field->setText(QStringLiteral("写了一半"));
    QVERIFY(QTest::qWaitForWindowActive(delegate->note().panel()));
    QTRY_VERIFY(field->hasFocus());
    // Through the window, as the window system delivers it: the press also asks for the
    // context menu.
    QWindow* window = field->window()->windowHandle();
    const QPoint at = field->mapTo(field->window(), field->rect().center());
    QTest::mouseClick(window, Qt::RightButton, {}, at);
    QCOMPARE(editor(), field);
    QWidget* popup = QApplication::activePopupWidget();
    QVERIFY(popup);
    QTest::keyClick(popup, Qt::Key_Escape);
    QTRY_VERIFY(!QApplication::activePopupWidget());
    QCOMPARE(editor(), field);
    QCOMPARE(field->text(), QStringLiteral("写了一半"));
    QVERIFY(delegate->listStore().localText().isEmpty());
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(delegate->listStore().localText().value("a1"), QStringLiteral("写了一半"));
}

void TestNoteGestures::identicalAddsStaySeparate() {
    NotePanel* panel = delegate->note().panel();
    panel->input()->setText(QStringLiteral("   "));
    QTest::keyClick(panel->input(), Qt::Key_Return);
    QCOMPARE(panel->input()->text(), QStringLiteral("   ")); // nothing happened
    for (int i = 0; i < 2; ++i) {
        panel->input()->setText(QStringLiteral(" 买菜 "));
        panel->addButton()->click();
        QVERIFY(panel->input()->text().isEmpty());
    }
    const QList<Row> pending = delegate->listStore().pendingAdd().value(ListStore::kMine);
    QCOMPARE(pending.size(), 2);
    QVERIFY(pending[0].id != pending[1].id);
    QTRY_COMPARE(shownOrder().count(QStringLiteral("买菜")), 2);
    h->flushPosts();
    QTRY_COMPARE(sent("add").size(), 2);
    QCOMPARE(sent("add")[0].value("text").toString(), QStringLiteral("买菜"));
    // Both go once a feed fetched after the relay answered both carries the text.
    for (const Row& row : pending)
        QTRY_VERIFY(delegate->listStore().floors().settles(OverlayFloors::Kind::Add, *row.id, UINT64_MAX));
    h->feed = listFeed(rowsJson(rowsFrom("#A,n1=买菜,n2=买菜")));
    delegate->feedSync().refresh();
    QTRY_VERIFY(delegate->listStore().pendingAdd().value(ListStore::kMine).isEmpty());
}

// b1 dragged up into section A, above a2: it joins A, and the message lists it there.
void TestNoteGestures::dragAcrossAHeader() {
    NoteController& note = delegate->note();
    NoteRow* b1 = row("第三");
    note.dragging().begin(b1, QPointF(230, note.rows().top(h->rowIndex("第三")) + 20));
    // Grabbed 20 below its top, its centre is at the pointer: just above a2's middle at 129.
    note.dragging().moved(b1, QPointF(230, 120));
    QCOMPARE(shownOrder(), (QStringList{"A", "第一", "第三", "第二", "B"}));
    QCOMPARE(b1->sec(), QStringLiteral("A"));
    elapse(500);
    const qsizetype a2 = h->rowIndex("第二");
    QCOMPARE(note.rows().top(a2), note.rows().target(a2)); // the others glided into place
    QCOMPARE(row("第二")->y(), int(note.rows().target(a2)));
    note.dragging().end(b1);
    QVERIFY(!note.dragging().draggingRow());
    const QList<OrderEntry> expected{{"a1", "A"}, {"b1", "A"}, {"a2", "A"}};
    QCOMPARE(delegate->listStore().orderOverride().value(ListStore::kMine), expected);
    h->flushPosts();
    QTRY_COMPARE(sent("reorder").size(), 1);
    QCOMPARE(clock->requests.filter("once").size(), 3); // the quick refreshes
    // A refresh with the feed's old order still shows the dropped one.
    delegate->listStore().applyFeed(*decodePayload(listFeed(kTwoSections)).payload);
    delegate->refreshNote();
    QCOMPARE(shownOrder(), (QStringList{"A", "第一", "第三", "第二"}));
}

// A press and release in the handle zone is a whole drag: the unchanged order is recorded and
// sent; collapsed and pending tasks are not part of it. A rebuild in between (a list switch,
// say) abandons the drag: its release records and sends nothing.
void TestNoteGestures::pressAndRelease_data() {
    QTest::addColumn<bool>("rebuilt");
    QTest::newRow("whole drag") << false;
    QTest::newRow("rebuilt in between") << true;
}

void TestNoteGestures::pressAndRelease() {
    QFETCH(bool, rebuilt);
    delegate->listActions().toggleCollapse(QStringLiteral("B"));
    delegate->listActions().add(QStringLiteral("待定"));
    QTRY_VERIFY(row("待定"));
    NoteRow* a2 = row("第二");
    const QPoint handle(a2->width() - 10, 15);
    QTest::mousePress(a2, Qt::LeftButton, {}, handle);
    QCOMPARE(delegate->note().dragging().draggingRow(), a2);
    if (rebuilt) {
        delegate->refreshNote();
        QVERIFY(!delegate->note().dragging().draggingRow() && !a2->isDragging());
    }
    QTest::mouseRelease(a2, Qt::LeftButton, {}, handle);
    QCOMPARE(delegate->listStore().orderOverride().isEmpty(), rebuilt);
    h->flushPosts();
    QTRY_COMPARE(sent("reorder").size(), rebuilt ? 0 : 1);
    const QJsonArray order{QJsonObject{{"id", "a1"}, {"cat", "A"}},
                           QJsonObject{{"id", "a2"}, {"cat", "A"}}};
    QCOMPARE(sent("reorder").value(0).value("order").toArray(), rebuilt ? QJsonArray() : order);
}

// A row lifts in five ticks of 1/60 s. Held in the bottom edge zone at a steady speed, the list
// scrolls by the speed times the time passed in ticks: slow speeds add up rather than round
// away, fast ones are not rounded up, whatever the timer's own period.
void TestNoteGestures::edgeScrollAddsUpFractions_data() {
    QTest::addColumn<double>("speed");
    QTest::newRow("0.3 a tick") << 0.3;
    QTest::newRow("5.6 a tick") << 5.6;
}

void TestNoteGestures::edgeScrollAddsUpFractions() {
    QFETCH(double, speed);
    showLongList(60);
    NoteController& note = delegate->note();
    NoteRow* t0 = row("任务 0");
    note.dragging().begin(t0, QPointF(230, note.rows().top(1) + 10));
    elapse(64); // four ticks: not yet fully lifted
    QVERIFY(t0->dragPad() > 0 && t0->dragPad() < 12);
    elapse(32);
    QCOMPARE(t0->dragPad(), 12.0);
    QScrollBar* bar = note.panel()->scroll()->verticalScrollBar();
    QCOMPARE(bar->value(), 0);
    const double bottom = note.panel()->scroll()->viewport()->height();
    note.dragging().moved(t0, QPointF(230, bottom - drag::kEdgeZone + speed / drag::kGain));
    elapse(960); // 57.6 ticks
    QCOMPARE(bar->value(), int(std::lround(57.6 * speed)));
    note.dragging().end(t0);
}

// Changes arriving while a row is edited wait; they show as soon as the edit ends.
void TestNoteGestures::refreshWaitsForTheGesture() {
    EditField* field = edit("第一");
    delegate->listActions().toggle(QStringLiteral("a2"), false);
    QCOMPARE(editor(), field);
    QVERIFY(!row("第二")->data().isDone);
    QTest::keyClick(field, Qt::Key_Escape);
    QTRY_VERIFY(row("第二")->data().isDone);
}

QTEST_MAIN(TestNoteGestures)
#include "test_note_gestures.moc"
