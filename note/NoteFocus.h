#pragma once

#include "note/NoteAccessible.h"

#include <QObject>
#include <QPointer>
#include <QScrollArea>

class ListActions;
class ListStore;
class NoteDragging;
class NoteEditing;
class NotePanel;
class NoteRows;
class QKeyEvent;

// The list from the keyboard and for screen readers: the row the keyboard is on (kept by key,
// so it survives a rebuild that keeps the row), the keys that move it and act on the row (the
// map is listkeys::commandFor), its focus ring, and the source the accessible rows read.
// Every change the keys make goes through the write path, as the mouse's do.
class NoteFocus : public QObject, public NoteListSource {
    Q_OBJECT

public:
    NoteFocus(NoteRows& rows, ListActions& actions, const ListStore& store, NoteEditing& editing,
              const NoteDragging& dragging, QObject* parent = nullptr);

    void attach(NotePanel* panel);

    // NoteListSource
    qsizetype rowCount() const override;
    const NoteRowData& rowData(qsizetype i) const override;
    QRectF rowRect(qsizetype i) const override;
    qsizetype rowIndexOf(const QString& key) const override;
    qsizetype focusedRow() const override { return m_index; }
    bool listHasFocus() const override;
    void activateRow(qsizetype i) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool keyPressed(QKeyEvent* event);
    void focusChanged(bool focusIn, Qt::FocusReason reason);
    void setFocusedRow(qsizetype i);
    // Finds the keyboard's row again after the rows changed.
    void refocus();
    void showRing();
    void moveTask(qsizetype from, int step);

    NoteRows& m_rows;
    ListActions& m_actions;
    const ListStore& m_store;
    NoteEditing& m_editing;
    const NoteDragging& m_dragging;
    // The panel's list, its scroll area and the add field, held each by itself and as plain
    // widgets: while the panel and its children are destroyed they are no NotePanel, list or
    // field any more, but their last events still reach the filter.
    QPointer<QWidget> m_list;
    QPointer<QScrollArea> m_scroll;
    QPointer<QWidget> m_input;
    // The keyboard's row by its key, and where it was, for when the row is gone.
    QString m_key;
    qsizetype m_index = -1;
};
