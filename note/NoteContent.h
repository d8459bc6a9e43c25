#pragma once

#include "model/ListStore.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// What one row of the note panel shows, as plain data: built from the list state, compared
// with what is shown so that a refresh that changes nothing visible rebuilds nothing.
struct NoteRowData {
    bool isHeader = false;
    QString label;    // task text, or the header title cleaned of symbols
    QString itemId;   // "" when the row has no id
    bool isDone = false;
    QString sec;      // the row's cat ("" when absent); a header's own label
    QString subText;  // header: "N 项 · 已完成 K"
    bool collapsed = false;
    double rowH = 28;
    double rowGap = 6;

    bool operator==(const NoteRowData&) const = default;

    // Names the row across rebuilds: a header by its section, a task by its id (by its text
    // when it has none).
    QString key() const {
        if (isHeader)
            return QStringLiteral("h:") + sec;
        return itemId.isEmpty() ? QStringLiteral("x:") + label : QStringLiteral("t:") + itemId;
    }
};

struct NoteContent {
    QString title;
    std::optional<QString> updated; // present whenever a feed is, even when empty
    QList<NoteRowData> rows;

    bool operator==(const NoteContent&) const = default;
};

// A header's count line: N tasks in the section, K of them done.
QString countLine(qsizetype n, qsizetype k);

// Height of a task text at NOTE_TEXT_W, as the row draws it.
using TaskTextHeight = std::function<double(const QString& text)>;

// The panel's title and one row per display row of the chosen list (collapsed sections keep
// only their header). Counts come from every ordered item, so a collapsed section still
// counts all its tasks.
NoteContent buildNoteContent(const ListStore& state, const TaskTextHeight& textHeight);
