// velloa-gen-artwork: draws Velloa's own tray icon and note background and writes them as
// base64 text into the resources folder, where the build embeds them from; also the
// application icon (48 and 128 px PNG, and SVG) into its icons/ folder, which is installed.
//
//   velloa-gen-artwork RESOURCES_DIR [--preview DIR]
//
// --preview also writes icon.png and background.jpg for looking at. Everything is drawn
// from fixed shapes and a fixed seed, so a run on the same Qt reproduces the same bytes.

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QTextStream>

#include <cmath>
#include <optional>

namespace {

const QColor kNight(14, 22, 46);
const QColor kNightDeep(6, 10, 24);
const QColor kGold = QColor::fromRgbF(0.96f, 0.82f, 0.44f);
const QColor kInk(22, 32, 62);

// A four-pointed sparkle: tips on the axes, sides curving in towards the centre.
QPainterPath sparkle(QPointF c, double radius) {
    const double waist = radius * 0.16;
    QPainterPath path;
    path.moveTo(c.x(), c.y() - radius);
    path.quadTo(c.x() + waist, c.y() - waist, c.x() + radius, c.y());
    path.quadTo(c.x() + waist, c.y() + waist, c.x(), c.y() + radius);
    path.quadTo(c.x() - waist, c.y() + waist, c.x() - radius, c.y());
    path.quadTo(c.x() - waist, c.y() - waist, c.x(), c.y() - radius);
    path.closeSubpath();
    return path;
}

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(float(alpha));
    return color;
}

QImage drawBackground() {
    const int w = 600, h = 960;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, kNight);
    sky.setColorAt(1, kNightDeep);
    p.fillRect(image.rect(), sky);
    QRadialGradient glow(QPointF(w * 0.7, h * 0.18), w * 0.9);
    glow.setColorAt(0, QColor(40, 58, 104, 90));
    glow.setColorAt(1, QColor(40, 58, 104, 0));
    p.fillRect(image.rect(), glow);

    // A staggered lattice of sparkles, large and small in turn, faint enough for text on top.
    const double step = 75;
    for (int row = 0; row * step < h + step; ++row) {
        const double offset = (row % 2) ? step / 2 : 0;
        for (int col = -1; col * step < w + step; ++col) {
            const bool large = (row + col) % 2 == 0;
            const QPointF c(col * step + offset + step / 4, row * step + step / 3);
            p.fillPath(sparkle(c, large ? 9 : 4.5), withAlpha(kGold, large ? 0.2 : 0.13));
        }
    }
    // Scattered pinpoints so the lattice does not look like wallpaper.
    QRandomGenerator random(0x7e110a);
    for (int i = 0; i < 140; ++i) {
        const QPointF c(random.bounded(double(w)), random.bounded(double(h)));
        const double r = 0.6 + random.bounded(1.0);
        p.setPen(Qt::NoPen);
        p.setBrush(withAlpha(i % 3 ? kGold : QColor(220, 230, 255), 0.18 + random.bounded(0.3)));
        p.drawEllipse(c, r, r);
    }
    for (int i = 0; i < 9; ++i) {
        const QPointF c(random.bounded(double(w)), random.bounded(double(h)));
        p.fillPath(sparkle(c, 12 + random.bounded(8.0)), withAlpha(kGold, 0.28));
    }
    return image;
}

// The icon as data: each shape a path in a 36-unit box with its stroke and fill, so the
// pictures at every size and the SVG are drawn from the one description.
struct IconShape {
    QPainterPath path;
    double stroke;
    bool round; // round caps and joins (the ticks and lines); square caps otherwise
    std::optional<QColor> fill;
};

// A note card with two checklist rows, one ticked. Gold body with a dark rim, so it reads on
// light and dark trays alike; strokes are 2 units or more to survive scaling to 18 x 18.
QList<IconShape> iconShapes() {
    QPainterPath card;
    card.addRoundedRect(QRectF(6, 3, 24, 30), 4.5, 4.5);
    QPainterPath tick;
    tick.moveTo(10.5, 12.5);
    tick.lineTo(13, 15);
    tick.lineTo(17, 9.5);
    const auto line = [](double y) {
        QPainterPath path;
        path.moveTo(20, y);
        path.lineTo(25.5, y);
        return path;
    };
    QPainterPath box;
    box.addRoundedRect(QRectF(10.5, 20, 5, 5), 1.2, 1.2);
    return {{card, 2.2, false, kGold},
            {tick, 2.6, true, {}},
            {line(12.5), 2.6, true, {}},
            {box, 2, false, {}},
            {line(22.5), 2.6, true, {}}};
}

// The icon at `size` x `size` pixels.
QImage drawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 36.0, size / 36.0);
    for (const IconShape& shape : iconShapes()) {
        p.setPen(shape.round ? QPen(kInk, shape.stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)
                             : QPen(kInk, shape.stroke));
        p.setBrush(shape.fill ? QBrush(*shape.fill) : QBrush(Qt::NoBrush));
        p.drawPath(shape.path);
    }
    return image;
}

QString svgNumber(double value) {
    return QString::number(value, 'g', 6);
}

QString svgPathData(const QPainterPath& path) {
    QStringList parts;
    QPointF start;
    // A subpath that ends where it began is closed, so its stroke has no seam there.
    const auto closeIfBack = [&](int end) {
        if (end > 0 && QPointF(path.elementAt(end - 1)) == start)
            parts << QStringLiteral("Z");
    };
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo()) {
            closeIfBack(i);
            start = e;
        }
        const QString point = svgNumber(e.x) + u' ' + svgNumber(e.y);
        switch (e.type) {
        case QPainterPath::MoveToElement:
            parts << u'M' + point;
            break;
        case QPainterPath::LineToElement:
            parts << u'L' + point;
            break;
        case QPainterPath::CurveToElement:
            parts << u'C' + point;
            break;
        case QPainterPath::CurveToDataElement:
            parts << point;
            break;
        }
    }
    closeIfBack(int(path.elementCount()));
    return parts.join(u' ');
}

// The same shapes as a scalable picture for icon themes.
QByteArray iconSvg() {
    QString svg = QStringLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"128\" height=\"128\" "
        "viewBox=\"0 0 36 36\">\n");
    for (const IconShape& shape : iconShapes()) {
        svg += QStringLiteral("  <path d=\"%1\" fill=\"%2\" stroke=\"%3\" stroke-width=\"%4\"%5/>\n")
                   .arg(svgPathData(shape.path),
                        shape.fill ? shape.fill->name() : QStringLiteral("none"), kInk.name(),
                        svgNumber(shape.stroke),
                        shape.round ? QStringLiteral(" stroke-linecap=\"round\" stroke-linejoin=\"round\"")
                                    : QString());
    }
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

QByteArray encode(const QImage& image, const char* format) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (qstrcmp(format, "jpeg") == 0) {
        writer.setQuality(82);
        writer.setProgressiveScanWrite(false);
    }
    if (!writer.write(image)) {
        QTextStream(stderr) << "cannot encode " << format << ": " << writer.errorString() << '\n';
        return {};
    }
    return buffer.data();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        QTextStream(stderr) << "cannot write " << path << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString preview;
    if (const qsizetype at = args.indexOf(QStringLiteral("--preview")); at >= 0) {
        if (at + 1 >= args.size()) {
            QTextStream(stderr) << "--preview needs a folder\n";
            return 2;
        }
        preview = args.takeAt(at + 1);
        args.removeAt(at);
    }
    if (args.size() != 1) {
        QTextStream(stderr) << "usage: velloa-gen-artwork RESOURCES_DIR [--preview DIR]\n";
        return 2;
    }
    const QDir out(args.first());
    const QByteArray icon = encode(drawIcon(36), "png");
    const QByteArray background = encode(drawBackground(), "jpeg");
    // The application's icon for menus and docks, at the sizes icon themes look for first.
    const QByteArray icon48 = encode(drawIcon(48), "png");
    const QByteArray icon128 = encode(drawIcon(128), "png");
    if (icon.isEmpty() || background.isEmpty() || icon48.isEmpty() || icon128.isEmpty())
        return 1;
    const QString icons = out.filePath(QStringLiteral("icons"));
    bool ok =
        QDir().mkpath(icons) &&
        writeFile(out.filePath(QStringLiteral("icon.b64")), icon.toBase64() + '\n') &&
        writeFile(out.filePath(QStringLiteral("background.b64")), background.toBase64() + '\n') &&
        writeFile(icons + QStringLiteral("/velloa-48.png"), icon48) &&
        writeFile(icons + QStringLiteral("/velloa-128.png"), icon128) &&
        writeFile(icons + QStringLiteral("/velloa.svg"), iconSvg());
    if (ok && !preview.isEmpty()) {
        const QDir dir(preview);
        ok = writeFile(dir.filePath(QStringLiteral("icon.png")), icon) &&
             writeFile(dir.filePath(QStringLiteral("background.jpg")), background);
    }
    if (ok)
        QTextStream(stdout) << "icon: " << icon.size()
                            << " bytes, background: " << background.size() << " bytes\n";
    return ok ? 0 : 1;
}
