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
    const QList<NoteRow*>& rows() const { return m_rows; }
    NoteRow* editingRow() const;
    bool notePinned() const { return m_notePinned; }
    // How often the rows were rebuilt: a refresh that changes nothing visible costs nothing.
    int rebuildCount() const { return m_rebuilds; }

signals:
    // The tray menu is wanted at this place (right click on the card, or the menu button).
    void menuRequested(const QPoint& globalPos);

private:
    void teardownEdit(NoteRow* row);
    void placePanel();
    void rememberPlace();
    NoteRow* rowFor(const QString& itemId) const;
    double textHeight(const QString& text);

    ListState& m_state;
    ListActions& m_actions;
    Settings& m_settings;
    QPointer<NotePanel> m_panel;
    QList<NoteRow*> m_rows;
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
    QHash<QString, double> m_heights;
};
