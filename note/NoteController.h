#pragma once

#include "NoteAccessible.h"
#include "NoteContent.h"
#include "NoteDrag.h"

#include <QHash>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QTimer>

class Clock;
class ListActions;
class QKeyEvent;
class NotePanel;
class NoteRow;
class Settings;

// The note panel's operations: building and showing the panel, pinning, the content rebuild
// and the row stacking, and the gestures on rows (tick, collapse, inline editing, adding).
// Every change goes through the list's one write path; a change that arrives while a row is
// being edited or dragged is held and shown when the gesture ends. The list is also worked
// from the keyboard (a focused row, moved with the arrow keys) and read by screen readers,
// for which the controller is the source of the list's accessible rows.
class NoteController : public QObject, public NoteListSource {
    Q_OBJECT

public:
    NoteController(ListState& state, ListActions& actions, Settings& settings, Clock& clock,
                   QObject* parent = nullptr);
    ~NoteController() override;

    void buildNote();
    void showNote();
    void toggleNote();
    void toggleNoteAction() { toggleNote(); }
    void hideNoteAction();
    void togglePinAction();
    void applyPin();
    void relayout();
    void refreshNote();
    // What the lists show has changed: rebuild, unless a row is being edited or dragged.
    void stateChanged();

    void noteToggle(const QString& itemId, bool wasDone);
    void toggleCollapse(const QString& label);
    void beginRowDrag(NoteRow* row, const QPointF& stackPoint);
    void rowDragMoved(NoteRow* row, const QPointF& stackPoint);
    void endRowDrag(NoteRow* row);
    void startDragTimer();
    void stopDragTimer();
    void dragTick();
    void updateDragScrollSpeed();
    void updateDragLayout();
    NoteRow* draggingRow() const;
    bool dragTimerRunning() const { return m_dragTimer.isActive(); }
    double dragScrollSpeed() const { return m_dragScrollSpeed; }

    void beginEdit(NoteRow* row);
    void cancelEdit();
    void commitEdit();
    void submitTask();

    // For desktops without a tray: the header offers the tray menu through a button.
    void setMenuButtonVisible(bool visible);

    NotePanel* panel() const;
    // The rows shown, in display order, as plain data (rowCount, rowData below). Only the rows
    // near the visible part of the list have a widget (`rowView`), and the one edited or
    // dragged keeps its own.
    // Where the row's top is now (during a drag: as it glides) and where it settles.
    double rowTop(qsizetype i) const { return m_slots[i].stackY; }
    double rowTarget(qsizetype i) const { return m_tops.value(i); }
    NoteRow* rowView(qsizetype i) const { return m_slots[i].view; }
    // The widgets showing rows, in display order.
    QList<NoteRow*> views() const;
    NoteRow* editingRow() const;
    // The row the keyboard is on, by index; -1 when none.
    qsizetype focusedRow() const override;

    // NoteListSource: what the accessible list (and the views' tests) read, and what a screen
    // reader's action does.
    qsizetype rowCount() const override { return m_slots.size(); }
    const NoteRowData& rowData(qsizetype i) const override { return m_slots[i].data; }
    QRectF rowRect(qsizetype i) const override;
    qsizetype rowIndexOf(const QString& key) const override;
    bool listHasFocus() const override;
    void activateRow(qsizetype i) override;

    bool notePinned() const { return m_notePinned; }
    // How often the rows were rebuilt: a refresh that changes nothing visible costs nothing.
    int rebuildCount() const { return m_rebuilds; }

signals:
    // The tray menu is wanted at this place (right click on the card, or the menu button).
    void menuRequested(const QPoint& globalPos);

private:
    // One display row: what it shows, its top as it glides during a drag, and its widget
    // while it has one.
    struct Slot {
        NoteRowData data;
        double stackY = 0;
        NoteRow* view = nullptr;
    };

    void teardownEdit(NoteRow* row);
    bool keyboardEditEnding();
    // Moves the row at `from` to `to` in the display order; a task takes the section of the
    // header above its new place.
    void moveSlot(qsizetype from, qsizetype to);
    // Records the tasks' order as shown and sends it, as a drop does.
    void commitOrder();
    void dragScroll(double step);
    double dragScrollTop();
    // The keyboard on the list.
    bool listKeyPressed(QKeyEvent* event);
    void listFocusChanged(bool focusIn, Qt::FocusReason reason);
    void setFocusedRow(qsizetype i);
    // Finds the keyboard's row again after the rows changed.
    void refocus();
    void showFocus();
    void moveByKeyboard(qsizetype from, int step);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void placePanel();
    void rememberPlace();
    NoteRow* rowFor(const QString& itemId);
    qsizetype slotOf(const NoteRow* view) const;
    double textHeight(const QString& text);
    // Gives widgets to the rows that meet the visible part of the list (and to the edited and
    // dragged rows) and takes them from the rest, for reuse.
    void syncViews();
    NoteRow* bindView(Slot& slot);
    void releaseView(Slot& slot);
    bool pinned(const NoteRow* view) const;

    ListState& m_state;
    ListActions& m_actions;
    Settings& m_settings;
    Clock& m_clock;
    QPointer<NotePanel> m_panel;
    QList<Slot> m_slots;
    // The settled tops and the heights of the rows, in display order.
    QList<double> m_tops;
    QList<double> m_rowHeights;
    // Widgets that show no row now, hidden, ready for the next row scrolled into view.
    QList<NoteRow*> m_spare;
    // The title shown; its rows live in m_slots.
    std::optional<NoteContent> m_shown;
    QPointer<NoteRow> m_editingRow;
    QPointer<NoteRow> m_draggingRow;
    // The keyboard's row, by its key (see NoteRowData::key), so it survives a rebuild that
    // keeps the row; and where it was, for when the row is gone.
    QString m_focusKey;
    qsizetype m_focusIndex = -1;
    bool m_editFromKeyboard = false;
    // The keys' index, made when first asked after a change (screen readers ask often).
    mutable QHash<QString, qsizetype> m_keyIndex;
    bool m_pendingRefresh = false;
    bool m_notePinned = false;
    bool m_menuButton = false;
    int m_rebuilds = 0;
    QTimer m_placeWriter;
    // Drag state: the pointer's offset from the row's top at the grab, where the row's top
    // should be, the last pointer position and the auto-scroll step (all in the document).
    double m_dragGrabDY = 0;
    double m_dragStackY = 0;
    QPointF m_dragLastPoint;
    double m_dragScrollSpeed = 0;
    // The scroll position during a drag, to the fraction (the scroll bar holds whole pixels),
    // and when the last tick ran.
    double m_dragScrollTop = 0;
    qint64 m_lastDragTickMs = 0;
    QTimer m_dragTimer;
    // Task text heights of the rows shown, so a rebuild measures only new texts.
    QHash<QString, double> m_textHeights;
};
