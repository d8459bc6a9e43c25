#include "Assets.h"
#include "Checkbox.h"
#include "Theme.h"

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

// Points VELLOA_RES at `dir` until the returned guard goes out of scope.
auto useResDir(const QString& dir) {
    qputenv("VELLOA_RES", QFile::encodeName(dir));
    return qScopeGuard([] { qunsetenv("VELLOA_RES"); });
}

void copyFont(const QString& from, const QString& to) {
    QVERIFY2(QFile::exists(kDejaVu + from), "install fonts-dejavu-core");
    QVERIFY(QFile::copy(kDejaVu + from, to));
}

// Colour at (x, y) of the 15-point checkbox, with y counted upwards from the bottom edge as
// the drawing rule states it, sampled from an image drawn at 4 pixels per point.
QColor checkboxAt(const QImage& image, double x, double yUp) {
    const double scale = image.devicePixelRatio();
    return image.pixelColor(int(x * scale), std::min(int((15 - yUp) * scale), image.height() - 1));
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

void TestAssets::checkboxPixels_data() {
    QTest::addColumn<bool>("done");
    QTest::addColumn<QPointF>("at"); // y upwards from the bottom edge
    QTest::addColumn<QString>("expected");
    QTest::newRow("done: corner") << true << QPointF(0.5, 0.5) << u"clear"_s;
    QTest::newRow("done: fill top") << true << QPointF(7.5, 12) << u"green"_s;
    QTest::newRow("done: tick start") << true << QPointF(4, 8.2) << u"white"_s;
    QTest::newRow("done: tick corner") << true << QPointF(6.6, 4.2) << u"white"_s;
    QTest::newRow("done: tick end") << true << QPointF(11.6, 10.4) << u"white"_s;
    QTest::newRow("open: bottom edge") << false << QPointF(7.5, 1.5) << u"grey"_s;
    QTest::newRow("open: centre") << false << QPointF(7.5, 7.5) << u"clear"_s;
    QTest::newRow("open: no tick") << false << QPointF(6.6, 4.2) << u"clear"_s;
}

void TestAssets::checkboxPixels() {
    QFETCH(bool, done);
    QFETCH(QPointF, at);
    QFETCH(QString, expected);
    const QColor c = checkboxAt(checkboxImage(done, 4), at.x(), at.y());
    const QString what =
        u"%1,%2,%3 alpha %4"_s.arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
    if (expected == u"clear")
        QVERIFY2(c.alpha() == 0, qPrintable(what));
    else if (expected == u"green")
        QVERIFY2(near(c, C_ACCENT), qPrintable(what));
    else if (expected == u"white")
        QVERIFY2(near(c, Qt::white), qPrintable(what));
    else
        QVERIFY2(near(c, QColor(158, 158, 158)), qPrintable(what));
}

void TestAssets::backgroundImage() {
    const QByteArray text = BG_B64();
    QVERIFY(!text.isEmpty() && !text.contains('\n'));
    const QByteArray jpeg = QByteArray::fromBase64(text);
    // Markers cannot occur inside entropy-coded data (0xFF is stuffed there), so a plain
    // search finds the frame header: baseline (0xC0), not progressive (0xC2).
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    QVERIFY(sof > 0 && !jpeg.contains("\xFF\xC2"));
    QCOMPARE(int(jpeg[sof + 9]), 3); // components
    const std::optional<QImage> image = vlBackgroundImage();
    QVERIFY(image);
    QCOMPARE(image->size(), QSize(600, 960));
    QCOMPARE(vlBackgroundImage()->cacheKey(), image->cacheKey());
}

QTEST_MAIN(TestAssets)
#include "test_assets.moc"
