#include "NoteController.h"

#include "ListActions.h"
#include "NoteLayout.h"
#include "NotePanel.h"
#include "NoteRow.h"
#include "NoteViews.h"
#include "Settings.h"
#include "Theme.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

using namespace std::chrono_literals;

NoteController::NoteController(ListState& state, ListActions& actions, Settings& settings,
                               Clock& clock, QObject* parent)
    : QObject(parent), m_state(state), m_actions(actions), m_settings(settings), m_clock(clock),
      m_notePinned(settings.notePinned()) {
    // A move by dragging ends when the moves stop; its place is written then, once.
    m_placeWriter.setSingleShot(true);
    m_placeWriter.setInterval(400ms);
    connect(&m_placeWriter, &QTimer::timeout, this, &NoteController::rememberPlace);
    // 60 Hz while a row is dragged, and only then; precise so the glide does not stutter.
    m_dragTimer.setTimerType(Qt::PreciseTimer);
    m_dragTimer.setInterval(std::chrono::milliseconds(16));
    connect(&m_dragTimer, &QTimer::timeout, this, &NoteController::dragTick);
}

NoteRow* NoteController::draggingRow() const {
    return m_draggingRow;
}

NoteController::~NoteController() {
    delete m_panel;
}

NotePanel* NoteController::panel() const {
    return m_panel;
}

NoteRow* NoteController::editingRow() const {
    return m_editingRow;
}

void NoteController::buildNote() {
    m_panel = new NotePanel(m_settings.noteHeight());
    NotePanel* p = m_panel;
    p->setMenuButtonVisible(m_menuButton);
    connect(p->closeButton, &QAbstractButton::clicked, this, &NoteController::hideNoteAction);
    connect(p->pinButton, &QAbstractButton::clicked, this, &NoteController::togglePinAction);
    connect(p->addButton, &QAbstractButton::clicked, this, &NoteController::submitTask);
    connect(p->input, &QLineEdit::returnPressed, this, &NoteController::submitTask);
    connect(p->resizeHandle, &ResizeHandle::resizeFinished, this,
            [this](double height) { m_settings.setNoteH(height); });
    connect(p, &NotePanel::resized, this, &NoteController::relayout);
    connect(p->scroll->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &NoteController::syncViews);
    connect(p, &NotePanel::movedByUser, &m_placeWriter, qOverload<>(&QTimer::start));
    connect(p, &NotePanel::menuRequested, this, &NoteController::menuRequested);
    noteaccess::install();
    p->stack->setSource(this);
    p->stack->installEventFilter(this);
    p->input->installEventFilter(this);
    applyPin();
}

void NoteController::showNote() {
    if (!m_panel)
        buildNote();
    refreshNote();
    placePanel();
    m_panel->show();
    m_panel->raise();
}

void NoteController::placePanel() {
    const QSize size = m_panel->size();
    if (const auto stored = m_settings.notePos()) {
        if (const auto topLeft = parseNotePos(*stored)) {
            // Only a place on a screen that is there now: a monitor may have been unplugged.
            const QRect panel(topLeft->toPoint(), size);
            for (const QScreen* screen : QGuiApplication::screens()) {
                if (screen->availableGeometry().intersects(panel)) {
                    m_panel->place(panel.topLeft());
                    return;
                }
            }
        }
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        m_panel->place(defaultNoteTopLeft(screen->availableGeometry(), size).toPoint());
}

void NoteController::rememberPlace() {
    if (m_panel)
        m_settings.setNotePos(formatNotePos(m_panel->pos()));
}

void NoteController::toggleNote() {
    if (m_panel && m_panel->isVisible())
        m_panel->hide();
    else
        showNote();
}

void NoteController::hideNoteAction() {
    if (m_panel)
        m_panel->hide();
}

void NoteController::togglePinAction() {
    m_notePinned = !m_notePinned;
    m_settings.setNotePinned(m_notePinned);
    applyPin();
}

void NoteController::applyPin() {
    if (!m_panel)
        return;
    m_panel->setPinned(m_notePinned);
    QColor tint = m_notePinned ? C_VL_GOLD : C_VL_TXT;
    if (!m_notePinned)
        tint.setAlphaF(0.55f);
    m_panel->pinButton->setGlyph(m_notePinned ? NoteGlyph::PinFill : NoteGlyph::Pin, tint);
    m_panel->pinButton->setAccessibleName(QStringLiteral("置顶"));
}

void NoteController::setMenuButtonVisible(bool visible) {
    m_menuButton = visible;
    if (m_panel)
        m_panel->setMenuButtonVisible(visible);
}

namespace {

// Rows this far above and below the visible part of the list keep their widgets, so a scroll
// step rarely has to make one.
constexpr double kViewMargin = 80;

} // namespace

void NoteController::relayout() {
    if (!m_panel)
        return;
    m_rowHeights.resize(m_slots.size());
    QList<double> gaps(m_slots.size());
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        m_rowHeights[i] = m_slots[i].data.rowH;
        gaps[i] = m_slots[i].data.rowGap;
    }
    // The list area's own size: the viewport's is only updated once the panel is on screen.
    Stacked stacked =
        stackRows(m_rowHeights, gaps, m_panel->scroll->maximumViewportSize().height());
    m_tops = std::move(stacked.tops);
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        Slot& slot = m_slots[i];
        slot.stackY = m_tops[i];
        if (slot.view)
            slot.view->setGeometry(0, int(slot.stackY), int(NOTE_LIST_W),
                                   int(std::ceil(slot.data.rowH)));
    }
    m_panel->stack->resize(int(NOTE_LIST_W), int(std::ceil(stacked.height)));
    syncViews();
}

bool NoteController::pinned(const NoteRow* view) const {
    return view && (view == m_editingRow || view == m_draggingRow);
}

void NoteController::syncViews() {
    if (!m_panel)
        return;
    const double offset = m_panel->scroll->verticalScrollBar()->value();
    const double visible = m_panel->scroll->maximumViewportSize().height();
    const RowRange range = visibleRows(m_tops, m_rowHeights, offset, visible, kViewMargin);
    const double bandTop = offset - kViewMargin, bandBottom = offset + visible + kViewMargin;
    // During a drag the rows glide towards their targets: one still passing through the band
    // keeps its widget until it has left it.
    const bool gliding = m_draggingRow;
    QList<qsizetype> wanted;
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        Slot& slot = m_slots[i];
        const bool want = (i >= range.first && i < range.last) || pinned(slot.view) ||
                          (gliding && meetsBand(slot.stackY, slot.data.rowH, bandTop, bandBottom));
        if (slot.view && !want)
            releaseView(slot);
        else if (!slot.view && want)
            wanted.append(i);
    }
    // Released first, so the widgets just freed are the ones reused.
    for (qsizetype i : std::as_const(wanted)) {
        NoteRow* view = bindView(m_slots[i]);
        view->setGeometry(0, int(std::lround(m_slots[i].stackY)), int(NOTE_LIST_W),
                          int(std::ceil(m_slots[i].data.rowH)));
        view->show();
    }
    if (NoteRow* dragged = m_draggingRow; dragged && !wanted.isEmpty())
        dragged->raise(); // still drawn over the rows it passes, new ones included
    if (!wanted.isEmpty() && m_focusIndex >= 0)
        showFocus();
}

NoteRow* NoteController::bindView(Slot& slot) {
    NoteRow* view = nullptr;
    if (!m_spare.isEmpty()) {
        view = m_spare.takeLast();
        if (!(view->data() == slot.data))
            view->setData(slot.data);
    } else {
        view = new NoteRow(slot.data, m_panel->stack);
        connect(view, &NoteRow::collapseClicked, this, &NoteController::toggleCollapse);
        connect(view, &NoteRow::toggleClicked, this, &NoteController::noteToggle);
        connect(view, &NoteRow::editClicked, this, &NoteController::beginEdit);
        connect(view, &NoteRow::dragStarted, this, &NoteController::beginRowDrag);
        connect(view, &NoteRow::dragMoved, this, &NoteController::rowDragMoved);
        connect(view, &NoteRow::dragEnded, this, &NoteController::endRowDrag);
    }
    slot.view = view;
    view->setFocusRing(false); // showFocus puts it on the keyboard's row
    return view;
}

void NoteController::releaseView(Slot& slot) {
    NoteRow* view = slot.view;
    slot.view = nullptr;
    if (!view)
        return;
    if (view == m_editingRow)
        teardownEdit(view);
    // Hidden, not deleted: the click that led here may still be on its way out of it.
    view->hide();
    m_spare.append(view);
}

qsizetype NoteController::slotOf(const NoteRow* view) const {
    if (!view)
        return -1;
    for (qsizetype i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].view == view)
            return i;
    }
    return -1;
}

QList<NoteRow*> NoteController::views() const {
    QList<NoteRow*> out;
    for (const Slot& slot : m_slots) {
        if (slot.view)
            out.append(slot.view);
    }
    return out;
}

double NoteController::textHeight(const QString& text) {
    auto known = m_textHeights.constFind(text);
    if (known != m_textHeights.constEnd())
        return *known;
    const double h = noteTextHeight(text, NOTE_TEXT_W);
    m_textHeights.insert(text, h);
    return h;
}

void NoteController::refreshNote() {
    if (!m_panel)
        return;
    stopDragTimer();
    if (NoteRow* dragged = m_draggingRow) {
        // The drag is abandoned: its release commits nothing.
        dragged->setDragging(false);
        dragged->setDragPad(0);
    }
    m_draggingRow = nullptr;
    m_pendingRefresh = false;
    NoteContent content = buildNoteContent(m_state, [this](const QString& text) { return textHeight(text); });
    bool sameRows = content.rows.size() == m_slots.size();
    for (qsizetype i = 0; sameRows && i < m_slots.size(); ++i)
        sameRows = content.rows[i] == m_slots[i].data;
    const bool sameTitle =
        m_shown && content.title == m_shown->title && content.updated == m_shown->updated;
    if (sameTitle && sameRows) {
        // Nothing visible changed: rows, hover and scroll position stay as they are. The rows
        // take the equal texts of the new feed, so the old feed's strings are freed rather than
        // kept alive, one here and one there, by the rows.
        for (qsizetype i = 0; i < m_slots.size(); ++i)
            m_slots[i].data = std::move(content.rows[i]);
        return;
    }

    if (!sameTitle) {
        StyledText title;
        title.font = noteFont(NOTE_FONT_TITLE, QFont::Bold);
        title.append(content.title, title.font, C_VL_TXT);
        if (content.updated)
            title.append(QStringLiteral("\u3000") + *content.updated, noteFont(10), C_VL_TXT_DIM);
        m_panel->title->setText(title);
    }
    if (!m_shown || !sameRows) {
        // Rows keep their widgets: one whose data is unchanged is left as it is, so a tick in
        // a long list redraws one row. Rows that are gone give their widgets back for reuse.
        while (m_slots.size() > content.rows.size()) {
            releaseView(m_slots.last());
            m_slots.removeLast();
        }
        m_slots.reserve(content.rows.size());
        m_keyIndex.clear();
        // Rows that stay and were ticked or folded: screen readers hear of them.
        QList<qsizetype> flipped;
        for (qsizetype i = 0; i < content.rows.size(); ++i) {
            NoteRowData& data = content.rows[i];
            if (i == m_slots.size()) {
                m_slots.append(Slot{std::move(data), 0, nullptr});
                continue;
            }
            Slot& slot = m_slots[i];
            const bool changed = !(slot.data == data);
            if (changed && slot.data.key() == data.key() &&
                (slot.data.isDone != data.isDone || slot.data.collapsed != data.collapsed))
                flipped.append(i);
            slot.data = std::move(data);
            if (changed && slot.view)
                slot.view->setData(slot.data);
        }
        // Heights of texts no longer shown go once they outnumber the rows, not on every
        // change: a tick in a long list should not copy every height.
        if (m_textHeights.size() > 2 * m_slots.size() + 64) {
            QHash<QString, double> kept;
            for (const Slot& slot : std::as_const(m_slots)) {
                if (!slot.data.isHeader)
                    kept.insert(slot.data.label, m_textHeights.value(slot.data.label));
            }
            m_textHeights = std::move(kept);
        }
        relayout();
        refocus();
        for (qsizetype i : std::as_const(flipped))
            noteaccess::notifyStateChanged(m_panel->stack, i);
        ++m_rebuilds;
    }
    content.rows = {}; // the rows live in m_slots; clear() would keep the list's capacity
    m_shown = std::move(content);
}

void NoteController::stateChanged() {
    if (m_editingRow || m_draggingRow) {
        m_pendingRefresh = true;
        return;
    }
    refreshNote();
}

void NoteController::noteToggle(const QString& itemId, bool wasDone) {
    m_actions.toggle(itemId, wasDone);
}

void NoteController::toggleCollapse(const QString& label) {
    m_actions.toggleCollapse(label);
}

NoteRow* NoteController::rowFor(const QString& itemId) {
    for (Slot& slot : m_slots) {
        if (!slot.data.isHeader && slot.data.itemId == itemId) {
            if (!slot.view) {
                NoteRow* view = bindView(slot);
                view->setGeometry(0, int(std::lround(slot.stackY)), int(NOTE_LIST_W),
                                  int(std::ceil(slot.data.rowH)));
                view->show();
            }
            return slot.view;
        }
    }
    return nullptr;
}

void NoteController::beginEdit(NoteRow* row) {
    m_editFromKeyboard = false;
    if (!row || row->isHeader() || row->itemId().isEmpty())
        return;
    if (m_editingRow == row) {
        cancelEdit();
        return;
    }
    const QString id = row->itemId();
    NoteRow* target = row;
    if (m_editingRow) {
        cancelEdit(); // its text is dropped, not committed
        // Cancelling rebuilds the panel when something changed meanwhile, and widgets pass
        // from row to row: find the row again.
        target = rowFor(id);
    }
    if (!target)
        return;
    m_editingRow = target;
    auto* field = new EditField(target);
    const FlipY flip{double(target->height())};
    const QRectF frame(NOTE_SUB_INDENT + NOTE_TEXT_X - 4, 2, NOTE_TEXT_W + 8, std::max(22.0, target->rowH() - 4));
    field->setGeometry(flip.rect(frame).toRect());
    field->setText(target->label());
    connect(field, &EditField::editingEnded, this, [this](bool commit) {
        if (commit)
            commitEdit();
        else
            cancelEdit();
    });
    target->setEditField(field);
    field->show();
    m_panel->activateWindow();
    m_panel->raise();
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

void NoteController::teardownEdit(NoteRow* row) {
    m_editingRow = nullptr; // first: an ending reported while the editor goes finds no row
    if (!row)
        return;
    if (EditField* field = row->editField()) {
        field->hide();
        field->deleteLater(); // it may be the one reporting right now
    }
    row->setEditField(nullptr);
}

void NoteController::cancelEdit() {
    if (!m_editingRow)
        return;
    const bool backToList = keyboardEditEnding();
    teardownEdit(m_editingRow);
    refreshNote();
    syncViews(); // the row edited may have been scrolled away
    if (backToList)
        m_panel->stack->setFocus(Qt::OtherFocusReason);
}

bool NoteController::keyboardEditEnding() {
    // An edit begun from the list's keyboard returns there when it ends with a key (Return,
    // Escape, Tab); one ended by a click elsewhere leaves the focus where the click put it.
    const bool fromKeyboard = std::exchange(m_editFromKeyboard, false);
    const NoteRow* row = m_editingRow;
    return fromKeyboard && m_panel && row && row->editField() && row->editField()->hasFocus();
}

void NoteController::commitEdit() {
    NoteRow* row = m_editingRow;
    if (!row || !row->editField())
        return;
    const bool backToList = keyboardEditEnding();
    const QString text = row->editField()->text();
    const QString id = row->itemId();
    const QString oldText = row->label();
    teardownEdit(row);
    if (!m_actions.edit(id, oldText, text))
        refreshNote();
    syncViews(); // the row edited may have been scrolled away
    if (backToList)
        m_panel->stack->setFocus(Qt::OtherFocusReason);
}

void NoteController::submitTask() {
    if (!m_panel)
        return;
    const QString text = m_panel->input->text().trimmed();
    if (text.isEmpty())
        return;
    m_panel->input->clear();
    m_actions.add(text);
}
