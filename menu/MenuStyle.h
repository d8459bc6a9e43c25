#pragma once

#include <QMenu>
#include <QProxyStyle>
#include <QSet>

// A QMenu that knows which of its item texts it draws itself (the title, headers and tasks).
class DrawnMenu : public QMenu {
    Q_OBJECT

public:
    using QMenu::QMenu;
    QSet<QString> drawnTexts;
};

// QMenu draws one line of text per item in one colour. The tray menu needs several lines per
// task, grey struck-through done tasks, grey section headers and a title followed by the feed's
// time in a smaller, dimmer font, so this style draws those items itself and leaves every
// other item to the platform style.
class MenuStyle : public QProxyStyle {
    Q_OBJECT

public:
    static constexpr const char* kKindProperty = "velloaKind";
    static constexpr const char* kUpdatedProperty = "velloaUpdated";
    static constexpr const char* kDoneProperty = "velloaDone";
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
};
