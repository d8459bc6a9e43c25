// The whole app offscreen: its launch, its settings, and the tray menu as a user meets it (what
// its items, their shortcuts and the icon's clicks do, it stays put while open, emoji are drawn
// in colour, and a refresh that changes nothing costs nothing).
#include "menu/MenuStyle.h"
#include "menu/StatusMenu.h"
#include "note/NotePanel.h"
#include "note/NoteRow.h"
#include "note/NoteViews.h"
#include "support/Theme.h"
#include "tests/support/AppHarness.h"

#include <QJsonDocument>
#include <QSystemTrayIcon>
#include <QtTest>

using Kind = MenuEntry::Kind;
using Action = MenuEntry::Action;

namespace {

QByteArray feedJson() {
    return listFeed(rowsJson(rowsFrom(QStringLiteral("#S,a=T & J\tx@S,b*@S"))), "12-06 08:30");
}

QString firstHeader(QMenu* menu) {
    const QList<QAction*> headers = menuItems(menu, Kind::Header);
    return headers.size() > 1 ? headers[1]->text() : QString(); // [0] is the version line
}

// The panel's settings as stored (an invalid QVariant: absent), and as read.
struct Stored {
    QVariant pinned, height, pos;
    bool expectPinned;
    double expectHeight;
    QString expectPos;
};

QByteArray shopFeed(const QByteArray& updated, const QString& more = {}) {
    return listFeed(rowsJson(rowsFrom("#🛒 购物,a=牛奶@🛒 购物" + more)), updated);
}

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

struct CommandsCase { Action action; int key /* 0: the item is clicked */; bool inSwitcher; QString outcome; };
struct TicksCase { QString task; bool shownDone, doneAfter; QStringList sent; };
} // namespace

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void init() {
        h.emplace(); // the previous test's app is gone first
        h->feed = feedJson();
    }

    // The steps happen in their order: tray and a menu for "mine" before the dialog asks, the
    // choice before the first fetch, then the panel, then the timers.
    void launchSequence() {
        AppDelegate* delegate = &h->app();
        QStringList steps;
        const auto panelShown = [&] { return delegate->note().panel() && delegate->note().panel()->isVisible(); };
        connect(&delegate->feedSync(), &FeedSync::fetchStarted, this, [&] { steps << (panelShown() ? "fetch, note shown" : "fetch"); });
        h->clock.onRequest = [&](const QString& request) {
            steps << request + (panelShown() ? ", note shown" : "");
        };
        h->question.answer = ListStore::kHers;
        h->question.onAsk = [&] {
            steps << "dialog";
            QVERIFY(delegate->statusItem().trayIcon());
            // Already built, for "mine", with no feed: the fallback title and the all-done line.
            QMenu* menu = h->menu();
            QCOMPARE(menuItems(menu, Kind::Title).value(0)->text(), QStringLiteral("阿蓁的 To-do"));
            QCOMPARE(firstHeader(menu), QStringLiteral("（今天没有待办，全清啦 🎉）"));
        };
        delegate->applicationDidFinishLaunching();

        QCOMPARE(steps, (QStringList{"dialog", "fetch", "every 30000, note shown", "once 4000, note shown",
                                     "every 21600000, note shown"}));
        QCOMPARE(delegate->listStore().choice(), ListStore::kHers);
        QVERIFY(!delegate->statusItem().trayIcon()->icon().isNull());
        QCOMPARE(menuItems(h->menu(), Kind::Title).value(0)->text(), QStringLiteral("晴川子的 To-do"));
        QVERIFY(h->server.waitForRequests(1));
        QCOMPARE(h->server.requests[0].path, QByteArray("/data.json"));
        QTRY_COMPARE(menuItems(h->menu(), Kind::Title).value(0)->text(),
                     QStringLiteral("Hers\u300012-06 08:30"));
    }

    // Moving the clock runs the refresh every 30 s and the silent update checks at +4 s and 6 h.
    void timersRefreshAndCheck() {
        AppDelegate* delegate = &h->app();
        QSignalSpy fetches(&delegate->feedSync(), &FeedSync::fetchStarted);
        QSignalSpy checks(delegate, &AppDelegate::updateCheckRequested);
        delegate->applicationDidFinishLaunching();
        QCOMPARE(fetches.size(), 1);
        h->clock.advance(std::chrono::milliseconds(3999));
        QCOMPARE(checks.size(), 0);
        h->clock.advance(std::chrono::milliseconds(1));
        QCOMPARE(checks.size(), 1);
        QCOMPARE(checks[0][0].toBool(), false);
        QCOMPARE(fetches.size(), 1);
        h->clock.advance(std::chrono::seconds(26));
        QCOMPARE(fetches.size(), 2);
        h->clock.advance(std::chrono::seconds(60));
        QCOMPARE(fetches.size(), 4);
        h->clock.advance(std::chrono::hours(6));
        QCOMPARE(checks.size(), 2);
    }

    void menuWidgets() {
        AppDelegate* delegate = &h->app();
        ListStore& state = delegate->listStore();
        state.applyFeed(*decodePayload(feedJson()).payload);
        state.addPending(task("pending-1", QString(40, QChar(0x5B57)), {}, false));
        state.toggleCollapse(QStringLiteral("S")); // the menu still lists it
        delegate->rebuildMenu();
        QMenu* menu = h->menu();

        const QList<QAction*> headers = menuItems(menu, Kind::Header);
        QCOMPARE(headers[0]->text(), QStringLiteral("维洛清单 v2.13"));
        QVERIFY(!headers[0]->isEnabled() && !headers[1]->isEnabled());
        const QList<QAction*> tasks = menuItems(menu, Kind::Task);
        QCOMPARE(tasks.size(), 3);
        // "&" is doubled so QMenu shows it instead of reading a mnemonic; the tab stays.
        QCOMPARE(tasks[0]->text(), QStringLiteral("T && J\tx"));
        QVERIFY(tasks[0]->isEnabled());
        QCOMPARE(taskItemTag(tasks[1]), 1);
        QVERIFY(tasks[1]->font().strikeOut() && !tasks[0]->font().strikeOut());

        QStringList commands, keys;
        for (QAction* a : menuItems(menu, Kind::Command)) {
            commands << a->text();
            keys << a->shortcut().toString();
        }
        QCOMPARE(commands, (QStringList{"便签（悬浮窗）", "刷新", "检查更新…", "开机启动", "退出"}));
        QCOMPARE(keys, (QStringList{"Ctrl+N", "Ctrl+R", "", "", "Ctrl+Q"}));

        QMenu* switcher = menuItems(menu, Kind::Title).value(0)->menu();
        QCOMPARE(switcher->actions().size(), 2);
        QVERIFY(switcher->actions()[0]->isChecked() && !switcher->actions()[1]->isChecked());

        // The 40-character pending task is wrapped onto several lines, and the style makes the
        // item tall enough for all of them.
        QAction* longTask = tasks[2];
        QVERIFY2(longTask->text().count(QLatin1Char('\n')) >= 2, qPrintable(longTask->text()));
        menu->adjustSize();
        const int lines = int(longTask->text().count(QLatin1Char('\n'))) + 1;
        QVERIFY(menu->actionGeometry(longTask).height() >= lines * menu->actionGeometry(tasks[1]).height() * 3 / 4);
        for (const QString& line : longTask->text().split(QLatin1Char('\n')))
            QVERIFY(QFontMetricsF(longTask->font()).horizontalAdvance(line) <= MENU_TEXT_W);
    }

    void failedRefreshReplacesTheList() {
        AppDelegate* delegate = &h->app();
        delegate->listStore().applyFeed(*decodePayload(feedJson()).payload);
        h->server.handler = [](const TestHttpServer::Request&) {
            return TestHttpServer::Answer{200, {}, {}, 0, true};
        };
        QSignalSpy failed(&delegate->feedSync(), &FeedSync::refreshFailed);
        delegate->refresh();
        QVERIFY(failed.wait());
        QTRY_COMPARE(firstHeader(h->menu()), QStringLiteral("⚠️ Connection closed"));
        QVERIFY(menuItems(h->menu(), Kind::Task).isEmpty());
        QCOMPARE(menuItems(h->menu(), Kind::Header).size(), 2);
        QCOMPARE(menuItems(h->menu(), Kind::Command).size(), 5);
    }

    // "开机启动" shows what the autostart file says after every choice, also when it could not be
    // written (Qt's own flip of the check mark must not stay).
    void startAtLoginFromTheMenu() {
        AppDelegate* delegate = &h->app();
        delegate->rebuildMenu();
        const auto item = [&] { return menuItems(h->menu(), Kind::Command).value(3); };
        QVERIFY(menuItemAction(item()) == Action::ToggleAutostart && !item()->isChecked());
        const QString file = delegate->autostart().filePath();
        item()->trigger();
        QVERIFY(QFile::exists(file));
        QTRY_VERIFY(item()->isChecked());
        // Turned off by the desktop's settings: the menu says so the moment it opens.
        QFile entry(file);
        QVERIFY(entry.open(QIODevice::Append) && entry.write("X-GNOME-Autostart-enabled=false\n") > 0);
        entry.close();
        emit delegate->statusItem().menu()->aboutToShow();
        QVERIFY(!menuItems(delegate->statusItem().menu(), Kind::Command).value(3)->isChecked());
        item()->trigger();
        QTRY_VERIFY(item()->isChecked());
        item()->trigger();
        QVERIFY(!QFile::exists(file));
        QTRY_VERIFY(!item()->isChecked());

        QVERIFY(QFile(h->dir.filePath(QStringLiteral("plain"))).open(QIODevice::WriteOnly));
        delegate->autostart() = Autostart(Autostart::Kind::XdgAutostart, h->dir.filePath(QStringLiteral("plain/sub")), {});
        item()->trigger(); // its folder cannot be made under a file
        QCoreApplication::processEvents();
        QVERIFY(!item()->isChecked());
    }

    void trayIconAndFallback() {
        // 36 device pixels at ratio 2: 18 x 18 points, for the artwork and the emoji stand-in.
        const QImage artwork = trayIcon(ICON_B64()).pixmap(QSize(18, 18), 2.0).toImage();
        const QImage fallback = trayIcon("%%% not base64").pixmap(QSize(18, 18), 2.0).toImage();
        QCOMPARE(fallback.size(), QSize(36, 36));
        QImage blank(fallback.size(), fallback.format());
        blank.fill(Qt::transparent);
        QVERIFY2(fallback != blank && fallback != artwork, "the emoji is drawn instead");
    }

    void settings_data() {
        QTest::addColumn<Stored>("s");
        const QVariant absent;
        QTest::newRow("nothing stored") << Stored{absent, absent, absent, false, 480.0, {}};
        QTest::newRow("typed values") << Stored{true, 360.0, "100,200", true, 360.0, "100,200"};
        QTest::newRow("below the minimum") << Stored{false, 250.0, absent, false, 480.0, {}};
        QTest::newRow("exactly the minimum") << Stored{false, NOTE_MIN_H, absent, false, NOTE_MIN_H, {}};
        QTest::newRow("strings as INI returns them")
            << Stored{"true", "512.5", absent, true, 512.5, {}};
        QTest::newRow("corrupt values read as absent") << Stored{"abc", "abc", 42, false, 480.0, {}};
    }

    void settings() {
        QFETCH(Stored, s);
        for (const auto& [key, value] :
             {std::pair{"notePinned", s.pinned}, {"noteH", s.height}, {"notePos", s.pos}}) {
            if (value.isValid())
                h->store.setValue(QLatin1String(key), value);
        }
        const Settings read(h->store);
        QCOMPARE(read.notePinned(), s.expectPinned);
        QCOMPARE(read.noteHeight(), s.expectHeight);
        QCOMPARE(read.notePos().value_or(QString()), s.expectPos);
        QCOMPARE(h->app().notePinned(), s.expectPinned);
    }

private slots:
    // Each command does what it names and nothing else: the list switch through the write path,
    // the rest through the app. Chosen with the pointer, or with its shortcut while the menu (or
    // its list switcher) is open, which closes the menu first.
    void commands_data() {
        QTest::addColumn<CommandsCase>("c");
        QTest::newRow("阿蓁 TODO") << CommandsCase{Action::UseMine, 0, false, "list mine"};
        QTest::newRow("晴川子 TODO") << CommandsCase{Action::UseHers, 0, false, "list hers"};
        QTest::newRow("便签（悬浮窗）") << CommandsCase{Action::ToggleNote, 0, false, "note shown"};
        QTest::newRow("刷新") << CommandsCase{Action::Refresh, 0, false, "fetch"};
        QTest::newRow("检查更新…") << CommandsCase{Action::CheckUpdate, 0, false, "manual update check"};
        QTest::newRow("开机启动") << CommandsCase{Action::ToggleAutostart, 0, false, "starts at login"};
        QTest::newRow("退出") << CommandsCase{Action::Quit, 0, false, "quit"};
        QTest::newRow("Ctrl+N") << CommandsCase{Action::None, int(Qt::Key_N), false, "note shown"};
        QTest::newRow("Ctrl+R") << CommandsCase{Action::None, int(Qt::Key_R), false, "fetch"};
        QTest::newRow("Ctrl+R in the list switcher") << CommandsCase{Action::None, int(Qt::Key_R), true, "fetch"};
    }

    void commands() {
        QFETCH(CommandsCase, c);
        startMenu();
        QStringList seen;
        QObject scope;
        const ListStore& state = delegate->listStore();
        connect(&delegate->listActions(), &ListActions::changed, &scope, [&] { seen << "list " + state.choice(); });
        connect(&delegate->feedSync(), &FeedSync::fetchStarted, &scope, [&] { seen << "fetch"; });
        connect(delegate, &AppDelegate::updateCheckRequested, &scope,
                [&](bool manual) { seen << (manual ? "manual update check" : "silent update check"); });
        connect(&delegate->menuController(), &MenuController::quitRequested, &scope, [&] { seen << "quit"; });
        if (c.key == 0) {
            itemFor(menu(), c.action)->trigger();
        } else {
            QMenu* open = menu();
            open->popup(QPoint(40, 40));
            QMenu* target = c.inSwitcher ? menuItems(open, Kind::Title).value(0)->menu() : open;
            target->popup(QPoint(200, 40));
            QTest::keyClick(target, Qt::Key(c.key), Qt::ControlModifier);
            QVERIFY(!open->isVisible() && !target->isVisible());
        }
        if (delegate->note().panel() && delegate->note().panel()->isVisible())
            seen << "note shown";
        if (delegate->autostart().isEnabled())
            seen << "starts at login";
        QCOMPARE(seen, QStringList{c.outcome});
    }

    // A tick flips the task from the state its item showed, through the write path, with the one
    // message it calls for: none for a pending task, and nothing at all for a task without an id.
    void ticks_data() {
        QTest::addColumn<TicksCase>("c");
        QTest::newRow("open") << TicksCase{"牛奶", false, true, QStringList{"done a"}};
        QTest::newRow("done") << TicksCase{"牛奶", true, false, QStringList{"undone a"}};
        QTest::newRow("pending") << TicksCase{"新的", false, true, QStringList{}};
        QTest::newRow("pending, done") << TicksCase{"新的", true, false, QStringList{}};
        QTest::newRow("without an id") << TicksCase{"无号", false, false, QStringList{}};
    }

    void ticks() {
        QFETCH(TicksCase, c);
        startMenu();
        ListStore& state = delegate->listStore();
        state.addPending(::task("pending-1", "新的", {}, false));
        state.addPending(::task({}, "无号", {}, false));
        state.setDone(QStringLiteral("a"), c.shownDone);
        state.setDone(QStringLiteral("pending-1"), c.shownDone);
        delegate->rebuildMenu();
        const auto item = [&] {
            const QList<QAction*> tasks = menuItems(menu(), Kind::Task);
            return *std::find_if(tasks.begin(), tasks.end(), [&](QAction* a) { return a->text() == c.task; });
        };
        QCOMPARE(taskItemTag(item()), c.shownDone ? 1 : 0);
        item()->trigger();
        QVERIFY(!state.localDone().contains(QString()));
        QTRY_COMPARE(taskItemTag(item()), c.doneAfter ? 1 : 0);
        // A message sent after the tick marks the point by which the tick's own has arrived.
        delegate->listActions().toggle(QStringLiteral("z"), false);
        QTRY_VERIFY(messages(h->server).contains("done z"));
        QCOMPARE(messages(h->server), c.sent << "done z");
    }

    // Linux trays report a left click as Trigger and open nothing themselves; a right click opens
    // the tray's own context menu, so no click opens it a second time.
    void trayClicks_data() {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<bool>("opens");
    #ifndef Q_OS_MACOS // the menu bar opens it on every click
        QTest::newRow("left click") << QSystemTrayIcon::Trigger << true;
    #endif
        QTest::newRow("right click") << QSystemTrayIcon::Context << false;
        QTest::newRow("double click") << QSystemTrayIcon::DoubleClick << false;
    }

    void trayClicks() {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(bool, opens);
        startMenu();
        delegate->statusItem().create(trayIcon(ICON_B64()));
        QMenu* shown = menu();
        emit delegate->statusItem().trayIcon()->activated(reason);
        QCOMPARE(shown->isVisible(), opens);
        shown->hide();
    }

    // The menu is a snapshot while the user reads and points at it; what arrives meanwhile
    // shows the moment it closes, in the same menu.
    void openMenuStaysWhileARefreshLands() {
        startMenu();
        QMenu* open = menu();
        open->popup(QPoint(40, 40));
        const QAction* pointedAt = menuItems(open, Kind::Task).value(0);
        refreshWith(shopFeed("12-06 09:00", ",b=面包@🛒 购物"));
        QVERIFY(open->isVisible());
        QCOMPARE(menuItems(open, Kind::Task), QList<QAction*>{const_cast<QAction*>(pointedAt)});
        open->hide();
        QTRY_COMPARE(menuItems(menu(), Kind::Task).size(), 2);
        QCOMPARE(menu(), open);
        QCOMPARE(menuItems(open, Kind::Title).value(0)->text(), QStringLiteral("Mine\u300012-06 09:00"));
    }

    // "🛒" must come from a colour emoji font, not a grey missing-glyph box or a monochrome
    // outline: the header line has clearly coloured pixels.
    void emojiDrawnInColour() {
        startMenu();
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
    void unchangedRefreshRebuildsNothing() {
        startMenu();
        QCOMPARE(delegate->statusItem().rebuildCount(), 1);
        refreshWith(h->feed);
        refreshWith(h->feed);
        QCOMPARE(delegate->statusItem().rebuildCount(), 1);
        refreshWith(shopFeed(""));
        QCOMPARE(delegate->statusItem().rebuildCount(), 2);
        QCOMPARE(menuItems(menu(), Kind::Title).value(0)->text(), QStringLiteral("Mine\u3000"));
    }

    // Per new entry: the earlier item that shows it ("^" moved, "*" shown anew) or "+" a new
    // one; earlier items nobody takes are removed.
    void planFollowsTheChange_data() {
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
    void planFollowsTheChange() {
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

    // A drop moves the task's own item; the others stay as they were.
    void dropMovesItsItem() {
        delegate = &h->app();
        refreshWith(shopFeed("12-06 08:30", ",b=面包@🛒 购物,c=鸡蛋@🛒 购物"));
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

private:
    QMenu* menu() { return h->menu(); }
    void refreshWith(const QByteArray& feed);
    // The menu's tests run the app on a feed of one section, "🛒 购物".
    void startMenu() {
        delegate = &h->app();
        refreshWith(shopFeed("12-06 08:30"));
    }

    std::optional<AppHarness> h;
    AppDelegate* delegate = nullptr;
};

void TestApp::refreshWith(const QByteArray& feed) {
    h->feed = feed;
    QSignalSpy handled(&delegate->feedSync(), &FeedSync::answerHandled);
    delegate->refresh();
    QVERIFY(handled.wait());
    QCoreApplication::processEvents();
}

QTEST_MAIN(TestApp)
#include "test_app.moc"
