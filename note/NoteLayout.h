#pragma once

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>

// The note panel's arithmetic, free of widgets so tests check it directly. Frames are stated
// the way the panel was designed: origin at the bottom-left, y growing upwards, in points.
// `FlipY` is the one place they become Qt's top-left, y-down rectangles.

// Turns a rectangle or point given with y upwards in a parent `height` high into Qt's y-down
// coordinates (and back: the conversion is its own inverse).
struct FlipY {
    double height;
    QRectF rect(const QRectF& r) const { return QRectF(r.x(), height - r.y() - r.height(), r.width(), r.height()); }
    QPointF point(const QPointF& p) const { return QPointF(p.x(), height - p.y()); }
    double y(double v) const { return height - v; }
};

// Every view of the panel for a panel `h` high (y upwards). With `menuButton` the header band
// also holds a button that opens the tray menu (for desktops without a tray), left of the pin.
struct NoteFrames {
    QRectF resizeHandle;
    QRectF close;
    QRectF pin;
    std::optional<QRectF> menu;
    QRectF title;
    QRectF pill; // also the add-task field
    QRectF add;
    QRectF scroll;
    QRectF card; // the painted card: the panel inset by NOTE_INSET
};
NoteFrames noteFrames(double h, bool menuButton = false);

// Rows stacked top-down in the (y-down) document: each row's top, and the document's height,
// never less than the visible `viewportHeight`.
struct Stacked {
    QList<double> tops;
    double height = 0;
};
Stacked stackRows(const QList<double>& heights, const QList<double>& gaps, double viewportHeight);

// The rows of a stack (tops ascending, as stackRows lays them out) that meet the band from
// `offset` - `margin` to `offset` + `viewportHeight` + `margin` of the document: only these
// need a widget. Indices from `first` up to, not including, `last`; a row that only touches
// the band's edge does not meet it.
struct RowRange {
    qsizetype first = 0;
    qsizetype last = 0;
    bool operator==(const RowRange&) const = default;
};
RowRange visibleRows(const QList<double>& tops, const QList<double>& heights, double offset,
                     double viewportHeight, double margin);
// Whether a row from `top`, `height` high, meets the band from `bandTop` to `bandBottom`.
bool meetsBand(double top, double height, double bandTop, double bandBottom);

// The panel height while its bottom edge is dragged `dy` points down (negative: up) from a
// height of `startH`: at most `maxH` (the screen's visible height), at least NOTE_MIN_H, which
// wins when the screen is lower.
double resizedHeight(double startH, double dy, double maxH);

// The stored place of the panel, in the point notation "{x, y}": the top-left corner of the
// panel in the desktop's coordinates. Nothing for text that is not in that notation.
std::optional<QPointF> parseNotePos(const QString& text);
QString formatNotePos(const QPointF& topLeft);

// Where the panel goes when no usable place is stored: its top-right corner 20 points inside
// the top-right corner of the screen's visible area (Qt coordinates).
QPointF defaultNoteTopLeft(const QRectF& visibleArea, const QSizeF& panel);

// What a row draws where, for a row `w` x `h` (y upwards inside the row).
namespace rowgeom {

QRectF headerCard(double w, double h);
// The emblem's box; nothing when it is too small to draw (12 points or less either way).
std::optional<QRectF> emblemBox(double w, double h);
// The star's eight corners and the ring, for an emblem box.
QList<QPointF> emblemStar(const QRectF& box);
double emblemRingDiameter(const QRectF& box);
QList<QPointF> bulletOuter(double h);
QList<QPointF> bulletInner(double h);
// Title and count line rectangles, given their measured heights.
double headerTextWidth(double w);
QRectF headerTitleRect(double w, double h, double titleHeight, double subHeight);
QRectF headerSubRect(double w, double h, double titleHeight, double subHeight);
// The open polyline of the chevron: pointing down when expanded, right when collapsed.
QList<QPointF> chevron(double w, double h, bool collapsed);

QRectF taskCard(double w, double h, double dragPad);
QPointF checkboxCentre(double w, double h, double dragPad);
QList<QPointF> tick(const QPointF& centre);
double taskTextWidth();
QRectF taskTextRect(double w, double h, double dragPad, double textHeight);
// The three grip bars (14 x 2, radius 1), bottom one first.
QList<QRectF> gripBars(double w, double h);
QRectF editButton(double w, double h);
// Whether a press at x falls in the drag handle zone (the rightmost NOTE_HANDLE_W points).
bool inHandleZone(double w, double x);

} // namespace rowgeom

// The text area of the add-task field inside its box `base` (Qt coordinates): inset by
// NOTE_FIELD_PAD_X left and right (at least 10 wide) and centred vertically on the text's own
// height; the full height when that is 0 or does not fit.
QRectF vCenterTextRect(const QRectF& base, double naturalHeight);
