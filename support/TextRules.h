#pragma once

#include "support/Assets.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QRectF>
#include <QString>
#include <QTextLayout>

#include <functional>

class QPainter;

// Text with runs of fonts and colours and one set of paragraph settings: what the views
// measure and draw. Text outside every run uses `font` and the painter's pen.
struct StyledText {
    QString text;
    QFont font;
    QList<QTextLayout::FormatRange> formats;
    NotePara para = notePara();

    // Appends `part` drawn in `runFont` and `color`; a struck-out font strikes in that colour.
    StyledText& append(const QString& part, const QFont& runFont, const QColor& color);
};

// Height of the text laid out at `width`: the sum of its line heights (each including the
// font's leading) plus the paragraph's line spacing between two lines. An empty text is 0.
double styledTextHeight(const StyledText& text, double width);

// Draws the text laid out at rect's width from rect's top-left corner, exactly as
// styledTextHeight measures it. Nothing outside the text is clipped.
void drawStyledText(QPainter& painter, const StyledText& text, const QRectF& rect);

// Drops symbols, emoji, general punctuation, VS16 and the keycap mark from a section title,
// then trims spaces (Unicode Zs) and tabs at both ends. Line feeds are kept.
QString stripSymbols(const QString& text);

// Width of a text set on one line, or of its widest line when it holds line feeds.
using WidthMeasure = std::function<double(const QString&)>;

// Greedy breaking at user-perceived characters, ignoring words: text that fits is returned as
// it is, otherwise each line takes characters while it stays within `width` (a line exactly
// `width` wide fits) and the lines are joined with "\n". A character wider than `width` gets
// a line of its own.
QString wrapToWidth(const QString& text, double width, const WidthMeasure& measure);
QString wrapToWidth(const QString& text, double width, const QFont& font);

// Height of `text` laid out at `width`, before rounding.
using HeightMeasure = std::function<double(const QString& text, double width)>;

// Height of a task text in the note panel: measured at max(width, 20) in noteFont of
// NOTE_FONT_ITEM with notePara, rounded up to a whole pixel.
double noteTextHeight(const QString& text, double width);
double noteTextHeight(const QString& text, double width, const HeightMeasure& measure);

// Where drawVCentered puts a text `height` high in `rect` (Qt coordinates, y down): centred,
// or, when taller than rect, with its bottom on rect's bottom edge and running above rect.
double vCenteredTop(double height, const QRectF& rect);

// Draws `text` at x, laid out at max(width, 20) and centred vertically in rect; only rect's
// vertical extent is used. Returns the rectangle the text was drawn in.
using StyledHeightMeasure = std::function<double(const StyledText& text, double width)>;
QRectF drawVCentered(QPainter& painter, const StyledText& text, double x, double width,
                     const QRectF& rect);
QRectF drawVCentered(QPainter& painter, const StyledText& text, double x, double width,
                     const QRectF& rect, const StyledHeightMeasure& measure);
