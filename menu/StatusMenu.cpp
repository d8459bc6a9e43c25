#include "menu/StatusMenu.h"

#include "support/Checkbox.h"
#include "menu/MenuStyle.h"
#include "support/TextRules.h"
#include "support/Theme.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>

namespace {

// QMenu reads "&" as a mnemonic marker; doubling it shows the character as typed.
QString escaped(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return out;
}

// Sizes are device-independent pixels, the unit of MENU_TEXT_W, so wrapping and drawing agree
// on every screen.
QFont systemFont(int size, QFont::Weight weight = QFont::Normal) {
    QFont font = QApplication::font("QMenu");
    font.setPixelSize(size);
    font.setWeight(weight);
    return font;
}

struct Fonts {
    QFont title = systemFont(15, QFont::Bold);
    QFont header = systemFont(11, QFont::DemiBold);
    QFont task = systemFont(13);
    QFont taskDone = [] {
        QFont f = systemFont(13);
        f.setStrikeOut(true);
        return f;
    }();
};

// Sets a text the style draws itself; its size is measured when the menu first asks for it.
void setDrawn(DrawnMenu* menu, MenuItem* action, const QString& text, MenuStyle::Kind kind,
              const QFont& font) {
    action->setText(text);
    action->setFont(font);
    action->drawnKind = kind;
    menu->willDraw(MenuStyle::sizeKey(text, font));
}

QString wrappedTask(const QString& text, const QFont& font) {
    // A text that needs neither a line break nor an escape is shown as the list holds it,
    // not as a copy of its own.
    const QString wrapped = escaped(wrapToWidth(text, MENU_TEXT_W, font));
    return wrapped == text ? text : wrapped;
}

void fill(DrawnMenu* menu, const QList<MenuEntry>& entries, const MenuActionHandler& act);

// Clears what `action` may carry from the entry it showed before.
void reset(MenuItem* action, const MenuEntry& entry) {
    action->setSeparator(entry.kind == MenuEntry::Kind::Separator);
    action->drawnKind = 0;
    action->updated.reset();
    action->done = false;
    action->setData(QVariant());
    action->setIcon(QIcon());
    action->setFont(QFont());
    action->setCheckable(false);
    action->setShortcut(QKeySequence());
    if (entry.kind != MenuEntry::Kind::Title && action->menu()) {
        delete action->menu();
        action->setMenu(nullptr);
    }
}

// The list's title, with its submenu (the lists to switch to and the commands).
void applyTitle(DrawnMenu* menu, const Fonts& fonts, MenuItem* action,
                const MenuEntry& entry, const MenuActionHandler& act) {
    QString text = escaped(entry.text);
    if (entry.updated) {
        text += QStringLiteral("\u3000") + escaped(*entry.updated);
        action->updated = escaped(*entry.updated);
    }
    setDrawn(menu, action, text, MenuStyle::Title, fonts.title);
    auto* sub = qobject_cast<DrawnMenu*>(action->menu());
    if (!sub) {
        sub = new DrawnMenu(menu);
        sub->setStyle(sharedMenuStyle());
        action->setMenu(sub);
    }
    fill(sub, entry.submenu, act);
}

// `previous`: the entry the item showed, if any. A tick keeps the text as it was wrapped.
void applyTask(DrawnMenu* menu, const Fonts& fonts, MenuItem* action, const MenuEntry& entry,
               const MenuEntry* previous) {
    const QFont& font = entry.done ? fonts.taskDone : fonts.task;
    const bool sameText = previous && previous->kind == MenuEntry::Kind::Task && previous->text == entry.text;
    setDrawn(menu, action, sameText ? action->text() : wrappedTask(entry.text, fonts.task), MenuStyle::Task, font);
    action->setIcon(checkboxIcon(entry.done));
    action->done = entry.done;
    action->setData(entry.id ? QVariant(*entry.id) : QVariant());
}

void applyCommand(MenuItem* action, const MenuEntry& entry) {
    action->setText(escaped(entry.text));
    action->setCheckable(entry.checkable);
    action->setChecked(entry.checked);
    if (!entry.key.isNull()) {
        // Ctrl is Command on macOS: Qt maps it to the platform's menu modifier.
        action->setShortcut(
            QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key(entry.key.toUpper().unicode()))));
        action->setShortcutVisibleInContextMenu(true);
    }
}

// Makes `action` show `entry`, whatever it showed before (`previous`; none for a new item).
void apply(DrawnMenu* menu, const Fonts& fonts, MenuItem* action, const MenuEntry& entry,
           const MenuActionHandler& act, const MenuEntry* previous) {
    if (previous)
        reset(action, entry);
    else if (entry.kind == MenuEntry::Kind::Separator)
        action->setSeparator(true);
    switch (entry.kind) {
    case MenuEntry::Kind::Separator:
        action->setText(QString());
        break;
    case MenuEntry::Kind::Title:
        applyTitle(menu, fonts, action, entry, act);
        break;
    case MenuEntry::Kind::Header:
        setDrawn(menu, action, escaped(entry.text), MenuStyle::Header, fonts.header);
        break;
    case MenuEntry::Kind::Task:
        applyTask(menu, fonts, action, entry, previous);
        break;
    case MenuEntry::Kind::Switch:
    case MenuEntry::Kind::Command:
        applyCommand(action, entry);
        break;
    }
    action->setEnabled(entry.enabled);
    action->entryAction = entry.action;
    action->entryKind = entry.kind;
}

// Brings the menu's items up to date in place (planMenuItems): an item whose entry is
// unchanged is left alone, a changed one shown anew, and items are added, removed or moved
// only where entries came, went or moved, so a tick or an edit touches one item.
void fill(DrawnMenu* menu, const QList<MenuEntry>& entries, const MenuActionHandler& act) {
    menu->setHandler(act);
    const Fonts fonts;
    const QList<MenuItemPlan> plan = planMenuItems(menu->shown(), entries);
    const QList<QAction*> before = menu->actions();
    QList<bool> taken(before.size(), false);
    for (const MenuItemPlan& item : plan) {
        if (item.from >= 0)
            taken[item.from] = true;
    }
    for (qsizetype j = 0; j < before.size(); ++j) {
        if (!taken[j])
            delete before[j];
    }
    // From the last entry up, each new or moved item goes right before the one that follows
    // it, which is in its place already.
    QAction* following = nullptr;
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        const MenuItemPlan& item = plan[i];
        auto* action = item.from >= 0 ? static_cast<MenuItem*>(before[item.from]) : new MenuItem(menu);
        if (item.changes)
            apply(menu, fonts, action, entries[i], act, item.from < 0 ? nullptr : &menu->shown()[item.from]);
        if (item.from < 0 || item.moves)
            menu->insertAction(following, action);
        following = action;
    }
    menu->setShown(entries);
    menu->pruneMeasurements();
}

} // namespace

MenuStyle* sharedMenuStyle() {
    // It wraps the application style, so it is made once the application exists.
    static MenuStyle* style = [] {
        auto* s = new MenuStyle();
        s->setParent(qApp);
        return s;
    }();
    return style;
}

void fillStatusMenu(DrawnMenu* menu, const QList<MenuEntry>& entries, const MenuActionHandler& act) {
    fill(menu, entries, act);
}

QVariant taskItemId(const QAction* action) {
    return action->data();
}

int taskItemTag(const QAction* action) {
    const MenuItem* item = MenuItem::of(action);
    return item && item->done ? 1 : 0;
}

MenuEntry::Action menuItemAction(const QAction* action) {
    const MenuItem* item = MenuItem::of(action);
    return item ? item->entryAction : MenuEntry::Action::None;
}

MenuEntry::Kind menuItemKind(const QAction* action) {
    if (action->isSeparator())
        return MenuEntry::Kind::Separator;
    const MenuItem* item = MenuItem::of(action);
    return item ? item->entryKind : MenuEntry::Kind::Separator;
}
