#pragma once

#include "note/NoteRow.h"
#include <QObject>
#include <QPointF>
#include <QPointer>

class Clock;
class ListActions;
class ListStore;

class NoteRows;
class QScrollArea;

// Dragging a task row: it is lifted over the others, follows the pointer, the other rows glide
// out of its way and the list scrolls near its top and bottom edges; on release the order as
// shown is recorded and sent through the write path, as one reorder. The motion runs on a
// 60 Hz tick from the clock while a row is dragged, and only then. The arithmetic is in
// NoteDrag.
class NoteDragging : public QObject {
    Q_OBJECT

public:
    NoteDragging(NoteRows& rows, ListActions& actions, const ListStore& store, Clock& clock,
                 QObject* parent = nullptr);

    void attach(QScrollArea* scroll);

    // The row's gestures: a press in its handle zone, each move after it, the release. Points
    // are in the list's document.
    void begin(NoteRow* row, const QPointF& stackPoint);
    void moved(NoteRow* row, const QPointF& stackPoint);
    void end(NoteRow* row);
    // A rebuild of the rows abandons the drag: its release records and sends nothing.
    void abandon();

    NoteRow* draggingRow() const;

signals:
    // The drag is over (dropped or abandoned).
    void finished();

private:
    void tick();
    void stopTicking();
    void updateLayout();
    void updateScrollSpeed();
    void scroll(double step);
    double scrollTop();

    NoteRows& m_rows;
    ListActions& m_actions;
    const ListStore& m_store;
    Clock& m_clock;
    QPointer<QScrollArea> m_scroll;
    QPointer<NoteRow> m_row;
    // The pointer's offset from the row's top at the grab, where the row's top should be, the
    // last pointer position and the auto-scroll step (all in the document).
    double m_grabDY = 0;
    double m_stackY = 0;
    QPointF m_lastPoint;
    double m_scrollSpeed = 0;
    // The scroll position, to the fraction (the scroll bar holds whole pixels), and when the
    // last tick ran.
    double m_scrollTop = 0;
    qint64 m_lastTickMs = 0;
    // Lives while the tick runs; the tick stops with it.
    QPointer<QObject> m_ticker;
};
