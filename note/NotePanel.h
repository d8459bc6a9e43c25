#pragma once

#include <QWidget>

class FlippedView;
class NoteBackground;
class NoteButton;
class NoteField;
class PassthroughLabel;
class PillView;
class QScrollArea;

// The grip along the panel's bottom edge: dragging it moves the bottom edge (the top stays put)
// between NOTE_MIN_H and the screen's visible height; every release reports the height.
class ResizeHandle : public QWidget {
    Q_OBJECT
public:
    explicit ResizeHandle(QWidget* parent = nullptr);

signals:
    void resizeFinished(double height);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double m_startH = 0;
    double m_startMouseY = 0;
    QRect m_startFrame;
    bool m_pressed = false;
};

// The floating note: a frameless, translucent tool window that does not take the keyboard when
// shown, holding the card, the header band (title, pin, close and, where there is no tray, a
// menu button), the scrolling row list and the add-task row. It places its views for any
// height; what they show is up to the note controller.
class NotePanel : public QWidget {
    Q_OBJECT

public:
    explicit NotePanel(double height, QWidget* parent = nullptr);

    // The panel's views, for the note controller's parts to wire and fill.
    NoteBackground* background() const { return m_background; }
    ResizeHandle* resizeHandle() const { return m_resizeHandle; }
    NoteButton* closeButton() const { return m_closeButton; }
    NoteButton* pinButton() const { return m_pinButton; }
    NoteButton* menuButton() const { return m_menuButton; }
    PassthroughLabel* title() const { return m_title; }
    PillView* pill() const { return m_pill; }
    NoteField* input() const { return m_input; }
    NoteButton* addButton() const { return m_addButton; }
    QScrollArea* scroll() const { return m_scroll; }
    FlippedView* stack() const { return m_stack; }

    // Shows or hides the header's menu button (for desktops without a tray).
    void setMenuButtonVisible(bool visible);
    // Pinned: above ordinary windows. Keeps the place and the visibility.
    void setPinned(bool pinned);
    bool isPinned() const;

signals:
    // The panel's height changed (its views are placed already).
    void resized();
    // The user moved the panel (moves the panel makes itself are not reported).
    void movedByUser();
    // A right click on the card, or the menu button: the tray menu is wanted here.
    void menuRequested(const QPoint& globalPos);

public:
    // Moves the panel without reporting it as the user's move.
    void place(const QPoint& topLeft);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The header band's buttons, the title and the add-task row; the scrolling row list.
    void makeButtonsAndField();
    void makeList();
    void layoutViews();
    bool m_placing = false;
    NoteBackground* m_background = nullptr;
    ResizeHandle* m_resizeHandle = nullptr;
    NoteButton* m_closeButton = nullptr;
    NoteButton* m_pinButton = nullptr;
    NoteButton* m_menuButton = nullptr;
    PassthroughLabel* m_title = nullptr;
    PillView* m_pill = nullptr;
    NoteField* m_input = nullptr;
    NoteButton* m_addButton = nullptr;
    QScrollArea* m_scroll = nullptr;
    FlippedView* m_stack = nullptr;
};
