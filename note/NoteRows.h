#pragma once

#include "model/ListRules.h"
#include "note/NoteContent.h"
#include "note/NoteDrag.h"
#include "note/NoteRow.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class FlippedView;

class QScrollArea;

// The panel's rows: every display row as plain data, in display order, with its settled top
// and its current top (they differ while rows glide during a drag). Only the rows near the
// visible part of the list, and the rows held by a gesture (the one edited, the one dragged),
// have a `NoteRow` widget; widgets are handed from row to row as the list scrolls or changes.
class NoteRows : public QObject {
    Q_OBJECT

public:
    explicit NoteRows(QObject* parent = nullptr);

    // The list's document and its scroll area: rows get widgets from now on.
    void attach(QScrollArea* scroll, FlippedView* stack);

    // Shows `rows`. False when they are the rows shown already: then nothing is touched
    // (hover, scroll position and widgets stay), and the rows only take the new strings.
    bool setRows(QList<NoteRowData> rows);

    qsizetype count() const { return m_slots.size(); }
    const NoteRowData& data(qsizetype i) const { return m_slots[i].data; }
    // Where the row's top is now, and where it settles.
    double top(qsizetype i) const { return m_slots[i].stackY; }
    double target(qsizetype i) const { return m_tops.value(i); }
    NoteRow* view(qsizetype i) const { return m_slots[i].view; }
    // The row's widget, made or taken from the spare ones when it has none.
    NoteRow* ensureView(qsizetype i);
    // The widgets showing rows, in display order.
    QList<NoteRow*> views() const;
    // The row shown by `view`, or -1.
    qsizetype indexOfView(const NoteRow* view) const;
    // The row with this key (NoteRowData::key), or -1.
    qsizetype indexOfKey(const QString& key) const;
    // The task with this id, or -1.
    qsizetype indexOfTask(const QString& itemId) const;

    // Every row's height, gap and kind, for the drag and keyboard arithmetic.
    QList<drag::Slot> places() const;
    // Moves the row at `from` to `to`; a task takes the section of the header above its new
    // place (none at the top).
    void move(qsizetype from, qsizetype to);
    // The visible tasks with ids of the feed, in the order shown, grouped section by section
    // in the order of `labels` (tasks of other sections last): the order a drop records.
    QList<OrderEntry> shownOrder(const QStringList& labels) const;

    // Settles every row at its slot at once and sizes the document.
    void relayout();
    // Recomputes the slots for the current order without moving any row (a drag glides them).
    void retarget();
    // Moves a row's current top (its widget follows, if it has one).
    void setTop(qsizetype i, double y);
    // Gives widgets to the rows that meet the visible part of the list (and to the held ones)
    // and takes them from the rest.
    void syncViews();

    // A row held by a gesture keeps its widget wherever it is scrolled to.
    void hold(NoteRow* view) { m_held.append(view); }
    void release(NoteRow* view) { m_held.removeAll(view); }
    // While rows glide, one still passing through the visible band keeps its widget.
    void setGliding(bool gliding) { m_gliding = gliding; }

    // The height of a task text as the row draws it, measured once per text shown.
    double textHeight(const QString& text);
    // How often the rows were rebuilt: a refresh that changes nothing visible costs nothing.
    int rebuildCount() const { return m_rebuilds; }

signals:
    // A widget was made: its signals are for the gestures to connect.
    void viewCreated(NoteRow* view);
    // A held widget is given back (its row left the list).
    void viewReleased(NoteRow* view);
    // Widgets were given to rows that had none.
    void viewsBound();
    // The rows or their order changed: indices no longer mean what they meant.
    void rowsChanged();
    // Rows that stayed were ticked or folded (their indices).
    void rowsFlipped(const QList<qsizetype>& rows);

private:
    struct Slot {
        NoteRowData data;
        double stackY = 0;
        NoteRow* view = nullptr;
    };

    NoteRow* bindView(Slot& slot);
    void releaseView(Slot& slot);
    void placeView(const Slot& slot);
    void pruneTextHeights();
    bool isHeld(const NoteRow* view) const;

    QPointer<QScrollArea> m_scroll;
    QPointer<FlippedView> m_stack;
    QList<Slot> m_slots;
    // The settled tops and the heights of the rows, in display order.
    QList<double> m_tops;
    QList<double> m_heights;
    // Widgets that show no row now, hidden, ready for the next row scrolled into view.
    QList<NoteRow*> m_spare;
    QList<QPointer<NoteRow>> m_held;
    bool m_gliding = false;
    bool m_shown = false;
    int m_rebuilds = 0;
    // Task text heights of the rows shown, so a rebuild measures only new texts.
    QHash<QString, double> m_textHeights;
    // The keys' index, made when first asked after a change (screen readers ask often).
    mutable QHash<QString, qsizetype> m_keyIndex;
};
