#include "NoteDrag.h"

#include <QHash>

#include <algorithm>
#include <cmath>

namespace drag {

qsizetype insertionIndex(const QList<Slot>& others, double centre) {
    const qsizetype n = others.size();
    qsizetype index = n;
    double y = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (index == n && centre < y + others[i].rowH * 0.5)
            index = i;
        y += others[i].rowH + others[i].rowGap;
    }
    const auto header = std::find_if(others.cbegin(), others.cend(), [](const Slot& s) { return s.isHeader; });
    if (header != others.cend())
        index = std::max(index, qsizetype(header - others.cbegin()) + 1);
    return std::min(index, n);
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

double glide(double y, double target) {
    if (std::abs(target - y) > kSnap)
        return y + (target - y) * kGlide;
    return target;
}

double lifted(double pad, double full) {
    return pad < full ? std::min(pad + full / kLiftTicks, full) : pad;
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
