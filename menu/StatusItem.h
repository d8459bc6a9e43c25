#pragma once

#include "menu/MenuModel.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

class DrawnMenu;
class QAction;

// The tray icon from base64 PNG text, shown at 18 x 18 points; "📋" drawn in its place when
// the text or the picture cannot be decoded.
QIcon trayIcon(const QByteArray& iconBase64);

// The tray icon and its menu. Shows the icon as soon as a tray host exists (at login the host
// may start after the app), keeps one menu whose content follows the entries it is given, and
// reports clicks on the icon and on the menu's items (MenuController acts on them).
class StatusItem : public QObject {
    Q_OBJECT

public:
    explicit StatusItem(QObject* parent = nullptr);
    ~StatusItem() override;

    // Creates the tray icon with `icon`; it shows once a tray host is there.
    void create(const QIcon& icon);

    // Makes the menu show `entries`. Nothing happens when they are what it shows already.
    void setEntries(const QList<MenuEntry>& entries);

    DrawnMenu* menu() const;
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    // How often the menu's items were rebuilt: a refresh that changes nothing costs nothing.
    int rebuildCount() const { return m_rebuilds; }

signals:
    // Whether the tray icon is shown: false at first where no tray host exists, true once one
    // appears.
    void trayShown(bool shown);
    // The tray icon was clicked; a right click has opened the menu already.
    void activated(QSystemTrayIcon::ActivationReason reason);
    // A menu item was chosen; `sender` is its QAction (a task's carries its id and tag).
    void triggered(MenuEntry::Action action, QAction* sender);
    // The menu is about to open: entries given now are shown in this very opening (for what
    // may have changed outside the app, like the autostart file).
    void aboutToOpen();

private:
    void showWhenTrayExists();
    void rebuildWhenClosed();
    void applyPending();

    QPointer<DrawnMenu> m_menu;
    QSystemTrayIcon* m_tray = nullptr;
    QTimer m_trayWait;
    std::optional<QList<MenuEntry>> m_pending;
    bool m_rebuildQueued = false;
    int m_rebuilds = 0;
};
