#include "note/NoteEditing.h"

#include "model/ListActions.h"
#include "note/NoteLayout.h"
#include "note/NotePanel.h"
#include "note/NoteRow.h"
#include "note/NoteRows.h"
#include "note/NoteViews.h"
#include "support/Theme.h"

NoteEditing::NoteEditing(NoteRows& rows, ListActions& actions, QObject* parent)
    : QObject(parent), m_rows(rows), m_actions(actions) {
    // A row edited that leaves the list (a rebuild shrank it) takes its editor with it.
    connect(&rows, &NoteRows::viewReleased, this, [this](NoteRow* view) {
        if (view == m_row)
            teardown(view);
    });
}

void NoteEditing::attach(NotePanel* panel) {
    m_list = panel->stack();
    m_input = panel->input();
}

void NoteEditing::beginFromKeyboard(NoteRow* row) {
    begin(row);
    m_fromKeyboard = m_row != nullptr;
}

void NoteEditing::begin(NoteRow* row) {
    m_fromKeyboard = false;
    if (!row || !m_list || row->isHeader() || row->itemId().isEmpty())
        return;
    if (m_row == row) {
        cancel();
        return;
    }
    const QString id = row->itemId();
    NoteRow* target = row;
    if (m_row) {
        cancel(); // its text is dropped, not committed
        // Cancelling shows what changed meanwhile, and widgets pass from row to row: find the
        // row again.
        const qsizetype i = m_rows.indexOfTask(id);
        target = i < 0 ? nullptr : m_rows.ensureView(i);
    }
    if (!target)
        return;
    m_row = target;
    m_rows.hold(target);
    auto* field = new EditField(target);
    const FlipY flip{double(target->height())};
    const QRectF frame(NOTE_SUB_INDENT + NOTE_TEXT_X - 4, 2, NOTE_TEXT_W + 8,
                       std::max(22.0, target->rowH() - 4));
    field->setGeometry(flip.rect(frame).toRect());
    field->setText(target->label());
    connect(field, &EditField::editingEnded, this, [this](bool commit) {
        if (commit)
            this->commit();
        else
            cancel();
    });
    target->setEditField(field);
    field->show();
    target->window()->activateWindow();
    target->window()->raise();
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

void NoteEditing::teardown(NoteRow* row) {
    m_row = nullptr; // first: an ending reported while the editor goes finds no row
    if (!row)
        return;
    m_rows.release(row);
    if (EditField* field = row->editField()) {
        field->hide();
        field->deleteLater(); // it may be the one reporting right now
    }
    row->setEditField(nullptr);
}

bool NoteEditing::endsWithTheKeyboard() {
    // An edit begun from the list's keyboard returns there when it ends with a key (Return,
    // Escape, Tab); one ended by a click elsewhere leaves the focus where the click put it.
    const bool fromKeyboard = std::exchange(m_fromKeyboard, false);
    return fromKeyboard && m_row && m_row->editField() && m_row->editField()->hasFocus();
}

void NoteEditing::cancel() {
    if (!m_row)
        return;
    const bool backToList = endsWithTheKeyboard();
    teardown(m_row);
    afterEnd(backToList);
}

void NoteEditing::commit() {
    NoteRow* row = m_row;
    if (!row || !row->editField())
        return;
    const bool backToList = endsWithTheKeyboard();
    const QString text = row->editField()->text();
    const QString id = row->itemId();
    const QString oldText = row->label();
    teardown(row);
    m_actions.edit(id, oldText, text); // nothing for an empty or unchanged text
    afterEnd(backToList);
}

void NoteEditing::afterEnd(bool backToList) {
    emit finished();
    m_rows.syncViews(); // the row edited may have been scrolled away
    if (backToList && m_list)
        m_list->setFocus(Qt::OtherFocusReason);
}

void NoteEditing::submitTask() {
    if (!m_input)
        return;
    const QString text = m_input->text().trimmed();
    if (text.isEmpty())
        return;
    m_input->clear();
    m_actions.add(text);
}

NoteRow* NoteEditing::editingRow() const {
    return m_row;
}

#include "moc_NoteEditing.cpp"
