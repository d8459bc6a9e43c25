#pragma once

#include <QIcon>
#include <QImage>
#include <QRectF>

class QPainter;

// Side of the checkbox in device-independent pixels.
inline constexpr double kCheckboxSize = 15;

// Draws the checkbox scaled into `rect`: done is a green rounded square with a white tick,
// not done a grey rounded outline.
void drawCheckbox(QPainter& painter, const QRectF& rect, bool done);

// The 15 x 15 checkbox as an image of 15 * devicePixelRatio pixels carrying that ratio, so
// it stays sharp on HiDPI screens. Transparent outside the box.
QImage checkboxImage(bool done, double devicePixelRatio = 1.0);

// The checkbox at ratios 1, 2 and 3 for menu items; Qt picks the one the screen needs. Drawn
// once per process and shared. Needs the QGuiApplication.
QIcon checkboxIcon(bool done);
