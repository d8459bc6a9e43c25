// The tray menu as a user meets it: what its items, their shortcuts and the icon's clicks do,
// it stays put while open, emoji are drawn in colour, and a refresh that changes nothing costs
// nothing.
#include "tests/support/AppHarness.h"
#include "menu/MenuStyle.h"
#include "note/NotePanel.h"
#include "menu/StatusMenu.h"
#include "support/Theme.h"

#include <QJsonDocument>
#include <QSystemTrayIcon>
#include <QtTest>

using Kind = MenuEntry::Kind;
using Action = MenuEntry::Action;

namespace {

QByteArray feedJson(const QByteArray& updated, const QString& more = {}) {
    return listFeed(rowsJson(rowsFrom("#🛒 购物,a=牛奶@🛒 购物" + more)), updated);
}

// The item that runs `action`, in the menu or its list switcher.
QAction* itemFor(QMenu* menu, Action action) {
    const QList<QAction*> items = menu->actions() + menuItems(menu, Kind::Title).value(0)->menu()->actions();
    return *std::find_if(items.begin(), items.end(), [&](QAction* a) { return menuItemAction(a) == action; });
}

// The inbox messages the relay got, as "action id".
QStringList messages(const TestHttpServer& server) {
    QStringList out;
    for (const TestHttpServer::Request& request : server.requests) {
        const QJsonObject message = QJsonDocument::fromJson(request.body).object();
        if (request.method == "POST")
            out << message.value("action").toString() + ' ' + message.value("id").toString();
    }
    return out;
}

// Entries in a shorthand: "-" a separator, "#S" a header, "a" the task with id and text a,
// "a*" done, "a=t" with text t, "~t" a task without id, "@r" the refresh command.
QList<MenuEntry> entriesFrom(const QString& shorthand) {
    QList<MenuEntry> out;
    for (QString token : shorthand.split(u' ', Qt::SkipEmptyParts)) {
        MenuEntry e;
        if (token == u"-") {
            e.kind = Kind::Separator;
        } else if (token.startsWith(u'#')) {
            e.kind = Kind::Header;
            e.text = token.mid(1);
        } else if (token.startsWith(u'@')) {
            e.kind = Kind::Command;
            e.action = Action::Refresh;
        } else {
            e.kind = Kind::Task;
            e.done = token.endsWith(u'*');
            token.remove(u'*');
            if (token.startsWith(u'~'))
                e.text = token.mid(1);
            else
                e.id = token.section(u'=', 0, 0);
            if (e.id)
                e.text = token.contains(u'=') ? token.section(u'=', 1) : *e.id;
        }
        out << e;
    }
    return out;
}

} // namespace

class TestMenu : public QObject {
    Q_OBJECT

private slots:
    void planFollowsTheChange_data();
    void planFollowsTheChange();
    void init();
    void commands_data();
    void commands();
    void ticks_data();
    void ticks();
    void trayClicks_data();
    void trayClicks();
    void openMenuStaysWhileARefreshLands();
    void emojiDrawnInColour();
    void unchangedRefreshRebuildsNothing();
    void dropMovesItsItem();

private:
    QMenu* menu() { return h->menu(); }
    void refreshWith(const QByteArray& feed);

    std::optional<AppHarness> h;
    AppDelegate* delegate = nullptr;
};

// Per new entry: the earlier item that shows it ("^" moved, "*" shown anew) or "+" a new one;
// earlier items nobody takes are removed.
void TestMenu::planFollowsTheChange_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("plan");
    QTest::newRow("unchanged") << "- #S a b - @r" << "- #S a b - @r" << "0 1 2 3 4 5";
    QTest::newRow("tick") << "- #S a b c - @r" << "- #S a b* c - @r" << "0 1 2 *3 4 5 6";
    QTest::newRow("edit") << "- #S a b - @r" << "- #S a b=new - @r" << "0 1 2 *3 4 5";
    QTest::newRow("add") << "- #S a b - @r" << "- #S a b #其他 n - @r" << "0 1 2 3 + + 4 5";
    QTest::newRow("gone") << "- #S a b c - @r" << "- #S a c - @r" << "0 1 2 4 5 6";
    QTest::newRow("drop down") << "#S a b c #T d" << "#S b c #T a d" << "0 2 3 4 ^1 5";
    QTest::newRow("drop up, ticked") << "#S a b #T c d" << "#S d* a b #T c" << "0 ^*5 1 2 3 4";
    QTest::newRow("list switch") << "- #S a b - @r" << "- #T x - @r" << "0 + + 4 5";
    QTest::newRow("same text twice") << "~x ~x - @r" << "~x - @r" << "0 2 3";
    QTest::newRow("warning line") << "- #⚠️1 - @r" << "- #⚠️2 - @r" << "0 + 2 3";
}

void TestMenu::planFollowsTheChange() {
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QString, plan);
    QStringList shown;
    for (const MenuItemPlan& item : planMenuItems(entriesFrom(before), entriesFrom(after))) {
        shown << (item.from < 0 ? QStringLiteral("+")
                                : QString(item.moves ? "^" : "") + (item.changes ? "*" : "") +
                                      QString::number(item.from));
        QVERIFY(item.from >= 0 || !item.moves);
    }
    QCOMPARE(shown.join(u' '), plan);
}

void TestMenu::init() {
    h.emplace(); // the previous test's app is gone first
    delegate = &h->app();
    refreshWith(feedJson("12-06 08:30"));
}

void TestMenu::refreshWith(const QByteArray& feed) {
    h->feed = feed;
    QSignalSpy handled(&delegate->feedSync(), &FeedSync::answerHandled);
    delegate->refresh();
    QVERIFY(handled.wait());
    QCoreApplication::processEvents();
}

// Each command does what it names and nothing else: the list switch through the write path,
// the rest through the app. Chosen with the pointer, or with its shortcut while the menu (or
// its list switcher) is open, which closes the menu first.
void TestMenu::commands_data() {
    QTest::addColumn<Action>("action");
    QTest::addColumn<int>("key"); // 0: the item is clicked
    QTest::addColumn<bool>("inSwitcher");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("阿蓁 TODO") << Action::UseMine << 0 << false << "list mine";
    QTest::newRow("晴川子 TODO") << Action::UseHers << 0 << false << "list hers";
    QTest::newRow("便签（悬浮窗）") << Action::ToggleNote << 0 << false << "note shown";
    QTest::newRow("刷新") << Action::Refresh << 0 << false << "fetch";
    QTest::newRow("检查更新…") << Action::CheckUpdate << 0 << false << "manual update check";
    QTest::newRow("开机启动") << Action::ToggleAutostart << 0 << false << "starts at login";
    QTest::newRow("退出") << Action::Quit << 0 << false << "quit";
    QTest::newRow("Ctrl+N") << Action::None << int(Qt::Key_N) << false << "note shown";
    QTest::newRow("Ctrl+R") << Action::None << int(Qt::Key_R) << false << "fetch";
    QTest::newRow("Ctrl+R in the list switcher") << Action::None << int(Qt::Key_R) << true << "fetch";
}

void TestMenu::commands() {
    QFETCH(Action, action);
    QFETCH(int, key);
    QFETCH(bool, inSwitcher);
    QFETCH(QString, outcome);
    QStringList seen;
    QObject scope;
    const ListStore& state = delegate->listStore();
    connect(&delegate->listActions(), &ListActions::changed, &scope, [&] { seen << "list " + state.choice(); });
    connect(&delegate->feedSync(), &FeedSync::fetchStarted, &scope, [&] { seen << "fetch"; });
    connect(delegate, &AppDelegate::updateCheckRequested, &scope,
            [&](bool manual) { seen << (manual ? "manual update check" : "silent update check"); });
    connect(&delegate->menuController(), &MenuController::quitRequested, &scope, [&] { seen << "quit"; });
    if (key == 0) {
        itemFor(menu(), action)->trigger();
    } else {
        QMenu* open = menu();
        open->popup(QPoint(40, 40));
        QMenu* target = inSwitcher ? menuItems(open, Kind::Title).value(0)->menu() : open;
        target->popup(QPoint(200, 40));
        QTest::keyClick(target, Qt::Key(key), Qt::ControlModifier);
        QVERIFY(!open->isVisible() && !target->isVisible());
    }
    if (delegate->note().panel() && delegate->note().panel()->isVisible())
        seen << "note shown";
    if (delegate->autostart().isEnabled())
        seen << "starts at login";
    QCOMPARE(seen, QStringList{outcome});
}

// A tick flips the task from the state its item showed, through the write path, with the one
// message it calls for: none for a pending task, and nothing at all for a task without an id.
void TestMenu::ticks_data() {
    QTest::addColumn<QString>("task");
    QTest::addColumn<bool>("shownDone");
    QTest::addColumn<bool>("doneAfter");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("open") << "牛奶" << false << true << QStringList{"done a"};
    QTest::newRow("done") << "牛奶" << true << false << QStringList{"undone a"};
    QTest::newRow("pending") << "新的" << false << true << QStringList{};
    QTest::newRow("pending, done") << "新的" << true << false << QStringList{};
    QTest::newRow("without an id") << "无号" << false << false << QStringList{};
}

void TestMenu::ticks() {
    QFETCH(QString, task);
    QFETCH(bool, shownDone);
    QFETCH(bool, doneAfter);
    QFETCH(QStringList, sent);
    ListStore& state = delegate->listStore();
    state.addPending(::task("pending-1", "新的", {}, false));
    state.addPending(::task({}, "无号", {}, false));
    state.setDone(QStringLiteral("a"), shownDone);
    state.setDone(QStringLiteral("pending-1"), shownDone);
    delegate->rebuildMenu();
    const auto item = [&] {
        const QList<QAction*> tasks = menuItems(menu(), Kind::Task);
        return *std::find_if(tasks.begin(), tasks.end(), [&](QAction* a) { return a->text() == task; });
    };
    QCOMPARE(taskItemTag(item()), shownDone ? 1 : 0);
    item()->trigger();
    QVERIFY(!state.localDone().contains(QString()));
    QTRY_COMPARE(taskItemTag(item()), doneAfter ? 1 : 0);
    // A message sent after the tick marks the point by which the tick's own has arrived.
    delegate->listActions().toggle(QStringLiteral("z"), false);
    QTRY_VERIFY(messages(h->server).contains("done z"));
    QCOMPARE(messages(h->server), sent << "done z");
}

// Linux trays report a left click as Trigger and open nothing themselves; a right click opens
// the tray's own context menu, so no click opens it a second time.
void TestMenu::trayClicks_data() {
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("opens");
#ifndef Q_OS_MACOS // the menu bar opens it on every click
    QTest::newRow("left click") << QSystemTrayIcon::Trigger << true;
#endif
    QTest::newRow("right click") << QSystemTrayIcon::Context << false;
    QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << false;
}

void TestMenu::trayClicks() {
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, opens);
    delegate->statusItem().create(trayIcon(ICON_B64()));
    QMenu* shown = menu();
    emit delegate->statusItem().trayIcon()->activated(reason);
    QCOMPARE(shown->isVisible(), opens);
    shown->hide();
}

// The menu is a snapshot while the user reads and points at it; what arrives meanwhile
// shows the moment it closes, in the same menu.
void TestMenu::openMenuStaysWhileARefreshLands() {
    QMenu* open = menu();
    open->popup(QPoint(40, 40));
    const QAction* pointedAt = menuItems(open, Kind::Task).value(0);
    refreshWith(feedJson("12-06 09:00", ",b=面包@🛒 购物"));
    QVERIFY(open->isVisible());
    QCOMPARE(menuItems(open, Kind::Task), QList<QAction*>{const_cast<QAction*>(pointedAt)});
    open->hide();
    QTRY_COMPARE(menuItems(menu(), Kind::Task).size(), 2);
    QCOMPARE(menu(), open);
    QCOMPARE(menuItems(open, Kind::Title).value(0)->text(), QStringLiteral("Mine\u300012-06 09:00"));
}

// "🛒" must come from a colour emoji font, not a grey missing-glyph box or a monochrome
// outline: the header line has clearly coloured pixels.
void TestMenu::emojiDrawnInColour() {
    QMenu* shown = menu();
    shown->adjustSize();
    const QImage image = shown->grab().toImage();
    const QList<QAction*> headers = menuItems(shown, Kind::Header);
    QCOMPARE(headers.value(1)->text(), QStringLiteral("🛒 购物"));
    const QRect line = shown->actionGeometry(headers[1]);
    int coloured = 0;
    for (int y = line.top(); y <= line.bottom(); ++y) {
        for (int x = line.left(); x <= line.right(); ++x) {
            // Grey text and a grey box have equal channels; the emoji's blues and reds do not.
            const QColor c = image.pixelColor(x, y);
            const int chroma = std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()});
            coloured += chroma > 24 ? 1 : 0;
        }
    }
    QVERIFY2(coloured >= 12, qPrintable(QString::number(coloured)));
}

// A feed that changes only its time, to an empty one, is one rebuild: the title then ends in
// the separator alone.
void TestMenu::unchangedRefreshRebuildsNothing() {
    QCOMPARE(delegate->statusItem().rebuildCount(), 1);
    refreshWith(h->feed);
    refreshWith(h->feed);
    QCOMPARE(delegate->statusItem().rebuildCount(), 1);
    refreshWith(feedJson(""));
    QCOMPARE(delegate->statusItem().rebuildCount(), 2);
    QCOMPARE(menuItems(menu(), Kind::Title).value(0)->text(), QStringLiteral("Mine\u3000"));
}

// A drop moves the task's own item; the others stay as they were.
void TestMenu::dropMovesItsItem() {
    refreshWith(feedJson("12-06 08:30", ",b=面包@🛒 购物,c=鸡蛋@🛒 购物"));
    const QList<QAction*> before = menuItems(menu(), Kind::Task);
    const QString cat = QStringLiteral("🛒 购物");
    delegate->listActions().reorder({{"c", cat}, {"a", cat}, {"b", cat}});
    const QList<QAction*> after = menuItems(menu(), Kind::Task);
    QCOMPARE(after, (QList<QAction*>{before.value(2), before.value(0), before.value(1)}));
    QStringList texts;
    for (const QAction* item : after)
        texts << item->text();
    QCOMPARE(texts, (QStringList{"鸡蛋", "牛奶", "面包"}));
}

QTEST_MAIN(TestMenu)
#include "test_menu.moc"
