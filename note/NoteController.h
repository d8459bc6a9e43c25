#pragma once

#include "note/NoteDragging.h"
#include "note/NoteEditing.h"
#include "note/NoteFocus.h"
#include "note/NoteRows.h"
#include "note/NoteWindow.h"

#include <QObject>

class Clock;
class ListActions;
class ListStore;
class NotePanel;
class Settings;

// The note panel, put together: its window, its rows, and the gestures on them (inline
// editing and adding, dragging, the keyboard). It wires them and keeps the app's entry
// points: building and showing the panel, the content rebuild, and what happens when the
// list changes. A change that arrives while a row is edited or dragged waits and is shown when
// the gesture ends.
class NoteController : public QObject {
    Q_OBJECT

public:
    NoteController(ListStore& store, ListActions& actions, Settings& settings, Clock& clock,
                   QObject* parent = nullptr);

    void buildNote();
    void showNote();
    void toggleNote();
    void hideNoteAction() { m_window.hide(); }
    void togglePinAction() { m_window.togglePin(); }
    void refreshNote();
    // What the lists show has changed: rebuild, unless a row is being edited or dragged.
    void stateChanged();
    // For desktops without a tray: the header offers the tray menu through a button.
    void setMenuButtonVisible(bool visible) { m_window.setMenuButtonVisible(visible); }
    // Changes have waited over a minute for the relay: the title band shows a dot (from the
    // next redraw on).
    void setUnsent(bool unsent) { m_unsent = unsent; }
    bool unsentShown() const { return m_unsent; }

    NotePanel* panel() const { return m_window.panel(); }
    bool notePinned() const { return m_window.pinned(); }
    const NoteRows& rows() const { return m_rows; }
    NoteEditing& editing() { return m_editing; }
    NoteDragging& dragging() { return m_dragging; }
    const NoteFocus& focus() const { return m_focus; }

signals:
    // The tray menu is wanted at this place (right click on the card, or the menu button).
    void menuRequested(const QPoint& globalPos);

private:
    void connectRow(NoteRow* view);
    void gestureFinished();

    ListStore& m_store;
    ListActions& m_actions;
    NoteRows m_rows;
    NoteEditing m_editing;
    NoteDragging m_dragging;
    NoteFocus m_focus;
    // Last, so the panel goes first: its rows still have their source while they go.
    NoteWindow m_window;
    bool m_pendingRefresh = false;
    bool m_unsent = false;
};
