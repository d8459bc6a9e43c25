#pragma once

#include "note/NoteContent.h"

#include <QRectF>

class QWidget;

// What the list's accessible rows are read from and act through. The rows are drawn, and only
// those near the visible part have a widget, so screen readers see them through this instead.
class NoteListSource {
public:
    virtual ~NoteListSource() = default;
    virtual qsizetype rowCount() const = 0;
    virtual const NoteRowData& rowData(qsizetype i) const = 0;
    // The row's place in the list's document (y downwards).
    virtual QRectF rowRect(qsizetype i) const = 0;
    // The index of the row with this key (NoteRowData::key), or -1.
    virtual qsizetype rowIndexOf(const QString& key) const = 0;
    virtual qsizetype focusedRow() const = 0;
    virtual bool listHasFocus() const = 0;
    // A task is ticked or unticked, a header collapsed or expanded, through the write path.
    virtual void activateRow(qsizetype i) = 0;
};

namespace noteaccess {

// Makes every note list (a FlippedView with a source) an accessible list of one accessible
// object per row. Once per process; later calls do nothing.
void install();

// Tells assistive technology that the keyboard is on row `i` of `list`, or that the row's
// checked or expanded state has changed. Nothing while no assistive technology listens.
void notifyFocus(QWidget* list, qsizetype i);
void notifyStateChanged(QWidget* list, qsizetype i);

} // namespace noteaccess
