#include "model/OverlayFloors.h"

#include <algorithm>

void OverlayFloors::sent(const Entry& entry) {
    ++of(entry.kind)[entry.key].unanswered;
}

void OverlayFloors::answered(const Entry& entry, quint64 nextFetch) {
    QHash<QString, Floor>& floorsOfKind = of(entry.kind);
    const auto floor = floorsOfKind.find(entry.key);
    if (floor == floorsOfKind.end() || floor->unanswered == 0)
        return; // no message about it was recorded as sent
    --floor->unanswered;
    floor->firstFetch = std::max(floor->firstFetch, nextFetch);
}

void OverlayFloors::added(const QString& pendingId, const QSet<QString>& sameText) {
    of(Kind::Add)[pendingId].sameText = sameText;
}

bool OverlayFloors::isNewBeside(const QString& pendingId, const QString& key) const {
    const QHash<QString, Floor>& adds = of(Kind::Add);
    const auto floor = adds.constFind(pendingId);
    return floor == adds.constEnd() || !floor->sameText.contains(key);
}

QSet<QString> OverlayFloors::sameTextBeside(const QString& pendingId) const {
    return of(Kind::Add).value(pendingId).sameText;
}

bool OverlayFloors::settles(Kind kind, const QString& key, quint64 fetch) const {
    const QHash<QString, Floor>& floorsOfKind = of(kind);
    const auto floor = floorsOfKind.constFind(key);
    return floor == floorsOfKind.constEnd() ||
           (floor->unanswered == 0 && fetch >= floor->firstFetch);
}

void OverlayFloors::forget(Kind kind, const QString& key) {
    of(kind).remove(key);
}

bool OverlayFloors::isEmpty() const {
    return std::ranges::all_of(m_floors, [](const auto& map) { return map.isEmpty(); });
}
