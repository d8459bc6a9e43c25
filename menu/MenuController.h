#pragma once

#include "menu/MenuModel.h"

#include <QObject>
#include <QSystemTrayIcon>

class ListActions;
class QAction;
class QPoint;
class StatusItem;

// What the tray menu's items do, and when the menu opens. A chosen item is read here (a task's
// id and the state it was shown in, or its command): ticks and the list switch go through the
// write path; what the app owns (refresh, update check, the panel, start at login, quit) leaves
// as a signal. The menu opens on a left click where the tray does not open it, and where the
// panel asks for it; a right click is the tray's own context menu.
class MenuController : public QObject {
    Q_OBJECT

public:
    MenuController(StatusItem& item, ListActions& actions, QObject* parent = nullptr);

    // A task's tick, from the state `sender` was shown in; nothing for an item without an id.
    void toggleItem(const QAction* sender);
    void useMine();
    void useHers();
    // Opens the menu at `at`, in the desktop's coordinates.
    void popup(const QPoint& at);

signals:
    void refreshRequested();
    void updateCheckRequested();
    void noteToggleRequested();
    void autostartToggleRequested();
    void quitRequested();

private:
    void run(MenuEntry::Action action, QAction* sender);
    void trayActivated(QSystemTrayIcon::ActivationReason reason);

    StatusItem& m_item;
    ListActions& m_actions;
};
