#include "note/NoteViews.h"

#include "support/Assets.h"
#include "note/NoteLayout.h"
#include "support/Theme.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QWindow>

void WindowDragger::press(QWidget* widget, const QPointF& globalPos) {
    QWidget* window = widget->window();
    if (QWindow* handle = window->windowHandle(); handle && handle->startSystemMove())
        return;
    // No window manager move (an offscreen or minimal platform): follow the pointer ourselves.
    m_following = true;
    m_grab = globalPos - QPointF(window->pos());
}

void WindowDragger::move(QWidget* widget, const QPointF& globalPos) {
    if (m_following)
        widget->window()->move((globalPos - m_grab).toPoint());
}

namespace {

// A box blur of an alpha image, in place. A window's sum is divided by its width as a
// multiplication and a shift, exact for every sum of fewer than 256 bytes: the division was most
// of the blur's work, and the blur most of the work before the panel first shows.
class BoxBlur {
public:
    BoxBlur(QImage& image, int box)
        : m_bits(image.bits()), m_w(image.width()), m_h(image.height()),
          m_stride(int(image.bytesPerLine())), m_box(box),
          m_reciprocal((quint32(1) << 24) / quint32(2 * box + 1) + 1), m_line(std::max(m_w, 1)),
          m_copy(qsizetype(m_stride) * m_h), m_sums(std::max(m_w, 1)) {
        Q_ASSERT(2 * box + 1 < 256);
    }

    void rows() {
        for (int y = 0; y < m_h; ++y)
            blurRow(m_bits + qsizetype(y) * m_stride);
    }

    // Columns are blurred all at once, a row at a time, with one running sum per column, so the
    // pass reads memory in order instead of a byte per row.
    void columns() {
        const uchar* src = m_copy.constData();
        std::copy(m_bits, m_bits + m_copy.size(), m_copy.data());
        quint32* sum = m_sums.data();
        std::fill(sum, sum + m_w, 0u);
        for (int i = -m_box; i <= m_box; ++i) {
            const uchar* row = src + qsizetype(std::clamp(i, 0, m_h - 1)) * m_stride;
            for (int x = 0; x < m_w; ++x)
                sum[x] += row[x];
        }
        for (int y = 0; y < m_h; ++y) {
            uchar* out = m_bits + qsizetype(y) * m_stride;
            const uchar* enter = src + qsizetype(std::min(y + m_box + 1, m_h - 1)) * m_stride;
            const uchar* leave = src + qsizetype(std::max(y - m_box, 0)) * m_stride;
            for (int x = 0; x < m_w; ++x) {
                out[x] = divide(sum[x]);
                sum[x] += enter[x];
                sum[x] -= leave[x];
            }
        }
    }

private:
    uchar divide(quint32 sum) const { return uchar((sum * m_reciprocal) >> 24); }

    void blurRow(uchar* row) {
        quint32* from = m_line.data();
        std::copy(row, row + m_w, from);
        quint32 sum = 0;
        for (int i = -m_box; i <= m_box; ++i)
            sum += from[std::clamp(i, 0, m_w - 1)];
        for (int i = 0; i < m_w; ++i) {
            row[i] = divide(sum);
            sum += from[std::min(i + m_box + 1, m_w - 1)];
            sum -= from[std::max(i - m_box, 0)];
        }
    }

    uchar* m_bits;
    int m_w, m_h, m_stride, m_box;
    quint32 m_reciprocal;
    QList<quint32> m_line;
    QList<uchar> m_copy;
    QList<quint32> m_sums;
};

} // namespace

QImage shadowImage(const QSize& size, double ratio, const QPainterPath& path, const QPointF& offset,
                   double radius, double opacity) {
    QImage image(size * ratio, QImage::Format_Alpha8);
    image.fill(0);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(ratio, ratio);
        p.translate(offset);
        p.fillPath(path, QColor::fromRgbF(0, 0, 0, float(opacity)));
    }
    if (!image.isNull()) {
        BoxBlur blur(image, std::max(1, int(radius * ratio / 2)));
        for (int pass = 0; pass < 3; ++pass) {
            blur.rows();
            blur.columns();
        }
    }
    image.setDevicePixelRatio(ratio);
    return image;
}

namespace {

QPainterPath roundedPath(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

} // namespace

NoteBackground::NoteBackground(QWidget* parent) : QWidget(parent) {}

void NoteBackground::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const FlipY flip{double(height())};
    const QRectF card = flip.rect(noteFrames(height()).card);
    const QPainterPath path = roundedPath(card, 12);

    // The shadow falls 6 points downwards; drawn once per size and pixel ratio.
    const double ratio = devicePixelRatioF();
    if (m_shadow.size() != size() * ratio || m_shadow.devicePixelRatio() != ratio)
        m_shadow = shadowImage(size(), ratio, path, QPointF(0, 6), 16, 0.42);
    painter.drawImage(QPointF(0, 0), m_shadow);
    painter.fillPath(path, QColor::fromRgbF(0.07f, 0.10f, 0.17f));

    painter.save();
    painter.setClipPath(path);
    // Stretched into the card; decoded at the card's size once per size rather than on every
    // paint, and only that size is kept.
    const QSize target = (card.size() * ratio).toSize();
    if (m_pictureFor != target) {
        m_pictureFor = target;
        const std::optional<QImage> picture = vlBackgroundImage(target);
        m_picture = picture ? QPixmap::fromImage(*picture) : QPixmap();
        m_picture.setDevicePixelRatio(ratio);
    }
    if (!m_picture.isNull())
        painter.drawPixmap(card.topLeft(), m_picture);
    painter.fillRect(card, C_VL_DIM);
    QLinearGradient darker(card.topLeft(), card.bottomLeft());
    darker.setColorAt(0, QColor::fromRgbF(0, 0, 0, 0));
    darker.setColorAt(1, QColor::fromRgbF(0, 0, 0, 0.34f));
    painter.fillRect(card, darker);
    painter.restore();

    QColor edge = C_VL_GOLD;
    edge.setAlphaF(0.28f);
    painter.strokePath(path, QPen(edge, 1));
}

void NoteBackground::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_drag.press(this, event->globalPosition());
    else
        QWidget::mousePressEvent(event);
}

void NoteBackground::mouseMoveEvent(QMouseEvent* event) {
    m_drag.move(this, event->globalPosition());
}

void NoteBackground::mouseReleaseEvent(QMouseEvent*) {
    m_drag.release();
}

FlippedView::FlippedView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::TabFocus);
}

void FlippedView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_drag.press(this, event->globalPosition());
    else
        QWidget::mousePressEvent(event);
}

void FlippedView::mouseMoveEvent(QMouseEvent* event) {
    m_drag.move(this, event->globalPosition());
}

void FlippedView::mouseReleaseEvent(QMouseEvent*) {
    m_drag.release();
}

void PillView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(roundedPath(rect(), 7), QColor::fromRgbF(1, 1, 1, 0.14f));
}

PassthroughLabel::PassthroughLabel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PassthroughLabel::setText(const StyledText& text) {
    m_text = text;
    update();
}

void PassthroughLabel::paintEvent(QPaintEvent*) {
    if (m_text.text.isEmpty())
        return;
    QPainter painter(this);
    drawVCentered(painter, m_text, 0, width(), rect());
}

NoteButton::NoteButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
}

void NoteButton::setGlyph(NoteGlyph glyph, const QColor& tint) {
    m_glyph = glyph;
    m_tint = tint;
    update();
}

void NoteButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor tint = m_tint;
    if (isDown())
        tint.setAlphaF(tint.alphaF() * 0.6f);
    paintNoteGlyph(painter, rect(), m_glyph, tint);
}

NoteField::NoteField(QWidget* parent) : QLineEdit(parent) {
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, C_VL_TXT);
    palette.setColor(QPalette::PlaceholderText, C_VL_TXT_DIM);
    setPalette(palette);
    setFont(noteFont(12.5));
    setPlaceholderText(QStringLiteral("新建任务"));
}

void NoteField::mousePressEvent(QMouseEvent* event) {
    // The panel is shown without taking the keyboard; a click in the field asks for it.
    activateWindow();
    QLineEdit::mousePressEvent(event);
}

void NoteField::resizeEvent(QResizeEvent* event) {
    const QRectF base = rect();
    const QRectF text = vCenterTextRect(base, QFontMetricsF(font()).height());
    // QLineEdit keeps 2 pixels of its own inside the text margins.
    setTextMargins(int(text.left() - base.left()) - 2, int(text.top() - base.top()),
                   int(base.right() - text.right()) - 2, int(base.bottom() - text.bottom()));
    QLineEdit::resizeEvent(event);
}

EditField::EditField(QWidget* parent) : QLineEdit(parent) {
    setFont(noteFont(NOTE_FONT_ITEM));
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setStyleSheet(QStringLiteral("QLineEdit { color: rgb(31, 31, 31); background: rgba(255, 255, 255, 224);"
                                 " border: 1px solid rgba(0, 0, 0, 60); border-radius: 5px; padding: 0 3px; }"));
}

bool EditField::event(QEvent* event) {
    // Tab and Backtab would move the focus before keyPressEvent sees them: they commit.
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            end(true);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void EditField::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        end(false);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        end(true);
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void EditField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A popup (the editor's own context menu, the tray menu) takes the focus only for a
    // moment and gives it back: the edit goes on.
    if (event->reason() == Qt::PopupFocusReason || QApplication::activePopupWidget())
        return;
    end(true);
}

void EditField::end(bool commit) {
    if (m_ended)
        return;
    m_ended = true;
    emit editingEnded(commit);
}

#include "moc_NoteViews.cpp"
