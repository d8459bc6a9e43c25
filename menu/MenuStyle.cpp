#include "menu/MenuStyle.h"

#include <QAction>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionMenuItem>
#include <cmath>

namespace {

QRectF textBounds(const QFont& font, const QString& text) {
    return QFontMetricsF(font).boundingRect(QRectF(0, 0, 10000, 10000), MenuStyle::kTextFlags, text);
}

int textLeft(const QStyleOptionMenuItem* item) {
    return item->rect.left() + MenuStyle::kPadX + qMax(item->maxIconWidth, 16) + MenuStyle::kPadX;
}

QColor grey(double white) {
    return QColor::fromRgbF(float(white), float(white), float(white), 1.0f);
}

// A task's check box, centred on the first line as laid out, fallback (CJK) glyphs included.
void drawTaskBox(QPainter* painter, const QStyleOptionMenuItem* item, const QRect& area) {
    const int side = 15;
    const QString firstLine = item->text.section(QLatin1Char('\n'), 0, 0);
    const double lineHeight = textBounds(item->font, firstLine).height();
    const int y = area.top() + int(std::lround((lineHeight - side) / 2));
    item->icon.paint(painter, QRect(item->rect.left() + MenuStyle::kPadX, y, side, side));
}

QColor textColour(int kind, const QAction* action, const QColor& label) {
    if (kind == MenuStyle::Header)
        return grey(0.62);
    const MenuItem* item = MenuItem::of(action);
    if (kind == MenuStyle::Task && item && item->done)
        return grey(0.5);
    return label;
}

// The title, then the feed's time in a smaller, dimmer font after an ideographic space.
void drawTitle(QPainter* painter, const QStyleOptionMenuItem* item, const QAction* action,
               const QRect& area, const QColor& label) {
    constexpr int kFlags = Qt::AlignLeft | Qt::AlignVCenter | MenuStyle::kTextFlags;
    const MenuItem* menuItem = MenuItem::of(action);
    const bool hasUpdated = menuItem && menuItem->updated;
    const QString updated = hasUpdated ? *menuItem->updated : QString();
    QString title = item->text;
    if (hasUpdated)
        title.chop(updated.size() + 1); // the text carries "title　updated" for sizing
    const QRectF drawn = textBounds(item->font, title);
    painter->drawText(area, kFlags, title);
    if (!hasUpdated)
        return;
    QFont small = item->font;
    small.setBold(false);
    small.setPixelSize(11);
    painter->setFont(small);
    QColor secondary = label;
    secondary.setAlphaF(0.55f);
    painter->setPen(secondary);
    const QRect rest = area.adjusted(int(std::ceil(drawn.width())), 0, 0, 0);
    painter->drawText(rest, kFlags, QStringLiteral("\u3000") + updated);
}

} // namespace

DrawnMenu::DrawnMenu(QWidget* parent) : QMenu(parent) {
    // One connection a menu rather than one an item: the menu reports every item chosen.
    connect(this, &QMenu::triggered, this, [this](QAction* action) {
        // Qt reports an item of the list switcher to the menus above it too; each menu acts
        // on its own items only.
        const MenuItem* item = MenuItem::of(action);
        if (action->parent() != this || !item)
            return;
        // Qt flips a checkable item on its own; it shows what the entries say, so the flip is
        // undone and the rebuild that follows the command shows the outcome (a rebuild that
        // finds its entries unchanged would keep the flip).
        if (action->isCheckable())
            action->setChecked(!action->isChecked());
        if (m_handler && item->entryAction != MenuEntry::Action::None)
            m_handler(item->entryAction, action);
    });
}

QSize* DrawnMenu::drawnSize(const DrawnText& text) const {
    const auto found = m_drawnSizes.find(text);
    return found == m_drawnSizes.end() ? nullptr : &*found;
}

void DrawnMenu::pruneMeasurements() {
    if (m_drawnSizes.size() <= 2 * m_shown.size() + 64)
        return;
    QHash<DrawnText, QSize> sizes;
    for (QAction* action : actions()) {
        const DrawnText key = MenuStyle::sizeKey(action->text(), action->font());
        if (const QSize* size = drawnSize(key))
            sizes.insert(key, *size);
    }
    m_drawnSizes = std::move(sizes);
}

void DrawnMenu::keyPressEvent(QKeyEvent* event) {
    const QKeySequence pressed(event->keyCombination());
    // The commands sit in the top menu; a key pressed in the list switcher reaches them too.
    for (DrawnMenu* menu = this; menu; menu = qobject_cast<DrawnMenu*>(menu->parent())) {
        for (QAction* action : menu->actions()) {
            if (!action->isEnabled() || action->shortcut().isEmpty() ||
                action->shortcut().matches(pressed) != QKeySequence::ExactMatch)
                continue;
            // As a click would: every open level closes first, then the command runs.
            for (DrawnMenu* open = this; open; open = qobject_cast<DrawnMenu*>(open->parent()))
                open->hide();
            action->trigger();
            event->accept();
            return;
        }
    }
    QMenu::keyPressEvent(event);
}

void MenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    const auto* menu = qobject_cast<const QMenu*>(widget);
    QAction* action = item && menu && element == CE_MenuItem ? menu->actionAt(item->rect.center()) : nullptr;
    const MenuItem* menuItem = MenuItem::of(action);
    const int kind = menuItem ? menuItem->drawnKind : 0;
    if (!kind) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }

    // Let the platform paint the background, the highlight and the submenu arrow.
    QStyleOptionMenuItem frame = *item;
    frame.text.clear();
    frame.icon = QIcon();
    QProxyStyle::drawControl(element, &frame, painter, widget);

    painter->save();
    const bool selected = (item->state & State_Selected) && (item->state & State_Enabled);
    const QColor label = item->palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const int left = textLeft(item);
    const QRect area(left, item->rect.top() + kPadY, item->rect.right() - left - kPadX,
                     item->rect.height() - 2 * kPadY);

    if (kind == Task && !item->icon.isNull())
        drawTaskBox(painter, item, area);
    painter->setFont(item->font);
    painter->setPen(textColour(kind, action, label));
    if (kind == Title)
        drawTitle(painter, item, action, area, label);
    else
        painter->drawText(area, Qt::AlignLeft | Qt::AlignTop | kTextFlags, item->text);
    painter->restore();
}

DrawnText MenuStyle::sizeKey(const QString& text, const QFont& font) {
    return DrawnText{text, font.pixelSize()};
}

QSize MenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                  const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    const auto* menu = qobject_cast<const DrawnMenu*>(widget);
    if (type != CT_MenuItem || !item || !menu)
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    QSize* cached = menu->drawnSize(sizeKey(item->text, item->font));
    if (!cached)
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    const int iconColumn = kPadX + qMax(item->maxIconWidth, 16) + kPadX;
    if (!cached->isValid()) {
        const QRectF bounds = textBounds(item->font, item->text);
        *cached = QSize(int(std::ceil(bounds.width())), int(std::ceil(bounds.height())));
    }
    // Room for the submenu arrow of the title line as well.
    return QSize(iconColumn + cached->width() + 3 * kPadX + 16, cached->height() + 2 * kPadY);
}

#include "moc_MenuStyle.cpp"
