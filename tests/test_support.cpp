// The drawing floor: text rules (wrapping, eliding, widths), the artwork, fonts and checkbox,
// and pictures drawn for the screen's ratio rather than scaled.
#include "menu/StatusItem.h"
#include "note/NoteIcons.h"
#include "support/Assets.h"
#include "support/Checkbox.h"
#include "support/TextRules.h"
#include "support/Theme.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// Every UTF-16 code unit is 10 wide: graphemes of several units show whether a break ever
// falls inside one.
double tenPerUnit(const QString& s) {
    return 10.0 * double(s.size());
}

const QString kDejaVu = u"/usr/share/fonts/truetype/dejavu/"_s; // fonts-dejavu-core

auto useResDir(const QString& dir) {
    qputenv("VELLOA_RES", QFile::encodeName(dir));
    return qScopeGuard([] { qunsetenv("VELLOA_RES"); });
}

void copyFont(const QString& from, const QString& to) {
    QVERIFY2(QFile::exists(kDejaVu + from), "install fonts-dejavu-core");
    QVERIFY(QFile::copy(kDejaVu + from, to));
}

bool near(const QColor& c, const QColor& want) {
    return c.alpha() > 245 && std::abs(c.red() - want.red()) <= 3 &&
           std::abs(c.green() - want.green()) <= 3 && std::abs(c.blue() - want.blue()) <= 3;
}

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

struct WrapInjectedCase { QString text; double width; QString expected; };
struct NoteTextHeightInjectedCase { double width, measured, expectedWidth, expected; };
struct VCenteredTopCase { double height; QRectF rect; double expected; };
struct CrispAtRatio2Case { int points; QImage one, two; bool crisp; };
} // namespace

class TestSupport : public QObject {
    Q_OBJECT
private slots:
    void stripSymbols_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("line feeds at the ends stay") << u"\n工作\n"_s << u"\n工作\n"_s;
        QTest::newRow("cart and sparkles") << u"\U0001F6D2 购物 \u2728"_s << u"购物"_s;
        QTest::newRow("arrow") << u"\u2192 下一步"_s << u"下一步"_s;
        QTest::newRow("star with VS16") << u"\u2B50\uFE0F重要"_s << u"重要"_s;
        QTest::newRow("keycap keeps digit") << u"1\uFE0F\u20E3 第一"_s << u"1 第一"_s;
        QTest::newRow("ideographic spaces at ends") << u"\u3000工作\u3000"_s << u"工作"_s;
        QTest::newRow("only removed and spaces") << u" \U0001F600 \u2728\u3000"_s << QString();
    }

    void stripSymbols() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(::stripSymbols(text), expected);
    }

    void wrapInjected_data() {
        QTest::addColumn<WrapInjectedCase>("c");
        const QString thirty = u"abcdefghijklmnopqrstuvwxyz0123"_s;
        QTest::newRow("30 at 200") << WrapInjectedCase{thirty, 200.0, thirty.left(20) + u'\n' + thirty.mid(20)};
        QTest::newRow("fits, line feed kept") << WrapInjectedCase{u"ab\ncd"_s, 200.0, u"ab\ncd"_s};
        QTest::newRow("exactly the limit fits") << WrapInjectedCase{u"abcde"_s, 50.0, u"abcde"_s};
        QTest::newRow("just over the limit") << WrapInjectedCase{u"abcde"_s, 49.0, u"abcd\ne"_s};
        QTest::newRow("narrower than any character") << WrapInjectedCase{u"abcd"_s, 5.0, u"a\nb\nc\nd"_s};
        QTest::newRow("emoji with modifier stays") << WrapInjectedCase{
            u"x\U0001F44D\U0001F3FDy"_s, 35.0, u"x\n\U0001F44D\U0001F3FD\ny"_s};
        QTest::newRow("line feed is an ordinary character") << WrapInjectedCase{u"ab\ncd"_s, 30.0, u"ab\n\ncd"_s};
    }

    void wrapInjected() {
        QFETCH(WrapInjectedCase, c);
        QCOMPARE(wrapToWidth(c.text, c.width, &tenPerUnit), c.expected);
    }

    // The font path shapes a text once and reads widths off the laid-out line; it must break
    // exactly where measuring every candidate line on its own breaks.
    void wrapWithFontMatchesMeasuringEachLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("width");
        QTest::newRow("Chinese") << u"第 12 件事：整理房间、回复邮件，再去超市买牛奶和面包"_s << 200.0;
        QTest::newRow("Latin words") << u"Write the quarterly report and send it to everyone"_s << 120.0;
        QTest::newRow("emoji and marks") << u"🛒 买菜 👍🏽 café ✨ naïve"_s << 60.0;
        QTest::newRow("fits") << u"短任务"_s << 200.0;
        QTest::newRow("narrower than a character") << u"宽字"_s << 3.0;
        QTest::newRow("line feed, measured line by line") << u"第一行\n第二行很长很长很长很长很长很长"_s << 80.0;
        QTest::newRow("right to left") << u"שלום עולם, hello world"_s << 50.0;
    }

    void wrapWithFontMatchesMeasuringEachLine() {
        QFETCH(QString, text);
        QFETCH(double, width);
        QFont font = QGuiApplication::font();
        font.setPixelSize(13);
        const QFontMetricsF metrics(font);
        const QString reference = wrapToWidth(text, width, [&](const QString& s) {
            double widest = 0;
            for (const QString& line : s.split(u'\n'))
                widest = std::max(widest, metrics.horizontalAdvance(line));
            return widest;
        });
        QCOMPARE(wrapToWidth(text, width, font), reference);
    }

    void noteTextHeightInjected_data() {
        QTest::addColumn<NoteTextHeightInjectedCase>("c");
        QTest::newRow("rounds up") << NoteTextHeightInjectedCase{140.0, 15.5, 140.0, 16.0};
        QTest::newRow("narrow measured at 20") << NoteTextHeightInjectedCase{5.0, 15.5, 20.0, 16.0};
    }

    void noteTextHeightInjected() {
        QFETCH(NoteTextHeightInjectedCase, c);
        double seenWidth = -1;
        QString seenText;
        const double h = noteTextHeight(u"task"_s, c.width, [&](const QString& text, double w) {
            seenText = text;
            seenWidth = w;
            return c.measured;
        });
        QCOMPARE(h, c.expected);
        QCOMPARE(seenWidth, c.expectedWidth);
        QCOMPARE(seenText, u"task"_s);
    }

    void vCenteredTop_data() {
        QTest::addColumn<VCenteredTopCase>("c");
        QTest::newRow("14 in 40") << VCenteredTopCase{14.0, QRectF(0, 0, 200, 40), 13.0};
        QTest::newRow("60 sits on the bottom edge") << VCenteredTopCase{60.0, QRectF(0, 0, 200, 40), -20.0};
        QTest::newRow("offset rect") << VCenteredTopCase{10.0, QRectF(5, 100, 200, 40), 115.0};
    }

    void vCenteredTop() {
        QFETCH(VCenteredTopCase, c);
        QCOMPARE(::vCenteredTop(c.height, c.rect), c.expected);
    }

private slots:
    void assetLookupOrder() {
        QTemporaryDir extra;
        const QString name = u"lookup-probe-%1"_s.arg(QCoreApplication::applicationPid());
        const QDir own(appResourceDir());
        const QDir installed(installedResourceDir());
        const bool ownExisted = own.exists(), installedExisted = installed.exists();
        QVERIFY(QDir().mkpath(own.path()) && QDir().mkpath(installed.path()));
        const auto cleanup = qScopeGuard([&] {
            QFile::remove(own.filePath(name + u".ttf"_s));
            QFile::remove(installed.filePath(name + u".ttf"_s));
            if (!ownExisted)
                QDir().rmdir(own.path());
            if (!installedExisted)
                QDir().rmdir(installed.path());
        });
        auto touch = [](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly);
        };

        QVERIFY(!assetURL(name, u"ttf"_s));
        const auto env = useResDir(extra.path());
        QVERIFY2(!assetURL(name, u"ttf"_s), "VELLOA_RES without the file");
        QVERIFY(touch(extra.filePath(name + u".ttf"_s)));
        QCOMPARE(assetURL(name, u"ttf"_s), extra.filePath(name + u".ttf"_s));
        QVERIFY2(!assetURL(name, u"otf"_s), "the extension is part of the name");
        QVERIFY(touch(installed.filePath(name + u".ttf"_s)));
        QCOMPARE(assetURL(name, u"ttf"_s), installed.filePath(name + u".ttf"_s));
        QVERIFY(touch(own.filePath(name + u".ttf"_s)));
        QCOMPARE(assetURL(name, u"ttf"_s), own.filePath(name + u".ttf"_s));
    }

    void onlyPresentFontsAreRegistered() {
        QVERIFY(!QFile::exists(QDir(appResourceDir()).filePath(u"VelloaFont.ttf"_s)));
        QTemporaryDir dir;
        const auto env = useResDir(dir.path());

        copyFont(u"DejaVuSans-Bold.ttf"_s, dir.filePath(u"VelloaFontBold.ttf"_s));
        QList<int> ids = registerBundledFonts();
        QCOMPARE(ids.size(), 1);
        QCOMPARE(QFontDatabase::applicationFontFamilies(ids[0]), QStringList{u"DejaVu Sans"_s});

    }

    // What a user sees, counted over the whole picture rather than at the points the drawing
    // uses: a ticked box is a green square with a white tick and clear corners; an empty one is a
    // grey outline around a clear middle; both stay sharp at every pixel ratio.
    void checkboxPixels_data() {
        QTest::addColumn<bool>("done");
        QTest::addColumn<double>("ratio");
        QTest::newRow("done 1x") << true << 1.0;
        QTest::newRow("done 3x") << true << 3.0;
        QTest::newRow("open 1x") << false << 1.0;
        QTest::newRow("open 3x") << false << 3.0;
    }

    void checkboxPixels() {
        QFETCH(bool, done);
        QFETCH(double, ratio);
        const QImage image = checkboxImage(done, ratio);
        QCOMPARE(image.size(), QSize(qCeil(15 * ratio), qCeil(15 * ratio)));
        QCOMPARE(image.devicePixelRatio(), ratio);
        int green = 0, white = 0, grey = 0, clear = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                clear += c.alpha() == 0 ? 1 : 0;
                green += near(c, C_ACCENT) ? 1 : 0;
                white += near(c, Qt::white) ? 1 : 0;
                grey += near(c, QColor(158, 158, 158)) ? 1 : 0;
            }
        }
        const double area = image.width() * image.height();
        const auto corner = [&](int x, int y) { return image.pixelColor(x, y).alpha() == 0; };
        const int last = image.width() - 1;
        QVERIFY(corner(0, 0) && corner(last, 0) && corner(0, last) && corner(last, last));
        const QString counts = u"green %1 white %2 grey %3 clear %4"_s.arg(green).arg(white).arg(grey).arg(clear);
        if (done) {
            QVERIFY2(green > 0.3 * area && white > 0.04 * area && grey == 0, qPrintable(counts));
            QVERIFY2(image.pixelColor(image.width() / 2, image.height() / 2).alpha() > 245, "filled middle");
        } else {
            QVERIFY2(green == 0 && white == 0 && grey > 0.1 * area, qPrintable(counts));
            QVERIFY2(image.pixelColor(image.width() / 2, image.height() / 2).alpha() == 0, "clear middle");
        }
    }

    void backgroundImage_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("card at 1x") << QSize(276, 456);
        QTest::newRow("card at 2x") << QSize(552, 912);
        QTest::newRow("larger than the picture") << QSize(700, 1100);
    }

    // The card keeps only the picture at its own size, and it must be the whole picture stretched
    // smoothly into the card, pixel for pixel.
    void backgroundImage() {
        QFETCH(QSize, size);
        const QByteArray text = BG_B64();
        QVERIFY(!text.isEmpty() && !text.contains('\n'));
        const QByteArray jpeg = QByteArray::fromBase64(text);
        // Markers cannot occur inside entropy-coded data (0xFF is stuffed there), so a plain
        // search finds the frame header: baseline (0xC0), not progressive (0xC2).
        const qsizetype sof = jpeg.indexOf("\xFF\xC0");
        QVERIFY(sof > 0 && !jpeg.contains("\xFF\xC2"));
        QCOMPARE(int(jpeg[sof + 9]), 3); // components
        const QImage whole = QImage::fromData(jpeg);
        QCOMPARE(whole.size(), QSize(600, 960));

        const std::optional<QImage> image = vlBackgroundImage(size);
        QVERIFY(image);
        QCOMPARE(image->size(), size);
        QCOMPARE(*image, whole.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        QVERIFY(!vlBackgroundImage(QSize()));
    }

private slots:
    void crispAtRatio2_data() {
        QTest::addColumn<CrispAtRatio2Case>("c");
        const auto row = [](const char* name, const QIcon& icon, int points) {
            QTest::newRow(name) << CrispAtRatio2Case{points, render(icon, points, 1), render(icon, points, 2), true};
        };
        row("tray icon", trayIcon(ICON_B64()), 18);
        row("checkbox done", checkboxIcon(true), 15);
        row("checkbox empty", checkboxIcon(false), 15);
        for (const auto& [name, g] : {std::pair{"close", NoteGlyph::XMark}, {"pin", NoteGlyph::Pin},
                                      {"pin filled", NoteGlyph::PinFill}, {"pencil", NoteGlyph::Pencil},
                                      {"add", NoteGlyph::ArrowUpCircleFill}, {"menu", NoteGlyph::Menu}})
            QTest::newRow(name) << CrispAtRatio2Case{24, renderGlyph(g, 1), renderGlyph(g, 2), true};
        // The measure itself: the tray icon drawn for ratio 1 and merely scaled up is blurry.
        const QImage small = render(trayIcon(ICON_B64()), 18, 1);
        QTest::newRow("control: scaled up") << CrispAtRatio2Case{
            18, small, small.scaled(36, 36, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
            false};
    }

    // Every picture at ratio 2 has as many device pixels as the ratio asks for, and an outline as
    // sharp as at ratio 1.
    void crispAtRatio2() {
        QFETCH(CrispAtRatio2Case, c);
        QCOMPARE(c.one.size(), QSize(c.points, c.points));
        QCOMPARE(c.two.size(), QSize(2 * c.points, 2 * c.points));
        const double growth = rimWidth(c.two) / rimWidth(c.one);
        QVERIFY2((growth < 1.6) == c.crisp,
                 qPrintable(QStringLiteral("the rim grew %1 times").arg(growth)));
    }
};

QTEST_MAIN(TestSupport)
#include "test_support.moc"
