// The note panel as a user meets it: drawn rows, the click rules, pin, grip and place, and the
// one write path shared with the menu. Offscreen, driven with QTest.
#include "AppHarness.h"
#include "NoteLayout.h"
#include "NotePanel.h"
#include "NoteRow.h"
#include "NoteViews.h"
#include "MenuStyle.h"
#include "StatusMenu.h"
#include "Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray feedJson(const QByteArray& extra = {}) {
    return R"({"updated":"12-06 08:30","mine_title":"Mine","mine":"","mine_rows":[
        {"kind":"header","text":"🛒 购物"},
        {"kind":"item","id":"a","text":"牛奶","cat":"🛒 购物"},
        {"kind":"item","id":"b","text":"面包","cat":"🛒 购物","done":true,"doneAt":"2026-12-06"},
        {"kind":"item","text":"no id","cat":"🛒 购物"})" + extra + R"(],
        "hers_title":"Hers","hers":"","hers_rows":[]})";
}

bool near(const QColor& c, const QColor& want, int tolerance = 12) {
    return std::abs(c.red() - want.red()) <= tolerance && std::abs(c.green() - want.green()) <= tolerance &&
           std::abs(c.blue() - want.blue()) <= tolerance;
}

// The colour at a point given as the rows are designed: y upwards from the row's bottom.
QColor at(const QImage& image, double x, double yUp) {
    return image.pixelColor(int(x), int(image.height() - yUp));
}

QImage drawn(NoteRow& row, double w, double h) {
    row.resize(int(w), int(h));
    QImage image(row.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    row.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

} // namespace

class TestNote : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void viewsPlacedForHeight_data();
    void viewsPlacedForHeight();
    void refreshBeforeThePanelExistsDoesNothing();
    void rowsDrawn_data();
    void rowsDrawn();
    void doneTextIsStruckThrough();
    void clickRules();
    void unchangedRefreshKeepsRowsAndScroll();
    void longListHasWidgetsOnlyWhereShown();
    void pinTwiceRestores();
    void gripResizesFromTheTop();
    void placeRememberedWhenOnAScreen_data();
    void placeRememberedWhenOnAScreen();
    void withoutTrayThePanelOffersTheMenu();
    void backgroundShowsPictureAndShadow();

private:
    void show(const QByteArray& feed = feedJson());
    NoteController& note() { return delegate->note(); }
    NoteRow* row(const QString& label) { return h->row(label); }

    std::unique_ptr<AppHarness> h;
    AppDelegate* delegate = nullptr;
    TestHttpServer* server = nullptr;
    QSettings* store = nullptr;
};

void TestNote::init() {
    h = std::make_unique<AppHarness>();
    server = &h->server;
    store = &h->store;
}

void TestNote::cleanup() {
    h.reset();
    delegate = nullptr;
}

void TestNote::show(const QByteArray& feed) {
    delegate = &h->app();
    delegate->listState().payload = decodePayload(feed).payload;
    delegate->showNote();
    QVERIFY(note().panel() && note().panel()->isVisible());
}

void TestNote::viewsPlacedForHeight_data() {
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("height");
    QTest::newRow("nothing stored") << QVariant() << 480;
    QTest::newRow("299.5 is too low") << QVariant(299.5) << 480;
    QTest::newRow("300") << QVariant(300.0) << 300;
    QTest::newRow("2000") << QVariant(2000.0) << 2000;
}

void TestNote::viewsPlacedForHeight() {
    QFETCH(QVariant, stored);
    QFETCH(int, height);
    if (stored.isValid())
        store->setValue("noteH", stored);
    show();
    NotePanel* panel = note().panel();
    QCOMPARE(panel->size(), QSize(300, height));
    const FlipY flip{double(height)};
    const NoteFrames f = noteFrames(height);
    QCOMPARE(QRectF(panel->scroll->geometry()), flip.rect(f.scroll));
    QCOMPARE(QRectF(panel->input->geometry()), flip.rect(f.pill));
    QCOMPARE(QRectF(panel->closeButton->geometry()), flip.rect(f.close));
    QCOMPARE(QRectF(panel->resizeHandle->geometry()), flip.rect(f.resizeHandle));
    // The rows stack from the top, 238 wide; the document is never shorter than the list area.
    QCOMPARE(note().rows().view(0)->geometry(), QRect(0, 0, 238, 56));
    QCOMPARE(note().rows().view(1)->y(), 63);
    QVERIFY(panel->stack->height() >= panel->scroll->viewport()->height());
}

void TestNote::refreshBeforeThePanelExistsDoesNothing() {
    delegate = &h->app();
    delegate->refreshNote();
    delegate->listActions().toggleCollapse(QStringLiteral("x"));
    QVERIFY(!note().panel());
    QCOMPARE(note().rows().rebuildCount(), 0);
}

// Probes drawn over black, where the translucent fills show as these greys and colours.
void TestNote::rowsDrawn_data() {
    QTest::addColumn<bool>("isHeader");
    QTest::addColumn<bool>("flag"); // header: collapsed; task: done
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("dragPad");
    QTest::addColumn<QPointF>("probe"); // y upwards from the row's bottom
    QTest::addColumn<QColor>("expected");
    const QColor card(16, 23, 42);     // C_VL_CAT_FILL
    const QColor stroke(143, 146, 155); // the chevron's white at 0.55 over the card
    QTest::newRow("done: green checkbox") << false << true << 40.0 << 0.0 << QPointF(28 - 5, 20 + 4) << C_ACCENT;
    QTest::newRow("done: white tick") << false << true << 40.0 << 0.0 << QPointF(28 - 1.2, 20 - 2.6) << QColor(Qt::white);
    QTest::newRow("open: faint checkbox") << false << false << 40.0 << 0.0 << QPointF(28 - 4, 20 + 4) << QColor(53, 53, 53);
    QTest::newRow("lifted card") << false << false << 48.0 << 12.0 << QPointF(150, 30) << C_VL_DRAG_FILL;
    QTest::newRow("header card") << true << false << 56.0 << 0.0 << QPointF(100, 4) << card;
    QTest::newRow("expanded chevron: left arm high") << true << false << 56.0 << 0.0 << QPointF(214.8, 30.2) << stroke;
    QTest::newRow("collapsed chevron: no left arm") << true << true << 56.0 << 0.0 << QPointF(214.8, 30.2) << card;
    QTest::newRow("collapsed chevron: back end high") << true << true << 56.0 << 0.0 << QPointF(216.6, 32.3) << stroke;
    QTest::newRow("expanded chevron: no back end") << true << false << 56.0 << 0.0 << QPointF(216.6, 32.3) << card;
    QTest::newRow("emblem ring at 56") << true << false << 56.0 << 0.0 << QPointF(176, 34.3) << QColor(51, 51, 53);
    QTest::newRow("no emblem at 26") << true << false << 26.0 << 0.0 << QPointF(182, 13) << card;
}

void TestNote::rowsDrawn() {
    QFETCH(bool, isHeader);
    QFETCH(bool, flag);
    QFETCH(double, height);
    QFETCH(double, dragPad);
    QFETCH(QPointF, probe);
    QFETCH(QColor, expected);
    NoteRowData data;
    data.isHeader = isHeader;
    data.label = QStringLiteral("任务");
    data.subText = countLine(2, 1);
    data.itemId = QStringLiteral("a");
    (isHeader ? data.collapsed : data.isDone) = flag;
    NoteRow row(data);
    row.setDragPad(dragPad);
    const QImage image = drawn(row, 238, height);
    const QColor c = at(image, probe.x(), probe.y());
    QVERIFY2(near(c, expected), qPrintable(QStringLiteral("%1,%2,%3").arg(c.red()).arg(c.green()).arg(c.blue())));
}

// Only the strike-out draws a long horizontal line through text made of vertical strokes.
void TestNote::doneTextIsStruckThrough() {
    const auto longestRun = [](bool done) {
        NoteRowData data;
        data.label = QStringLiteral("| | | | | | | |");
        data.itemId = QStringLiteral("a");
        data.isDone = done;
        NoteRow row(data);
        const QImage image = drawn(row, 238, 40);
        int longest = 0;
        for (int y = 5; y < 35; ++y) {
            int run = 0;
            for (int x = 60; x < 180; ++x) {
                run = image.pixelColor(x, y).lightness() > 55 ? run + 1 : 0;
                longest = std::max(longest, run);
            }
        }
        return longest;
    };
    QVERIFY2(longestRun(true) >= 30, qPrintable(QString::number(longestRun(true))));
    QVERIFY2(longestRun(false) < 10, qPrintable(QString::number(longestRun(false))));
}

void TestNote::clickRules() {
    show();
    // A header toggles its section; the count line stays.
    NoteRow* header = row(QStringLiteral("购物"));
    QVERIFY(header);
    QTest::mouseClick(header, Qt::LeftButton, {}, QPoint(100, 20));
    QVERIFY(delegate->listState().collapsedCats.contains(QStringLiteral("🛒 购物")));
    QTRY_COMPARE(note().rows().count(), 1);
    QTest::mouseClick(note().rows().view(0), Qt::LeftButton, {}, QPoint(100, 20));
    QTRY_COMPARE(note().rows().count(), 4);

    // A task ticks through the one write path: overlay, message, the menu too.
    QTest::mouseClick(row(QStringLiteral("牛奶")), Qt::LeftButton, {}, QPoint(30, 15));
    QCOMPARE(delegate->listState().localDone.value(QStringLiteral("a")), true);
    QVERIFY(server->waitForRequests(1));
    const QJsonObject sent = QJsonDocument::fromJson(server->requests[0].body).object();
    QCOMPARE(sent.value("id").toString(), QStringLiteral("a"));
    QCOMPARE(sent.value("action").toString(), QStringLiteral("done"));
    QTRY_VERIFY(row(QStringLiteral("牛奶")) && row(QStringLiteral("牛奶"))->data().isDone);

    // The handle zone starts a drag instead; a task without an id ignores clicks.
    NoteRow* bread = row(QStringLiteral("面包"));
    QTest::mousePress(bread, Qt::LeftButton, {}, QPoint(bread->width() - 26, 15));
    QVERIFY(bread->isDragging());
    QTest::mouseRelease(bread, Qt::LeftButton, {}, QPoint(bread->width() - 26, 15));
    QVERIFY(!bread->isDragging());
    QTest::mouseClick(row(QStringLiteral("no id")), Qt::LeftButton, {}, QPoint(30, 15));
    QCOMPARE(delegate->listState().localDone.size(), 1);

    // A pending task toggles in the handle zone too, and sends nothing.
    delegate->listActions().add(QStringLiteral("新的"));
    QTRY_VERIFY(row(QStringLiteral("新的")));
    NoteRow* pending = row(QStringLiteral("新的"));
    QTest::mouseClick(pending, Qt::LeftButton, {}, QPoint(pending->width() - 5, 15));
    QVERIFY(!pending->isDragging());
    QCOMPARE(delegate->listState().localDone.value(pending->itemId()), true);
    // The press and release on "面包" was a whole drag (a reorder); the add went out too.
    QTRY_COMPARE(h->posted(QStringLiteral("add")).size(), 1);
    QTRY_COMPARE(h->posted(QStringLiteral("reorder")).size(), 1);
}

// A refresh that changes nothing visible leaves the rows, the hover and the scroll alone.
void TestNote::unchangedRefreshKeepsRowsAndScroll() {
    QByteArray many;
    for (int i = 0; i < 30; ++i)
        many += QStringLiteral(R"(,{"kind":"item","id":"x%1","text":"任务 %1","cat":"🛒 购物"})").arg(i).toUtf8();
    show(feedJson(many));
    const int built = note().rows().rebuildCount();
    QScrollBar* bar = note().panel()->scroll->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    bar->setValue(bar->maximum() / 2);
    const int scrolled = bar->value();
    const QList<NoteRow*> before = note().rows().views();
    delegate->listState().applyFeed(*decodePayload(feedJson(many)).payload);
    delegate->refreshNote();
    QCOMPARE(note().rows().views(), before);
    QCOMPARE(note().rows().rebuildCount(), built);
    QCOMPARE(bar->value(), scrolled);
    delegate->listActions().toggle(QStringLiteral("x3"), false);
    QTRY_COMPARE(note().rows().rebuildCount(), built + 1);
}

// 2,000 tasks: widgets only for the rows near the visible part, handed on as the list scrolls;
// what they show, where, and what a click on one does follow the row, not the widget.
void TestNote::longListHasWidgetsOnlyWhereShown() {
    QByteArray many;
    for (int i = 0; i < 2000; ++i)
        many += QStringLiteral(R"(,{"kind":"item","id":"x%1","text":"任务 %1","cat":"🛒 购物"})").arg(i).toUtf8();
    show(feedJson(many));
    NotePanel* panel = note().panel();
    const auto widgets = [&] { return panel->stack->findChildren<NoteRow*>().size(); };
    QCOMPARE(note().rows().count(), 2004);
    QVERIFY2(widgets() <= 20, qPrintable(QString::number(widgets())));
    QScrollBar* bar = panel->scroll->verticalScrollBar();
    bar->setValue(bar->maximum());
    const qsizetype last = note().rows().count() - 1;
    NoteRow* lastRow = note().rows().view(last);
    QVERIFY(lastRow && lastRow->isVisible());
    QCOMPARE(lastRow->label(), QStringLiteral("任务 1999"));
    QCOMPARE(lastRow->y(), int(note().rows().target(last)));
    const int shownAt = lastRow->mapTo(panel->scroll->viewport(), QPoint(0, 0)).y();
    QVERIFY(shownAt > 0 && shownAt + lastRow->height() <= panel->scroll->viewport()->height());
    QVERIFY2(widgets() <= 20, qPrintable(QString::number(widgets())));

    // A click where a row reached by scrolling is shown ticks that row's task.
    const qsizetype target = h->rowIndex(QStringLiteral("任务 1993"));
    const QPoint inViewport(40, int(note().rows().target(target)) - bar->value() + 15);
    QVERIFY(inViewport.y() > 0 && inViewport.y() < panel->scroll->viewport()->height());
    QTest::mouseClick(panel->windowHandle(), Qt::LeftButton, {},
                      panel->scroll->viewport()->mapTo(panel, inViewport));
    QTRY_COMPARE(h->posted(QStringLiteral("done")).size(), 1);
    QCOMPARE(h->posted(QStringLiteral("done"))[0].value("id").toString(), QStringLiteral("x1993"));

    // The row being edited keeps its widget and editor while the list scrolls far away.
    note().editing().begin(row(QStringLiteral("任务 1997")));
    bar->setValue(0);
    QVERIFY(note().editing().editingRow() && note().editing().editingRow()->editField());
    QCOMPARE(note().editing().editingRow()->label(), QStringLiteral("任务 1997"));
    QCOMPARE(note().rows().view(0)->label(), QStringLiteral("购物"));
    QTest::keyClick(note().editing().editingRow()->editField(), Qt::Key_Escape);
    QVERIFY(!note().editing().editingRow());
    bar->setValue(0); // the focus leaving the editor may have scrolled back to it
    QVERIFY(!note().rows().view(h->rowIndex(QStringLiteral("任务 1997"))));
    QVERIFY2(widgets() <= 21, qPrintable(QString::number(widgets())));
}

void TestNote::pinTwiceRestores() {
    show();
    NotePanel* panel = note().panel();
    const QPoint where = panel->pos();
    QVERIFY(!panel->isPinned());
    QCOMPARE(panel->pinButton->glyph(), NoteGlyph::Pin);
    panel->pinButton->click();
    QVERIFY(panel->isPinned() && panel->isVisible());
    QCOMPARE(panel->pinButton->glyph(), NoteGlyph::PinFill);
    QCOMPARE(panel->pinButton->tint(), C_VL_GOLD);
    QCOMPARE(store->value("notePinned").toBool(), true);
    QCOMPARE(panel->pos(), where);
    panel->pinButton->click();
    QVERIFY(!panel->isPinned() && panel->isVisible());
    QCOMPARE(panel->pinButton->glyph(), NoteGlyph::Pin);
    QCOMPARE(store->value("notePinned").toBool(), false);
    QCOMPARE(panel->pos(), where);
}

void TestNote::gripResizesFromTheTop() {
    show();
    NotePanel* panel = note().panel();
    const QRect start = panel->geometry();
    ResizeHandle* grip = panel->resizeHandle;
    // The grip moves with the bottom edge; the pointer is where the press was, plus dy.
    const QPointF pressedAt = grip->mapToGlobal(QPointF(100, 9));
    const auto send = [&](QEvent::Type type, int dy) {
        const QPointF local(100, 9);
        const QPointF global = pressedAt + QPointF(0, dy);
        QMouseEvent event(type, local, local, global, Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, {});
        QApplication::sendEvent(grip, &event);
    };
    send(QEvent::MouseButtonPress, 0);
    send(QEvent::MouseMove, -1000); // far up: stops at the minimum
    QCOMPARE(panel->height(), 300);
    QCOMPARE(panel->y(), start.y());
    send(QEvent::MouseMove, 100);
    QCOMPARE(panel->height(), 580);
    const int screenH = panel->screen()->availableGeometry().height();
    send(QEvent::MouseMove, 100000); // far down: stops at the screen's height
    QCOMPARE(panel->height(), screenH);
    QCOMPARE(panel->y(), start.y());
    send(QEvent::MouseMove, 20);
    send(QEvent::MouseButtonRelease, 20);
    QCOMPARE(store->value("noteH").toDouble(), 500.0);
}

void TestNote::placeRememberedWhenOnAScreen_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("used");
    QTest::newRow("on the screen") << "{100, 80}" << true;
    QTest::newRow("off every screen") << "{-5000, 90000}" << false;
    QTest::newRow("unparsable") << "somewhere" << false;
}

void TestNote::placeRememberedWhenOnAScreen() {
    QFETCH(QString, stored);
    QFETCH(bool, used);
    store->setValue("notePos", stored);
    show();
    NotePanel* panel = note().panel();
    const QRect screen = panel->screen()->availableGeometry();
    const QPoint fallback(screen.right() + 1 - 300 - 20, screen.top() + 20);
    QCOMPARE(panel->pos(), used ? parseNotePos(stored)->toPoint() : fallback);
    // A move by the user is written once it ends, and used at the next showing.
    panel->move(140, 120);
    QTRY_COMPARE(store->value("notePos").toString(), QStringLiteral("{140, 120}"));
    note().hideNoteAction();
    QVERIFY(!panel->isVisible());
    panel->place(QPoint(0, 0));
    delegate->toggleNoteAction();
    QCOMPARE(panel->pos(), QPoint(140, 120));
}

// Offscreen there is no tray: the panel's header offers the tray menu with every command.
void TestNote::withoutTrayThePanelOffersTheMenu() {
    delegate = &h->app();
    delegate->applicationDidFinishLaunching();
    NotePanel* panel = note().panel();
    QVERIFY(panel->menuButton->isVisible());
    QVERIFY(panel->title->geometry().right() < panel->menuButton->geometry().left());
    panel->menuButton->click();
    QMenu* menu = delegate->statusItem().menu();
    QTRY_VERIFY(menu->isVisible());
    QSet<MenuEntry::Action> offered;
    for (QAction* action : menu->actions())
        offered.insert(menuItemAction(action));
    for (const auto wanted : {MenuEntry::Action::ToggleNote, MenuEntry::Action::Refresh,
                              MenuEntry::Action::CheckUpdate, MenuEntry::Action::Quit})
        QVERIFY(offered.contains(wanted));
    menu->hide();
}

// The card shows the picture through the dimming (a row across it is not one colour, which the
// vertical gradient alone would give), and a black shadow falls from it, stronger below than
// above since it is moved downwards.
void TestNote::backgroundShowsPictureAndShadow() {
    NoteBackground background;
    background.resize(324, 504);
    QImage image(background.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    background.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const QRectF card = FlipY{504}.rect(noteFrames(504).card);

    int darkest = 255, lightest = 0;
    const int y = int(card.center().y());
    for (int x = int(card.left()) + 16; x < int(card.right()) - 16; ++x) {
        const int grey = qGray(image.pixel(x, y));
        darkest = std::min(darkest, grey);
        lightest = std::max(lightest, grey);
    }
    QVERIFY2(lightest - darkest > 6, qPrintable(QStringLiteral("%1..%2").arg(darkest).arg(lightest)));

    const QRgb below = image.pixel(int(card.center().x()), int(card.bottom()) + 5);
    const QRgb above = image.pixel(int(card.center().x()), int(card.top()) - 5);
    QVERIFY2(qAlpha(below) > 40 && qAlpha(below) > qAlpha(above) + 10,
             qPrintable(QStringLiteral("below %1, above %2").arg(qAlpha(below)).arg(qAlpha(above))));
    QCOMPARE(qRed(below) + qGreen(below) + qBlue(below), 0);
}

QTEST_MAIN(TestNote)
#include "test_note.moc"
