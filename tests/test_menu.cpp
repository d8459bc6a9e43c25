// The tray menu as a user meets it: it stays put while open, its shortcuts work while open,
// emoji are drawn in colour, and a refresh that changes nothing costs nothing.
#include "AppHarness.h"
#include "MenuStyle.h"
#include "NotePanel.h"
#include "StatusMenu.h"

#include <QtTest>

using Kind = MenuEntry::Kind;

namespace {

QByteArray feedJson(const QByteArray& updated, const QByteArray& extraRows = {}) {
    return R"({"updated":")" + updated + R"(","mine_title":"Mine","mine":"","mine_rows":[
        {"kind":"header","text":"🛒 购物"},
        {"kind":"item","id":"a","text":"牛奶","cat":"🛒 购物"})" + extraRows + R"(],
        "hers_title":"Hers","hers":"","hers_rows":[]})";
}

} // namespace

class TestMenu : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openMenuStaysWhileARefreshLands();
    void shortcutsWorkWhileOpen_data();
    void shortcutsWorkWhileOpen();
    void emojiDrawnInColour();
    void unchangedRefreshRebuildsNothing();
    void titleShowsAnEmptyUpdated();

private:
    QMenu* menu() { return h->menu(); }
    void refreshWith(const QByteArray& feed);

    std::unique_ptr<AppHarness> h;
    AppDelegate* delegate = nullptr;
};

void TestMenu::init() {
    h = std::make_unique<AppHarness>();
    delegate = &h->app();
    refreshWith(feedJson("12-06 08:30"));
}

void TestMenu::cleanup() {
    h.reset();
}

void TestMenu::refreshWith(const QByteArray& feed) {
    h->feed = feed;
    QSignalSpy handled(&delegate->feedSync(), &FeedSync::answerHandled);
    delegate->refresh();
    QVERIFY(handled.wait());
    QCoreApplication::processEvents();
}

// The menu is a snapshot while the user reads and points at it; what arrives meanwhile
// shows the moment it closes, in the same menu.
void TestMenu::openMenuStaysWhileARefreshLands() {
    QMenu* open = menu();
    open->popup(QPoint(40, 40));
    QVERIFY(open->isVisible());
    const QAction* pointedAt = menuItems(open, Kind::Task).value(0);
    refreshWith(feedJson("12-06 09:00", R"(,{"kind":"item","id":"b","text":"面包","cat":"🛒 购物"})"));
    QVERIFY(open->isVisible());
    QCOMPARE(menuItems(open, Kind::Task), QList<QAction*>{const_cast<QAction*>(pointedAt)});
    open->hide();
    QTRY_COMPARE(menuItems(menu(), Kind::Task).size(), 2);
    QCOMPARE(menu(), open);
    QCOMPARE(menuItems(open, Kind::Title).value(0)->text(), QStringLiteral("Mine\u300012-06 09:00"));
}

void TestMenu::shortcutsWorkWhileOpen_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("inSwitcher");
    QTest::newRow("Ctrl+R refreshes") << int(Qt::Key_R) << false;
    QTest::newRow("Ctrl+N toggles the note") << int(Qt::Key_N) << false;
    QTest::newRow("Ctrl+R from the list switcher") << int(Qt::Key_R) << true;
}

void TestMenu::shortcutsWorkWhileOpen() {
    QFETCH(int, key);
    QFETCH(bool, inSwitcher);
    QMenu* open = menu();
    open->popup(QPoint(40, 40));
    QMenu* target = open;
    if (inSwitcher) {
        target = menuItems(open, Kind::Title).value(0)->menu();
        target->popup(QPoint(200, 40));
    }
    QSignalSpy fetches(&delegate->feedSync(), &FeedSync::fetchStarted);
    const auto noteShown = [&] { return delegate->note().panel() && delegate->note().panel()->isVisible(); };
    QVERIFY(!noteShown());
    const qsizetype requests = h->server.requests.size();
    QTest::keyClick(target, Qt::Key(key), Qt::ControlModifier);
    QVERIFY(!open->isVisible() && !target->isVisible());
    if (key == Qt::Key_R) {
        QCOMPARE(fetches.size(), 1);
        QVERIFY(h->server.waitForRequests(requests + 1));
        QCOMPARE(h->server.requests.last().method + ' ' + h->server.requests.last().path, QByteArray("GET /data.json"));
    } else {
        QVERIFY(noteShown());
        QCOMPARE(fetches.size(), 0);
    }
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

void TestMenu::unchangedRefreshRebuildsNothing() {
    const int built = delegate->statusItem().rebuildCount();
    QCOMPARE(built, 1);
    refreshWith(h->feed);
    refreshWith(h->feed);
    QCOMPARE(delegate->statusItem().rebuildCount(), built);
    refreshWith(feedJson("12-06 09:10"));
    QCOMPARE(delegate->statusItem().rebuildCount(), built + 1);
    // A local change is a change too.
    delegate->listActions().toggle(QStringLiteral("a"), false);
    QTRY_COMPARE(delegate->statusItem().rebuildCount(), built + 2);
}

void TestMenu::titleShowsAnEmptyUpdated() {
    refreshWith(feedJson(""));
    QCOMPARE(menuItems(menu(), Kind::Title).value(0)->text(), QStringLiteral("Mine\u3000"));
}

QTEST_MAIN(TestMenu)
#include "test_menu.moc"
