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
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        if (i != k)
            places.append({m_slots[i].data.rowH, m_slots[i].data.rowGap, m_slots[i].data.isHeader});
    }
    const qsizetype index = drag::insertionIndex(places, m_dragStackY + m_slots[k].data.rowH * 0.5);
    if (index != k) {
        m_slots.move(k, index);
        // Crossing a header moves the task into that header's section.
        if (index > 0) {
            QString sec;
            for (qsizetype i = index - 1; i >= 0; --i) {
                if (m_slots[i].data.isHeader) {
                    sec = m_slots[i].data.sec;
                    break;
                }
            }
            m_slots[index].data.sec = sec;
            dragged->setSec(sec);
        }
    }
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
    const double top = m_panel->scroll->verticalScrollBar()->value();
    const double visible = m_panel->scroll->viewport()->height();
    m_dragScrollSpeed = drag::scrollSpeed(m_dragLastPoint.y(), top, top + visible);
}

void NoteController::dragTick() {
    NoteRow* dragged = m_draggingRow;
    if (!dragged || !m_panel) {
        stopDragTimer();
        return;
    }
    dragged->setDragPad(drag::lifted(dragged->dragPad(), NOTE_DRAG_PAD));
    updateDragScrollSpeed();
    if (std::abs(m_dragScrollSpeed) > drag::kScrollThreshold) {
        QScrollBar* bar = m_panel->scroll->verticalScrollBar();
        const double old = bar->value();
        const double next = drag::scrolledTop(old, m_dragScrollSpeed, m_panel->stack->height(),
                                              m_panel->scroll->viewport()->height());
        if (std::abs(next - old) > drag::kScrollThreshold) {
            bar->setValue(int(std::lround(next)));
            // The pointer's place in the document moves with the content under it.
            const double delta = bar->value() - old;
            m_dragStackY += delta;
            m_dragLastPoint.ry() += delta;
            updateDragLayout();
        }
    }
    // Every row glides, as plain data; only those with a widget move on screen.
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        Slot& slot = m_slots[i];
        if (slot.view == dragged)
            continue;
        const double y = drag::glide(slot.stackY, m_tops[i]);
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
    QList<drag::Entry> entries;
    for (const Slot& slot : std::as_const(m_slots)) {
        const NoteRowData& d = slot.data;
        if (!d.isHeader && !d.itemId.isEmpty() && !rules::isPendingId(d.itemId))
            entries.append({d.itemId, d.sec});
    }
    if (!entries.isEmpty()) {
        QList<OrderEntry> order;
        for (const drag::Entry& e : drag::regroup(entries, m_state.sectionLabels()))
            order.append({e.id, e.sec});
        // The override is written and sent through the write path, which rebuilds the panel.
        m_actions.reorder(order);
    }
    // Every row settles at once, also when nothing changed and no rebuild followed; the
    // dropped row may lie outside the visible part now and give its widget back.
    relayout();
}
