#include "Constants.h"
#include "TextRules.h"

#include <QPainter>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Every UTF-16 code unit is 10 wide: graphemes of several units show whether a break ever
// falls inside one.
double tenPerUnit(const QString& s) {
    return 10.0 * double(s.size());
}

StyledText itemText(const QString& text) {
    return StyledText{text, noteFont(NOTE_FONT_ITEM), {}, notePara()};
}

} // namespace

class TestTextRules : public QObject {
    Q_OBJECT

private slots:
    void stripSymbols_data();
    void stripSymbols();
    void wrapInjected_data();
    void wrapInjected();
    void wrapWithFontIsGreedyAndLossless();
    void noteTextHeightInjected_data();
    void noteTextHeightInjected();
    void heightAddsSpacingBetweenLines();
    void vCenteredTop_data();
    void vCenteredTop();
    void drawVCenteredUsesMeasuredHeight();
    void drawnInkStaysInsideMeasuredRect();
};

void TestTextRules::stripSymbols_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("cart and sparkles") << u"\U0001F6D2 购物 \u2728"_s << u"购物"_s;
    QTest::newRow("star with VS16") << u"\u2B50\uFE0F重要"_s << u"重要"_s;
    QTest::newRow("keycap keeps digit") << u"1\uFE0F\u20E3 第一"_s << u"1 第一"_s;
    QTest::newRow("em dash inside") << u"A\u2014B"_s << u"AB"_s;
    QTest::newRow("trailing ellipsis") << u"Wait\u2026"_s << u"Wait"_s;
    QTest::newRow("ideographic spaces at ends") << u"\u3000工作\u3000"_s << u"工作"_s;
    QTest::newRow("ideographic space inside") << u"a\u3000b"_s << u"a\u3000b"_s;
    QTest::newRow("line feeds stay") << u"\n工作\n"_s << u"\n工作\n"_s;
    QTest::newRow("tab and no-break space") << u"\t\u00A0a b\u00A0\t"_s << u"a b"_s;
    QTest::newRow("only removed and spaces") << u" \U0001F600 \u2728\u3000"_s << QString();
    QTest::newRow("skin tone emoji") << u"x\U0001F44D\U0001F3FDy"_s << u"xy"_s;
    QTest::newRow("family joined by ZWJ")
        << u"\U0001F468\u200D\U0001F469\u200D\U0001F467 家"_s << u"家"_s;
    QTest::newRow("astral ideograph kept") << u"\U00020000\U0001F600"_s << u"\U00020000"_s;
    QTest::newRow("block edges")
        << u"\u1FFF\u2000\u206F\u2070\u218F\u2190\u2BFF\u2C00\U0001EFFF\U0001F000\U0001FAFF\U0001FB00"_s
        << u"\u1FFF\u2070\u218F\u2C00\U0001EFFF\U0001FB00"_s;
    QTest::newRow("empty") << QString() << QString();
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
    QTest::newRow("combining accent stays") << u"abe\u0301"_s << 15.0 << u"a\nb\ne\u0301"_s;
    QTest::newRow("emoji with modifier stays")
        << u"x\U0001F44D\U0001F3FDy"_s << 35.0 << u"x\n\U0001F44D\U0001F3FD\ny"_s;
    QTest::newRow("spaces fall where they fall") << u"ab cd"_s << 30.0 << u"ab \ncd"_s;
    QTest::newRow("line feed is an ordinary character") << u"ab\ncd"_s << 30.0 << u"ab\n\ncd"_s;
}

void TestTextRules::wrapInjected() {
    QFETCH(QString, text);
    QFETCH(double, width);
    QFETCH(QString, expected);
    QCOMPARE(wrapToWidth(text, width, &tenPerUnit), expected);
}

void TestTextRules::wrapWithFontIsGreedyAndLossless() {
    const QFont font = noteFont(13);
    const QFontMetricsF metrics(font);
    const QString text =
        u"明天下午三点去超市买牛奶、鸡蛋和面包，顺便取快递 and pick up the dry cleaning"_s;
    const QString wrapped = wrapToWidth(text, MENU_TEXT_W, font);
    const QStringList lines = wrapped.split(u'\n');
    QVERIFY2(lines.size() >= 2, qPrintable(wrapped));
    QCOMPARE(lines.join(QString()), text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QVERIFY2(metrics.horizontalAdvance(lines[i]) <= MENU_TEXT_W, qPrintable(lines[i]));
        // Greedy: the next line's first character (all BMP here) would not have fitted.
        if (i + 1 < lines.size()) {
            const QString longer = lines[i] + lines[i + 1].front();
            QVERIFY2(metrics.horizontalAdvance(longer) > MENU_TEXT_W, qPrintable(longer));
        }
    }
    QCOMPARE(wrapToWidth(u"short"_s, MENU_TEXT_W, font), u"short"_s);
}

void TestTextRules::noteTextHeightInjected_data() {
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("measured");
    QTest::addColumn<double>("expectedWidth");
    QTest::addColumn<double>("expected");
    QTest::newRow("rounds up") << 140.0 << 15.5 << 140.0 << 16.0;
    QTest::newRow("whole stays") << 140.0 << 34.0 << 140.0 << 34.0;
    QTest::newRow("narrow measured at 20") << 5.0 << 15.5 << 20.0 << 16.0;
    QTest::newRow("negative measured at 20") << -8.0 << 0.01 << 20.0 << 1.0;
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

void TestTextRules::heightAddsSpacingBetweenLines() {
    const double one = styledTextHeight(itemText(u"Ag"_s), NOTE_TEXT_W);
    QVERIFY(one >= 12);
    QCOMPARE(styledTextHeight(itemText(u"Ag\nAg"_s), NOTE_TEXT_W), 2 * one + 3);
    QCOMPARE(styledTextHeight(itemText(u"Ag\r\nAg"_s), NOTE_TEXT_W), 2 * one + 3);
    QCOMPARE(styledTextHeight(itemText(QString()), NOTE_TEXT_W), 0.0);

    // Words wrap at the width: some whole number of lines, each followed by the spacing.
    const QString words = u"buy milk and eggs and bread and butter and jam for the weekend"_s;
    const double wrapped = styledTextHeight(itemText(words), NOTE_TEXT_W);
    const double lines = (wrapped + 3) / (one + 3);
    QVERIFY2(lines >= 3 && qFuzzyCompare(lines, std::round(lines)),
             qPrintable(QString::number(lines)));
    QCOMPARE(noteTextHeight(words, NOTE_TEXT_W), std::ceil(wrapped));
    QCOMPARE(noteTextHeight(words, 3), noteTextHeight(words, 20));
    QVERIFY(noteTextHeight(words, 3) > noteTextHeight(words, NOTE_TEXT_W));
}

void TestTextRules::vCenteredTop_data() {
    QTest::addColumn<double>("height");
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<double>("expected");
    QTest::newRow("14 in 40") << 14.0 << QRectF(0, 0, 200, 40) << 13.0;
    QTest::newRow("20 in 40") << 20.0 << QRectF(0, 0, 200, 40) << 10.0;
    QTest::newRow("exactly 40") << 40.0 << QRectF(0, 0, 200, 40) << 0.0;
    QTest::newRow("60 sits on the bottom edge") << 60.0 << QRectF(0, 0, 200, 40) << -20.0;
    QTest::newRow("offset rect") << 10.0 << QRectF(5, 100, 200, 40) << 115.0;
}

void TestTextRules::vCenteredTop() {
    QFETCH(double, height);
    QFETCH(QRectF, rect);
    QFETCH(double, expected);
    QCOMPARE(::vCenteredTop(height, rect), expected);
}

void TestTextRules::drawVCenteredUsesMeasuredHeight() {
    QImage image(100, 60, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    double seenWidth = -1;
    const QRectF drawn = drawVCentered(painter, itemText(u"x"_s), 7, 4, QRectF(0, 0, 100, 40),
                                       [&](const StyledText&, double w) {
                                           seenWidth = w;
                                           return 14.0;
                                       });
    QCOMPARE(seenWidth, 20.0);
    QCOMPARE(drawn, QRectF(7, 13, 20, 14));
}

void TestTextRules::drawnInkStaysInsideMeasuredRect() {
    QImage image(220, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(Qt::white);
    StyledText title{QString(), noteFont(NOTE_FONT_TITLE, QFont::Bold), {}, notePara()};
    title.append(u"Agenda"_s, noteFont(NOTE_FONT_TITLE, QFont::Bold), Qt::red)
        .append(u"\u3000Mg"_s, noteFont(10), Qt::blue);
    const QRectF drawn = drawVCentered(painter, title, 10, 200, QRectF(0, 30, 220, 40));
    painter.end();

    QCOMPARE(drawn.height(), styledTextHeight(title, 200));
    int top = image.height(), bottom = -1, lastRed = -1, firstBlue = image.width();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0)
                continue;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
            if (c.red() > 200 && c.blue() < 60)
                lastRed = std::max(lastRed, x);
            if (c.blue() > 200 && c.red() < 60)
                firstBlue = std::min(firstBlue, x);
        }
    }
    QVERIFY2(bottom >= 0, "nothing drawn");
    QVERIFY(top >= std::floor(drawn.top()) && bottom < std::ceil(drawn.bottom()));
    QVERIFY2(std::abs((top + bottom + 1) / 2.0 - 50) < 6, "ink not centred on the rect");
    QVERIFY2(lastRed >= 0 && lastRed < firstBlue, "runs lost their colours or order");
}

QTEST_MAIN(TestTextRules)
#include "test_text_rules.moc"
