#include "support/Checkbox.h"

#include "support/Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

void drawCheckbox(QPainter& painter, const QRectF& rect, bool done) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.topLeft());
    painter.scale(rect.width() / kCheckboxSize, rect.height() / kCheckboxSize);
    const QRectF r(0, 0, kCheckboxSize, kCheckboxSize);

    QPainterPath outline;
    outline.addRoundedRect(r.adjusted(1.5, 1.5, -1.5, -1.5), 3.5, 3.5);
    if (done) {
        painter.fillPath(outline, C_ACCENT);
        // The tick is laid out with y growing upwards from the bottom edge; Qt's y grows
        // downwards, so every y offset is taken from the opposite edge.
        QPainterPath tick;
        tick.moveTo(r.left() + 4, r.bottom() - 8.2);
        tick.lineTo(r.center().x() - 0.9, r.bottom() - 4.2);
        tick.lineTo(r.right() - 3.4, r.top() + 4.6);
        painter.strokePath(tick, QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    } else {
        painter.strokePath(outline, QPen(QColor::fromRgbF(0.62f, 0.62f, 0.62f), 1.4));
    }
    painter.restore();
}

QImage checkboxImage(bool done, double devicePixelRatio) {
    const int side = qCeil(kCheckboxSize * devicePixelRatio);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawCheckbox(painter, QRectF(0, 0, side, side), done);
    painter.end();
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

namespace {

QIcon drawnIcon(bool done) {
    QIcon icon;
    for (const double ratio : {1.0, 2.0, 3.0})
        icon.addPixmap(QPixmap::fromImage(checkboxImage(done, ratio)));
    return icon;
}

} // namespace

QIcon checkboxIcon(bool done) {
    // Only two pictures exist; a menu of thousands of tasks shares them instead of drawing
    // (and keeping) three images per task. Kept for the whole run: pixmaps must not outlive
    // the application object, which static destructors would make them do.
    static const QIcon* const icons = new QIcon[2]{drawnIcon(false), drawnIcon(true)};
    return icons[done ? 1 : 0];
}
