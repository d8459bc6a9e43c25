#include "note/NoteContent.h"

#include "support/TextRules.h"
#include "support/Theme.h"

#include <QHash>

QString countLine(qsizetype n, qsizetype k) {
    return QStringLiteral("%1 项 · 已完成 %2").arg(n).arg(k);
}

NoteContent buildNoteContent(const ListStore& state, const TaskTextHeight& textHeight) {
    NoteContent content;
    content.title = state.currentTitle();
    if (state.payload())
        content.updated = state.payload()->updated;

    const QList<Row>& rows = state.displayRows(true);
    // Counted by the label the item carries: an item shown under "其他" because its own label
    // has no header is not counted there, only items whose label is "其他" itself.
    QHash<QString, std::pair<qsizetype, qsizetype>> counts;
    for (const OrderedItem& item : state.orderedItems()) {
        auto& [n, k] = counts[item.sec];
        ++n;
        k += item.row.done.value_or(false) ? 1 : 0;
    }

    content.rows.reserve(rows.size());
    for (const Row& row : rows) {
        NoteRowData data;
        data.isHeader = rules::isHeader(row);
        data.itemId = row.id.value_or(QString());
        data.sec = row.cat.value_or(QString());
        if (data.isHeader) {
            data.label = stripSymbols(row.text);
            const auto [n, k] = counts.value(row.text);
            data.subText = countLine(n, k);
            data.collapsed = state.collapsedCats().contains(row.text);
            data.rowH = NOTE_ROW_H_CAT;
            data.rowGap = 7;
        } else {
            data.label = row.text;
            data.isDone = state.effDone(row);
            data.rowH = std::max(textHeight(row.text) + 14, 34.0);
            data.rowGap = 6;
        }
        content.rows.append(std::move(data));
    }
    return content;
}
