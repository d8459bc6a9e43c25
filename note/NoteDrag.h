#pragma once

#include <QList>
#include <QString>

#include <optional>

// The arithmetic of dragging a task row, free of widgets: tests drive it directly and the
// panel runs it from a 60 Hz tick while a row is dragged. Document coordinates, y downwards.
namespace drag {

inline constexpr double kTickMs = 1000.0 / 60;
// A stalled event loop (a slow frame, a suspended laptop) catches up by at most this many
// ticks, so the list does not leap when the drag resumes.
inline constexpr double kMaxCatchUpTicks = 6;
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

// Where the dragged row, now at `dragged` in `rows` (all rows, it included, laid out top-down
// from 0), goes for its centre at `centre`: it keeps its place until its centre passes the
// centre of a neighbour as the neighbour is laid out now, and then moves past every row whose
// centre it passed. The move back needs the same distance, so a pointer resting on a boundary
// never makes the rows jitter. Never above the first header.
qsizetype insertionIndex(const QList<Slot>& rows, qsizetype dragged, double centre);

// Where the keyboard moves the task at `from` one place up (`step` -1) or down (+1): past its
// neighbour, a header included (the task then joins the section on the other side), never
// above the first header. Nothing when it cannot move that way.
std::optional<qsizetype> steppedIndex(const QList<Slot>& rows, qsizetype from, int step);

// How many 1/60 s ticks `elapsedMs` is worth, for motion that should not depend on how
// punctually the tick timer fires: never negative, at most kMaxCatchUpTicks.
double ticksFor(double elapsedMs);

// The auto-scroll step for the pointer at document y `py` with the visible part of the
// document from `visTop` to `visBottom`: negative near the top, positive near the bottom,
// growing with how far into the edge zone the pointer is, up to the limit.
double scrollSpeed(double py, double visTop, double visBottom);

// The new scroll offset after one step, kept between 0 and the last offset that still fills
// the visible area.
double scrolledTop(double top, double speed, double documentH, double visibleH);

// A glide of a row at `y` towards `target` over `ticks` ticks: 30 % of the remaining way a
// tick, or all of it when closer than the snap distance.
double glide(double y, double target, double ticks = 1);

// The lift margin after `ticks` more ticks (it reaches `full` in five).
double lifted(double pad, double full, double ticks = 1);

struct Entry {
    QString id;
    QString sec;
};

// The dropped order grouped section by section in the order of `labels`; entries whose
// section is none of them come last, each group keeping its order.
QList<Entry> regroup(const QList<Entry>& entries, const QList<QString>& labels);

} // namespace drag
