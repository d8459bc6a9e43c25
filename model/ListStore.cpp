#include "model/ListStore.h"

#include <QUuid>
#include <algorithm>

using rules::isItem;
using rules::keyOf;

ListStore::ListStore(const Clock& clock) : m_clock(&clock) {}

const ListSnapshot& ListStore::snapshot() const {
    const QString today = todayStr();
    if (!m_snapshot || m_snapshotDay != today) {
        m_snapshot = makeSnapshot(today);
        m_snapshotDay = today;
        ++m_revision;
    }
    return *m_snapshot;
}

ListSnapshot ListStore::makeSnapshot(const QString& today) const {
    ListSnapshot snap;
    const bool mine = m_choice == kMine;
    if (m_payload)
        snap.title = mine ? m_payload->mine_title : m_payload->hers_title;
    else
        snap.title = mine ? QStringLiteral("阿蓁的 To-do") : QStringLiteral("晴川子的 To-do");
    snap.sectionLabels = makeSectionLabels();
    snap.items = makeOrderedItems(today);
    snap.rows = makeDisplayRows(snap, false);
    snap.foldedRows = m_collapsedCats.isEmpty() ? snap.rows : makeDisplayRows(snap, true);
    return snap;
}

QString ListStore::todayStr() const {
    return m_clock->todayStr();
}

QList<Row> ListStore::currentRows() const {
    if (!m_payload)
        return {};
    return rules::rowsOf(*m_payload, m_choice);
}

bool ListStore::effDone(const Row& row) const {
    const auto it = m_localDone.constFind(keyOf(row));
    if (it != m_localDone.constEnd())
        return *it;
    return row.done.value_or(false);
}

QStringList ListStore::makeSectionLabels() const {
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

QList<OrderedItem> ListStore::makeOrderedItems(const QString& today) const {
    const QList<Row> rows = currentRows();
    QList<OrderedItem> items;
    items.reserve(rows.size());
    for (const Row& feedRow : rows) {
        if (!isItem(feedRow))
            continue;
        Row row = feedRow;
        const auto local = m_localDone.constFind(keyOf(row));
        if (local != m_localDone.constEnd()) {
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

    const auto override = m_orderOverride.constFind(m_choice);
    if (override != m_orderOverride.constEnd()) {
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

    const auto pending = m_pendingAdd.constFind(m_choice);
    if (pending != m_pendingAdd.constEnd()) {
        for (const Row& row : *pending)
            items.append({row, kDefaultSection});
    }

    if (!m_localText.isEmpty()) {
        for (OrderedItem& item : items) {
            if (!item.row.id)
                continue;
            const auto text = m_localText.constFind(*item.row.id);
            if (text != m_localText.constEnd())
                item.row.text = *text;
        }
    }
    return items;
}

QList<Row> ListStore::makeDisplayRows(const ListSnapshot& snap, bool honorCollapse) const {
    const QStringList& labels = snap.sectionLabels;
    QHash<QString, qsizetype> slot;
    slot.reserve(labels.size());
    for (qsizetype i = 0; i < labels.size(); ++i)
        slot.insert(labels[i], i);
    const qsizetype fallback = slot.value(kDefaultSection);

    // The items of each section by index, so each row is copied once, into its place.
    QList<QList<qsizetype>> buckets(labels.size());
    const QList<OrderedItem>& items = snap.items;
    for (qsizetype i = 0; i < items.size(); ++i)
        buckets[slot.value(items[i].sec, fallback)].append(i);

    QList<Row> out;
    out.reserve(items.size() + labels.size());
    for (qsizetype i = 0; i < labels.size(); ++i) {
        if (buckets[i].isEmpty())
            continue;
        out.append(headerRow(labels[i]));
        if (honorCollapse && m_collapsedCats.contains(labels[i]))
            continue;
        for (qsizetype item : std::as_const(buckets[i]))
            out.append(items[item].row);
    }
    return out;
}

void ListStore::setDone(const QString& id, bool done) {
    m_localDone[id] = done;
    changed();
}

void ListStore::setText(const QString& id, const QString& text) {
    m_localText[id] = text;
    changed();
}

void ListStore::setOrder(QList<OrderEntry> order) {
    m_orderOverride[m_choice] = std::move(order);
    changed();
}

void ListStore::choose(const QString& list) {
    m_choice = list == kMine ? kMine : kHers;
    changed();
}

void ListStore::toggleCollapse(const QString& label) {
    if (!m_collapsedCats.remove(label))
        m_collapsedCats.insert(label);
    // Only the panel's rows fold: the items and the menu's rows stay as they are.
    if (m_snapshot && m_snapshotDay == todayStr()) {
        m_snapshot->foldedRows = m_collapsedCats.isEmpty() ? m_snapshot->rows : makeDisplayRows(*m_snapshot, true);
        ++m_revision;
    } else {
        changed();
    }
}

void ListStore::postSent(const OverlayFloors::Entry& entry) {
    m_floors.sent(entry);
}

void ListStore::postAnswered(const OverlayFloors::Entry& entry, quint64 nextFetch) {
    m_floors.answered(entry, nextFetch);
}

void ListStore::restore(const inbox::Message& message, const QString& pendingId,
                        const QSet<QString>& beside, const QString& shownText) {
    using inbox::Action;
    switch (message.action) {
    case Action::Done:
    case Action::Undone:
        m_localDone[message.id] = message.action == Action::Done;
        break;
    case Action::Edit:
        m_localText[message.id] = message.text;
        break;
    case Action::Add:
        if (pendingId.isEmpty())
            break;
        m_floors.added(pendingId, beside);
        m_pendingAdd[message.list].append(
            Row{rules::kItem, message.text, pendingId, false, std::nullopt, std::nullopt});
        if (!shownText.isEmpty())
            m_localText[pendingId] = shownText;
        break;
    case Action::Reorder: {
        QList<OrderEntry> order;
        for (const inbox::OrderItem& item : message.order)
            order.append({item.id, item.cat});
        m_orderOverride[message.list] = std::move(order);
        break;
    }
    }
    changed();
}

void ListStore::pendingTextSent(const QString& pendingId) {
    const auto text = m_localText.constFind(pendingId);
    if (text == m_localText.constEnd())
        return;
    for (auto list = m_pendingAdd.begin(); list != m_pendingAdd.end(); ++list) {
        for (Row& row : *list) {
            if (row.id != pendingId)
                continue;
            row.text = *text;
            QSet<QString> sameText;
            for (const Row& task : m_payload ? rules::rowsOf(*m_payload, list.key()) : QList<Row>{})
                if (isItem(task) && task.text == row.text)
                    sameText.insert(keyOf(task));
            m_floors.added(pendingId, sameText);
        }
    }
    m_localText.erase(text);
    changed();
}

void ListStore::withdraw(const OverlayFloors::Entry& entry) {
    using Kind = OverlayFloors::Kind;
    switch (entry.kind) {
    case Kind::Done:
        m_localDone.remove(entry.key);
        break;
    case Kind::Text:
        m_localText.remove(entry.key);
        break;
    case Kind::Add:
        for (QList<Row>& rows : m_pendingAdd)
            rows.removeIf([&](const Row& row) { return row.id == entry.key; });
        break;
    case Kind::Order:
        m_orderOverride.remove(entry.key);
        break;
    }
    m_floors.forget(entry.kind, entry.key);
    changed();
}

Row ListStore::headerRow(const QString& label) {
    return Row{rules::kHeader, label, std::nullopt, std::nullopt, std::nullopt, label};
}

QString ListStore::newPendingId() {
    return rules::kPendingPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

void ListStore::addPending(Row row) {
    QSet<QString> sameText;
    for (const Row& task : currentRows()) {
        if (isItem(task) && task.text == row.text)
            sameText.insert(keyOf(task));
    }
    m_floors.added(keyOf(row), sameText);
    m_pendingAdd[m_choice].append(std::move(row));
    changed();
}

void ListStore::applyFeed(Payload feed, quint64 fetch) {
    // An idle app fetches the same feed every 30 s: when it is the one shown and no overlay
    // entry ends, the snapshot stays and the views have nothing to do.
    const bool sameFeed = m_payload && *m_payload == feed;
    const qsizetype overlay = overlayEntries();
    m_payload = std::move(feed);
    reconcileDoneAndText(fetch);
    reconcilePendingAdds(fetch);
    reconcileOrderOverride(fetch);
    if (!sameFeed || overlayEntries() != overlay)
        changed();
}

// Reconciling only ever ends entries, so a count tells whether it ended any.
qsizetype ListStore::overlayEntries() const {
    qsizetype pending = 0;
    for (const QList<Row>& rows : m_pendingAdd)
        pending += rows.size();
    return m_localDone.size() + m_localText.size() + pending + m_orderOverride.size();
}

void ListStore::reconcileDoneAndText(quint64 fetch) {
    using Kind = OverlayFloors::Kind;
    if (m_localDone.isEmpty() && m_localText.isEmpty())
        return;
    for (const QList<Row>* rows : {&m_payload->mine_rows, &m_payload->hers_rows}) {
        for (const Row& row : *rows) {
            if (!isItem(row) || !row.id)
                continue;
            const QString& id = *row.id;
            const auto done = m_localDone.find(id);
            if (done != m_localDone.end() && *done == row.done.value_or(false) &&
                m_floors.settles(Kind::Done, id, fetch)) {
                m_localDone.erase(done);
                m_floors.forget(Kind::Done, id);
            }
            const auto text = m_localText.find(id);
            if (text != m_localText.end() && *text == row.text &&
                m_floors.settles(Kind::Text, id, fetch)) {
                m_localText.erase(text);
                m_floors.forget(Kind::Text, id);
            }
        }
    }
}

void ListStore::reconcilePendingAdds(quint64 fetch) {
    for (const QString* key : {&kMine, &kHers}) {
        const auto pending = m_pendingAdd.find(*key);
        if (pending == m_pendingAdd.end() || pending->isEmpty())
            continue;
        QHash<QString, QStringList> keysByText;
        for (const Row& row : rules::rowsOf(*m_payload, *key)) {
            if (isItem(row))
                keysByText[row.text].append(keyOf(row));
        }
        QList<Row> kept;
        for (const Row& row : std::as_const(*pending)) {
            const QString& id = keyOf(row);
            const auto same = keysByText.constFind(row.text);
            const bool ends = same != keysByText.constEnd() &&
                              (m_floors.settles(OverlayFloors::Kind::Add, id, fetch) ||
                               std::ranges::any_of(*same, [&](const QString& task) {
                                   return m_floors.isNewBeside(id, task);
                               }));
            if (ends)
                m_floors.forget(OverlayFloors::Kind::Add, id);
            else
                kept.append(row);
        }
        *pending = std::move(kept);
    }
}

void ListStore::reconcileOrderOverride(quint64 fetch) {
    const auto override = m_orderOverride.find(m_choice);
    if (override == m_orderOverride.end() ||
        !m_floors.settles(OverlayFloors::Kind::Order, m_choice, fetch) || !feedShowsOrder(*override))
        return;
    m_orderOverride.erase(override);
    m_floors.forget(OverlayFloors::Kind::Order, m_choice);
}

// Whether the chosen list's feed alone shows what the override shows, so ending it moves
// nothing: the visible tasks it names are, in feed order, exactly its entries (ids and
// sections), and within each section no task it does not name comes before one it names (the
// override places those after its own). A task added after the drag, which the feed appends,
// therefore does not keep the override alive.
bool ListStore::feedShowsOrder(const QList<OrderEntry>& entries) const {
    const QString today = todayStr();
    const QStringList labelList = makeSectionLabels();
    const QSet<QString> labels(labelList.cbegin(), labelList.cend());
    QSet<QString> named;
    for (const OrderEntry& entry : entries)
        named.insert(entry.id);
    QSet<QString> unnamedIn; // sections in which a task the override does not name came first
    qsizetype n = 0;
    for (const Row& row : rules::rowsOf(*m_payload, m_choice)) {
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
