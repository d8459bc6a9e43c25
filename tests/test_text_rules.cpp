#include "support/Theme.h"
#include "support/TextRules.h"

#include <QPainter>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Every UTF-16 code unit is 10 wide: graphemes of several units show whether a break ever
// falls inside one.
double tenPerUnit(const QString& s) {
    return 10.0 * double(s.size());
}


} // namespace

class TestTextRules : public QObject {
    Q_OBJECT

private slots:
    void stripSymbols_data();
    void stripSymbols();
    void wrapInjected_data();
    void wrapInjected();
    void wrapWithFontMatchesMeasuringEachLine_data();
    void wrapWithFontMatchesMeasuringEachLine();
    void noteTextHeightInjected_data();
    void noteTextHeightInjected();
    void vCenteredTop_data();
    void vCenteredTop();
};

void TestTextRules::stripSymbols_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("line feeds at the ends stay") << u"\n工作\n"_s << u"\n工作\n"_s;
    QTest::newRow("cart and sparkles") << u"\U0001F6D2 购物 \u2728"_s << u"购物"_s;
    QTest::newRow("star with VS16") << u"\u2B50\uFE0F重要"_s << u"重要"_s;
    QTest::newRow("keycap keeps digit") << u"1\uFE0F\u20E3 第一"_s << u"1 第一"_s;
    QTest::newRow("ideographic spaces at ends") << u"\u3000工作\u3000"_s << u"工作"_s;
    QTest::newRow("only removed and spaces") << u" \U0001F600 \u2728\u3000"_s << QString();
}

void TestTextRules::stripSymbols() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(::stripSymbols(text), expected);
}

void TestTextRules::wrapInjected_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("width");
    QTest::addColumn<QString>("expected");
    const QString thirty = u"abcdefghijklmnopqrstuvwxyz0123"_s;
    QTest::newRow("30 at 200") << thirty << 200.0 << thirty.left(20) + u'\n' + thirty.mid(20);
    QTest::newRow("fits, line feed kept") << u"ab\ncd"_s << 200.0 << u"ab\ncd"_s;
    QTest::newRow("exactly the limit fits") << u"abcde"_s << 50.0 << u"abcde"_s;
    QTest::newRow("just over the limit") << u"abcde"_s << 49.0 << u"abcd\ne"_s;
    QTest::newRow("narrower than any character") << u"abcd"_s << 5.0 << u"a\nb\nc\nd"_s;
    QTest::newRow("emoji with modifier stays")
        << u"x\U0001F44D\U0001F3FDy"_s << 35.0 << u"x\n\U0001F44D\U0001F3FD\ny"_s;
    QTest::newRow("line feed is an ordinary character") << u"ab\ncd"_s << 30.0 << u"ab\n\ncd"_s;
}

void TestTextRules::wrapInjected() {
    QFETCH(QString, text);
    QFETCH(double, width);
    QFETCH(QString, expected);
    QCOMPARE(wrapToWidth(text, width, &tenPerUnit), expected);
}

// The font path shapes a text once and reads widths off the laid-out line; it must break
// exactly where measuring every candidate line on its own breaks.
void TestTextRules::wrapWithFontMatchesMeasuringEachLine_data() {
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

void TestTextRules::wrapWithFontMatchesMeasuringEachLine() {
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

void TestTextRules::noteTextHeightInjected_data() {
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("measured");
    QTest::addColumn<double>("expectedWidth");
    QTest::addColumn<double>("expected");
    QTest::newRow("rounds up") << 140.0 << 15.5 << 140.0 << 16.0;
    QTest::newRow("narrow measured at 20") << 5.0 << 15.5 << 20.0 << 16.0;
}

void TestTextRules::noteTextHeightInjected() {
    QFETCH(double, width);
    QFETCH(double, measured);
    QFETCH(double, expectedWidth);
    QFETCH(double, expected);
    double seenWidth = -1;
    QString seenText;
    const double h = noteTextHeight(u"task"_s, width, [&](const QString& text, double w) {
        seenText = text;
        seenWidth = w;
        return measured;
    });
    QCOMPARE(h, expected);
    QCOMPARE(seenWidth, expectedWidth);
    QCOMPARE(seenText, u"task"_s);
}

void TestTextRules::vCenteredTop_data() {
    QTest::addColumn<double>("height");
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<double>("expected");
    QTest::newRow("14 in 40") << 14.0 << QRectF(0, 0, 200, 40) << 13.0;
    QTest::newRow("60 sits on the bottom edge") << 60.0 << QRectF(0, 0, 200, 40) << -20.0;
    QTest::newRow("offset rect") << 10.0 << QRectF(5, 100, 200, 40) << 115.0;
}

void TestTextRules::vCenteredTop() {
    QFETCH(double, height);
    QFETCH(QRectF, rect);
    QFETCH(double, expected);
    QCOMPARE(::vCenteredTop(height, rect), expected);
}

QTEST_MAIN(TestTextRules)
#include "test_text_rules.moc"
