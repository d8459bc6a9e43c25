#include "menu/StatusMenu.h"

#include "support/Checkbox.h"
#include "menu/MenuStyle.h"
#include "support/TextRules.h"
#include "support/Theme.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>

namespace {

constexpr const char* kTagProperty = "velloaTag";
constexpr const char* kActionProperty = "velloaAction";
constexpr const char* kEntryKindProperty = "velloaEntryKind";

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

// The measurements of the previous fill that are still needed, and the new ones.
struct Measured {
    QHash<QString, QString> wrapped;
    QHash<QString, QSize> sizes;
};

void setDrawn(DrawnMenu* menu, Measured& next, QAction* action, const QString& text,
              MenuStyle::Kind kind, const QFont& font) {
    action->setText(text);
    action->setFont(font);
    action->setProperty(MenuStyle::kKindProperty, int(kind));
    const QString key = MenuStyle::sizeKey(text, font);
    next.sizes.insert(key, menu->drawnSizes.value(key));
}

QString wrappedTask(DrawnMenu* menu, Measured& next, const QString& text, const QFont& font) {
    auto known = menu->wrapped.constFind(text);
    const QString wrapped =
        known != menu->wrapped.constEnd() ? *known : escaped(wrapToWidth(text, MENU_TEXT_W, font));
    next.wrapped.insert(text, wrapped);
    return wrapped;
}

void fill(DrawnMenu* menu, const QList<MenuEntry>& entries, const MenuActionHandler& act);

// Clears what `action` may carry from the entry it showed before.
void reset(QAction* action, const MenuEntry& entry) {
    action->setSeparator(entry.kind == MenuEntry::Kind::Separator);
    action->setProperty(MenuStyle::kKindProperty, QVariant());
    action->setProperty(MenuStyle::kUpdatedProperty, QVariant());
    action->setProperty(MenuStyle::kDoneProperty, QVariant());
    action->setData(QVariant());
    action->setProperty(kTagProperty, QVariant());
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
void applyTitle(DrawnMenu* menu, Measured& next, const Fonts& fonts, QAction* action,
                const MenuEntry& entry, const MenuActionHandler& act) {
    QString text = escaped(entry.text);
    if (entry.updated) {
        text += QStringLiteral("\u3000") + escaped(*entry.updated);
        action->setProperty(MenuStyle::kUpdatedProperty, escaped(*entry.updated));
    }
    setDrawn(menu, next, action, text, MenuStyle::Title, fonts.title);
    auto* sub = qobject_cast<DrawnMenu*>(action->menu());
    if (!sub) {
        sub = new DrawnMenu(menu);
        sub->setStyle(sharedMenuStyle());
        action->setMenu(sub);
    }
    fill(sub, entry.submenu, act);
}

void applyTask(DrawnMenu* menu, Measured& next, const Fonts& fonts, QAction* action,
               const MenuEntry& entry) {
    const QFont& font = entry.done ? fonts.taskDone : fonts.task;
    setDrawn(menu, next, action, wrappedTask(menu, next, entry.text, fonts.task), MenuStyle::Task, font);
    action->setIcon(checkboxIcon(entry.done));
    action->setProperty(MenuStyle::kDoneProperty, entry.done);
    action->setData(entry.id ? QVariant(*entry.id) : QVariant());
    action->setProperty(kTagProperty, entry.done ? 1 : 0);
}

void applyCommand(QAction* action, const MenuEntry& entry) {
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

// Makes `action` show `entry`, whatever it showed before.
void apply(DrawnMenu* menu, Measured& next, const Fonts& fonts, QAction* action,
           const MenuEntry& entry, const MenuActionHandler& act) {
    reset(action, entry);
    switch (entry.kind) {
    case MenuEntry::Kind::Separator:
        action->setText(QString());
        break;
    case MenuEntry::Kind::Title:
        applyTitle(menu, next, fonts, action, entry, act);
        break;
    case MenuEntry::Kind::Header:
        setDrawn(menu, next, action, escaped(entry.text), MenuStyle::Header, fonts.header);
        break;
    case MenuEntry::Kind::Task:
        applyTask(menu, next, fonts, action, entry);
        break;
    case MenuEntry::Kind::Switch:
    case MenuEntry::Kind::Command:
        applyCommand(action, entry);
        break;
    }
    action->setEnabled(entry.enabled);
    action->setProperty(kActionProperty, int(entry.action));
    action->setProperty(kEntryKindProperty, int(entry.kind));
}

// Reuses the menu's items in place: an item whose entry is unchanged is left alone, so a
// change of one task touches one item.
void fill(DrawnMenu* menu, const QList<MenuEntry>& entries, const MenuActionHandler& act) {
    menu->handler = act;
    const Fonts fonts;
    Measured next;
    QList<QAction*> actions = menu->actions();
    const QList<MenuEntry>& before = menu->shown;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        QAction* action = i < actions.size() ? actions[i] : nullptr;
        if (!action) {
            action = new QAction(menu);
            QObject::connect(action, &QAction::triggered, menu, [menu, action] {
                // Qt flips a checkable item on its own; it shows what the entries say, so the
                // flip is undone and the rebuild that follows the command shows the outcome
                // (a rebuild that finds its entries unchanged would keep the flip).
                if (action->isCheckable())
                    action->setChecked(!action->isChecked());
                if (menu->handler && menuItemAction(action) != MenuEntry::Action::None)
                    menu->handler(menuItemAction(action), action);
            });
            menu->addAction(action);
        } else if (i < before.size() && before[i] == entries[i]) {
            // Unchanged: keep it, and what was measured for it.
            const QString text = action->text();
            const QString key = MenuStyle::sizeKey(text, action->font());
            if (menu->drawnSizes.contains(key))
                next.sizes.insert(key, menu->drawnSizes.value(key));
            if (entries[i].kind == MenuEntry::Kind::Task)
                next.wrapped.insert(entries[i].text, text);
            continue;
        }
        apply(menu, next, fonts, action, entries[i], act);
    }
    for (qsizetype i = entries.size(); i < actions.size(); ++i)
        delete actions[i];
    menu->shown = entries;
    menu->wrapped = std::move(next.wrapped);
    menu->drawnSizes = std::move(next.sizes);
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
    return action->property(kTagProperty).toInt();
}

MenuEntry::Action menuItemAction(const QAction* action) {
    return MenuEntry::Action(action->property(kActionProperty).toInt());
}

MenuEntry::Kind menuItemKind(const QAction* action) {
    if (action->isSeparator())
        return MenuEntry::Kind::Separator;
    return MenuEntry::Kind(action->property(kEntryKindProperty).toInt());
}
