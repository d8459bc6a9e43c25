#include "StatusMenu.h"

#include "Checkbox.h"
#include "Theme.h"
#include "MenuStyle.h"
#include "TextRules.h"

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

QAction* addDrawn(DrawnMenu* menu, const QString& text, MenuStyle::Kind kind, const QFont& font) {
    auto* action = new QAction(text, menu);
    action->setFont(font);
    action->setProperty(MenuStyle::kKindProperty, int(kind));
    menu->drawnTexts.insert(text);
    menu->addAction(action);
    return action;
}

void addEntries(DrawnMenu* menu, const QList<MenuEntry>& entries, const MenuActionHandler& act) {
    for (const MenuEntry& entry : entries) {
        QAction* action = nullptr;
        switch (entry.kind) {
        case MenuEntry::Kind::Separator:
            menu->addSeparator();
            continue;
        case MenuEntry::Kind::Title: {
            QString text = escaped(entry.text);
            if (!entry.updated.isEmpty())
                text += QStringLiteral("\u3000") + escaped(entry.updated);
            action = addDrawn(menu, text, MenuStyle::Title, systemFont(15, QFont::Bold));
            action->setProperty(MenuStyle::kUpdatedProperty, escaped(entry.updated));
            auto* sub = new DrawnMenu(menu);
            sub->setStyle(sharedMenuStyle());
            addEntries(sub, entry.submenu, act);
            action->setMenu(sub);
            break;
        }
        case MenuEntry::Kind::Header:
            action = addDrawn(menu, escaped(entry.text), MenuStyle::Header, systemFont(11, QFont::DemiBold));
            break;
        case MenuEntry::Kind::Task: {
            QFont font = systemFont(13);
            const QString wrapped = wrapToWidth(entry.text, MENU_TEXT_W, font);
            font.setStrikeOut(entry.done);
            action = addDrawn(menu, escaped(wrapped), MenuStyle::Task, font);
            action->setIcon(checkboxIcon(entry.done));
            action->setProperty(MenuStyle::kDoneProperty, entry.done);
            action->setData(entry.id ? QVariant(*entry.id) : QVariant());
            action->setProperty(kTagProperty, entry.done ? 1 : 0);
            break;
        }
        case MenuEntry::Kind::Switch:
        case MenuEntry::Kind::Command:
            action = menu->addAction(escaped(entry.text));
            if (entry.kind == MenuEntry::Kind::Switch) {
                action->setCheckable(true);
                action->setChecked(entry.checked);
            }
            if (!entry.key.isNull()) {
                // Ctrl is Command on macOS: Qt maps it to the platform's menu modifier.
                action->setShortcut(QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key(entry.key.toUpper().unicode()))));
                action->setShortcutVisibleInContextMenu(true);
            }
            break;
        }
        action->setEnabled(entry.enabled);
        action->setProperty(kActionProperty, int(entry.action));
        action->setProperty(kEntryKindProperty, int(entry.kind));
        if (entry.action != MenuEntry::Action::None) {
            const MenuEntry::Action what = entry.action;
            QObject::connect(action, &QAction::triggered, menu, [act, what, action] { act(what, action); });
        }
    }
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
    menu->clear();
    menu->drawnTexts.clear();
    // The list switcher of the previous content is a child menu of its own.
    qDeleteAll(menu->findChildren<DrawnMenu*>(Qt::FindDirectChildrenOnly));
    addEntries(menu, entries, act);
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
