#include "note/NoteDrag.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace drag {

namespace {

// The highest place the row at `moving` may take: just under the first header other than
// itself (counted as if it were taken out), or the top when there is no header.
qsizetype highestPlace(const QList<Slot>& rows, qsizetype moving) {
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (i != moving && rows[i].isHeader)
            return (i > moving ? i - 1 : i) + 1;
    }
    return 0;
}

} // namespace

qsizetype insertionIndex(const QList<Slot>& rows, qsizetype dragged, double centre) {
    const qsizetype n = rows.size();
    if (dragged < 0 || dragged >= n)
        return dragged;
    // Each neighbour's centre as laid out now, with the dragged row in its current place:
    // the rows above whose centre lies below the dragged centre, and the rows below whose
    // centre lies above it, are the ones it has passed.
    qsizetype index = dragged;
    double y = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const double middle = y + rows[i].rowH * 0.5;
        if (i < dragged && centre < middle)
            --index;
        else if (i > dragged && centre > middle)
            ++index;
        y += rows[i].rowH + rows[i].rowGap;
    }
    return std::clamp(index, std::min(highestPlace(rows, dragged), n - 1), n - 1);
}

std::optional<qsizetype> steppedIndex(const QList<Slot>& rows, qsizetype from, int step) {
    const qsizetype n = rows.size();
    if (from < 0 || from >= n || rows[from].isHeader || (step != 1 && step != -1))
        return std::nullopt;
    const qsizetype to = from + step;
    if (to < 0 || to >= n)
        return std::nullopt;
    if (to < highestPlace(rows, from))
        return std::nullopt;
    return to;
}

double ticksFor(double elapsedMs) {
    return std::clamp(elapsedMs / kTickMs, 0.0, kMaxCatchUpTicks);
}

double scrollSpeed(double py, double visTop, double visBottom) {
    if (visBottom - visTop <= 1)
        return 0;
    if (py < visTop + kEdgeZone)
        return -std::min(kGain * (visTop + kEdgeZone - py), kSpeedLimit);
    if (py > visBottom - kEdgeZone)
        return std::min(kGain * (py - (visBottom - kEdgeZone)), kSpeedLimit);
    return 0;
}

double scrolledTop(double top, double speed, double documentH, double visibleH) {
    const double limit = std::max(0.0, documentH - visibleH);
    return std::min(limit, std::max(0.0, top + speed));
}

double glide(double y, double target, double ticks) {
    if (std::abs(target - y) > kSnap)
        return target - (target - y) * std::pow(1 - kGlide, ticks);
    return target;
}

double lifted(double pad, double full, double ticks) {
    return pad < full ? std::min(pad + full / kLiftTicks * ticks, full) : pad;
}

QList<Entry> regroup(const QList<Entry>& entries, const QList<QString>& labels) {
    QHash<QString, qsizetype> group;
    for (const QString& label : labels)
        group.insert(label, group.size());
    QList<QList<Entry>> groups(labels.size() + 1); // the last: sections that are no label
    for (const Entry& e : entries)
        groups[group.value(e.sec, labels.size())].append(e);
    QList<Entry> out;
    out.reserve(entries.size());
    for (const QList<Entry>& g : std::as_const(groups))
        out.append(g);
    return out;
}

} // namespace drag
