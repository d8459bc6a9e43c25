// The note list without a mouse: the keyboard's row, the keys that act on it (through the one
// write path, as the mouse's gestures do), and what screen readers read and are told.
#include "tests/support/AppHarness.h"
#include "note/NotePanel.h"
#include "note/NoteRow.h"
#include "note/NoteViews.h"

#include <QAccessible>
#include <QtTest>

class TestNoteKeyboard : public QObject {
    Q_OBJECT

private slots:
    void init();
    void tabWalkAndRing();
    void keysAct();
    void editFromTheKeyboard_data();
    void editFromTheKeyboard();
    void altArrowsMoveAcrossHeaders();
    void focusSurvivesARefresh();
    void accessibleRows();
    void accessibleNames();

private:
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

    std::optional<AppHarness> h;
    AppDelegate* delegate = nullptr;
};

void TestNoteKeyboard::init() {
    h.emplace(); // the previous test's app is gone first
    delegate = &h->app();
    delegate->listStore().applyFeed(*decodePayload(listFeed(kTwoSections)).payload);
    delegate->showNote();
    NotePanel* panel = delegate->note().panel();
    panel->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel));
    input()->setFocus();
    QTRY_VERIFY(input()->hasFocus());
    h->clock.requests.clear();
}

// Shift+Tab from the add field lands on the first task; the arrows, Home and End walk every
// row, headers included; Tab goes back to the field. The ring shows only while the list has
// the keyboard, and only on its row.
void TestNoteKeyboard::tabWalkAndRing() {
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
void TestNoteKeyboard::keysAct() {
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

void TestNoteKeyboard::editFromTheKeyboard_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("committed");
    QTest::newRow("F2, Return") << int(Qt::Key_F2) << int(Qt::Key_Return) << true;
    QTest::newRow("Return, Escape") << int(Qt::Key_Return) << int(Qt::Key_Escape) << false;
}

// F2 or Return edits the task in place; Return commits, Escape cancels (what a commit sends is
// test_note_gestures'), and the keyboard is back on the same row of the list either way.
void TestNoteKeyboard::editFromTheKeyboard() {
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(bool, committed);
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    key(Qt::Key_Down);
    key(start);
    auto* field = qobject_cast<EditField*>(QApplication::focusWidget());
    QVERIFY(field && field == delegate->note().editing().editingRow()->editField());
    QCOMPARE(field->selectedText(), QStringLiteral("第二"));
    field->insert(QStringLiteral("第二改")); // typed over the selection
    key(end);
    QVERIFY(!delegate->note().editing().editingRow());
    QCOMPARE(delegate->listStore().localText().value("a2"),
             committed ? QStringLiteral("第二改") : QString());
    QTRY_VERIFY(list()->hasFocus());
    QCOMPARE(delegate->note().rows().data(delegate->note().focus().focusedRow()).itemId,
             QStringLiteral("a2"));
}

// Alt+Down takes a task past the header below into that section, Alt+Up brings it back; each
// sends one reorder, as a drop does, with its override and quick refreshes. Never above the
// first header.
void TestNoteKeyboard::altArrowsMoveAcrossHeaders() {
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
void TestNoteKeyboard::focusSurvivesARefresh() {
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
void TestNoteKeyboard::accessibleRows() {
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

void TestNoteKeyboard::accessibleNames() {
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

QTEST_MAIN(TestNoteKeyboard)
#include "test_note_keyboard.moc"
