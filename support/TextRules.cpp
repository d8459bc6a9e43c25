#include "support/TextRules.h"

#include "support/Theme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <string>

StyledText& StyledText::append(const QString& part, const QFont& runFont, const QColor& color) {
    QTextCharFormat format;
    format.setFont(runFont);
    format.setForeground(color);
    formats.append({int(text.size()), int(part.size()), format});
    text += part;
    return *this;
}

namespace {

// QTextLayout breaks lines only at U+2028. Every replacement keeps the length, so the format
// ranges stay valid; the CR of a CR LF pair becomes an invisible zero-width space.
QString withLayoutBreaks(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            text[i] = QChar(0x200B);
        else if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator)
            text[i] = QChar::LineSeparator;
    }
    return text;
}

// Lays the text out at `width` from y = 0 and returns its height (see styledTextHeight).
double layOut(QTextLayout& layout, const StyledText& styled, double width) {
    layout.setText(withLayoutBreaks(styled.text));
    layout.setFont(styled.font);
    layout.setTextOption(styled.para.option);
    layout.setFormats(styled.formats);
    layout.beginLayout();
    double y = 0;
    bool first = true;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(width);
        if (!first)
            y += styled.para.lineSpacing;
        first = false;
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return y;
}

bool isStrippedSymbol(char32_t c) {
    return (c >= 0x2000 && c <= 0x206F) || (c >= 0x2190 && c <= 0x2BFF) ||
           (c >= 0x1F000 && c <= 0x1FAFF) || c == 0xFE0F || c == 0x20E3;
}

bool isTrimmedSpace(char32_t c) {
    return c == U'\t' || QChar::category(c) == QChar::Separator_Space;
}

} // namespace

double styledTextHeight(const StyledText& text, double width) {
    if (text.text.isEmpty())
        return 0;
    QTextLayout layout;
    return layOut(layout, text, width);
}

void drawStyledText(QPainter& painter, const StyledText& text, const QRectF& rect) {
    if (text.text.isEmpty())
        return;
    QTextLayout layout;
    layOut(layout, text, rect.width());
    layout.draw(&painter, rect.topLeft());
}

QString stripSymbols(const QString& text) {
    std::u32string kept;
    for (const uint c : text.toUcs4()) {
        if (!isStrippedSymbol(c))
            kept.push_back(c);
    }
    const auto first = std::find_if_not(kept.cbegin(), kept.cend(), isTrimmedSpace);
    const auto last =
        std::find_if_not(kept.crbegin(), std::make_reverse_iterator(first), isTrimmedSpace).base();
    return QString::fromUcs4(kept.data() + (first - kept.cbegin()), last - first);
}

namespace {

// Greedy breaking at grapheme boundaries; spanWidth(from, to) is the width of text[from, to)
// set on one line.
QString wrapSpans(const QString& text, double width,
                  const std::function<double(qsizetype, qsizetype)>& spanWidth) {
    if (spanWidth(0, text.size()) <= width)
        return text;
    QStringList lines;
    qsizetype lineStart = 0;
    qsizetype start = 0;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype end = graphemes.toNextBoundary(); end != -1; end = graphemes.toNextBoundary()) {
        if (start > lineStart && spanWidth(lineStart, end) > width) {
            lines.append(text.sliced(lineStart, start - lineStart));
            lineStart = start;
        }
        start = end;
    }
    if (start > lineStart)
        lines.append(text.sliced(lineStart, start - lineStart));
    return lines.join(u'\n');
}

bool hasRightToLeft(const QString& text) {
    for (const QChar c : text) {
        const QChar::Direction d = c.direction();
        if (d == QChar::DirR || d == QChar::DirAL || d == QChar::DirRLE || d == QChar::DirRLO ||
            d == QChar::DirRLI)
            return true;
    }
    return false;
}

} // namespace

QString wrapToWidth(const QString& text, double width, const WidthMeasure& measure) {
    return wrapSpans(text, width, [&](qsizetype from, qsizetype to) {
        return measure(text.sliced(from, to - from));
    });
}

QString wrapToWidth(const QString& text, double width, const QFont& font) {
    if (text.contains(u'\n') || hasRightToLeft(text)) {
        // Several lines measure as the widest; right-to-left runs do not run left to right
        // through the text. Both are measured piece by piece.
        const QFontMetricsF metrics(font);
        return wrapToWidth(text, width, [&metrics](const QString& s) {
            double widest = 0;
            for (const QStringView line : QStringView(s).split(u'\n'))
                widest = std::max(widest, metrics.horizontalAdvance(line.toString()));
            return widest;
        });
    }
    // Shaped once: a span's width is the distance between its ends on one laid-out line, so
    // the greedy breaking costs one shaping instead of one per character.
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    return wrapSpans(text, width, [&line](qsizetype from, qsizetype to) {
        return line.cursorToX(int(to)) - line.cursorToX(int(from));
    });
}

double noteTextHeight(const QString& text, double width, const HeightMeasure& measure) {
    const double w = std::max(width, 20.0);
    return std::ceil(measure(text, w));
}

double noteTextHeight(const QString& text, double width) {
    return noteTextHeight(text, width, [](const QString& s, double w) {
        return styledTextHeight(StyledText{s, noteFont(NOTE_FONT_ITEM), {}, notePara()}, w);
    });
}

double vCenteredTop(double height, const QRectF& rect) {
    // The rule is stated with y growing upwards: the text's bottom edge sits this far above
    // rect's bottom edge, never below it.
    const double bottomOffset = std::max((rect.height() - height) * 0.5, 0.0);
    return rect.bottom() - bottomOffset - height;
}

QRectF drawVCentered(QPainter& painter, const StyledText& text, double x, double width,
                     const QRectF& rect, const StyledHeightMeasure& measure) {
    const double w = std::max(width, 20.0);
    const double h = measure(text, w);
    const QRectF target(x, vCenteredTop(h, rect), w, h);
    drawStyledText(painter, text, target);
    return target;
}

QRectF drawVCentered(QPainter& painter, const StyledText& text, double x, double width,
                     const QRectF& rect) {
    return drawVCentered(painter, text, x, width, rect, &styledTextHeight);
}
