// NoteController's keyboard: the row the keyboard is on, the keys that move it and act on it,
// and what screen readers are told. The keyboard's changes take the same write path as the
// mouse's.
#include "NoteController.h"

#include "ListActions.h"
#include "NoteKeys.h"
#include "NotePanel.h"
#include "NoteRow.h"
#include "NoteViews.h"
#include "Theme.h"

#include <QKeyEvent>
#include <QScrollArea>

bool NoteController::eventFilter(QObject* watched, QEvent* event) {
    if (!m_panel)
        return false;
    if (watched == m_panel->stack) {
        switch (event->type()) {
        case QEvent::KeyPress:
            return listKeyPressed(static_cast<QKeyEvent*>(event));
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            listFocusChanged(event->type() == QEvent::FocusIn,
                             static_cast<QFocusEvent*>(event)->reason());
            return false;
        default:
            return false;
        }
    }
    // Shift+Tab from the add-task field goes to the list.
    if (watched == m_panel->input && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Backtab) {
        m_panel->stack->setFocus(Qt::BacktabFocusReason);
        return true;
    }
    return false;
}

qsizetype NoteController::focusedRow() const {
    return m_focusIndex;
}

bool NoteController::listHasFocus() const {
    return m_panel && m_panel->stack->hasFocus();
}

QRectF NoteController::rowRect(qsizetype i) const {
    return QRectF(0, m_slots[i].stackY, NOTE_LIST_W, m_slots[i].data.rowH);
}

qsizetype NoteController::rowIndexOf(const QString& key) const {
    if (m_keyIndex.isEmpty()) {
        m_keyIndex.reserve(m_slots.size());
        for (qsizetype i = 0; i < m_slots.size(); ++i)
            m_keyIndex.insert(m_slots[i].data.key(), i);
    }
    return m_keyIndex.value(key, -1);
}

void NoteController::activateRow(qsizetype i) {
    if (i < 0 || i >= m_slots.size())
        return;
    const NoteRowData row = m_slots[i].data; // the write path rebuilds the rows
    if (row.isHeader)
        m_actions.toggleCollapse(row.sec);
    else
        m_actions.toggle(row.itemId, row.isDone);
}

void NoteController::listFocusChanged(bool focusIn, Qt::FocusReason reason) {
    const bool byTab = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
    if (focusIn && (byTab || m_focusIndex < 0)) {
        // Coming in with Tab starts at the first task (the first row when there is none).
        const auto task = std::find_if(m_slots.cbegin(), m_slots.cend(),
                                       [](const Slot& s) { return !s.data.isHeader; });
        setFocusedRow(task == m_slots.cend() ? (m_slots.isEmpty() ? -1 : 0)
                                             : task - m_slots.cbegin());
        return;
    }
    showFocus();
    if (focusIn)
        noteaccess::notifyFocus(m_panel->stack, m_focusIndex);
}

void NoteController::setFocusedRow(qsizetype i) {
    m_focusIndex = i;
    m_focusKey = i >= 0 ? m_slots[i].data.key() : QString();
    if (i >= 0 && m_panel) {
        const Slot& slot = m_slots[i];
        const double half = slot.data.rowH / 2;
        m_panel->scroll->ensureVisible(0, int(std::lround(slot.stackY + half)), 0,
                                       int(std::ceil(half)) + 2);
        syncViews();
    }
    showFocus();
    if (listHasFocus())
        noteaccess::notifyFocus(m_panel->stack, i);
}

void NoteController::refocus() {
    if (m_focusKey.isEmpty())
        return;
    qsizetype i = rowIndexOf(m_focusKey);
    if (i < 0 && !m_slots.isEmpty()) {
        // The row is gone: the keyboard stays where it was, on the row now there.
        i = std::min(m_focusIndex, m_slots.size() - 1);
        m_focusKey = m_slots[i].data.key();
    }
    m_focusIndex = i;
    showFocus();
}

void NoteController::showFocus() {
    const bool shown = listHasFocus();
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        if (NoteRow* view = m_slots[i].view)
            view->setFocusRing(shown && i == m_focusIndex);
    }
}

bool NoteController::listKeyPressed(QKeyEvent* event) {
    const qsizetype current = m_focusIndex;
    const bool onHeader = current >= 0 && m_slots[current].data.isHeader;
    using listkeys::Command;
    const Command command = listkeys::commandFor(event->key(), event->modifiers(), onHeader);
    switch (command) {
    case Command::None:
        return false;
    case Command::Leave:
        m_panel->input->setFocus(event->key() == Qt::Key_Tab ? Qt::TabFocusReason
                                                             : Qt::BacktabFocusReason);
        return true;
    case Command::Previous:
    case Command::Next:
    case Command::First:
    case Command::Last:
        setFocusedRow(listkeys::focusAfter(command, current, m_slots.size()));
        return true;
    default:
        break;
    }
    if (current < 0 || m_draggingRow)
        return true;
    const NoteRowData row = m_slots[current].data; // the write path rebuilds the rows
    switch (command) {
    case Command::Toggle:
        noteToggle(row.itemId, row.isDone);
        break;
    case Command::Collapse:
        toggleCollapse(row.sec);
        break;
    case Command::Edit:
        if (NoteRow* view = rowFor(row.itemId)) {
            beginEdit(view);
            m_editFromKeyboard = m_editingRow != nullptr;
        }
        break;
    case Command::MoveUp:
    case Command::MoveDown:
        moveByKeyboard(current, command == Command::MoveUp ? -1 : 1);
        break;
    default:
        break;
    }
    return true;
}

void NoteController::moveByKeyboard(qsizetype from, int step) {
    const NoteRowData& row = m_slots[from].data;
    // As with the mouse: tasks only in the feed's list are moved; one just added waits.
    if (row.itemId.isEmpty() || rules::isPendingId(row.itemId))
        return;
    QList<drag::Slot> places;
    places.reserve(m_slots.size());
    for (const Slot& slot : std::as_const(m_slots))
        places.append({slot.data.rowH, slot.data.rowGap, slot.data.isHeader});
    const std::optional<qsizetype> to = drag::steppedIndex(places, from, step);
    if (!to)
        return;
    moveSlot(from, *to);
    commitOrder();
    relayout();
    refocus();
    setFocusedRow(m_focusIndex);
}
