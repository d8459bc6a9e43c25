#pragma once

#include "MenuModel.h"

#include <functional>

class DrawnMenu;
class QAction;
class QWidget;

// Turns menu entries into a QMenu drawn by MenuStyle. Each chosen item calls `act` with its
// action and the QAction itself (a task's tick reads its id and shown state from it).
using MenuActionHandler = std::function<void(MenuEntry::Action, QAction*)>;

DrawnMenu* buildStatusMenu(const QList<MenuEntry>& entries, const MenuActionHandler& act,
                           QWidget* parent = nullptr);

// What a task item carries for its tick: the task's id (invalid when it has none) and
// 1 when it was shown done, 0 otherwise.
QVariant taskItemId(const QAction* action);
int taskItemTag(const QAction* action);
