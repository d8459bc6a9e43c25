#include "FeedOps.h"

#include <QHash>

namespace {

const QString kItem = QStringLiteral("item");
const QString kHeader = QStringLiteral("header");
const QString kDefaultSection = QStringLiteral("其他");

// The app's order override keys items by id, an item without one by the empty string; the
// hub hands items out the same way so that its result is what the app's override showed.
QString keyOf(const Row& row) {
    return row.id.value_or(QString());
}

QString dayOf(const QDateTime& now) {
    return now.date().toString(QStringLiteral("yyyy-MM-dd"));
}

// Visible items in their new order: the named ones as the message lists them (each entry
// takes the first unplaced item of its id), then the unnamed ones in their old order.
QList<Row> newVisibleOrder(const QList<Row>& rows, const QList<qsizetype>& visible,
                           const QList<inbox::OrderItem>& order) {
    QHash<QString, QList<qsizetype>> byKey;
    for (qsizetype index : visible)
        byKey[keyOf(rows[index])].append(index);
    QHash<QString, qsizetype> used;
    QList<bool> placed(rows.size(), false);
    QList<Row> out;
    out.reserve(visible.size());
    for (const inbox::OrderItem& entry : order) {
        const auto candidates = byKey.constFind(entry.id);
        if (candidates == byKey.constEnd())
            continue;
        qsizetype& next = used[entry.id];
        if (next >= candidates->size())
            continue;
        const qsizetype index = candidates->at(next++);
        placed[index] = true;
        Row row = rows[index];
        row.cat = entry.cat;
        out.append(std::move(row));
    }
    for (qsizetype index : visible) {
        if (!placed[index])
            out.append(rows[index]);
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
        if (rows[i].kind == kHeader) {
            // A repeated label: the app shows the section once, where its first header is.
            if (!blockOfLabel.contains(rows[i].text))
                blockOfLabel.insert(rows[i].text, blocks);
            ++blocks;
        }
        blockOfRow[i] = blocks - 1;
    }
    // The app shows a task whose section has no header under "其他", last unless a header
    // of that name places it elsewhere.
    const qsizetype fallback = blockOfLabel.value(kDefaultSection, blocks - 1);

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
        if (rows[i].kind == kHeader)
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

QList<Row>& rowsOf(Payload& feed, const QString& list) {
    return list == QLatin1String("mine") ? feed.mine_rows : feed.hers_rows;
}

} // namespace

bool isVisibleItem(const Row& row, const QString& today) {
    if (row.kind != kItem)
        return false;
    return !row.done.value_or(false) || row.doneAt == today;
}

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

bool applyMessage(Payload& feed, const HubMessage& message, const ApplyContext& ctx) {
    using Action = HubMessage::Action;
    QList<Row>& rows = rowsOf(feed, message.list);
    const QList<Row> before = rows;
    const QString today = dayOf(ctx.now);

    switch (message.action) {
    case Action::Done:
    case Action::Undone:
    case Action::Edit:
        for (Row& row : rows) {
            if (row.kind != kItem || row.id != message.id)
                continue;
            if (message.action == Action::Done) {
                row.done = true;
                row.doneAt = today;
            } else if (message.action == Action::Undone) {
                row.done = false;
                row.doneAt.reset();
            } else {
                row.text = message.text;
            }
        }
        break;
    case Action::Add:
        rows.append(Row{kItem, message.text, ctx.newId, false, std::nullopt, std::nullopt});
        break;
    case Action::Reorder:
        rows = reorderRows(rows, message.order, today);
        break;
    }

    if (rows == before)
        return false;
    feed.updated = ctx.now.toString(QStringLiteral("MM-dd HH:mm"));
    return true;
}
