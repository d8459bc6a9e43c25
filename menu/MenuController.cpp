#include "menu/MenuController.h"

#include "model/ListActions.h"
#include "menu/MenuStyle.h"
#include "menu/StatusItem.h"
#include "menu/StatusMenu.h"

#include <QAction>
#include <QCursor>

MenuController::MenuController(StatusItem& item, ListActions& actions, QObject* parent)
    : QObject(parent), m_item(item), m_actions(actions) {
    connect(&m_item, &StatusItem::triggered, this, &MenuController::run);
    connect(&m_item, &StatusItem::activated, this, &MenuController::trayActivated);
}

void MenuController::run(MenuEntry::Action action, QAction* sender) {
    switch (action) {
    case MenuEntry::Action::UseMine:
        return useMine();
    case MenuEntry::Action::UseHers:
        return useHers();
    case MenuEntry::Action::ToggleItem:
        return toggleItem(sender);
    case MenuEntry::Action::ToggleNote:
        emit noteToggleRequested();
        return;
    case MenuEntry::Action::Refresh:
        emit refreshRequested();
        return;
    case MenuEntry::Action::CheckUpdate:
        emit updateCheckRequested();
        return;
    case MenuEntry::Action::ToggleAutostart:
        emit autostartToggleRequested();
        return;
    case MenuEntry::Action::Quit:
        emit quitRequested();
        return;
    case MenuEntry::Action::None:
        return;
    }
}

void MenuController::toggleItem(const QAction* sender) {
    const QVariant id = sender ? taskItemId(sender) : QVariant();
    if (id.typeId() != QMetaType::QString)
        return;
    m_actions.toggle(id.toString(), taskItemTag(sender) != 0);
}

void MenuController::useMine() {
    m_actions.chooseList(ListStore::kMine);
}

void MenuController::useHers() {
    m_actions.chooseList(ListStore::kHers);
}

void MenuController::popup(const QPoint& at) {
    if (DrawnMenu* menu = m_item.menu())
        menu->popup(at);
}

void MenuController::trayActivated(QSystemTrayIcon::ActivationReason reason) {
#ifdef Q_OS_MACOS
    // The menu bar opens the menu itself on every click.
    Q_UNUSED(reason);
#else
    // Linux trays send a left click as Trigger and leave the menu closed: open it there too.
    DrawnMenu* menu = m_item.menu();
    if (reason == QSystemTrayIcon::Trigger && menu && !menu->isVisible())
        menu->popup(QCursor::pos());
#endif
}

#include "moc_MenuController.cpp"
