#pragma once

#include "menu/MenuModel.h"

#include <functional>

class DrawnMenu;
class QAction;
class QWidget;

class MenuStyle;

// Makes `menu` (and its submenus) show `entries`, drawn by MenuStyle, reusing its items: only
// the items whose entries changed are updated. Each chosen item calls `act` with its action
// and the QAction itself (a task's tick reads its id and shown state from it). Must not run
// while one of the menu's own items is being handled.
using MenuActionHandler = std::function<void(MenuEntry::Action, QAction*)>;
void fillStatusMenu(DrawnMenu* menu, const QList<MenuEntry>& entries, const MenuActionHandler& act);

// The one style every tray menu is drawn with; lives as long as the application.
MenuStyle* sharedMenuStyle();

// What a task item carries for its tick: the task's id (invalid when it has none) and
// 1 when it was shown done, 0 otherwise.
QVariant taskItemId(const QAction* action);
int taskItemTag(const QAction* action);
// What choosing an item does, and what kind of entry it shows: how tests and tools find an
// item by its role rather than its position.
MenuEntry::Action menuItemAction(const QAction* action);
MenuEntry::Kind menuItemKind(const QAction* action);
