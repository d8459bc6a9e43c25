// Working in the panel with the mouse and the keyboard: ticking, inline editing, adding and
// dragging, the keyboard's row and the keys that act on it, all through the one write path;
// what is sent, what is shown, what waits while a gesture is under way, and what screen
// readers read and are told.
#include "note/NotePanel.h"
#include "note/NoteRow.h"
#include "note/NoteViews.h"
#include "tests/support/AppHarness.h"

#include <QAccessible>
#include <QJsonArray>
#include <QScrollArea>
#include <QScrollBar>
#include <QWindow>
#include <QtTest>

namespace {
struct EditOutcomesCase { QString id, typed; bool stored, sent; };
struct EditFromTheKeyboardCase { int start, end; bool committed; };
} // namespace

class TestNoteInput : public QObject {
    Q_OBJECT
private slots:
    void init() {
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
    void editStateMachine() {
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

    void editOutcomes_data() {
        QTest::addColumn<EditOutcomesCase>("c");
        QTest::newRow("trimmed text") << EditOutcomesCase{"a1", "  新的  \n", true, true};
        QTest::newRow("unchanged") << EditOutcomesCase{"a1", " 第一 ", false, false};
        QTest::newRow("emptied: no deletion") << EditOutcomesCase{"a1", "   ", false, false};
        QTest::newRow("pending task: stored, not sent") << EditOutcomesCase{"pending", "改了", true, false};
    }

    void editOutcomes() {
        QFETCH(EditOutcomesCase, c);
        QString label = QStringLiteral("第一");
        if (c.id == "pending") {
            label = QStringLiteral("待定");
            c.id = *delegate->listActions().add(label);
            QTRY_VERIFY(row(label));
            clock->requests.clear();
        }
        edit(label)->setText(c.typed);
        QTest::keyClick(editor(), Qt::Key_Return);
        QVERIFY(!editor());
        QCOMPARE(delegate->listStore().localText().contains(c.id), c.stored);
        h->flushPosts();
        QTRY_COMPARE(this->sent("edit").size(), c.sent ? 1 : 0);
        // Quick refreshes follow every stored edit, pending or not.
        QCOMPARE(clock->requests.size(), c.stored ? 3 : 0);
    }

    // A right click opens the editor's own menu (to paste, say): the edit goes on, nothing is
    // committed, and Escape closes only the menu.
    void rightClickInTheEditorKeepsEditing() {
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

    void identicalAddsStaySeparate() {
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
    void dragAcrossAHeader() {
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
    void pressAndRelease_data() {
        QTest::addColumn<bool>("rebuilt");
        QTest::newRow("whole drag") << false;
        QTest::newRow("rebuilt in between") << true;
    }

    void pressAndRelease() {
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
    void edgeScrollAddsUpFractions_data() {
        QTest::addColumn<double>("speed");
        QTest::newRow("0.3 a tick") << 0.3;
        QTest::newRow("5.6 a tick") << 5.6;
    }

    void edgeScrollAddsUpFractions() {
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
    void refreshWaitsForTheGesture() {
        EditField* field = edit("第一");
        delegate->listActions().toggle(QStringLiteral("a2"), false);
        QCOMPARE(editor(), field);
        QVERIFY(!row("第二")->data().isDone);
        QTest::keyClick(field, Qt::Key_Escape);
        QTRY_VERIFY(row("第二")->data().isDone);
    }

private:
    NoteRow* row(const QString& label) { return h->row(label); }
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

private slots:
    // Shift+Tab from the add field lands on the first task; the arrows, Home and End walk every
    // row, headers included; Tab goes back to the field. The ring shows only while the list has
    // the keyboard, and only on its row.
    void tabWalkAndRing() {
        focusInput();
        QVERIFY(ringed().isEmpty());
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focused(), QStringLiteral("第一"));
        QCOMPARE(ringed(), QStringList{"第一"});
        const QList<QPair<int, QString>> walk{
            {Qt::Key_Down, "第二"}, {Qt::Key_Down, "B"}, {Qt::Key_Down, "第三"}, {Qt::Key_Down, "第三"},
            {Qt::Key_Home, "A"},    {Qt::Key_Up, "A"},   {Qt::Key_End, "第三"},  {Qt::Key_Up, "B"}};
        for (const auto& [k, label] : walk) {
            key(k);
            QCOMPARE(focused(), label);
            QCOMPARE(ringed(), QStringList{label});
        }
        key(Qt::Key_Tab);
        QVERIFY(input()->hasFocus());
        QVERIFY(ringed().isEmpty());
    }

    // Space ticks a task and folds a header, Return unfolds it: the same messages and overlay as
    // the mouse's.
    void keysAct() {
        focusInput();
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        key(Qt::Key_Space);
        QCOMPARE(delegate->listStore().localDone().value("a1"), true);
        QTRY_COMPARE(h->posted("done").size(), 1);
        QCOMPARE(h->posted("done")[0].value("id").toString(), QStringLiteral("a1"));
        key(Qt::Key_Space);
        QTRY_COMPARE(h->posted("undone").size(), 1);

        key(Qt::Key_End);
        key(Qt::Key_Up); // header B
        key(Qt::Key_Space);
        QVERIFY(delegate->listStore().collapsedCats().contains("B"));
        QCOMPARE(delegate->note().rows().count(), 4); // B's task is folded away
        QCOMPARE(focused(), QStringLiteral("B"));
        key(Qt::Key_Return);
        QCOMPARE(delegate->note().rows().count(), 5);
    }

    void editFromTheKeyboard_data() {
        QTest::addColumn<EditFromTheKeyboardCase>("c");
        QTest::newRow("F2, Return") << EditFromTheKeyboardCase{int(Qt::Key_F2), int(Qt::Key_Return), true};
        QTest::newRow("Return, Escape") << EditFromTheKeyboardCase{int(Qt::Key_Return), int(Qt::Key_Escape), false};
    }

    // F2 or Return edits the task in place; Return commits, Escape cancels (what a commit sends is
    // the gestures'), and the keyboard is back on the same row of the list either way.
    void editFromTheKeyboard() {
        QFETCH(EditFromTheKeyboardCase, c);
        focusInput();
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        key(Qt::Key_Down);
        key(c.start);
        auto* field = qobject_cast<EditField*>(QApplication::focusWidget());
        QVERIFY(field && field == delegate->note().editing().editingRow()->editField());
        QCOMPARE(field->selectedText(), QStringLiteral("第二"));
        field->insert(QStringLiteral("第二改")); // typed over the selection
        key(c.end);
        QVERIFY(!delegate->note().editing().editingRow());
        QCOMPARE(delegate->listStore().localText().value("a2"),
                 c.committed ? QStringLiteral("第二改") : QString());
        QTRY_VERIFY(list()->hasFocus());
        QCOMPARE(delegate->note().rows().data(delegate->note().focus().focusedRow()).itemId,
                 QStringLiteral("a2"));
    }

    // Alt+Down takes a task past the header below into that section, Alt+Up brings it back; each
    // sends one reorder, as a drop does, with its override and quick refreshes. Never above the
    // first header.
    void altArrowsMoveAcrossHeaders() {
        focusInput();
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        key(Qt::Key_Up, Qt::AltModifier);
        h->flushPosts();
        QVERIFY(h->posted("reorder").isEmpty());
        QVERIFY(delegate->listStore().orderOverride().isEmpty());

        key(Qt::Key_Down);
        key(Qt::Key_Down, Qt::AltModifier);
        const QList<OrderEntry> moved{{"a1", "A"}, {"a2", "B"}, {"b1", "B"}};
        QCOMPARE(delegate->listStore().orderOverride().value(ListStore::kMine), moved);
        QCOMPARE(h->clock.requests.size(), 3);
        QTRY_COMPARE(h->posted("reorder").size(), 1);
        QCOMPARE(delegate->note().focus().focusedRow(), 3); // A 第一 B 第二 第三: still on 第二

        key(Qt::Key_Up, Qt::AltModifier);
        QCOMPARE(delegate->listStore().orderOverride().value(ListStore::kMine),
                 (QList<OrderEntry>{{"a1", "A"}, {"a2", "A"}, {"b1", "B"}}));
        QCOMPARE(focused(), QStringLiteral("第二"));
        QTRY_COMPARE(h->posted("reorder").size(), 2);
    }

    // A refresh that keeps the keyboard's row keeps the keyboard on it, wherever it moved to; when
    // the row goes, the keyboard stays at its place.
    void focusSurvivesARefresh() {
        focusInput();
        key(Qt::Key_Backtab, Qt::ShiftModifier);
        key(Qt::Key_End);
        delegate->listStore().applyFeed(feedOf(rowsFrom("#A,a0=新的@A,a1=第一@A,#B,b1=第三@B")));
        delegate->refreshNote();
        QCOMPARE(focused(), QStringLiteral("第三"));
        QCOMPARE(ringed(), QStringList{"第三"});
        delegate->listStore().applyFeed(feedOf(rowsFrom("#A,a1=第一@A")));
        delegate->refreshNote();
        QCOMPARE(focused(), QStringLiteral("第一"));
    }

    // Each row is an accessible object of the list: a task a check box named by its text, checked
    // as shown, described by its section; a header named by its label, described by its counts,
    // expanded or collapsed. Their actions take the write path. (The focus and state events they
    // send cannot be watched here: the offscreen platform has no accessibility backend, so Qt
    // drops them.)
    void accessibleRows() {
        focusInput();
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(this->list());
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(list->childCount(), 5);
        QAccessibleInterface* header = list->child(0);
        QAccessibleInterface* task = list->child(2);
        QCOMPARE(header->role(), QAccessible::Heading);
        QCOMPARE(header->text(QAccessible::Name), QStringLiteral("A"));
        QCOMPARE(header->text(QAccessible::Description), QStringLiteral("2 项 · 已完成 0"));
        QVERIFY(header->state().expanded && !header->state().collapsed);
        QCOMPARE(task->role(), QAccessible::CheckBox);
        QCOMPARE(task->text(QAccessible::Name), QStringLiteral("第二"));
        QCOMPARE(task->text(QAccessible::Description), QStringLiteral("A"));
        QVERIFY(task->state().checkable && !task->state().checked);
        QCOMPARE(list->indexOfChild(task), 2);

        task->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(task->state().checked);
        QCOMPARE(header->text(QAccessible::Description), QStringLiteral("2 项 · 已完成 1"));
        QTRY_COMPARE(h->posted("done").size(), 1);

        list->child(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(list->child(3)->state().collapsed);
        QCOMPARE(list->childCount(), 4);

        key(Qt::Key_Backtab, Qt::ShiftModifier);
        key(Qt::Key_Down);
        QCOMPARE(list->focusChild(), task);
        QVERIFY(task->state().focused);
    }

    void accessibleNames() {
        focusInput();
        NotePanel* panel = delegate->note().panel();
        const QList<QPair<QWidget*, QString>> named{{panel->closeButton(), "关闭"},
                                                    {panel->pinButton(), "置顶"},
                                                    {panel->addButton(), "添加"},
                                                    {panel->input(), "新建任务"}};
        for (const auto& [widget, name] : named)
            QCOMPARE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name), name);
        NoteRow* row = h->row(QStringLiteral("第一"));
        QTest::mouseMove(row, row->rect().center());
        QEnterEvent enter(row->rect().center(), row->rect().center(),
                          row->mapToGlobal(row->rect().center()));
        QApplication::sendEvent(row, &enter);
        QVERIFY(row->editBtn());
        QCOMPARE(QAccessible::queryAccessibleInterface(row->editBtn())->text(QAccessible::Name),
                 QStringLiteral("编辑"));
    }

private:
    // The keyboard tests start with the panel active and the add field focused.
    void focusInput() {
        NotePanel* panel = delegate->note().panel();
        panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(panel));
        input()->setFocus();
        QTRY_VERIFY(input()->hasFocus());
        clock->requests.clear();
    }
    FlippedView* list() const { return delegate->note().panel()->stack(); }
    NoteField* input() const { return delegate->note().panel()->input(); }
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(k), mods);
    }
    QString focused() const {
        const qsizetype i = delegate->note().focus().focusedRow();
        return i < 0 ? QString() : delegate->note().rows().data(i).label;
    }
    QStringList ringed() const {
        QStringList out;
        for (NoteRow* view : delegate->note().rows().views()) {
            if (view->isVisible() && view->focusRing())
                out << view->label();
        }
        return out;
    }

};

QTEST_MAIN(TestNoteInput)
#include "test_note_input.moc"
