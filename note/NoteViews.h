#pragma once

#include "note/NoteAccessible.h"
#include "note/NoteIcons.h"
#include "support/TextRules.h"

#include <QAbstractButton>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class QPainterPath;

// Moves the window of a widget while the user drags a part of it nobody else claims: through
// the window manager where it can (startSystemMove), else by following the pointer.
class WindowDragger {
public:
    void press(QWidget* widget, const QPointF& globalPos);
    void move(QWidget* widget, const QPointF& globalPos);
    void release() { m_following = false; }

private:
    bool m_following = false;
    QPointF m_grab;
};

// A soft black shadow of `path` drawn into an image the size of `size`: the shape filled at
// `opacity`, moved by `offset` and blurred by three box blurs (close to a Gaussian of
// `radius`). Black needs only the alpha channel: one byte a pixel, a quarter of a colour image
// the panel's size, which the panel keeps for as long as it is shown.
QImage shadowImage(const QSize& size, double ratio, const QPainterPath& path, const QPointF& offset,
                   double radius, double opacity);

// The panel's content: the rounded card with its shadow in the transparent margin, the
// background picture, dimming, a gradient darker towards the bottom, and a thin gold edge.
// A press on the card that no other view claims moves the panel.
class NoteBackground : public QWidget {
    Q_OBJECT
public:
    explicit NoteBackground(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    WindowDragger m_drag;
    QImage m_shadow;
    QPixmap m_picture;
    // The device size m_picture was made for: a picture that does not decode is not tried again
    // on every paint.
    QSize m_pictureFor;
};

// The document of the row list: rows are placed top-down; a press on its empty space moves
// the panel like the card does. It takes the keyboard for the list (by Tab, not by a click)
// and, for screen readers, stands for the list whose rows its source describes.
class FlippedView : public QWidget {
    Q_OBJECT
public:
    explicit FlippedView(QWidget* parent = nullptr);
    // The source outlives the view: the note controller owns the panel.
    void setSource(NoteListSource* source) { m_source = source; }
    NoteListSource* source() const { return m_source; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    WindowDragger m_drag;
    NoteListSource* m_source = nullptr;
};

// The translucent rounded backdrop of the add-task field.
class PillView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override;
};

// The panel's title: draws its text centred vertically (a text taller than the label sits on
// its bottom edge and runs above it) and lets every press through to the card behind it.
class PassthroughLabel : public QWidget {
    Q_OBJECT
public:
    explicit PassthroughLabel(QWidget* parent = nullptr);
    void setText(const StyledText& text);
    const StyledText& text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    StyledText m_text;
};

// A borderless button showing one of the panel's symbols in a tint; it acts on the first
// click even while the panel is not the active window.
class NoteButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit NoteButton(QWidget* parent = nullptr);
    void setGlyph(NoteGlyph glyph, const QColor& tint);
    NoteGlyph glyph() const { return m_glyph; }
    QColor tint() const { return m_tint; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    NoteGlyph m_glyph = NoteGlyph::XMark;
    QColor m_tint;
};

// The add-task field: no frame, no background, the text inset and centred vertically as
// vCenterTextRect places it. A click in the inactive panel gives it the keyboard at once.
class NoteField : public QLineEdit {
    Q_OBJECT
public:
    explicit NoteField(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

// The inline editor of a task row. Escape cancels; Return, Tab, Backtab and losing the focus
// commit. Each ending is reported once.
class EditField : public QLineEdit {
    Q_OBJECT
public:
    explicit EditField(QWidget* parent = nullptr);

signals:
    void editingEnded(bool commit);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void end(bool commit);
    bool m_ended = false;
};
