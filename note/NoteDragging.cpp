#include "note/NoteDragging.h"

#include "model/Clock.h"
#include "model/ListActions.h"
#include "note/NoteDrag.h"
#include "note/NoteRow.h"
#include "note/NoteRows.h"
#include "support/Theme.h"

#include <QScrollArea>
#include <QScrollBar>

NoteDragging::NoteDragging(NoteRows& rows, ListActions& actions, const ListStore& store,
                           Clock& clock, QObject* parent)
    : QObject(parent), m_rows(rows), m_actions(actions), m_store(store), m_clock(clock) {
    // Rows scrolled or glided into view during a drag are drawn under the dragged one.
    connect(&rows, &NoteRows::viewsBound, this, [this] {
        if (m_row)
            m_row->raise();
    });
}

void NoteDragging::attach(QScrollArea* scroll) {
    m_scroll = scroll;
}

void NoteDragging::begin(NoteRow* row, const QPointF& stackPoint) {
    const qsizetype k = m_rows.indexOfView(row);
    if (k < 0 || !m_scroll)
        return;
    m_row = row;
    m_rows.hold(row);
    m_rows.setGliding(true);
    m_grabDY = stackPoint.y() - m_rows.top(k);
    m_stackY = m_rows.top(k);
    m_lastPoint = stackPoint;
    m_scrollSpeed = 0;
    m_scrollTop = m_scroll->verticalScrollBar()->value();
    row->raise(); // drawn over the rows it passes
    updateLayout();
    delete m_ticker;
    m_ticker = new QObject(this);
    m_lastTickMs = m_clock.msecsSinceEpoch();
    m_clock.every(std::chrono::milliseconds(16), m_ticker, [this] { tick(); });
}

void NoteDragging::stopTicking() {
    if (m_ticker)
        m_ticker->deleteLater(); // the tick may be running right now
    m_ticker = nullptr;
    m_scrollSpeed = 0;
}

void NoteDragging::moved(NoteRow* row, const QPointF& stackPoint) {
    if (!row || row != m_row)
        return;
    m_lastPoint = stackPoint;
    m_stackY = stackPoint.y() - m_grabDY;
    updateLayout();
}

void NoteDragging::updateLayout() {
    const qsizetype k = m_rows.indexOfView(m_row);
    if (k < 0)
        return;
    const qsizetype index =
        drag::insertionIndex(m_rows.places(), k, m_stackY + m_rows.data(k).rowH * 0.5);
    if (index != k)
        m_rows.move(k, index);
    m_rows.retarget();
}

void NoteDragging::updateScrollSpeed() {
    const double top = scrollTop();
    const double visible = m_scroll->viewport()->height();
    m_scrollSpeed = drag::scrollSpeed(m_lastPoint.y(), top, top + visible);
}

double NoteDragging::scrollTop() {
    // The scroll position is kept to the fraction, the bar shows it rounded: slow speeds add
    // up instead of rounding away. A scroll made by other means (the wheel) is taken over.
    const int shown = m_scroll->verticalScrollBar()->value();
    if (std::lround(m_scrollTop) != shown)
        m_scrollTop = shown;
    return m_scrollTop;
}

void NoteDragging::tick() {
    NoteRow* row = m_row;
    const qsizetype k = m_rows.indexOfView(row);
    if (k < 0 || !m_scroll) {
        stopTicking();
        return;
    }
    // Motion follows the time that passed, not the count of ticks: a timer that fires late
    // or early moves things by as much as the time it took.
    const qint64 now = m_clock.msecsSinceEpoch();
    const double ticks = drag::ticksFor(double(now - m_lastTickMs));
    m_lastTickMs = now;
    row->setDragPad(drag::lifted(row->dragPad(), NOTE_DRAG_PAD, ticks));
    updateScrollSpeed();
    if (std::abs(m_scrollSpeed) > drag::kScrollThreshold)
        scroll(m_scrollSpeed * ticks);
    // Every row glides, as plain data; only those with a widget move on screen.
    const qsizetype dragged = m_rows.indexOfView(row);
    for (qsizetype i = 0; i < m_rows.count(); ++i) {
        if (i != dragged)
            m_rows.setTop(i, drag::glide(m_rows.top(i), m_rows.target(i), ticks));
    }
    m_rows.setTop(dragged, m_stackY);
    m_rows
        .syncViews(); // rows scrolled or glided into view get widgets, those gone give theirs back
    const double pad = row->dragPad();
    row->setGeometry(0, int(std::lround(m_stackY - pad)), int(NOTE_LIST_W),
                     int(std::ceil(row->rowH() + 2 * pad)));
}

void NoteDragging::scroll(double step) {
    const double old = scrollTop();
    const double next =
        drag::scrolledTop(old, step, m_scroll->widget()->height(), m_scroll->viewport()->height());
    if (std::abs(next - old) <= drag::kScrollThreshold)
        return;
    m_scrollTop = next;
    m_scroll->verticalScrollBar()->setValue(int(std::lround(next)));
    // The pointer's place in the document moves with the content under it.
    m_stackY += next - old;
    m_lastPoint.ry() += next - old;
    updateLayout();
}

void NoteDragging::end(NoteRow* row) {
    const bool dragging = row && row == m_row;
    stopTicking();
    m_row = nullptr;
    m_rows.setGliding(false);
    m_rows.release(row);
    if (m_rows.indexOfView(row) < 0)
        return;
    row->setDragPad(0);
    if (dragging) {
        // The override is written and sent through the write path, which rebuilds the panel.
        const QList<OrderEntry> order = m_rows.shownOrder(m_store.sectionLabels());
        if (!order.isEmpty())
            m_actions.reorder(order);
    }
    // Every row settles at once, also when nothing changed and no rebuild followed; the
    // dropped row may lie outside the visible part now and give its widget back.
    m_rows.relayout();
    if (dragging)
        emit finished();
}

void NoteDragging::abandon() {
    NoteRow* row = m_row;
    if (!row)
        return;
    stopTicking();
    m_row = nullptr;
    m_rows.setGliding(false);
    m_rows.release(row);
    row->setDragging(false);
    row->setDragPad(0);
    emit finished();
}

NoteRow* NoteDragging::draggingRow() const {
    return m_row;
}

#include "moc_NoteDragging.cpp"
