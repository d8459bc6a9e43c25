#pragma once

#include "menu/MenuModel.h"

#include <QAction>
#include <QHash>
#include <QMenu>
#include <QProxyStyle>

#include <functional>

// A text the style draws itself, in the pixel size it is drawn at: the key of its measured
// size. The text is the item's own (shared, not copied).
struct DrawnText {
    QString text;
    int pixelSize = 0;

    bool operator==(const DrawnText&) const = default;
    friend size_t qHash(const DrawnText& key, size_t seed = 0) {
        return qHashMulti(seed, key.text, key.pixelSize);
    }
};

// An item of the tray menu, with what the menu and its style read about it as plain members:
// a menu of ten thousand tasks would otherwise pay for a handful of dynamic properties (a name
// and a value each) per item.
class MenuItem : public QAction {
    Q_OBJECT

public:
    using QAction::QAction;

    MenuEntry::Kind entryKind = MenuEntry::Kind::Separator;
    MenuEntry::Action entryAction = MenuEntry::Action::None;
    int drawnKind = 0;      // a MenuStyle::Kind for the texts the style draws, 0 otherwise
    bool done = false;      // a task shown ticked (what its tick reads)
    std::optional<QString> updated; // the title's small text, as shown

    static const MenuItem* of(const QAction* action) { return qobject_cast<const MenuItem*>(action); }
};

// A QMenu that knows which of its item texts it draws itself (the title, headers and tasks),
// and whose items' shortcuts work while it is open: a Qt popup takes every key press for its
// own navigation, so Ctrl+R would otherwise do nothing although the menu shows it.
class DrawnMenu : public QMenu {
    Q_OBJECT

public:
    using Handler = std::function<void(MenuEntry::Action, QAction*)>;

    explicit DrawnMenu(QWidget* parent = nullptr);

    // What the menu shows now.
    const QList<MenuEntry>& shown() const { return m_shown; }
    void setShown(const QList<MenuEntry>& entries) { m_shown = entries; }
    // What choosing one of its items calls (its own items only, not its submenu's).
    void setHandler(Handler handler) { m_handler = std::move(handler); }

    // The size of each text the style draws itself, computed when first asked and kept from
    // one fill to the next for the texts still shown, so a change of one task does not measure
    // the thousands of others again. `willDraw` names a text the style draws; `drawnSize` is
    // its slot (an invalid size until measured), null for a text the style leaves alone.
    void willDraw(const DrawnText& text) {
        if (!m_drawnSizes.contains(text))
            m_drawnSizes.insert(text, QSize());
    }
    QSize* drawnSize(const DrawnText& text) const;
    // Measurements of texts no longer shown go once they outnumber the items, not on every
    // change: a tick in a long list should not copy every measurement.
    void pruneMeasurements();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QList<MenuEntry> m_shown;
    Handler m_handler;
    mutable QHash<DrawnText, QSize> m_drawnSizes;
};

// QMenu draws one line of text per item in one colour. The tray menu needs several lines per
// task, grey struck-through done tasks, grey section headers and a title followed by the feed's
// time in a smaller, dimmer font, so this style draws those items itself and leaves every
// other item to the platform style.
class MenuStyle : public QProxyStyle {
    Q_OBJECT

public:
    enum Kind { Title = 1, Header, Task };

    using QProxyStyle::QProxyStyle;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;

    // Text flags for a menu text shown as typed: "&&" is a literal "&", tabs are spaces.
    static constexpr int kTextFlags = Qt::TextShowMnemonic | Qt::TextExpandTabs;
    static constexpr int kPadX = 6;
    static constexpr int kPadY = 3;

    // The key under which a drawn text's size is kept: the same text in another font size
    // (a header and a task may read alike) is another size.
    static DrawnText sizeKey(const QString& text, const QFont& font);
};
