#include "menu/MenuModel.h"

#include <QHash>

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

using Kind = MenuEntry::Kind;

// Whether one item may show both entries: the same task (by id, or by text when it has none),
// the same header text, the same command; a title or separator for any other.
bool sameItem(const MenuEntry& a, const MenuEntry& b) {
    if (a.kind != b.kind)
        return false;
    switch (a.kind) {
    case Kind::Task:
        return a.id || b.id ? a.id == b.id : a.text == b.text;
    case Kind::Header:
        return a.text == b.text;
    case Kind::Switch:
    case Kind::Command:
        return a.action == b.action;
    case Kind::Title:
    case Kind::Separator:
        break;
    }
    return true;
}

// The same relation as a key: entries for which sameItem holds have equal keys.
QString itemKey(const MenuEntry& e) {
    const QChar kind(u'0' + int(e.kind));
    switch (e.kind) {
    case Kind::Task:
        return e.id ? kind + QLatin1Char('t') + *e.id : kind + QLatin1Char('x') + e.text;
    case Kind::Header:
        return kind + e.text;
    case Kind::Switch:
    case Kind::Command:
        return kind + QString::number(int(e.action));
    case Kind::Title:
    case Kind::Separator:
        break;
    }
    return kind;
}

// Entries between the common head and tail take the earlier items of the same key, first come
// first served, so duplicates (two separators, a repeated text) pair up in order.
void matchMiddle(const QList<MenuEntry>& before, const QList<MenuEntry>& after, qsizetype head,
                 qsizetype tail, QList<MenuItemPlan>& plan) {
    const qsizetype beforeEnd = before.size() - tail, afterEnd = after.size() - tail;
    if (head == beforeEnd || head == afterEnd)
        return;
    QHash<QString, qsizetype> first;
    first.reserve(beforeEnd - head);
    QList<qsizetype> next(beforeEnd - head, -1);
    for (qsizetype j = beforeEnd - 1; j >= head; --j) {
        const QString key = itemKey(before[j]);
        const auto it = first.find(key);
        if (it == first.end()) {
            first.insert(key, j);
        } else {
            next[j - head] = *it;
            *it = j;
        }
    }
    for (qsizetype i = head; i < afterEnd; ++i) {
        const auto it = first.find(itemKey(after[i]));
        if (it == first.end() || *it < 0)
            continue;
        plan[i].from = *it;
        *it = next[*it - head];
    }
}

// The reused items of plan[head, end) that keep their order stay; the rest move. The longest
// run in order (patience sorting) is kept, so one task dropped elsewhere is one move.
void markMoves(QList<MenuItemPlan>& plan, qsizetype head, qsizetype end) {
    QList<qsizetype> tails; // per run length, the plan index ending the run with the lowest item
    QList<qsizetype> previous(end - head, -1);
    for (qsizetype i = head; i < end; ++i) {
        const qsizetype from = plan[i].from;
        if (from < 0)
            continue;
        const qsizetype length = std::lower_bound(tails.cbegin(), tails.cend(), from,
                                                  [&](qsizetype t, qsizetype v) { return plan[t].from < v; }) -
                                 tails.cbegin();
        if (length > 0)
            previous[i - head] = tails[length - 1];
        if (length == tails.size())
            tails.append(i);
        else
            tails[length] = i;
    }
    QList<bool> stays(end - head, false);
    for (qsizetype i = tails.isEmpty() ? -1 : tails.last(); i >= 0; i = previous[i - head])
        stays[i - head] = true;
    for (qsizetype i = head; i < end; ++i)
        plan[i].moves = plan[i].from >= 0 && !stays[i - head];
}

} // namespace

QList<MenuItemPlan> planMenuItems(const QList<MenuEntry>& before, const QList<MenuEntry>& after) {
    QList<MenuItemPlan> plan(after.size());
    const qsizetype nb = before.size(), na = after.size();
    // A tick or an edit keeps every item in place; only what lies between the common head and
    // tail is matched by key.
    qsizetype head = 0;
    while (head < nb && head < na && sameItem(before[head], after[head])) {
        plan[head].from = head;
        ++head;
    }
    qsizetype tail = 0;
    while (tail < nb - head && tail < na - head && sameItem(before[nb - 1 - tail], after[na - 1 - tail])) {
        plan[na - 1 - tail].from = nb - 1 - tail;
        ++tail;
    }
    matchMiddle(before, after, head, tail, plan);
    markMoves(plan, head, na - tail);
    for (qsizetype i = 0; i < na; ++i)
        plan[i].changes = plan[i].from < 0 || !(before[plan[i].from] == after[i]);
    return plan;
}

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
    // Exactly the room needed: the menu keeps this list as what it shows.
    menu.reserve(state.displayRows(false).size() + 16);

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
