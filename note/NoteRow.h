#pragma once

#include "note/NoteContent.h"

#include <QPointer>
#include <QWidget>

class EditField;
class NoteButton;

// One row of the note panel: a section header (title, count line, chevron) or a task card
// (round checkbox, text, pencil on hover, drag grip). It draws what it is given and reports
// clicks as signals; whoever listens decides what changes. When the listener is gone, clicks
// simply go nowhere. A row widget shows one display row after another as the list scrolls.
class NoteRow : public QWidget {
    Q_OBJECT

public:
    explicit NoteRow(const NoteRowData& data, QWidget* parent = nullptr);

    const NoteRowData& data() const { return m_data; }
    // Shows another row's data in this view (a rebuild reuses the views it has).
    void setData(const NoteRowData& data);
    bool isHeader() const { return m_data.isHeader; }
    const QString& itemId() const { return m_data.itemId; }
    const QString& label() const { return m_data.label; }
    const QString& sec() const { return m_data.sec; }
    double rowH() const { return m_data.rowH; }
    double rowGap() const { return m_data.rowGap; }

    bool hovered() const { return m_hovered; }
    bool isDragging() const { return m_dragging; }
    void setDragging(bool dragging);
    // A drag across a header moves the task into that header's section.
    void setSec(const QString& sec) { m_data.sec = sec; }
    double dragPad() const { return m_dragPad; }
    void setDragPad(double pad);
    // The keyboard is on this row: a ring around its card.
    bool focusRing() const { return m_focusRing; }
    void setFocusRing(bool shown);

    // The pencil: made the first time the pointer enters a task row, so a long list does not
    // carry a button per row.
    NoteButton* editBtn() const { return m_editBtn; }
    EditField* editField() const;
    // Puts an editor over the text (the row stops drawing its text and grip) or removes it.
    void setEditField(EditField* field);

signals:
    void collapseClicked(const QString& sec);
    void toggleClicked(const QString& itemId, bool wasDone);
    void editClicked(NoteRow* row);
    void dragStarted(NoteRow* row, const QPointF& stackPoint);
    void dragMoved(NoteRow* row, const QPointF& stackPoint);
    void dragEnded(NoteRow* row);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void hideEvent(QHideEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void drawCategory(QPainter& painter);
    void drawItem(QPainter& painter);
    void drawFocusRing(QPainter& painter);
    void layoutIcons();
    void updateCursor(double x);
    void showEditButton(bool shown);
    QPointF toStack(const QPointF& local) const;

    NoteRowData m_data;
    bool m_hovered = false;
    bool m_dragging = false;
    bool m_focusRing = false;
    double m_dragPad = 0;
    NoteButton* m_editBtn = nullptr;
    QPointer<EditField> m_editField;
};
