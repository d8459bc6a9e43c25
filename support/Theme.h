#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>

#include <algorithm>

// Process-wide constants of the views: note panel and menu geometry, colours, embedded artwork.
// Lengths are device-independent pixels. The version comes from the generated Version.h; the
// endpoints are configuration and live with the app.
//
// The derived geometry is computed from its inputs in the order below; the static_asserts pin
// the values the layout code was designed around, so a changed input cannot shift them
// unnoticed.

namespace velloa_detail {
inline QColor rgba(double r, double g, double b, double a) {
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}
// A grey given as a white level with an alpha.
inline QColor white(double w, double a) {
    return rgba(w, w, w, a);
}
} // namespace velloa_detail

inline const QColor C_ACCENT = velloa_detail::rgba(0.204, 0.78, 0.349, 1.0);

inline constexpr double NOTE_W = 300;
inline constexpr double NOTE_H = 480;
inline constexpr double NOTE_INSET = 12;
inline constexpr double NOTE_BAND_H = 52;
inline constexpr double NOTE_MIN_H = 300;
inline constexpr double NOTE_RESIZE_ZONE = 18;
inline constexpr double NOTE_FIELD_PAD_X = 10;

inline const QColor C_VL_DIM = velloa_detail::rgba(0.05, 0.08, 0.15, 0.46);
inline const QColor C_VL_CAT_FILL = velloa_detail::rgba(0.07, 0.10, 0.18, 0.92);
inline const QColor C_VL_CAT_HOV = velloa_detail::rgba(0.12, 0.17, 0.28, 0.94);
inline const QColor C_VL_CAT_EDGE = velloa_detail::rgba(0.47, 0.56, 0.72, 0.55);
inline const QColor C_VL_SUB_FILL = velloa_detail::white(1.0, 0.13);
inline const QColor C_VL_SUB_EDGE = velloa_detail::white(1.0, 0.17);
inline const QColor C_VL_DRAG_FILL = velloa_detail::rgba(0.17, 0.23, 0.35, 1.0);

inline constexpr double NOTE_DRAG_PAD = 12;

inline const QColor C_VL_GOLD = velloa_detail::rgba(0.96, 0.82, 0.44, 1.0);
inline const QColor C_VL_TXT = velloa_detail::white(0.97, 1.0);
inline const QColor C_VL_TXT_DIM = velloa_detail::white(0.85, 0.7);
inline const QColor C_VL_DONE = velloa_detail::white(0.85, 0.42);

inline constexpr double NOTE_CX0 = NOTE_INSET + 10;
inline constexpr double NOTE_CX1 = NOTE_W - NOTE_INSET - 10;
inline constexpr double NOTE_CW = NOTE_CX1 - NOTE_CX0;
inline constexpr double NOTE_SUB_INDENT = 12;
inline constexpr double NOTE_BOX_CX = 16;
inline constexpr double NOTE_TEXT_X = 34;
inline constexpr double NOTE_HANDLE_W = 26;
inline constexpr double NOTE_EDIT_W = 26;
inline constexpr double NOTE_TEXT_W_RESERVE = 52;
inline constexpr double NOTE_LIST_W = NOTE_CW - 18;
inline constexpr double NOTE_TEXT_W =
    std::max(40.0, NOTE_LIST_W - NOTE_SUB_INDENT - NOTE_TEXT_X - NOTE_TEXT_W_RESERVE);
inline constexpr double NOTE_ROW_H_CAT = 56;
inline constexpr double NOTE_FONT_ITEM = 13;
inline constexpr double NOTE_FONT_HEAD = 15;
inline constexpr double NOTE_FONT_SUB = 10.5;
inline constexpr double NOTE_FONT_TITLE = 16;
inline constexpr double MENU_TEXT_W = 200;

static_assert(NOTE_CX0 == 22 && NOTE_CX1 == 278 && NOTE_CW == 256);
static_assert(NOTE_LIST_W == 238 && NOTE_TEXT_W == 140);

// The embedded artwork as base64 text (no line breaks), compiled in from resources/*.b64:
// a 36 x 36 RGBA PNG for the tray and a 600 x 960 baseline JPEG for the note panel.
QByteArray ICON_B64();
QByteArray BG_B64();
