#pragma once

#include <QList>
#include <QString>

// The arithmetic of dragging a task row, free of widgets: tests drive it directly and the
// panel runs it from a 60 Hz tick while a row is dragged. Document coordinates, y downwards.
namespace drag {

inline constexpr double kTickMs = 1000.0 / 60;
inline constexpr double kEdgeZone = 26;
inline constexpr double kGain = 0.35;
inline constexpr double kSpeedLimit = 7;
inline constexpr double kScrollThreshold = 0.01;
inline constexpr double kGlide = 0.3;
inline constexpr double kSnap = 0.4;
inline constexpr int kLiftTicks = 5;

struct Slot {
    double rowH;
    double rowGap;
    bool isHeader;
};

// Where the dragged row goes among the others (listed without it): before the first whose
// midpoint lies below the dragged row's centre, never above the first header.
qsizetype insertionIndex(const QList<Slot>& others, double centre);

// The auto-scroll step for the pointer at document y `py` with the visible part of the
// document from `visTop` to `visBottom`: negative near the top, positive near the bottom,
// growing with how far into the edge zone the pointer is, up to the limit.
double scrollSpeed(double py, double visTop, double visBottom);

// The new scroll offset after one step, kept between 0 and the last offset that still fills
// the visible area.
double scrolledTop(double top, double speed, double documentH, double visibleH);

// One glide step of a row at `y` towards `target`: 30 % of the way, or all of it when closer
// than the snap distance.
double glide(double y, double target);

// The lift margin after one more tick (it reaches `full` in five ticks).
double lifted(double pad, double full);

struct Entry {
    QString id;
    QString sec;
};

// The dropped order grouped section by section in the order of `labels`; entries whose
// section is none of them come last, each group keeping its order.
QList<Entry> regroup(const QList<Entry>& entries, const QList<QString>& labels);

} // namespace drag
