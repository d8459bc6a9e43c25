#include "ListState.h"

#include <QUuid>
#include <algorithm>

using rules::isItem;
using rules::keyOf;

QString ListState::todayStr() const {
    return clock->todayStr();
}

QString ListState::currentTitle() const {
    const bool mine = choice == kMine;
    if (payload)
        return mine ? payload->mine_title : payload->hers_title;
    return mine ? QStringLiteral("阿蓁的 To-do") : QStringLiteral("晴川子的 To-do");
}

QList<Row> ListState::currentRows() const {
    if (!payload)
        return {};
    return rules::rowsOf(*payload, choice);
}

bool ListState::effDone(const Row& row) const {
    const auto it = localDone.constFind(keyOf(row));
    if (it != localDone.constEnd())
        return *it;
    return row.done.value_or(false);
}

QStringList ListState::sectionLabels() const {
    QStringList labels;
    QSet<QString> seen;
    const QList<Row> rows = currentRows();
    for (const Row& row : rows) {
        if (rules::isHeader(row) && !seen.contains(row.text)) {
            seen.insert(row.text);
            labels.append(row.text);
        }
    }
    if (!seen.contains(kDefaultSection))
        labels.append(kDefaultSection);
    return labels;
}

QList<OrderedItem> ListState::orderedItems() const {
    const QString today = todayStr();
    const QList<Row> rows = currentRows();
    QList<OrderedItem> items;
    items.reserve(rows.size());
    for (const Row& feedRow : rows) {
        if (!isItem(feedRow))
            continue;
        Row row = feedRow;
        const auto local = localDone.constFind(keyOf(row));
        if (local != localDone.constEnd()) {
            row.done = *local;
            row.doneAt = *local ? std::optional<QString>(today) : std::nullopt;
        } else if (!rules::isVisibleItem(row, today)) {
            continue;
        } else {
            row.done = row.done.value_or(false);
        }
        QString sec = row.cat.value_or(QString());
        items.append({std::move(row), std::move(sec)});
    }

    const auto override = orderOverride.constFind(choice);
    if (override != orderOverride.constEnd()) {
        const QList<rules::Placed> placed = rules::placeByOrder(
            items, [](const OrderedItem& item) -> const QString& { return keyOf(item.row); },
            *override, [](const OrderEntry& entry) -> const QString& { return entry.id; });
        QList<OrderedItem> reordered;
        reordered.reserve(items.size());
        for (const rules::Placed& p : placed) {
            OrderedItem& item = items[p.item];
            if (p.entry >= 0)
                item.sec = (*override)[p.entry].sec;
            reordered.append(std::move(item));
        }
        items = std::move(reordered);
    }

    const auto pending = pendingAdd.constFind(choice);
    if (pending != pendingAdd.constEnd()) {
        for (const Row& row : *pending)
            items.append({row, kDefaultSection});
    }

    if (!localText.isEmpty()) {
        for (OrderedItem& item : items) {
            if (!item.row.id)
                continue;
            const auto text = localText.constFind(*item.row.id);
            if (text != localText.constEnd())
                item.row.text = *text;
        }
    }
    return items;
}

QList<Row> ListState::displayRows(bool honorCollapse) const {
    const QStringList labels = sectionLabels();
    QHash<QString, qsizetype> slot;
    slot.reserve(labels.size());
    for (qsizetype i = 0; i < labels.size(); ++i)
        slot.insert(labels[i], i);
    const qsizetype fallback = slot.value(kDefaultSection);

    QList<QList<Row>> buckets(labels.size());
    const QList<OrderedItem> items = orderedItems();
    for (const OrderedItem& item : items)
        buckets[slot.value(item.sec, fallback)].append(item.row);

    QList<Row> out;
    out.reserve(items.size() + labels.size());
    for (qsizetype i = 0; i < labels.size(); ++i) {
        if (buckets[i].isEmpty())
            continue;
        out.append(headerRow(labels[i]));
        if (!(honorCollapse && collapsedCats.contains(labels[i])))
            out.append(buckets[i]);
    }
    return out;
}

void ListState::toggleCollapse(const QString& label) {
    if (!collapsedCats.remove(label))
        collapsedCats.insert(label);
}

Row ListState::headerRow(const QString& label) {
    return Row{rules::kHeader, label, std::nullopt, std::nullopt, std::nullopt, label};
}

QString ListState::newPendingId() {
    return rules::kPendingPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

void ListState::addPending(Row row) {
    QSet<QString> sameText;
    for (const Row& task : currentRows()) {
        if (isItem(task) && task.text == row.text)
            sameText.insert(keyOf(task));
    }
    floors.added(keyOf(row), sameText);
    pendingAdd[choice].append(std::move(row));
}

void ListState::applyFeed(Payload feed, quint64 fetch) {
    payload = std::move(feed);
    reconcileDoneAndText(fetch);
    reconcilePendingAdds(fetch);
    reconcileOrderOverride(fetch);
}

void ListState::reconcileDoneAndText(quint64 fetch) {
    using Kind = OverlayFloors::Kind;
    if (localDone.isEmpty() && localText.isEmpty())
        return;
    for (const QList<Row>* rows : {&payload->mine_rows, &payload->hers_rows}) {
        for (const Row& row : *rows) {
            if (!isItem(row) || !row.id)
                continue;
            const QString& id = *row.id;
            const auto done = localDone.find(id);
            if (done != localDone.end() && *done == row.done.value_or(false) &&
                floors.settles(Kind::Done, id, fetch)) {
                localDone.erase(done);
                floors.forget(Kind::Done, id);
            }
            const auto text = localText.find(id);
            if (text != localText.end() && *text == row.text &&
                floors.settles(Kind::Text, id, fetch)) {
                localText.erase(text);
                floors.forget(Kind::Text, id);
            }
        }
    }
}

void ListState::reconcilePendingAdds(quint64 fetch) {
    for (const QString* key : {&kMine, &kHers}) {
        const auto pending = pendingAdd.find(*key);
        if (pending == pendingAdd.end() || pending->isEmpty())
            continue;
        QHash<QString, QStringList> keysByText;
        for (const Row& row : rules::rowsOf(*payload, *key)) {
            if (isItem(row))
                keysByText[row.text].append(keyOf(row));
        }
        QList<Row> kept;
        for (const Row& row : std::as_const(*pending)) {
            const QString& id = keyOf(row);
            const auto same = keysByText.constFind(row.text);
            const bool ends = same != keysByText.constEnd() &&
                              (floors.settles(OverlayFloors::Kind::Add, id, fetch) ||
                               std::ranges::any_of(*same, [&](const QString& task) {
                                   return floors.isNewBeside(id, task);
                               }));
            if (ends)
                floors.forget(OverlayFloors::Kind::Add, id);
            else
                kept.append(row);
        }
        *pending = std::move(kept);
    }
}

void ListState::reconcileOrderOverride(quint64 fetch) {
    const auto override = orderOverride.find(choice);
    if (override == orderOverride.end() ||
        !floors.settles(OverlayFloors::Kind::Order, choice, fetch) || !feedShowsOrder(*override))
        return;
    orderOverride.erase(override);
    floors.forget(OverlayFloors::Kind::Order, choice);
}

// Whether the chosen list's feed alone shows what the override shows, so ending it moves
// nothing: the visible tasks it names are, in feed order, exactly its entries (ids and
// sections), and within each section no task it does not name comes before one it names (the
// override places those after its own). A task added after the drag, which the feed appends,
// therefore does not keep the override alive.
bool ListState::feedShowsOrder(const QList<OrderEntry>& entries) const {
    const QString today = todayStr();
    const QStringList labelList = sectionLabels();
    const QSet<QString> labels(labelList.cbegin(), labelList.cend());
    QSet<QString> named;
    for (const OrderEntry& entry : entries)
        named.insert(entry.id);
    QSet<QString> unnamedIn; // sections in which a task the override does not name came first
    qsizetype n = 0;
    for (const Row& row : rules::rowsOf(*payload, choice)) {
        if (!rules::isVisibleItem(row, today))
            continue;
        const QString cat = row.cat.value_or(QString());
        const QString& section = labels.contains(cat) ? cat : kDefaultSection;
        if (!named.contains(keyOf(row))) {
            unnamedIn.insert(section);
            continue;
        }
        if (n >= entries.size() || entries[n].id != keyOf(row) || entries[n].sec != cat ||
            unnamedIn.contains(section))
            return false;
        ++n;
    }
    return n == entries.size();
}
