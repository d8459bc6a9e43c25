#include "menu/MenuModel.h"

#include <algorithm>

namespace {

MenuEntry header(const QString& text) {
    MenuEntry e;
    e.kind = MenuEntry::Kind::Header;
    e.text = text;
    e.enabled = false;
    return e;
}

MenuEntry separator() {
    return MenuEntry{};
}

MenuEntry command(const QString& text, MenuEntry::Action action, QChar key = {}) {
    MenuEntry e;
    e.kind = MenuEntry::Kind::Command;
    e.text = text;
    e.action = action;
    e.key = key;
    return e;
}

MenuEntry switcher(const QString& text, MenuEntry::Action action, bool checked) {
    MenuEntry e;
    e.kind = MenuEntry::Kind::Switch;
    e.text = text;
    e.action = action;
    e.checkable = true;
    e.checked = checked;
    return e;
}

} // namespace

bool MenuEntry::operator==(const MenuEntry& o) const {
    if (kind != o.kind || text != o.text || updated != o.updated || id != o.id || done != o.done ||
        enabled != o.enabled || checkable != o.checkable || checked != o.checked || action != o.action || key != o.key ||
        submenu.size() != o.submenu.size())
        return false;
    return std::equal(submenu.cbegin(), submenu.cend(), o.submenu.cbegin());
}

QList<MenuEntry> buildMenuEntries(const ListStore& state, const std::optional<QString>& lastError,
                                  const QString& appVersion, bool startsAtLogin,
                                  const DeliveryNotice& delivery) {
    QList<MenuEntry> menu;

    MenuEntry title;
    title.kind = MenuEntry::Kind::Title;
    title.text = state.currentTitle();
    if (state.payload())
        title.updated = state.payload()->updated;
    title.submenu = {
        switcher(QStringLiteral("阿蓁 TODO"), MenuEntry::Action::UseMine, state.choice() == ListStore::kMine),
        switcher(QStringLiteral("晴川子 TODO"), MenuEntry::Action::UseHers, state.choice() == ListStore::kHers),
    };
    menu.append(title);
    menu.append(header(QStringLiteral("维洛清单 v") + appVersion));
    menu.append(separator());

    // Undelivered changes come first in the warning area, beside the refresh's own warning.
    if (delivery.unsent > 0)
        menu.append(header(QStringLiteral("⚠️ %1 项改动还没送出").arg(delivery.unsent)));
    if (delivery.refused > 0)
        menu.append(header(QStringLiteral("⚠️ 有 %1 项改动被拒收").arg(delivery.refused)));
    const QList<Row>& rows = state.displayRows(false);
    if (lastError) {
        menu.append(header(QStringLiteral("⚠️ ") + *lastError));
    } else if (rows.isEmpty()) {
        menu.append(header(QStringLiteral("（今天没有待办，全清啦 🎉）")));
    } else {
        for (const Row& row : rows) {
            if (rules::isHeader(row)) {
                menu.append(header(row.text));
                continue;
            }
            MenuEntry task;
            task.kind = MenuEntry::Kind::Task;
            task.text = row.text;
            task.id = row.id;
            task.done = state.effDone(row);
            task.action = MenuEntry::Action::ToggleItem;
            menu.append(task);
        }
    }

    menu.append(separator());
    menu.append(command(QStringLiteral("便签（悬浮窗）"), MenuEntry::Action::ToggleNote, QLatin1Char('n')));
    menu.append(command(QStringLiteral("刷新"), MenuEntry::Action::Refresh, QLatin1Char('r')));
    menu.append(command(QStringLiteral("检查更新…"), MenuEntry::Action::CheckUpdate));
    MenuEntry login = command(QStringLiteral("开机启动"), MenuEntry::Action::ToggleAutostart);
    login.checkable = true;
    login.checked = startsAtLogin;
    menu.append(login);
    menu.append(separator());
    menu.append(command(QStringLiteral("退出"), MenuEntry::Action::Quit, QLatin1Char('q')));
    return menu;
}

QStringList menuListLines(const QList<MenuEntry>& entries) {
    QStringList lines;
    int separators = 0;
    for (const MenuEntry& entry : entries) {
        if (entry.kind == MenuEntry::Kind::Separator) {
            if (++separators == 2)
                break;
            continue;
        }
        if (separators == 0)
            continue;
        if (entry.kind == MenuEntry::Kind::Task)
            lines << (entry.done ? QStringLiteral("[x] ") : QStringLiteral("[ ] ")) + entry.text;
        else
            lines << entry.text;
    }
    return lines;
}
