#include "note/NoteFocus.h"

#include "model/ListActions.h"
#include "model/ListStore.h"
#include "note/NoteDrag.h"
#include "note/NoteDragging.h"
#include "note/NoteEditing.h"
#include "note/NoteKeys.h"
#include "note/NotePanel.h"
#include "note/NoteRow.h"
#include "note/NoteRows.h"
#include "note/NoteViews.h"
#include "support/Theme.h"

#include <QKeyEvent>
#include <QScrollArea>

NoteFocus::NoteFocus(NoteRows& rows, ListActions& actions, const ListStore& store,
                     NoteEditing& editing, const NoteDragging& dragging, QObject* parent)
    : QObject(parent), m_rows(rows), m_actions(actions), m_store(store), m_editing(editing),
      m_dragging(dragging) {
    connect(&rows, &NoteRows::rowsChanged, this, &NoteFocus::refocus);
    connect(&rows, &NoteRows::viewsBound, this, [this] {
        if (m_index >= 0)
            showRing();
    });
    connect(&rows, &NoteRows::rowsFlipped, this, [this](const QList<qsizetype>& flipped) {
        for (qsizetype i : flipped)
            noteaccess::notifyStateChanged(m_list, i);
    });
}

void NoteFocus::attach(NotePanel* panel) {
    m_list = panel->stack();
    m_scroll = panel->scroll();
    m_input = panel->input();
    noteaccess::install();
    panel->stack()->setSource(this);
    panel->stack()->installEventFilter(this);
    panel->input()->installEventFilter(this);
}

qsizetype NoteFocus::rowCount() const {
    return m_rows.count();
}

const NoteRowData& NoteFocus::rowData(qsizetype i) const {
    return m_rows.data(i);
}

QRectF NoteFocus::rowRect(qsizetype i) const {
    return QRectF(0, m_rows.top(i), NOTE_LIST_W, m_rows.data(i).rowH);
}

qsizetype NoteFocus::rowIndexOf(const QString& key) const {
    return m_rows.indexOfKey(key);
}

bool NoteFocus::listHasFocus() const {
    return m_list && m_list->hasFocus();
}

void NoteFocus::activateRow(qsizetype i) {
    if (i < 0 || i >= m_rows.count())
        return;
    const NoteRowData row = m_rows.data(i); // the write path rebuilds the rows
    if (row.isHeader)
        m_actions.toggleCollapse(row.sec);
    else
        m_actions.toggle(row.itemId, row.isDone);
}

bool NoteFocus::eventFilter(QObject* watched, QEvent* event) {
    if (!m_list || !m_input)
        return false;
    if (watched == m_list) {
        if (event->type() == QEvent::KeyPress)
            return keyPressed(static_cast<QKeyEvent*>(event));
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            focusChanged(event->type() == QEvent::FocusIn,
                         static_cast<QFocusEvent*>(event)->reason());
        return false;
    }
    // Shift+Tab from the add-task field goes to the list.
    if (watched == m_input && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Backtab) {
        m_list->setFocus(Qt::BacktabFocusReason);
        return true;
    }
    return false;
}

void NoteFocus::focusChanged(bool focusIn, Qt::FocusReason reason) {
    const bool byTab = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
    if (focusIn && (byTab || m_index < 0)) {
        // Coming in with Tab starts at the first task (the first row when there is none).
        qsizetype first = m_rows.count() > 0 ? 0 : -1;
        for (qsizetype i = 0; i < m_rows.count(); ++i) {
            if (!m_rows.data(i).isHeader) {
                first = i;
                break;
            }
        }
        setFocusedRow(first);
        return;
    }
    showRing();
    if (focusIn)
        noteaccess::notifyFocus(m_list, m_index);
}

void NoteFocus::setFocusedRow(qsizetype i) {
    m_index = i;
    m_key = i >= 0 ? m_rows.data(i).key() : QString();
    if (i >= 0 && m_scroll) {
        const double half = m_rows.data(i).rowH / 2;
        m_scroll->ensureVisible(0, int(std::lround(m_rows.top(i) + half)), 0,
                                       int(std::ceil(half)) + 2);
        m_rows.syncViews();
    }
    showRing();
    if (listHasFocus())
        noteaccess::notifyFocus(m_list, i);
}

void NoteFocus::refocus() {
    if (m_key.isEmpty())
        return;
    qsizetype i = m_rows.indexOfKey(m_key);
    if (i < 0 && m_rows.count() > 0) {
        // The row is gone: the keyboard stays where it was, on the row now there.
        i = std::min(m_index, m_rows.count() - 1);
        m_key = m_rows.data(i).key();
    }
    m_index = i;
    showRing();
}

void NoteFocus::showRing() {
    const bool shown = listHasFocus();
    for (qsizetype i = 0; i < m_rows.count(); ++i) {
        if (NoteRow* view = m_rows.view(i))
            view->setFocusRing(shown && i == m_index);
    }
}

bool NoteFocus::keyPressed(QKeyEvent* event) {
    const qsizetype current = m_index;
    const bool onHeader = current >= 0 && m_rows.data(current).isHeader;
    using listkeys::Command;
    const Command command = listkeys::commandFor(event->key(), event->modifiers(), onHeader);
    switch (command) {
    case Command::None:
        return false;
    case Command::Leave:
        m_input->setFocus(event->key() == Qt::Key_Tab ? Qt::TabFocusReason
                                                             : Qt::BacktabFocusReason);
        return true;
    case Command::Previous:
    case Command::Next:
    case Command::First:
    case Command::Last:
        setFocusedRow(listkeys::focusAfter(command, current, m_rows.count()));
        return true;
    default:
        break;
    }
    if (current < 0 || m_dragging.draggingRow())
        return true;
    switch (command) {
    case Command::Toggle:
    case Command::Collapse:
        activateRow(current);
        break;
    case Command::Edit:
        m_editing.beginFromKeyboard(m_rows.ensureView(current));
        break;
    case Command::MoveUp:
    case Command::MoveDown:
        moveTask(current, command == Command::MoveUp ? -1 : 1);
        break;
    default:
        break;
    }
    return true;
}

void NoteFocus::moveTask(qsizetype from, int step) {
    const NoteRowData& row = m_rows.data(from);
    // As with the mouse: tasks only in the feed's list are moved; one just added waits.
    if (row.itemId.isEmpty() || rules::isPendingId(row.itemId))
        return;
    const std::optional<qsizetype> to = drag::steppedIndex(m_rows.places(), from, step);
    if (!to)
        return;
    m_rows.move(from, *to);
    // Recorded and sent as a drop is: the write path rebuilds the rows, the keyboard stays on
    // the task.
    const QList<OrderEntry> order = m_rows.shownOrder(m_store.sectionLabels());
    if (!order.isEmpty())
        m_actions.reorder(order);
    m_rows.relayout();
    setFocusedRow(m_index);
}

#include "moc_NoteFocus.cpp"
