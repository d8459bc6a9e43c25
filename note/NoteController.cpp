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

NoteController::NoteController(ListState& state, ListActions& actions, Settings& settings, QObject* parent)
    : QObject(parent), m_state(state), m_actions(actions), m_settings(settings),
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
    connect(p, &NotePanel::movedByUser, &m_placeWriter, qOverload<>(&QTimer::start));
    connect(p, &NotePanel::menuRequested, this, &NoteController::menuRequested);
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

void NoteController::relayout() {
    if (!m_panel)
        return;
    QList<double> heights, gaps;
    for (const NoteRow* row : std::as_const(m_rows)) {
        heights.append(row->rowH());
        gaps.append(row->rowGap());
    }
    // The list area's own size: the viewport's is only updated once the panel is on screen.
    const Stacked stacked = stackRows(heights, gaps, m_panel->scroll->maximumViewportSize().height());
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        m_rows[i]->targetY = m_rows[i]->stackY = stacked.tops[i];
        m_rows[i]->setGeometry(0, int(stacked.tops[i]), int(NOTE_LIST_W), int(std::ceil(heights[i])));
    }
    m_panel->stack->resize(int(NOTE_LIST_W), int(std::ceil(stacked.height)));
}

double NoteController::textHeight(const QString& text) {
    auto known = m_heights.constFind(text);
    if (known != m_heights.constEnd())
        return *known;
    const double h = noteTextHeight(text, NOTE_TEXT_W);
    m_heights.insert(text, h);
    return h;
}

void NoteController::refreshNote() {
    if (!m_panel)
        return;
    stopDragTimer();
    m_draggingRow = nullptr;
    m_pendingRefresh = false;
    NoteContent content = buildNoteContent(m_state, [this](const QString& text) { return textHeight(text); });
    if (m_shown && content == *m_shown)
        return; // nothing visible changed: rows, hover and scroll position stay as they are

    if (!m_shown || content.title != m_shown->title || content.updated != m_shown->updated) {
        StyledText title;
        title.font = noteFont(NOTE_FONT_TITLE, QFont::Bold);
        title.append(content.title, title.font, C_VL_TXT);
        if (content.updated)
            title.append(QStringLiteral("\u3000") + *content.updated, noteFont(10), C_VL_TXT_DIM);
        m_panel->title->setText(title);
    }
    if (!m_shown || content.rows != m_shown->rows) {
        // Row views are reused: one whose data is unchanged is left as it is, so a tick in a
        // long list redraws one row. Views no longer needed go once the click that may have
        // led here has returned.
        QHash<QString, double> kept;
        for (qsizetype i = 0; i < content.rows.size(); ++i) {
            const NoteRowData& data = content.rows[i];
            if (i < m_rows.size()) {
                if (!(m_rows[i]->data() == data))
                    m_rows[i]->setData(data);
            } else {
                auto* row = new NoteRow(data, m_panel->stack);
                connect(row, &NoteRow::collapseClicked, this, &NoteController::toggleCollapse);
                connect(row, &NoteRow::toggleClicked, this, &NoteController::noteToggle);
                connect(row, &NoteRow::editClicked, this, &NoteController::beginEdit);
            connect(row, &NoteRow::dragStarted, this, &NoteController::beginRowDrag);
            connect(row, &NoteRow::dragMoved, this, &NoteController::rowDragMoved);
            connect(row, &NoteRow::dragEnded, this, &NoteController::endRowDrag);
                row->show();
                m_rows.append(row);
            }
            if (!data.isHeader)
                kept.insert(data.label, m_heights.value(data.label));
        }
        while (m_rows.size() > content.rows.size()) {
            NoteRow* row = m_rows.takeLast();
            row->hide();
            row->deleteLater();
        }
        m_heights = std::move(kept);
        relayout();
        ++m_rebuilds;
    }
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

NoteRow* NoteController::rowFor(const QString& itemId) const {
    for (NoteRow* row : m_rows) {
        if (!row->isHeader() && row->itemId() == itemId)
            return row;
    }
    return nullptr;
}

void NoteController::beginEdit(NoteRow* row) {
    if (!row || row->isHeader() || row->itemId().isEmpty())
        return;
    if (m_editingRow == row) {
        cancelEdit();
        return;
    }
    const QString id = row->itemId();
    QPointer<NoteRow> target(row);
    if (m_editingRow)
        cancelEdit(); // its text is dropped, not committed
    // Cancelling rebuilds the panel when something changed meanwhile: find the row again.
    if (!target)
        target = rowFor(id);
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
    teardownEdit(m_editingRow);
    refreshNote();
}

void NoteController::commitEdit() {
    NoteRow* row = m_editingRow;
    if (!row || !row->editField())
        return;
    const QString text = row->editField()->text();
    const QString id = row->itemId();
    const QString oldText = row->label();
    teardownEdit(row);
    if (!m_actions.edit(id, oldText, text))
        refreshNote();
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
