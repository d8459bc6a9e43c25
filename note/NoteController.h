#pragma once

#include "NoteContent.h"
#include "NoteDrag.h"

#include <QHash>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QTimer>

class ListActions;
class NotePanel;
class NoteRow;
class Settings;

// The note panel's operations: building and showing the panel, pinning, the content rebuild
// and the row stacking, and the gestures on rows (tick, collapse, inline editing, adding).
// Every change goes through the list's one write path; a change that arrives while a row is
// being edited or dragged is held and shown when the gesture ends.
class NoteController : public QObject {
    Q_OBJECT

public:
    NoteController(ListState& state, ListActions& actions, Settings& settings,
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
    // The rows shown, in display order, as plain data. Only the rows near the visible part of
    // the list have a widget (`rowView`), and the one edited or dragged keeps its own.
    qsizetype rowCount() const { return m_slots.size(); }
    const NoteRowData& rowData(qsizetype i) const { return m_slots[i].data; }
    // Where the row's top is now (during a drag: as it glides) and where it settles.
    double rowTop(qsizetype i) const { return m_slots[i].stackY; }
    double rowTarget(qsizetype i) const { return m_tops.value(i); }
    NoteRow* rowView(qsizetype i) const { return m_slots[i].view; }
    // The widgets showing rows, in display order.
    QList<NoteRow*> views() const;
    NoteRow* editingRow() const;
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
    QTimer m_dragTimer;
    // Task text heights of the rows shown, so a rebuild measures only new texts.
    QHash<QString, double> m_textHeights;
};
