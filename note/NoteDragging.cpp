// NoteController's drag operations: lifting a task row, following the pointer with the
// slot and the targets of every row, the 60 Hz tick (lift, edge scroll, glide) and the drop.
#include "NoteController.h"

#include "ListActions.h"
#include "NotePanel.h"
#include "NoteRow.h"
#include "NoteViews.h"
#include "Theme.h"

#include <QScrollArea>
#include <QScrollBar>

void NoteController::beginRowDrag(NoteRow* row, const QPointF& stackPoint) {
    const qsizetype k = slotOf(row);
    if (k < 0)
        return;
    m_draggingRow = row;
    m_dragGrabDY = stackPoint.y() - m_slots[k].stackY;
    m_dragStackY = m_slots[k].stackY;
    m_dragLastPoint = stackPoint;
    m_dragScrollSpeed = 0;
    m_dragScrollTop = m_panel ? m_panel->scroll->verticalScrollBar()->value() : 0;
    m_lastDragTickMs = m_clock.msecsSinceEpoch();
    row->raise(); // drawn over the rows it passes
    updateDragLayout();
    startDragTimer();
}

void NoteController::startDragTimer() {
    m_dragTimer.start();
}

void NoteController::stopDragTimer() {
    m_dragTimer.stop();
    m_dragScrollSpeed = 0;
}

void NoteController::rowDragMoved(NoteRow* row, const QPointF& stackPoint) {
    if (!row || row->isHeader() || slotOf(row) < 0)
        return;
    m_draggingRow = row;
    m_dragLastPoint = stackPoint;
    m_dragStackY = stackPoint.y() - m_dragGrabDY;
    updateDragLayout();
}

void NoteController::updateDragLayout() {
    NoteRow* dragged = m_draggingRow;
    const qsizetype k = slotOf(dragged);
    if (k < 0 || !m_panel)
        return;
    QList<drag::Slot> places;
    places.reserve(m_slots.size());
    for (const Slot& slot : std::as_const(m_slots))
        places.append({slot.data.rowH, slot.data.rowGap, slot.data.isHeader});
    const qsizetype index = drag::insertionIndex(places, k, m_dragStackY + m_slots[k].data.rowH * 0.5);
    if (index != k)
        moveSlot(k, index);
    m_tops.resize(m_slots.size());
    m_rowHeights.resize(m_slots.size());
    double y = 0;
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        m_tops[i] = y;
        m_rowHeights[i] = m_slots[i].data.rowH;
        y += m_slots[i].data.rowH + m_slots[i].data.rowGap;
    }
    m_panel->stack->resize(int(NOTE_LIST_W),
                           int(std::ceil(std::max(y, double(m_panel->scroll->maximumViewportSize().height())))));
}

void NoteController::updateDragScrollSpeed() {
    if (!m_panel) {
        m_dragScrollSpeed = 0;
        return;
    }
    const double top = dragScrollTop();
    const double visible = m_panel->scroll->viewport()->height();
    m_dragScrollSpeed = drag::scrollSpeed(m_dragLastPoint.y(), top, top + visible);
}

double NoteController::dragScrollTop() {
    // The scroll position is kept to the fraction, the bar shows it rounded: slow speeds add
    // up instead of rounding away. A scroll made by other means (the wheel) is taken over.
    const int shown = m_panel->scroll->verticalScrollBar()->value();
    if (std::lround(m_dragScrollTop) != shown)
        m_dragScrollTop = shown;
    return m_dragScrollTop;
}

void NoteController::dragTick() {
    NoteRow* dragged = m_draggingRow;
    if (!dragged || !m_panel) {
        stopDragTimer();
        return;
    }
    // Motion follows the time that passed, not the count of ticks: a timer that fires late
    // or early moves things by as much as the time it took.
    const qint64 now = m_clock.msecsSinceEpoch();
    const double ticks = drag::ticksFor(double(now - m_lastDragTickMs));
    m_lastDragTickMs = now;
    dragged->setDragPad(drag::lifted(dragged->dragPad(), NOTE_DRAG_PAD, ticks));
    updateDragScrollSpeed();
    if (std::abs(m_dragScrollSpeed) > drag::kScrollThreshold)
        dragScroll(m_dragScrollSpeed * ticks);
    // Every row glides, as plain data; only those with a widget move on screen.
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        Slot& slot = m_slots[i];
        if (slot.view == dragged)
            continue;
        const double y = drag::glide(slot.stackY, m_tops[i], ticks);
        if (y != slot.stackY) {
            slot.stackY = y;
            if (slot.view)
                slot.view->move(0, int(std::lround(y)));
        }
    }
    const qsizetype k = slotOf(dragged);
    if (k >= 0)
        m_slots[k].stackY = m_dragStackY;
    syncViews(); // rows scrolled or glided into view get widgets, those gone give theirs back
    const double pad = dragged->dragPad();
    dragged->setGeometry(0, int(std::lround(m_dragStackY - pad)), int(NOTE_LIST_W),
                         int(std::ceil(dragged->rowH() + 2 * pad)));
}

void NoteController::dragScroll(double step) {
    const double old = dragScrollTop();
    const double next = drag::scrolledTop(old, step, m_panel->stack->height(),
                                          m_panel->scroll->viewport()->height());
    if (std::abs(next - old) <= drag::kScrollThreshold)
        return;
    m_dragScrollTop = next;
    m_panel->scroll->verticalScrollBar()->setValue(int(std::lround(next)));
    // The pointer's place in the document moves with the content under it.
    m_dragStackY += next - old;
    m_dragLastPoint.ry() += next - old;
    updateDragLayout();
}

void NoteController::endRowDrag(NoteRow* row) {
    const bool dragging = row && row == m_draggingRow;
    stopDragTimer();
    m_draggingRow = nullptr;
    const qsizetype k = slotOf(row);
    if (k < 0)
        return;
    row->setDragPad(0);
    if (!dragging) {
        relayout();
        return; // a rebuild abandoned this drag already
    }
    commitOrder();
    // Every row settles at once, also when nothing changed and no rebuild followed; the
    // dropped row may lie outside the visible part now and give its widget back.
    relayout();
}

void NoteController::moveSlot(qsizetype from, qsizetype to) {
    m_slots.move(from, to);
    m_keyIndex.clear();
    refocus(); // the keyboard's row may have changed places
    if (to == 0)
        return;
    // Crossing a header moves the task into that header's section.
    QString sec;
    for (qsizetype i = to - 1; i >= 0; --i) {
        if (m_slots[i].data.isHeader) {
            sec = m_slots[i].data.sec;
            break;
        }
    }
    m_slots[to].data.sec = sec;
    if (NoteRow* view = m_slots[to].view)
        view->setSec(sec);
}

void NoteController::commitOrder() {
    QList<drag::Entry> entries;
    for (const Slot& slot : std::as_const(m_slots)) {
        const NoteRowData& d = slot.data;
        if (!d.isHeader && !d.itemId.isEmpty() && !rules::isPendingId(d.itemId))
            entries.append({d.itemId, d.sec});
    }
    if (entries.isEmpty())
        return;
    QList<OrderEntry> order;
    for (const drag::Entry& e : drag::regroup(entries, m_state.sectionLabels()))
        order.append({e.id, e.sec});
    // The override is written and sent through the write path, which rebuilds the panel.
    m_actions.reorder(order);
}
