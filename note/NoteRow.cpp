#include "note/NoteRow.h"

#include "note/NoteLayout.h"
#include "note/NoteViews.h"
#include "support/Theme.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

QColor withAlpha(QColor colour, double alpha) {
    colour.setAlphaF(float(alpha));
    return colour;
}

QColor white(double alpha) {
    return QColor::fromRgbF(1, 1, 1, float(alpha));
}

QPainterPath polyline(const QList<QPointF>& points, bool closed) {
    QPainterPath path;
    path.addPolygon(QPolygonF(points));
    if (closed)
        path.closeSubpath();
    return path;
}

// A header line is cut with an ellipsis rather than wrapped.
StyledText headerLine(const QString& text, const QFont& font, const QColor& colour, double width) {
    StyledText styled;
    styled.font = font;
    styled.para.option.setWrapMode(QTextOption::NoWrap);
    styled.append(QFontMetricsF(font).elidedText(text, Qt::ElideRight, width), font, colour);
    return styled;
}

} // namespace

NoteRow::NoteRow(const NoteRowData& data, QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setData(data);
}

void NoteRow::setData(const NoteRowData& data) {
    m_data = data;
    if (m_data.isHeader)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
    showEditButton(m_hovered && !m_data.isHeader && !m_editField && !m_dragging);
    layoutIcons();
    update();
}

void NoteRow::showEditButton(bool shown) {
    if (!shown) {
        if (m_editBtn)
            m_editBtn->hide();
        return;
    }
    if (!m_editBtn) {
        m_editBtn = new NoteButton(this);
        m_editBtn->setGlyph(NoteGlyph::Pencil, withAlpha(C_VL_TXT, 0.62));
        m_editBtn->setToolTip(QStringLiteral("编辑文字"));
        m_editBtn->setAccessibleName(QStringLiteral("编辑"));
        connect(m_editBtn, &QAbstractButton::clicked, this, [this] { emit editClicked(this); });
        layoutIcons();
    }
    m_editBtn->show();
}

void NoteRow::setDragging(bool dragging) {
    m_dragging = dragging;
    if (dragging)
        showEditButton(false);
    update();
}

void NoteRow::setDragPad(double pad) {
    if (pad == m_dragPad)
        return;
    m_dragPad = pad;
    update();
}

EditField* NoteRow::editField() const {
    return m_editField;
}

void NoteRow::setEditField(EditField* field) {
    m_editField = field;
    showEditButton(!field && m_hovered && !m_data.isHeader && !m_dragging);
    update();
}

void NoteRow::resizeEvent(QResizeEvent*) {
    layoutIcons();
}

void NoteRow::layoutIcons() {
    if (m_data.isHeader || !m_editBtn)
        return;
    const FlipY flip{double(height())};
    m_editBtn->setGeometry(flip.rect(rowgeom::editButton(width(), height())).toRect());
}

void NoteRow::enterEvent(QEnterEvent*) {
    m_hovered = true;
    showEditButton(!m_data.isHeader && !m_editField && !m_dragging);
    update();
}

void NoteRow::leaveEvent(QEvent*) {
    m_hovered = false;
    showEditButton(false);
    update();
}

void NoteRow::hideEvent(QHideEvent*) {
    // Put aside for another row: the pointer is no longer over this one.
    m_hovered = false;
    showEditButton(false);
}

void NoteRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_data.isHeader)
        drawCategory(painter);
    else
        drawItem(painter);
    if (m_focusRing)
        drawFocusRing(painter);
}

void NoteRow::setFocusRing(bool shown) {
    if (shown == m_focusRing)
        return;
    m_focusRing = shown;
    update();
}

void NoteRow::drawFocusRing(QPainter& painter) {
    const double w = width(), h = height();
    const FlipY flip{h};
    const QRectF card = flip.rect(m_data.isHeader ? rowgeom::headerCard(w, h) : rowgeom::taskCard(w, h, m_dragPad));
    // Just outside the card, so it reads as a ring around the row and hides nothing of it.
    const double radius = m_data.isHeader ? 9 : 7;
    QPainterPath ring;
    ring.addRoundedRect(card.adjusted(-1, -1, 1, 1), radius + 1, radius + 1);
    painter.strokePath(ring, QPen(C_VL_GOLD, 2));
}

void NoteRow::drawCategory(QPainter& painter) {
    const double w = width(), h = height();
    const FlipY flip{h};
    QPainterPath card;
    card.addRoundedRect(flip.rect(rowgeom::headerCard(w, h)), 9, 9);
    const QColor fill = m_hovered ? C_VL_CAT_HOV : C_VL_CAT_FILL;
    painter.fillPath(card, fill);
    painter.strokePath(card, QPen(C_VL_CAT_EDGE, 1));

    if (const std::optional<QRectF> box = rowgeom::emblemBox(w, h)) {
        QList<QPointF> star;
        for (const QPointF& p : rowgeom::emblemStar(*box))
            star.append(flip.point(p));
        const QPen faint(withAlpha(C_VL_GOLD, 0.15), 1);
        painter.strokePath(polyline(star, true), faint);
        const double d = rowgeom::emblemRingDiameter(*box);
        painter.setPen(faint);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(flip.point(box->center()), d / 2, d / 2);
    }

    QList<QPointF> outer, inner;
    for (const QPointF& p : rowgeom::bulletOuter(h))
        outer.append(flip.point(p));
    for (const QPointF& p : rowgeom::bulletInner(h))
        inner.append(flip.point(p));
    painter.fillPath(polyline(outer, true), C_VL_GOLD);
    painter.fillPath(polyline(inner, true), fill);

    const double tw = rowgeom::headerTextWidth(w);
    const StyledText title = headerLine(m_data.label, noteFont(NOTE_FONT_HEAD, QFont::DemiBold), C_VL_TXT, tw);
    const StyledText sub = headerLine(m_data.subText, noteFont(NOTE_FONT_SUB), C_VL_TXT_DIM, tw);
    const double tH = m_data.label.isEmpty() ? 0 : styledTextHeight(title, tw);
    const double sH = m_data.subText.isEmpty() ? 0 : styledTextHeight(sub, tw);
    drawStyledText(painter, title, flip.rect(rowgeom::headerTitleRect(w, h, tH, sH)));
    drawStyledText(painter, sub, flip.rect(rowgeom::headerSubRect(w, h, tH, sH)));

    QList<QPointF> chevron;
    for (const QPointF& p : rowgeom::chevron(w, h, m_data.collapsed))
        chevron.append(flip.point(p));
    painter.strokePath(polyline(chevron, false),
                       QPen(withAlpha(C_VL_TXT, 0.55), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void NoteRow::drawItem(QPainter& painter) {
    const double w = width(), h = height();
    const FlipY flip{h};
    const QRectF cardRect = flip.rect(rowgeom::taskCard(w, h, m_dragPad));
    QPainterPath card;
    card.addRoundedRect(cardRect, 7, 7);
    if (m_dragPad <= 0) {
        painter.fillPath(card, C_VL_SUB_FILL);
        painter.strokePath(card, QPen(C_VL_SUB_EDGE, 1));
    } else {
        // Lifted: a shadow cast 5 points upwards, an opaque card, a gold edge.
        for (int i = 4; i >= 1; --i) {
            QPainterPath halo;
            halo.addRoundedRect(cardRect.translated(0, -5).adjusted(-i * 2, -i * 2, i * 2, i * 2), 7 + i * 2, 7 + i * 2);
            painter.fillPath(halo, QColor::fromRgbF(0, 0, 0, 0.7f / 6));
        }
        painter.fillPath(card, C_VL_DRAG_FILL);
        painter.strokePath(card, QPen(withAlpha(C_VL_GOLD, 0.5), 1));
    }

    const QPointF centre = flip.point(rowgeom::checkboxCentre(w, h, m_dragPad));
    if (m_data.isDone) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(C_ACCENT);
        painter.drawEllipse(centre, 8.5, 8.5);
        QList<QPointF> tick;
        for (const QPointF& p : rowgeom::tick(flip.point(centre)))
            tick.append(flip.point(p));
        painter.strokePath(polyline(tick, false), QPen(Qt::white, 1.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    } else {
        painter.setPen(QPen(white(0.62), 1.4));
        painter.setBrush(white(0.09));
        painter.drawEllipse(centre, 8.5, 8.5);
    }

    if (!m_editField) {
        const QColor colour = m_data.isDone ? C_VL_DONE : C_VL_TXT;
        QFont font = noteFont(NOTE_FONT_ITEM);
        font.setStrikeOut(m_data.isDone);
        StyledText text;
        text.font = font;
        text.append(m_data.label, font, colour);
        const double tw = rowgeom::taskTextWidth();
        const double tH = styledTextHeight(text, tw);
        drawStyledText(painter, text, flip.rect(rowgeom::taskTextRect(w, h, m_dragPad, tH)));

        if (m_hovered || m_dragging) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(white(m_dragging ? 0.85 : 0.55));
            for (const QRectF& bar : rowgeom::gripBars(w, h))
                painter.drawRoundedRect(flip.rect(bar), 1, 1);
        }
    }
}

void NoteRow::updateCursor(double x) {
    if (m_data.isHeader || m_data.itemId.isEmpty()) {
        if (!m_data.isHeader)
            unsetCursor();
        return;
    }
    setCursor(rowgeom::inHandleZone(width(), x) ? Qt::OpenHandCursor : Qt::PointingHandCursor);
}

QPointF NoteRow::toStack(const QPointF& local) const {
    return parentWidget() ? mapToParent(local) : QPointF(0, 0);
}

void NoteRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (m_data.isHeader) {
        emit collapseClicked(m_data.sec);
        return;
    }
    if (m_data.itemId.isEmpty() || m_editField)
        return;
    const QPointF local = event->position();
    if (rowgeom::inHandleZone(width(), local.x()) && !rules::isPendingId(m_data.itemId)) {
        setDragging(true);
        emit dragStarted(this, toStack(local));
        return;
    }
    emit toggleClicked(m_data.itemId, m_data.isDone);
}

void NoteRow::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging) {
        if (parentWidget())
            emit dragMoved(this, toStack(event->position()));
        return;
    }
    updateCursor(event->position().x());
}

void NoteRow::mouseReleaseEvent(QMouseEvent*) {
    if (!m_dragging)
        return;
    setDragging(false);
    emit dragEnded(this);
}

#include "moc_NoteRow.cpp"
