#pragma once

#include "note/NoteRow.h"
#include <QLineEdit>
#include <QObject>
#include <QPointer>

class ListActions;

class NotePanel;

class NoteRows;

// Editing a task's text in place, and adding a task from the panel's field. An edit ends by
// Escape (cancelled) or by Return, Tab, Backtab or the focus going elsewhere (committed through
// the write path); at most one row is edited at a time.
class NoteEditing : public QObject {
    Q_OBJECT

public:
    NoteEditing(NoteRows& rows, ListActions& actions, QObject* parent = nullptr);

    void attach(NotePanel* panel);

    // The row's pencil: opens the editor over its text; on the row being edited it cancels,
    // on another row it drops the first edit and opens the second.
    void begin(NoteRow* row);
    // The same from the list's keyboard: an edit ended with a key gives the keyboard back to
    // the list.
    void beginFromKeyboard(NoteRow* row);
    void cancel();
    void commit();
    // The add field's text as a new task.
    void submitTask();

    NoteRow* editingRow() const;

signals:
    // The edit is over; what waited for it may be shown now.
    void finished();

private:
    void teardown(NoteRow* row);
    bool endsWithTheKeyboard();
    void afterEnd(bool backToList);

    NoteRows& m_rows;
    ListActions& m_actions;
    // The panel's list and add field, each by itself: an editor losing the focus while the
    // panel is being destroyed still ends its edit, when the panel is no NotePanel any more.
    QPointer<QWidget> m_list;
    QPointer<QLineEdit> m_input;
    QPointer<NoteRow> m_row;
    bool m_fromKeyboard = false;
};
