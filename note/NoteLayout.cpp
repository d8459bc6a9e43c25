#include "note/NoteLayout.h"

#include "support/Theme.h"

#include <QRegularExpression>
#include <QSizeF>

#include <algorithm>
#include <cmath>
#include <numbers>

NoteFrames noteFrames(double h, bool menuButton) {
    NoteFrames f;
    const double bandMid = h - NOTE_INSET - NOTE_BAND_H * 0.5;
    f.resizeHandle = QRectF(0, 0, NOTE_W, NOTE_RESIZE_ZONE);
    f.close = QRectF(NOTE_CX1 - 22, bandMid - 11, 22, 22);
    f.pin = QRectF(f.close.x() - 26, f.close.y(), 22, 22);
    double leftmost = f.pin.x();
    if (menuButton) {
        f.menu = QRectF(f.pin.x() - 26, f.close.y(), 22, 22);
        leftmost = f.menu->x();
    }
    f.title = QRectF(NOTE_CX0, h - NOTE_INSET - NOTE_BAND_H + 6, leftmost - 8 - NOTE_CX0, NOTE_BAND_H - 12);
    f.pill = QRectF(NOTE_CX0, NOTE_INSET + 10, NOTE_CX1 - 28 - 6 - NOTE_CX0, 28);
    f.add = QRectF(NOTE_CX1 - 28, NOTE_INSET + 10, 28, 28);
    const double scrollY = NOTE_INSET + 10 + 28 + 10;
    f.scroll = QRectF(NOTE_CX0, scrollY, NOTE_CW, (h - NOTE_INSET - NOTE_BAND_H - 8) - scrollY);
    f.card = QRectF(NOTE_INSET, NOTE_INSET, NOTE_W - 2 * NOTE_INSET, h - 2 * NOTE_INSET);
    return f;
}

Stacked stackRows(const QList<double>& heights, const QList<double>& gaps, double viewportHeight) {
    Stacked out;
    double y = 0;
    for (qsizetype i = 0; i < heights.size(); ++i) {
        out.tops.append(y);
        y += heights[i] + gaps.value(i);
    }
    out.height = std::max(viewportHeight, y);
    return out;
}

RowRange visibleRows(const QList<double>& tops, const QList<double>& heights, double offset,
                     double viewportHeight, double margin) {
    const double bandTop = offset - margin;
    const double bandBottom = offset + viewportHeight + margin;
    const qsizetype n = std::min(tops.size(), heights.size());
    // Bottoms ascend with the tops (gaps are never negative): both ends by bisection.
    qsizetype lo = 0, hi = n;
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (tops[mid] + heights[mid] <= bandTop)
            lo = mid + 1;
        else
            hi = mid;
    }
    RowRange range{lo, lo};
    hi = n;
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (tops[mid] < bandBottom)
            lo = mid + 1;
        else
            hi = mid;
    }
    range.last = lo;
    return range;
}

bool meetsBand(double top, double height, double bandTop, double bandBottom) {
    return top + height > bandTop && top < bandBottom;
}

double resizedHeight(double startH, double dy, double maxH) {
    return std::max(std::min(startH + dy, maxH), NOTE_MIN_H);
}

std::optional<QPointF> parseNotePos(const QString& text) {
    static const QRegularExpression form(QStringLiteral(
        R"(^\s*\{\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*,\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*\}\s*$)"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const double x = match.captured(1).toDouble();
    const double y = match.captured(2).toDouble();
    if (!std::isfinite(x) || !std::isfinite(y))
        return std::nullopt;
    return QPointF(x, y);
}

QString formatNotePos(const QPointF& topLeft) {
    return QStringLiteral("{%1, %2}").arg(topLeft.x()).arg(topLeft.y());
}

QPointF defaultNoteTopLeft(const QRectF& visibleArea, const QSizeF& panel) {
    return QPointF(visibleArea.right() - panel.width() - 20, visibleArea.top() + 20);
}

namespace rowgeom {

QRectF headerCard(double w, double h) {
    return QRectF(0, 1, w, h - 2);
}

std::optional<QRectF> emblemBox(double w, double h) {
    const QRectF box(w - 92, 7, 60, h - 14);
    if (box.width() <= 12 || box.height() <= 12)
        return std::nullopt;
    return box;
}

QList<QPointF> emblemStar(const QRectF& box) {
    const QPointF c = box.center();
    const double r = std::min(box.width(), box.height()) / 2;
    QList<QPointF> points;
    for (int k = 0; k < 8; ++k) {
        const double angle = k * std::numbers::pi / 4;
        const double d = k % 2 == 0 ? r : r / 2;
        points.append(QPointF(c.x() + d * std::cos(angle), c.y() + d * std::sin(angle)));
    }
    return points;
}

double emblemRingDiameter(const QRectF& box) {
    return 0.6 * std::min(box.width(), box.height()) / 2;
}

QList<QPointF> bulletOuter(double h) {
    const double m = h / 2;
    return {{21, m + 6.4}, {27.4, m}, {21, m - 6.4}, {14.6, m}};
}

QList<QPointF> bulletInner(double h) {
    const double m = h / 2;
    return {{21, m + 2.5}, {23.5, m}, {21, m - 2.5}, {18.5, m}};
}

double headerTextWidth(double w) {
    return std::max(40.0, w - 40 - 34);
}

QRectF headerTitleRect(double w, double h, double titleHeight, double subHeight) {
    const double bottom = h / 2 + (titleHeight + 2 + subHeight) * 0.5 - titleHeight;
    return QRectF(40, bottom, headerTextWidth(w), titleHeight);
}

QRectF headerSubRect(double w, double h, double titleHeight, double subHeight) {
    const double bottom = headerTitleRect(w, h, titleHeight, subHeight).y() - 2 - subHeight;
    return QRectF(40, bottom, headerTextWidth(w), subHeight);
}

QList<QPointF> chevron(double w, double h, bool collapsed) {
    const double x0 = w - 19, y0 = h / 2;
    if (collapsed)
        return {{x0 - 2.475, y0 + 4.5}, {x0 + 2.475, y0}, {x0 - 2.475, y0 - 4.5}};
    return {{x0 - 4.5, y0 + 2.475}, {x0, y0 - 2.475}, {x0 + 4.5, y0 + 2.475}};
}

QRectF taskCard(double w, double h, double dragPad) {
    return QRectF(NOTE_SUB_INDENT, dragPad + 1, std::max(20.0, w - NOTE_SUB_INDENT),
                  std::max(8.0, h - 2 - 2 * dragPad));
}

QPointF checkboxCentre(double w, double h, double dragPad) {
    const QRectF card = taskCard(w, h, dragPad);
    return QPointF(card.x() + NOTE_BOX_CX, card.center().y());
}

QList<QPointF> tick(const QPointF& c) {
    return {{c.x() - 4.3, c.y() + 0.4}, {c.x() - 1.2, c.y() - 2.6}, {c.x() + 4.4, c.y() + 3.6}};
}

double taskTextWidth() {
    return std::max(20.0, NOTE_TEXT_W);
}

QRectF taskTextRect(double w, double h, double dragPad, double textHeight) {
    const QRectF card = taskCard(w, h, dragPad);
    return QRectF(card.x() + NOTE_TEXT_X, std::max(0.0, (h - textHeight) * 0.5), taskTextWidth(),
                  textHeight);
}

QList<QRectF> gripBars(double w, double h) {
    const double x = w - NOTE_HANDLE_W * 0.5 - 7;
    return {QRectF(x, h / 2 - 6, 14, 2), QRectF(x, h / 2 - 1, 14, 2), QRectF(x, h / 2 + 4, 14, 2)};
}

QRectF editButton(double w, double h) {
    return QRectF(w - NOTE_HANDLE_W - NOTE_EDIT_W * 0.5 - 9, (h - 18) * 0.5, 18, 18);
}

bool inHandleZone(double w, double x) {
    return x >= w - NOTE_HANDLE_W;
}

} // namespace rowgeom

QRectF vCenterTextRect(const QRectF& base, double naturalHeight) {
    const double x = base.x() + NOTE_FIELD_PAD_X;
    const double w = std::max(base.width() - 2 * NOTE_FIELD_PAD_X, 10.0);
    if (naturalHeight > 0 && naturalHeight < base.height())
        return QRectF(x, base.y() + (base.height() - naturalHeight) * 0.5, w, naturalHeight);
    return QRectF(x, base.y(), w, base.height());
}
