#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

// The panel's symbols, drawn as vector paths in our own design so they are crisp at every
// device pixel ratio: close, pin (outline and filled), pencil, add (an up arrow in a filled
// circle) and the menu (three dots).
enum class NoteGlyph { XMark, Pin, PinFill, Pencil, ArrowUpCircleFill, Menu };

// Draws `glyph` in `tint`, scaled to fit `rect` keeping its proportions, centred.
void paintNoteGlyph(QPainter& painter, const QRectF& rect, NoteGlyph glyph, const QColor& tint);
