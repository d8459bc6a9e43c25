#pragma once

#include "model/ListStore.h"

#include <QList>
#include <QString>
#include <optional>

// What the tray menu shows, as plain data: built from the list state alone, so its order,
// texts and states are tested without a menu widget. StatusMenu turns it into a QMenu.
struct MenuEntry {
    enum class Kind { Title, Switch, Header, Task, Separator, Command };
    enum class Action {
        None, UseMine, UseHers, ToggleItem, ToggleNote, Refresh, CheckUpdate, ToggleAutostart, Quit
    };

    Kind kind = Kind::Separator;
    QString text;
    // Title: the feed's "updated" text, shown small after an ideographic space whenever a
    // feed is there, even when the text is empty.
    std::optional<QString> updated;
    std::optional<QString> id; // task: the id its tick acts on
    bool done = false;         // task: shown ticked (the "tag" the tick reads)
    bool enabled = true;
    bool checkable = false;    // switcher items, "开机启动"
    bool checked = false;
    Action action = Action::None;
    QChar key;                 // key equivalent, used with the platform's command modifier
    QList<MenuEntry> submenu;  // title: the list switcher

    // Written out: Qt cannot derive equality for a list of the type being defined.
    bool operator==(const MenuEntry& other) const;
};

// Changes not delivered yet, for the warning area: how many wait (shown only once one has
// waited over a minute; 0 otherwise) and how many the relay refused since it last took one.
struct DeliveryNotice {
    qsizetype unsent = 0;
    qsizetype refused = 0;
};

// `startsAtLogin`: whether "开机启动" is shown checked (read from the autostart file).
QList<MenuEntry> buildMenuEntries(const ListStore& state, const std::optional<QString>& lastError,
                                  const QString& appVersion, bool startsAtLogin = false,
                                  const DeliveryNotice& delivery = {});

// How the items of a menu showing `before` come to show `after`, entry by entry of `after`:
// which earlier item shows it (an equal entry, or the same task, header or command in another
// text or state), whether that item must be shown anew, and whether it has to be taken out and
// put back here (items that keep their order stay where they are, so a drop moves one item).
// Items of `before` that no entry takes are removed; entries without one get a new item.
struct MenuItemPlan {
    qsizetype from = -1; // index in `before`, -1 for a new item
    bool changes = true; // new, or its entry differs from the one it showed
    bool moves = false;  // reused, but out of its old order
};
QList<MenuItemPlan> planMenuItems(const QList<MenuEntry>& before, const QList<MenuEntry>& after);

// The list part of the menu (between its first two separators) as plain text lines: headers
// and notices as they stand, tasks as "[x] text" or "[ ] text".
QStringList menuListLines(const QList<MenuEntry>& entries);
