#include "hub/FeedOps.h"

#include "model/ListRules.h"

#include <QHash>

using rules::isVisibleItem;
using rules::keyOf;

namespace {

// Visible items in their new order, placed exactly as the app's order override places them,
// so that the feed afterwards shows what the app showed.
QList<Row> newVisibleOrder(const QList<Row>& rows, const QList<qsizetype>& visible,
                           const QList<inbox::OrderItem>& order) {
    const QList<rules::Placed> placed = rules::placeByOrder(
        visible, [&rows](qsizetype index) -> const QString& { return keyOf(rows[index]); }, order,
        [](const inbox::OrderItem& entry) -> const QString& { return entry.id; });
    QList<Row> out;
    out.reserve(placed.size());
    for (const rules::Placed& p : placed) {
        Row row = rows[visible[p.item]];
        if (p.entry >= 0)
            row.cat = order[p.entry].cat;
        out.append(std::move(row));
    }
    return out;
}

// Grouped layout: every header keeps its place in the header sequence and is followed by the
// visible items of its section, then by the block's other rows. Possible only when the new
// visible order runs through the sections in header order; returns nothing otherwise.
std::optional<QList<Row>> groupedLayout(const QList<Row>& rows, const QList<Row>& newVisible,
                                        const QString& today) {
    QList<qsizetype> blockOfRow(rows.size());
    QHash<QString, qsizetype> blockOfLabel;
    qsizetype blocks = 1; // block 0 holds the rows before the first header
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rules::isHeader(rows[i])) {
            // A repeated label: the app shows the section once, where its first header is.
            if (!blockOfLabel.contains(rows[i].text))
                blockOfLabel.insert(rows[i].text, blocks);
            ++blocks;
        }
        blockOfRow[i] = blocks - 1;
    }
    // The app shows a task whose section has no header under "其他", last unless a header
    // of that name places it elsewhere.
    const qsizetype fallback = blockOfLabel.value(rules::kDefaultSection, blocks - 1);

    QList<QList<Row>> visibleIn(blocks);
    qsizetype last = 0;
    for (const Row& row : newVisible) {
        const qsizetype block = blockOfLabel.value(row.cat.value_or(QString()), fallback);
        if (block < last)
            return std::nullopt;
        last = block;
        visibleIn[block].append(row);
    }

    QList<QList<Row>> othersIn(blocks);
    QList<Row> headers;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rules::isHeader(rows[i]))
            headers.append(rows[i]);
        else if (!isVisibleItem(rows[i], today))
            othersIn[blockOfRow[i]].append(rows[i]);
    }
    QList<Row> out;
    out.reserve(rows.size());
    for (qsizetype block = 0; block < blocks; ++block) {
        if (block > 0)
            out.append(headers[block - 1]);
        out.append(visibleIn[block]);
        out.append(othersIn[block]);
    }
    return out;
}

} // namespace

QList<Row> reorderRows(const QList<Row>& rows, const QList<inbox::OrderItem>& order,
                       const QString& today) {
    QList<qsizetype> visible;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (isVisibleItem(rows[i], today))
            visible.append(i);
    }
    const QList<Row> newVisible = newVisibleOrder(rows, visible, order);
    if (auto grouped = groupedLayout(rows, newVisible, today))
        return std::move(*grouped);
    // Otherwise the visible items take the places the visible items had, one for one, and
    // every other row stays exactly where it was.
    QList<Row> out = rows;
    for (qsizetype k = 0; k < visible.size(); ++k)
        out[visible[k]] = newVisible[k];
    return out;
}

bool applyMessage(Payload& feed, const inbox::Message& message, const ApplyContext& ctx) {
    using Action = inbox::Action;
    QList<Row>& rows = rules::rowsOf(feed, message.list);
    const QString today = rules::dayString(ctx.now.date());

    // Each action notes whether it changed a row, so a message costs no copy of the list.
    bool changed = false;
    const auto set = [&changed](auto& field, const auto& value) {
        if (field != value) {
            field = value;
            changed = true;
        }
    };
    switch (message.action) {
    case Action::Done:
    case Action::Undone:
    case Action::Edit:
        for (Row& row : rows) {
            if (!rules::isItem(row) || row.id != message.id)
                continue;
            if (message.action == Action::Done) {
                set(row.done, std::optional(true));
                set(row.doneAt, std::optional(today));
            } else if (message.action == Action::Undone) {
                set(row.done, std::optional(false));
                set(row.doneAt, std::optional<QString>());
            } else {
                set(row.text, message.text);
            }
        }
        break;
    case Action::Add:
        rows.append(Row{rules::kItem, message.text, ctx.newId, false, std::nullopt, std::nullopt});
        changed = true;
        break;
    case Action::Reorder:
        set(rows, reorderRows(rows, message.order, today));
        break;
    }

    if (changed)
        feed.updated = ctx.now.toString(QStringLiteral("MM-dd HH:mm"));
    return changed;
}
