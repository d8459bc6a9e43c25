#include "AppDelegate.h"

#include "Constants.h"
#include "MenuStyle.h"
#include "StatusMenu.h"
#include "Assets.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
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

AppDelegate::AppDelegate(QSettings& store, Endpoints endpoints, QObject* parent)
    : QObject(parent), sync(state, network), settings(store), endpoints(std::move(endpoints)) {
    notePinned = settings.notePinned();
    sync.dataUrl = this->endpoints.DATA_URL;
    sync.inboxUrl = this->endpoints.NTFY_URL;
    sync.rebuildMenu = [this] { rebuildMenu(); };
    sync.refreshNote = [this] { refreshNote(); };
    sync.noteBusy = [this] { return editingRow || draggingRow; };
    state.collapseChanged = [this] { refreshNote(); };
    connect(&timer, &QTimer::timeout, this, &AppDelegate::refresh);
    connect(&updateTimer, &QTimer::timeout, this, [this] { checkForUpdate(false); });
}

AppDelegate::~AppDelegate() {
    delete menu;
}

void AppDelegate::applicationDidFinishLaunching() {
    createStatusItem();
    rebuildMenu();
    chooseList();
    rebuildMenu();
    refresh();
    showNote();
    timer.start(30s);
    sync.scheduler(4s, [this] { checkForUpdate(false); });
    updateTimer.start(21600s);
}

void AppDelegate::createStatusItem() {
    statusItem = new QSystemTrayIcon(trayIcon(ICON_B64()), this);
    statusItem->setToolTip(QStringLiteral("维洛清单"));
#ifndef Q_OS_MACOS
    // Linux trays send a left click as Trigger and leave the menu closed: open it there too.
    connect(statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && menu)
            menu->popup(QCursor::pos());
    });
#endif
    showStatusItemWhenTrayExists();
}

void AppDelegate::showStatusItemWhenTrayExists() {
    // A tray host started after the app (at login) appears later; desktops without one never
    // get the icon, and the app keeps running quietly for the note panel.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        statusItem->show();
        return;
    }
    trayWait.setSingleShot(true);
    connect(&trayWait, &QTimer::timeout, this, &AppDelegate::showStatusItemWhenTrayExists,
            Qt::UniqueConnection);
    trayWait.start(5s);
}

void AppDelegate::chooseList() {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("维洛清单"));
    box.setIcon(QMessageBox::Question);
    box.setText(QStringLiteral("显示哪份 To-do？"));
    box.setInformativeText(QStringLiteral("之后点最上面那一行就能随时切换。"));
    // Same role for both keeps them in this order on every platform.
    QPushButton* mine = box.addButton(QStringLiteral("阿蓁的 To-do"), QMessageBox::ActionRole);
    box.addButton(QStringLiteral("晴川子的 To-do"), QMessageBox::ActionRole);
    box.setDefaultButton(mine);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    state.choice = box.clickedButton() == mine ? ListState::kMine : ListState::kHers;
}

void AppDelegate::rebuildMenu() {
    const QList<MenuEntry> entries = buildMenuEntries(state, sync.lastError, APP_VERSION);
    DrawnMenu* next = buildStatusMenu(entries, [this](MenuEntry::Action action, QAction* sender) {
        switch (action) {
        case MenuEntry::Action::UseMine:
            return useMine();
        case MenuEntry::Action::UseHers:
            return useHers();
        case MenuEntry::Action::ToggleItem:
            return toggleItem(sender);
        case MenuEntry::Action::ToggleNote:
            return toggleNoteAction();
        case MenuEntry::Action::Refresh:
            return refreshAction();
        case MenuEntry::Action::CheckUpdate:
            return checkUpdateAction();
        case MenuEntry::Action::Quit:
            return quit();
        case MenuEntry::Action::None:
            return;
        }
    });
    if (statusItem)
        statusItem->setContextMenu(next);
    // The old menu may be the one whose item is being handled right now.
    if (menu)
        menu->deleteLater();
    menu = next;
}

void AppDelegate::toggleItem(QAction* sender) {
    const QVariant data = sender ? taskItemId(sender) : QVariant();
    if (data.typeId() != QMetaType::QString || data.toString().isEmpty())
        return;
    const QString id = data.toString();
    const bool wasDone = taskItemTag(sender) != 0;
    state.localDone[id] = !wasDone;
    rebuildMenu();
    refreshNote();
    sync.postInbox(id, wasDone ? QStringLiteral("undone") : QStringLiteral("done"));
}

void AppDelegate::useMine() {
    state.choice = ListState::kMine;
    rebuildMenu();
    refreshNote();
}

void AppDelegate::useHers() {
    state.choice = ListState::kHers;
    rebuildMenu();
    refreshNote();
}

void AppDelegate::refreshAction() {
    refresh();
}

void AppDelegate::quit() {
    QCoreApplication::quit();
}

void AppDelegate::checkForUpdate(bool manual) {
    emit updateCheckRequested(manual);
}

void AppDelegate::checkUpdateAction() {
    checkForUpdate(true);
}

void AppDelegate::toggleNoteAction() {
    emit noteToggleRequested();
}

void AppDelegate::showNote() {
    emit noteShowRequested();
}

void AppDelegate::refreshNote() {
    emit noteRefreshRequested();
}
