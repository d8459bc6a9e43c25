#include "StatusMenu.h"

#include "Checkbox.h"
#include "Constants.h"
#include "MenuStyle.h"
#include "TextRules.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>

namespace {

constexpr const char* kTagProperty = "velloaTag";

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

MenuStyle* sharedStyle() {
    // One style for every menu; it wraps the application style and lives as long as the app.
    static MenuStyle* style = [] {
        auto* s = new MenuStyle();
        s->setParent(qApp);
        return s;
    }();
    return style;
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
            sub->setStyle(sharedStyle());
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
        if (entry.action != MenuEntry::Action::None) {
            const MenuEntry::Action what = entry.action;
            QObject::connect(action, &QAction::triggered, menu, [act, what, action] { act(what, action); });
        }
    }
}

} // namespace

DrawnMenu* buildStatusMenu(const QList<MenuEntry>& entries, const MenuActionHandler& act, QWidget* parent) {
    auto* menu = new DrawnMenu(parent);
    menu->setStyle(sharedStyle());
    addEntries(menu, entries, act);
    return menu;
}

QVariant taskItemId(const QAction* action) {
    return action->data();
}

int taskItemTag(const QAction* action) {
    return action->property(kTagProperty).toInt();
}
