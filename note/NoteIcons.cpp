#include "note/NoteIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

namespace {

// Every glyph is designed in a 24 x 24 box.
constexpr double kBox = 24;

QPainterPath polygon(std::initializer_list<QPointF> points) {
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

QPainterPath pinHead() {
    return polygon({{9, 3}, {15, 3}, {14.2, 9.2}, {17.5, 13.5}, {6.5, 13.5}, {9.8, 9.2}});
}

QPainterPath strokeOf(const QPainterPath& path, double width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path);
}

// The glyph as one path to fill in the tint colour.
QPainterPath glyphPath(NoteGlyph glyph) {
    QPainterPath lines;
    switch (glyph) {
    case NoteGlyph::XMark:
        lines.moveTo(7, 7);
        lines.lineTo(17, 17);
        lines.moveTo(17, 7);
        lines.lineTo(7, 17);
        return strokeOf(lines, 2.2);
    case NoteGlyph::Pin:
    case NoteGlyph::PinFill: {
        QPainterPath needle;
        needle.moveTo(12, 13.5);
        needle.lineTo(12, 21);
        QPainterPath path = strokeOf(needle, 1.8);
        path.addPath(glyph == NoteGlyph::PinFill ? pinHead() : strokeOf(pinHead(), 1.6));
        return path.simplified();
    }
    case NoteGlyph::Pencil: {
        QPainterPath body = polygon({{15.5, 4.5}, {19.5, 8.5}, {9, 19}, {4, 20}, {5, 15}});
        QPainterPath path = strokeOf(body, 1.6);
        QPainterPath ferrule;
        ferrule.moveTo(13.5, 6.5);
        ferrule.lineTo(17.5, 10.5);
        path.addPath(strokeOf(ferrule, 1.6));
        return path.simplified();
    }
    case NoteGlyph::ArrowUpCircleFill: {
        QPainterPath circle;
        circle.addEllipse(QPointF(12, 12), 10, 10);
        QPainterPath arrow;
        arrow.moveTo(12, 17);
        arrow.lineTo(12, 7.5);
        arrow.moveTo(7.8, 11.5);
        arrow.lineTo(12, 7.3);
        arrow.lineTo(16.2, 11.5);
        // The arrow is cut out of the disc, so the card shows through it.
        return circle.subtracted(strokeOf(arrow, 2.2));
    }
    case NoteGlyph::Menu: {
        QPainterPath dots;
        for (const double x : {6.0, 12.0, 18.0})
            dots.addEllipse(QPointF(x, 12), 1.8, 1.8);
        return dots;
    }
    }
    return lines;
}

} // namespace

void paintNoteGlyph(QPainter& painter, const QRectF& rect, NoteGlyph glyph, const QColor& tint) {
    const double side = std::min(rect.width(), rect.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side / kBox, side / kBox);
    painter.fillPath(glyphPath(glyph), tint);
    painter.restore();
}
