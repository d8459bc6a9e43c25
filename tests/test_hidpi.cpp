#include "support/Checkbox.h"
#include "note/NoteIcons.h"
#include "menu/StatusItem.h"
#include "support/Theme.h"

#include <QApplication>
#include <QPainter>
#include <QtTest>

#include <cmath>

namespace {

// How wide the antialiased rim along a picture's outline is, in device pixels (up to a
// constant): the pixels neither clear nor solid, over the square root of the covered area. A
// drawing made for the ratio keeps the rim about one device pixel wide at every ratio; a
// picture scaled up has a rim as wide as the scale.
double rimWidth(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    int soft = 0;
    double covered = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            soft += qAlpha(line[x]) > 25 && qAlpha(line[x]) < 230;
            covered += qAlpha(line[x]) / 255.0;
        }
    }
    return soft / std::sqrt(covered);
}

QImage render(const QIcon& icon, int points, double ratio) {
    return icon.pixmap(QSize(points, points), ratio).toImage();
}

// The panel paints its symbols straight onto its widgets, at the screen's ratio.
QImage renderGlyph(NoteGlyph glyph, double ratio) {
    QImage image(QSize(24, 24) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintNoteGlyph(painter, QRectF(0, 0, 24, 24), glyph, Qt::white);
    return image;
}

} // namespace

class TestHiDpi : public QObject {
    Q_OBJECT

private slots:
    void crispAtRatio2_data();
    void crispAtRatio2();
};

void TestHiDpi::crispAtRatio2_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<QImage>("one");
    QTest::addColumn<QImage>("two");
    QTest::addColumn<bool>("crisp");
    const auto row = [](const char* name, const QIcon& icon, int points) {
        QTest::newRow(name) << points << render(icon, points, 1) << render(icon, points, 2) << true;
    };
    row("tray icon", trayIcon(ICON_B64()), 18);
    row("checkbox done", checkboxIcon(true), 15);
    row("checkbox empty", checkboxIcon(false), 15);
    for (const auto& [name, g] : {std::pair{"close", NoteGlyph::XMark}, {"pin", NoteGlyph::Pin},
                                  {"pin filled", NoteGlyph::PinFill}, {"pencil", NoteGlyph::Pencil},
                                  {"add", NoteGlyph::ArrowUpCircleFill}, {"menu", NoteGlyph::Menu}})
        QTest::newRow(name) << 24 << renderGlyph(g, 1) << renderGlyph(g, 2) << true;
    // The measure itself: the tray icon drawn for ratio 1 and merely scaled up is blurry.
    const QImage small = render(trayIcon(ICON_B64()), 18, 1);
    QTest::newRow("control: scaled up")
        << 18 << small << small.scaled(36, 36, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        << false;
}

// Every picture at ratio 2 has as many device pixels as the ratio asks for, and an outline as
// sharp as at ratio 1.
void TestHiDpi::crispAtRatio2() {
    QFETCH(int, points);
    QFETCH(QImage, one);
    QFETCH(QImage, two);
    QFETCH(bool, crisp);
    QCOMPARE(one.size(), QSize(points, points));
    QCOMPARE(two.size(), QSize(2 * points, 2 * points));
    const double growth = rimWidth(two) / rimWidth(one);
    QVERIFY2((growth < 1.6) == crisp,
             qPrintable(QStringLiteral("the rim grew %1 times").arg(growth)));
}

QTEST_MAIN(TestHiDpi)
#include "test_hidpi.moc"
