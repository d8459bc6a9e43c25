#pragma once

#include "model/Payload.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QString>

// The list rules the app and the hub must agree on, written once: which list a key picks,
// how tasks are keyed, which tasks are visible, the default section, the date form, and how
// an order (the app's override, the hub's reorder message) places tasks that share a key.
namespace rules {

inline const QString kMine = QStringLiteral("mine");
inline const QString kHers = QStringLiteral("hers");
inline const QString kHeader = QStringLiteral("header");
inline const QString kItem = QStringLiteral("item");
// The section that takes every task whose section has no header in its list.
inline const QString kDefaultSection = QStringLiteral("其他");
// Ids of tasks added locally and not yet in the feed; no message ever names one.
inline const QString kPendingPrefix = QStringLiteral("pending-");

inline bool isItem(const Row& row) { return row.kind == kItem; }
inline bool isHeader(const Row& row) { return row.kind == kHeader; }
inline bool isPendingId(const QString& id) { return id.startsWith(kPendingPrefix); }

// A task is keyed by its id; every task without one shares the empty key.
inline const QString& keyOf(const Row& row) {
    static const QString empty;
    return row.id ? *row.id : empty;
}

// "mine" picks the mine_* members, any other key the hers_* members.
inline const QList<Row>& rowsOf(const Payload& feed, const QString& list) {
    return list == kMine ? feed.mine_rows : feed.hers_rows;
}
inline QList<Row>& rowsOf(Payload& feed, const QString& list) {
    return list == kMine ? feed.mine_rows : feed.hers_rows;
}

// The local calendar day as "yyyy-MM-dd", ASCII digits whatever the locale.
inline QString dayString(const QDate& day) {
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

// A feed task is shown while it is not done, or done on `today` (its doneAt equals it).
inline bool isVisibleItem(const Row& row, const QString& today) {
    return isItem(row) && (!row.done.value_or(false) || row.doneAt == today);
}

// One task's place after an order is applied: the task's index among the inputs, and the index
// of the order entry that placed it (-1 for a task no entry names).
struct Placed {
    qsizetype item;
    qsizetype entry;
};

// Applies an order to tasks: each entry takes the first task with its id that no earlier entry
// took (entries that find none are skipped), then every task no entry took follows in its
// old order. Tasks sharing a key are handed out one per entry in their old order, so no task
// is ever lost or shown twice. Linear: one hash lookup per entry.
template <typename Items, typename KeyAt, typename Entries, typename IdAt>
QList<Placed> placeByOrder(const Items& items, KeyAt keyAt, const Entries& entries, IdAt idAt) {
    const qsizetype n = items.size();
    // head[key] is the first untaken task of that key; next[] chains the rest in old order.
    QHash<QString, qsizetype> head;
    head.reserve(n);
    QList<qsizetype> next(n, -1);
    for (qsizetype i = n - 1; i >= 0; --i) {
        const QString& key = keyAt(items[i]);
        const auto it = head.find(key);
        if (it == head.end()) {
            head.insert(key, i);
        } else {
            next[i] = *it;
            *it = i;
        }
    }
    QList<Placed> out;
    out.reserve(n);
    QList<bool> taken(n, false);
    for (qsizetype e = 0; e < entries.size(); ++e) {
        const auto hit = head.find(idAt(entries[e]));
        if (hit == head.end() || *hit < 0)
            continue;
        const qsizetype index = *hit;
        *hit = next[index];
        taken[index] = true;
        out.append({index, e});
    }
    for (qsizetype i = 0; i < n; ++i) {
        if (!taken[i])
            out.append({i, -1});
    }
    return out;
}

} // namespace rules
