#include "menu/StatusItem.h"

#include "menu/MenuStyle.h"
#include "menu/StatusMenu.h"

#include "support/Assets.h"

#include <QPainter>
#include <QSystemTrayIcon>

using namespace std::chrono_literals;

namespace {

// The tray shows a picture only; where the icon cannot be decoded the clipboard emoji stands
// in, drawn into a picture of the same size.
QIcon fallbackIcon() {
    QPixmap pixmap(36, 36);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QFont font = painter.font();
    font.setPixelSize(28);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("📋"));
    painter.end();
    pixmap.setDevicePixelRatio(2.0);
    return QIcon(pixmap);
}

} // namespace

QIcon trayIcon(const QByteArray& iconBase64) {
    const std::optional<QImage> image = decodeBase64Image(iconBase64);
    if (!image)
        return fallbackIcon();
    // 36 px drawn at 18 points: crisp on a 2x screen, scaled down on a 1x one.
    QPixmap pixmap = QPixmap::fromImage(*image);
    pixmap.setDevicePixelRatio(2.0);
    return QIcon(pixmap);
}

StatusItem::StatusItem(QObject* parent) : QObject(parent), m_menu(new DrawnMenu) {
    m_menu->setStyle(sharedMenuStyle());
    // An open menu is what the user is reading and pointing at: it is never changed under the
    // pointer. What arrived meanwhile is put in the moment it closes.
    connect(m_menu, &QMenu::aboutToHide, this, [this] {
        if (m_pending)
            rebuildWhenClosed();
    });
    // Not on screen yet: what the owner hands over now goes in before Qt lays the menu out.
    connect(m_menu, &QMenu::aboutToShow, this, [this] {
        emit aboutToOpen();
        applyPending();
    });
}

StatusItem::~StatusItem() {
    delete m_menu;
}

void StatusItem::create(const QIcon& icon) {
    m_tray = new QSystemTrayIcon(icon, this);
    m_tray->setToolTip(QStringLiteral("维洛清单"));
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, &StatusItem::activated);
    showWhenTrayExists();
}

void StatusItem::showWhenTrayExists() {
    // Desktops without a tray host never get the icon; the app keeps running for the panel.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray->show();
        emit trayShown(true);
        return;
    }
    emit trayShown(false);
    m_trayWait.setSingleShot(true);
    m_trayWait.disconnect(this);
    connect(&m_trayWait, &QTimer::timeout, this, &StatusItem::showWhenTrayExists,
            Qt::UniqueConnection);
    m_trayWait.start(5s);
}

void StatusItem::setEntries(const QList<MenuEntry>& entries) {
    if (!m_pending && m_rebuilds > 0 && entries == m_menu->shown())
        return;
    m_pending = entries;
    rebuildWhenClosed();
}

void StatusItem::rebuildWhenClosed() {
    // The rebuild runs from the event loop: the change may come from one of this menu's own
    // items, whose QAction must outlive its triggered() signal.
    if (m_rebuildQueued)
        return;
    m_rebuildQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_rebuildQueued = false;
            applyPending();
        },
        Qt::QueuedConnection);
}

void StatusItem::applyPending() {
    if (!m_pending || !m_menu || m_menu->isVisible())
        return;
    const QList<MenuEntry> entries = std::move(*m_pending);
    m_pending.reset();
    if (m_rebuilds > 0 && entries == m_menu->shown())
        return;
    fillStatusMenu(m_menu, entries, [this](MenuEntry::Action action, QAction* sender) {
        emit triggered(action, sender);
    });
    ++m_rebuilds;
}

DrawnMenu* StatusItem::menu() const {
    return m_menu;
}

#include "moc_StatusItem.cpp"
