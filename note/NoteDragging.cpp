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
    if (!row || !m_rows.contains(row))
        return;
    m_draggingRow = row;
    m_dragGrabDY = stackPoint.y() - row->stackY;
    m_dragStackY = row->stackY;
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
    if (!row || row->isHeader() || !m_rows.contains(row))
        return;
    m_draggingRow = row;
    m_dragLastPoint = stackPoint;
    m_dragStackY = stackPoint.y() - m_dragGrabDY;
    updateDragLayout();
}

void NoteController::updateDragLayout() {
    NoteRow* dragged = m_draggingRow;
    if (!dragged || !m_panel)
        return;
    QList<NoteRow*> others = m_rows;
    others.removeOne(dragged);
    QList<drag::Slot> places;
    places.reserve(others.size());
    for (const NoteRow* row : std::as_const(others))
        places.append({row->rowH(), row->rowGap(), row->isHeader()});
    const double centre = m_dragStackY + dragged->rowH() * 0.5;
    QList<NoteRow*> order = others;
    order.insert(drag::insertionIndex(places, centre), dragged);
    if (order != m_rows) {
        m_rows = order;
        // Crossing a header moves the task into that header's section.
        const qsizetype k = m_rows.indexOf(dragged);
        if (k > 0) {
            QString sec;
            for (qsizetype i = k - 1; i >= 0; --i) {
                if (m_rows[i]->isHeader()) {
                    sec = m_rows[i]->sec();
                    break;
                }
            }
            dragged->setSec(sec);
        }
    }
    double y = 0;
    for (NoteRow* row : std::as_const(m_rows)) {
        row->targetY = y;
        y += row->rowH() + row->rowGap();
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
    for (NoteRow* row : std::as_const(m_rows)) {
        if (row == dragged)
            continue;
        const double y = drag::glide(row->stackY, row->targetY);
        if (y != row->stackY) {
            row->stackY = y;
            row->move(0, int(std::lround(y)));
        }
    }
    const double pad = dragged->dragPad();
    dragged->stackY = m_dragStackY;
    dragged->setGeometry(0, int(std::lround(m_dragStackY - pad)), int(NOTE_LIST_W),
                         int(std::ceil(dragged->rowH() + 2 * pad)));
}

void NoteController::endRowDrag(NoteRow* row) {
    stopDragTimer();
    m_draggingRow = nullptr;
    if (!row)
        return;
    row->setDragPad(0);
    row->stackY = row->targetY;
    row->setGeometry(0, int(std::lround(row->targetY)), int(NOTE_LIST_W), int(std::ceil(row->rowH())));
    QList<drag::Entry> entries;
    for (const NoteRow* r : std::as_const(m_rows)) {
        if (!r->isHeader() && !r->itemId().isEmpty() && !rules::isPendingId(r->itemId()))
            entries.append({r->itemId(), r->sec()});
    }
    if (entries.isEmpty())
        return;
    QList<OrderEntry> order;
    for (const drag::Entry& e : drag::regroup(entries, m_state.sectionLabels()))
        order.append({e.id, e.sec});
    // The override is written and sent through the write path, which rebuilds the panel.
    m_actions.reorder(order);
}
