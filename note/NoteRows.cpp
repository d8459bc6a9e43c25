#include "note/NoteRows.h"

#include "note/NoteLayout.h"
#include "note/NoteRow.h"
#include "note/NoteViews.h"
#include "model/Payload.h"
#include "support/Theme.h"

#include <QScrollArea>
#include <QScrollBar>

namespace {

// Rows this far above and below the visible part of the list keep their widgets, so a scroll
// step rarely has to make one.
constexpr double kViewMargin = 80;

} // namespace

NoteRows::NoteRows(QObject* parent) : QObject(parent) {}

void NoteRows::attach(QScrollArea* scroll, FlippedView* stack) {
    m_scroll = scroll;
    m_stack = stack;
    connect(scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, &NoteRows::syncViews);
}

bool NoteRows::setRows(QList<NoteRowData> rows) {
    bool same = m_shown && rows.size() == m_slots.size();
    for (qsizetype i = 0; same && i < m_slots.size(); ++i)
        same = rows[i] == m_slots[i].data;
    if (same) {
        // The rows take the equal texts of the new feed, so the old feed's strings are freed
        // rather than kept alive, one here and one there, by the rows.
        for (qsizetype i = 0; i < m_slots.size(); ++i)
            m_slots[i].data = std::move(rows[i]);
        return false;
    }
    m_shown = true;
    // Rows keep their widgets: one whose data is unchanged is left as it is, so a tick in a
    // long list redraws one row. Rows that are gone give their widgets back for reuse.
    while (m_slots.size() > rows.size()) {
        releaseView(m_slots.last());
        m_slots.removeLast();
    }
    // Room for a few more rows: reserving exactly on every change would copy every row each
    // time one is added.
    if (m_slots.capacity() < rows.size())
        m_slots.reserve(rows.size() + rows.size() / 16 + 8);
    m_keyIndex.clear();
    QList<qsizetype> flipped;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        NoteRowData& row = rows[i];
        if (i == m_slots.size()) {
            m_slots.append(Slot{std::move(row), 0, nullptr});
            continue;
        }
        Slot& slot = m_slots[i];
        if (slot.data == row)
            continue;
        if (slot.data.key() == row.key() &&
            (slot.data.isDone != row.isDone || slot.data.collapsed != row.collapsed))
            flipped.append(i);
        slot.data = std::move(row);
        if (slot.view)
            slot.view->setData(slot.data);
    }
    pruneTextHeights();
    relayout();
    ++m_rebuilds;
    emit rowsChanged();
    if (!flipped.isEmpty())
        emit rowsFlipped(flipped);
    return true;
}

void NoteRows::pruneTextHeights() {
    // Heights of texts no longer shown go once they outnumber the rows, not on every change:
    // a tick in a long list should not copy every height.
    if (m_textHeights.size() <= 2 * m_slots.size() + 64)
        return;
    QHash<QString, double> kept;
    for (const Slot& slot : std::as_const(m_slots)) {
        if (!slot.data.isHeader)
            kept.insert(slot.data.label, m_textHeights.value(slot.data.label));
    }
    m_textHeights = std::move(kept);
}

double NoteRows::textHeight(const QString& text) {
    auto known = m_textHeights.constFind(text);
    if (known != m_textHeights.constEnd())
        return *known;
    const double h = noteTextHeight(text, NOTE_TEXT_W);
    m_textHeights.insert(text, h);
    return h;
}

NoteRow* NoteRows::ensureView(qsizetype i) {
    Slot& slot = m_slots[i];
    if (!slot.view && m_stack) {
        bindView(slot);
        placeView(slot);
        slot.view->show();
    }
    return slot.view;
}

QList<NoteRow*> NoteRows::views() const {
    QList<NoteRow*> out;
    for (const Slot& slot : m_slots) {
        if (slot.view)
            out.append(slot.view);
    }
    return out;
}

qsizetype NoteRows::indexOfView(const NoteRow* view) const {
    if (!view)
        return -1;
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].view == view)
            return i;
    }
    return -1;
}

qsizetype NoteRows::indexOfKey(const QString& key) const {
    if (m_keyIndex.isEmpty()) {
        m_keyIndex.reserve(m_slots.size());
        for (qsizetype i = 0; i < m_slots.size(); ++i)
            m_keyIndex.insert(m_slots[i].data.key(), i);
    }
    return m_keyIndex.value(key, -1);
}

qsizetype NoteRows::indexOfTask(const QString& itemId) const {
    return itemId.isEmpty() ? -1 : indexOfKey(QStringLiteral("t:") + itemId);
}

QList<drag::Slot> NoteRows::places() const {
    QList<drag::Slot> out;
    out.reserve(m_slots.size());
    for (const Slot& slot : m_slots)
        out.append({slot.data.rowH, slot.data.rowGap, slot.data.isHeader});
    return out;
}

void NoteRows::move(qsizetype from, qsizetype to) {
    m_slots.move(from, to);
    m_keyIndex.clear();
    if (to > 0) {
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
    emit rowsChanged();
}

QList<OrderEntry> NoteRows::shownOrder(const QStringList& labels) const {
    QList<drag::Entry> entries;
    for (const Slot& slot : m_slots) {
        const NoteRowData& d = slot.data;
        if (!d.isHeader && !d.itemId.isEmpty() && !rules::isPendingId(d.itemId))
            entries.append({d.itemId, d.sec});
    }
    QList<OrderEntry> order;
    order.reserve(entries.size());
    for (const drag::Entry& e : drag::regroup(entries, labels))
        order.append({e.id, e.sec});
    return order;
}

void NoteRows::relayout() {
    if (!m_scroll)
        return;
    m_heights.resize(m_slots.size());
    QList<double> gaps(m_slots.size());
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        m_heights[i] = m_slots[i].data.rowH;
        gaps[i] = m_slots[i].data.rowGap;
    }
    // The list area's own size: the viewport's is only updated once the panel is on screen.
    Stacked stacked = stackRows(m_heights, gaps, m_scroll->maximumViewportSize().height());
    m_tops = std::move(stacked.tops);
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        m_slots[i].stackY = m_tops[i];
        if (m_slots[i].view)
            placeView(m_slots[i]);
    }
    m_stack->resize(int(NOTE_LIST_W), int(std::ceil(stacked.height)));
    syncViews();
}

void NoteRows::retarget() {
    if (!m_scroll)
        return;
    m_tops.resize(m_slots.size());
    m_heights.resize(m_slots.size());
    double y = 0;
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        m_tops[i] = y;
        m_heights[i] = m_slots[i].data.rowH;
        y += m_slots[i].data.rowH + m_slots[i].data.rowGap;
    }
    m_stack->resize(int(NOTE_LIST_W),
                    int(std::ceil(std::max(y, double(m_scroll->maximumViewportSize().height())))));
}

void NoteRows::setTop(qsizetype i, double y) {
    Slot& slot = m_slots[i];
    if (slot.stackY == y)
        return;
    slot.stackY = y;
    if (slot.view)
        slot.view->move(0, int(std::lround(y)));
}

bool NoteRows::isHeld(const NoteRow* view) const {
    return view && m_held.contains(view);
}

void NoteRows::syncViews() {
    if (!m_scroll)
        return;
    const double offset = m_scroll->verticalScrollBar()->value();
    const double visible = m_scroll->maximumViewportSize().height();
    const RowRange range = visibleRows(m_tops, m_heights, offset, visible, kViewMargin);
    const double bandTop = offset - kViewMargin, bandBottom = offset + visible + kViewMargin;
    QList<qsizetype> wanted;
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        Slot& slot = m_slots[i];
        const bool want =
            (i >= range.first && i < range.last) || isHeld(slot.view) ||
            (m_gliding && meetsBand(slot.stackY, slot.data.rowH, bandTop, bandBottom));
        if (slot.view && !want)
            releaseView(slot);
        else if (!slot.view && want)
            wanted.append(i);
    }
    // Released first, so the widgets just freed are the ones reused.
    for (qsizetype i : std::as_const(wanted)) {
        bindView(m_slots[i]);
        placeView(m_slots[i]);
        m_slots[i].view->show();
    }
    if (!wanted.isEmpty())
        emit viewsBound();
}

void NoteRows::placeView(const Slot& slot) {
    slot.view->setGeometry(0, int(std::lround(slot.stackY)), int(NOTE_LIST_W),
                           int(std::ceil(slot.data.rowH)));
}

NoteRow* NoteRows::bindView(Slot& slot) {
    NoteRow* view = nullptr;
    if (!m_spare.isEmpty()) {
        view = m_spare.takeLast();
        if (!(view->data() == slot.data))
            view->setData(slot.data);
    } else {
        view = new NoteRow(slot.data, m_stack);
        emit viewCreated(view);
    }
    view->setFocusRing(false);
    slot.view = view;
    return view;
}

void NoteRows::releaseView(Slot& slot) {
    NoteRow* view = slot.view;
    slot.view = nullptr;
    if (!view)
        return;
    if (isHeld(view)) {
        m_held.removeAll(view);
        emit viewReleased(view);
    }
    // Hidden, not deleted: the click that led here may still be on its way out of it.
    view->hide();
    m_spare.append(view);
}

#include "moc_NoteRows.cpp"
