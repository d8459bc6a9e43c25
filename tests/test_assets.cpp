#include "support/Assets.h"
#include "support/Checkbox.h"
#include "support/Theme.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

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

} // namespace

class TestAssets : public QObject {
    Q_OBJECT

private slots:
    void assetLookupOrder();
    void onlyPresentFontsAreRegistered();
    void checkboxPixels_data();
    void checkboxPixels();
    void backgroundImage_data();
    void backgroundImage();
};

void TestAssets::assetLookupOrder() {
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

void TestAssets::onlyPresentFontsAreRegistered() {
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
void TestAssets::checkboxPixels_data() {
    QTest::addColumn<bool>("done");
    QTest::addColumn<double>("ratio");
    QTest::newRow("done 1x") << true << 1.0;
    QTest::newRow("done 3x") << true << 3.0;
    QTest::newRow("open 1x") << false << 1.0;
    QTest::newRow("open 3x") << false << 3.0;
}

void TestAssets::checkboxPixels() {
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

void TestAssets::backgroundImage_data() {
    QTest::addColumn<QSize>("size");
    QTest::newRow("card at 1x") << QSize(276, 456);
    QTest::newRow("card at 2x") << QSize(552, 912);
    QTest::newRow("larger than the picture") << QSize(700, 1100);
}

// The card keeps only the picture at its own size, and it must be the whole picture stretched
// smoothly into the card, pixel for pixel.
void TestAssets::backgroundImage() {
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

QTEST_MAIN(TestAssets)
#include "test_assets.moc"
