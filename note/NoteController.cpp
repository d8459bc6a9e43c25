#include "note/NoteController.h"

#include "model/ListActions.h"
#include "note/NotePanel.h"
#include "note/NoteRow.h"
#include "note/NoteViews.h"

NoteController::NoteController(ListStore& store, ListActions& actions, Settings& settings,
                               Clock& clock, QObject* parent)
    : QObject(parent), m_store(store), m_actions(actions), m_editing(m_rows, actions),
      m_dragging(m_rows, actions, store, clock),
      m_focus(m_rows, actions, store, m_editing, m_dragging), m_window(settings) {
    connect(&m_window, &NoteWindow::menuRequested, this, &NoteController::menuRequested);
    connect(&m_rows, &NoteRows::viewCreated, this, &NoteController::connectRow);
    connect(&m_editing, &NoteEditing::finished, this, &NoteController::gestureFinished);
    connect(&m_dragging, &NoteDragging::finished, this, &NoteController::gestureFinished);
}

void NoteController::connectRow(NoteRow* view) {
    connect(view, &NoteRow::collapseClicked, &m_actions, &ListActions::toggleCollapse);
    connect(view, &NoteRow::toggleClicked, &m_actions, &ListActions::toggle);
    connect(view, &NoteRow::editClicked, &m_editing, &NoteEditing::begin);
    connect(view, &NoteRow::dragStarted, &m_dragging, &NoteDragging::begin);
    connect(view, &NoteRow::dragMoved, &m_dragging, &NoteDragging::moved);
    connect(view, &NoteRow::dragEnded, &m_dragging, &NoteDragging::end);
}

void NoteController::buildNote() {
    if (!m_window.build())
        return;
    NotePanel* p = m_window.panel();
    m_rows.attach(p->scroll(), p->stack());
    m_editing.attach(p);
    m_dragging.attach(p->scroll());
    m_focus.attach(p);
    connect(p->addButton(), &QAbstractButton::clicked, &m_editing, &NoteEditing::submitTask);
    connect(p->input(), &QLineEdit::returnPressed, &m_editing, &NoteEditing::submitTask);
    connect(p, &NotePanel::resized, &m_rows, &NoteRows::relayout);
}

void NoteController::showNote() {
    buildNote();
    refreshNote();
    m_window.show();
}

void NoteController::toggleNote() {
    if (m_window.isShown())
        m_window.hide();
    else
        showNote();
}

void NoteController::refreshNote() {
    if (!m_window.panel())
        return;
    m_pendingRefresh = false;
    m_dragging.abandon();
    NoteContent content =
        buildNoteContent(m_store, [this](const QString& text) { return m_rows.textHeight(text); });
    m_window.setTitle(content.title, content.updated, m_unsent);
    m_rows.setRows(std::move(content.rows));
}

void NoteController::stateChanged() {
    if (m_editing.editingRow() || m_dragging.draggingRow()) {
        m_pendingRefresh = true;
        return;
    }
    refreshNote();
}

void NoteController::gestureFinished() {
    if (m_pendingRefresh && !m_editing.editingRow() && !m_dragging.draggingRow())
        refreshNote();
}

#include "moc_NoteController.cpp"
