// The note panel as a user meets it: drawn rows, the click rules, pin, grip and place, and the
// one write path shared with the menu. Offscreen, driven with QTest.
#include "tests/support/AppHarness.h"
#include "note/NoteLayout.h"
#include "note/NotePanel.h"
#include "note/NoteRow.h"
#include "note/NoteViews.h"
#include "menu/MenuStyle.h"
#include "menu/StatusMenu.h"
#include "support/Theme.h"

#include <QApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QPainterPath>
#include <QtTest>

namespace {

// Header "🛒 购物" with 牛奶 (a), 面包 (b, done today) and a task without an id, then `more`
// tasks x0, x1, ... "任务 N".
QByteArray feedJson(int more = 0) {
    QString rows = QStringLiteral("#🛒 购物,a=牛奶@🛒 购物,b*=面包@🛒 购物,=no id@🛒 购物");
    for (int i = 0; i < more; ++i)
        rows += QStringLiteral(",x%1=任务 %1@🛒 购物").arg(i);
    return listFeed(rowsJson(rowsFrom(rows)));
}

bool near(const QColor& c, const QColor& want, int tolerance = 12) {
    return std::abs(c.red() - want.red()) <= tolerance && std::abs(c.green() - want.green()) <= tolerance &&
           std::abs(c.blue() - want.blue()) <= tolerance;
}

// The part of `image` within the x range `columns` drawn in `colour`, clear of the card's
// edges: its extent, and how many pixels it has.
std::pair<QRect, int> drawnIn(const QImage& image, const QColor& colour, std::pair<int, int> columns) {
    QRect extent;
    int count = 0;
    for (int y = 3; y < image.height() - 3; ++y) {
        for (int x = columns.first; x < columns.second; ++x) {
            if (near(image.pixelColor(x, y), colour)) {
                extent |= QRect(x, y, 1, 1);
                ++count;
            }
        }
    }
    return {extent, count};
}

QImage drawn(NoteRow& row, double w, double h) {
    row.resize(int(w), int(h));
    QImage image(row.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    row.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

struct RowsDrawnCase {
    bool isHeader;
    bool flag; // header: collapsed; task: done
    double height, dragPad; QColor colour;
    int from; // the columns looked at
    int to;
    QString seen; // "none", "some", "wide" or "tall"
};
} // namespace

class TestNote : public QObject {
    Q_OBJECT

private slots:
    void init() {
        h.emplace(); // the previous test's app is gone first
    }

    // For any height the header band keeps its place at the top, the field its place at the
    // bottom, and the list takes all the height between them; the rows' document is never shorter
    // than the list. A stored height is the panel's.
    void listFillsBetweenHeaderAndField() {
        h->store.setValue("noteH", 2000.0);
        show();
        NotePanel* panel = note().panel();
        QCOMPARE(panel->size(), QSize(300, 2000));
        QList<int> first;
        for (const int height : {2000, 300, 517}) {
            panel->resize(300, height);
            const QRect list = panel->scroll()->geometry(), field = panel->input()->geometry();
            QVERIFY(panel->closeButton()->geometry().bottom() < list.top());
            QVERIFY(panel->title()->geometry().bottom() < list.top() && list.bottom() < field.top());
            QCOMPARE(panel->resizeHandle()->geometry().bottom(), height - 1);
            // Side by side, nothing overlaps: title, pin, close; the field, then its add button.
            QVERIFY(panel->title()->geometry().right() < panel->pinButton()->x());
            QVERIFY(panel->pinButton()->geometry().right() < panel->closeButton()->x());
            QVERIFY(field.right() < panel->addButton()->x());
            const QList<int> kept{panel->closeButton()->y(), panel->pinButton()->y(), panel->title()->y(), list.top(),
                                  height - list.height(), height - field.y(), height - panel->addButton()->y()};
            if (first.isEmpty())
                first = kept;
            QCOMPARE(kept, first);
            QVERIFY(panel->stack()->height() >= panel->scroll()->viewport()->height());
        }
    }

    void refreshBeforeThePanelExistsDoesNothing() {
        app()->refreshNote();
        app()->listActions().toggleCollapse(QStringLiteral("x"));
        QVERIFY(!note().panel());
        QCOMPARE(note().rows().rebuildCount(), 0);
    }

    // Drawn over black, where the translucent fills show as these greys and colours. A done task
    // shows a green box with a white tick left of its text, an open one a grey ring and no green;
    // only a lifted row is opaque; a header's chevron points down (wider than tall) when expanded
    // and right (taller than wide) when collapsed; an emblem shows in a header high enough for it.
    void rowsDrawn_data() {
        QTest::addColumn<RowsDrawnCase>("c");
        const QColor stroke(143, 146, 155); // the chevron's white at 0.55 over the card
        const QColor emblem(51, 51, 53);    // its faint gold over the card
        const int text = 46, chevron = 205, emblemFrom = 140, end = 238;
        QTest::newRow("done: green box") << RowsDrawnCase{false, true, 40, 0, C_ACCENT, 0, text, "some"};
        QTest::newRow("done: white tick") << RowsDrawnCase{false, true, 40, 0, Qt::white, 0, text, "some"};
        QTest::newRow("open: no green") << RowsDrawnCase{false, false, 40, 0, C_ACCENT, 0, end, "none"};
        QTest::newRow("open: grey ring") << RowsDrawnCase{false, false, 40, 0, QColor(158, 158, 158), 0, text, "some"};
        QTest::newRow("lifted: opaque card") << RowsDrawnCase{false, false, 48, 12, C_VL_DRAG_FILL, 0, end, "some"};
        QTest::newRow("resting: translucent card") << RowsDrawnCase{false, false, 48, 0, C_VL_DRAG_FILL, 0, end, "none"};
        QTest::newRow("header card") << RowsDrawnCase{true, false, 56, 0, QColor(16, 23, 42), 0, end, "some"};
        QTest::newRow("expanded: chevron down") << RowsDrawnCase{true, false, 56, 0, stroke, chevron, end, "wide"};
        QTest::newRow("collapsed: chevron right") << RowsDrawnCase{true, true, 56, 0, stroke, chevron, end, "tall"};
        QTest::newRow("emblem at 56") << RowsDrawnCase{true, false, 56, 0, emblem, emblemFrom, chevron, "some"};
        QTest::newRow("no emblem at 26") << RowsDrawnCase{true, false, 26, 0, emblem, emblemFrom, chevron, "none"};
    }

    void rowsDrawn() {
        QFETCH(RowsDrawnCase, c);
        NoteRowData data;
        data.isHeader = c.isHeader;
        data.label = QStringLiteral("任务");
        data.subText = countLine(2, 1);
        data.itemId = QStringLiteral("a");
        (c.isHeader ? data.collapsed : data.isDone) = c.flag;
        NoteRow row(data);
        row.setDragPad(c.dragPad);
        const auto [extent, count] = drawnIn(drawn(row, 238, c.height), c.colour, {c.from, c.to});
        const QString got = count == 0 ? "none" : c.seen == "some" ? "some" : extent.width() > extent.height() ? "wide" : "tall";
        QVERIFY2(got == c.seen, qPrintable(QStringLiteral("%1 pixels, %2 x %3").arg(count).arg(extent.width()).arg(extent.height())));
    }

    // Only the strike-out draws a long horizontal line through text made of vertical strokes.
    void doneTextIsStruckThrough() {
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

    void clickRules() {
        show();
        // A header toggles its section; the count line stays.
        QTest::mouseClick(row(QStringLiteral("购物")), Qt::LeftButton, {}, QPoint(100, 20));
        QVERIFY(app()->listStore().collapsedCats().contains(QStringLiteral("🛒 购物")));
        QTRY_COMPARE(note().rows().count(), 1);
        QTest::mouseClick(note().rows().view(0), Qt::LeftButton, {}, QPoint(100, 20));
        QTRY_COMPARE(note().rows().count(), 4);

        // A task ticks through the one write path: overlay, message, the menu too.
        QTest::mouseClick(row(QStringLiteral("牛奶")), Qt::LeftButton, {}, QPoint(30, 15));
        QCOMPARE(app()->listStore().localDone().value(QStringLiteral("a")), true);
        QTRY_COMPARE(h->posted(QStringLiteral("done")).size(), 1);
        QCOMPARE(h->posted(QStringLiteral("done"))[0].value("id").toString(), QStringLiteral("a"));
        QTRY_VERIFY(row(QStringLiteral("牛奶")) && row(QStringLiteral("牛奶"))->data().isDone);

        // A task without an id ignores clicks.
        QTest::mouseClick(row(QStringLiteral("no id")), Qt::LeftButton, {}, QPoint(30, 15));
        QCOMPARE(app()->listStore().localDone().size(), 1);

        // A pending task has no handle: a click where it would be toggles it.
        app()->listActions().add(QStringLiteral("新的"));
        QTRY_VERIFY(row(QStringLiteral("新的")));
        NoteRow* pending = row(QStringLiteral("新的"));
        QTest::mouseClick(pending, Qt::LeftButton, {}, QPoint(pending->width() - 5, 15));
        QVERIFY(!pending->isDragging());
        QCOMPARE(app()->listStore().localDone().value(pending->itemId()), true);
    }

    // A refresh that changes nothing visible leaves the rows, the hover and the scroll alone.
    void unchangedRefreshKeepsRowsAndScroll() {
        show(feedJson(30));
        const int built = note().rows().rebuildCount();
        QScrollBar* bar = note().panel()->scroll()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum() / 2);
        const int scrolled = bar->value();
        const QList<NoteRow*> before = note().rows().views();
        app()->listStore().applyFeed(*decodePayload(feedJson(30)).payload);
        app()->refreshNote();
        QCOMPARE(note().rows().views(), before);
        QCOMPARE(note().rows().rebuildCount(), built);
        QCOMPARE(bar->value(), scrolled);
        app()->listActions().toggle(QStringLiteral("x3"), false);
        QTRY_COMPARE(note().rows().rebuildCount(), built + 1);
    }

    // 2,000 tasks: widgets only for the rows near the visible part, handed on as the list scrolls;
    // what they show, where, and what a click on one does follow the row, not the widget.
    void longListHasWidgetsOnlyWhereShown() {
        show(feedJson(2000));
        NotePanel* panel = note().panel();
        const auto widgets = [&] { return panel->stack()->findChildren<NoteRow*>().size(); };
        QCOMPARE(note().rows().count(), 2004);
        QVERIFY2(widgets() <= 20, qPrintable(QString::number(widgets())));
        QScrollBar* bar = panel->scroll()->verticalScrollBar();
        bar->setValue(bar->maximum());
        const qsizetype last = note().rows().count() - 1;
        NoteRow* lastRow = note().rows().view(last);
        QVERIFY(lastRow && lastRow->isVisible());
        QCOMPARE(lastRow->label(), QStringLiteral("任务 1999"));
        const int shownAt = lastRow->mapTo(panel->scroll()->viewport(), QPoint(0, 0)).y();
        QVERIFY(shownAt > 0 && shownAt + lastRow->height() <= panel->scroll()->viewport()->height());
        QVERIFY2(widgets() <= 20, qPrintable(QString::number(widgets())));

        // A click where a row reached by scrolling is shown ticks that row's task.
        const qsizetype target = h->rowIndex(QStringLiteral("任务 1993"));
        const QPoint inViewport(40, int(note().rows().target(target)) - bar->value() + 15);
        QTest::mouseClick(panel->windowHandle(), Qt::LeftButton, {},
                          panel->scroll()->viewport()->mapTo(panel, inViewport));
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

    // Each click flips the pin, its picture and the stored choice; the panel stays where it is.
    void pinTwiceRestores() {
        show();
        NotePanel* panel = note().panel();
        const QPoint where = panel->pos();
        QCOMPARE(panel->pinButton()->glyph(), NoteGlyph::Pin);
        for (const bool pinned : {true, false}) {
            panel->pinButton()->click();
            QVERIFY(panel->isPinned() == pinned && panel->isVisible());
            QCOMPARE(panel->pinButton()->glyph(), pinned ? NoteGlyph::PinFill : NoteGlyph::Pin);
            QCOMPARE(panel->pinButton()->tint() == C_VL_GOLD, pinned);
            QCOMPARE(h->store.value("notePinned").toBool(), pinned);
            QCOMPARE(panel->pos(), where);
        }
    }

    void gripResizesFromTheTop() {
        show();
        NotePanel* panel = note().panel();
        const QRect start = panel->geometry();
        ResizeHandle* grip = panel->resizeHandle();
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
        send(QEvent::MouseMove, 100);
        QCOMPARE(panel->height(), 580);
        send(QEvent::MouseMove, -1000); // far up: stops at the minimum
        QCOMPARE(panel->height(), int(NOTE_MIN_H));
        const int screenH = panel->screen()->availableGeometry().height();
        send(QEvent::MouseMove, 100000); // far down: stops at the screen's height
        QCOMPARE(panel->height(), screenH);
        QCOMPARE(panel->y(), start.y());
        send(QEvent::MouseMove, 20);
        send(QEvent::MouseButtonRelease, 20);
        QCOMPARE(h->store.value("noteH").toDouble(), 500.0);
    }

    void placeRememberedWhenOnAScreen_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("used");
        QTest::newRow("on the screen") << "{100, 80}" << true;
        QTest::newRow("off every screen") << "{-5000, 90000}" << false;
    }

    void placeRememberedWhenOnAScreen() {
        QFETCH(QString, stored);
        QFETCH(bool, used);
        h->store.setValue("notePos", stored);
        show();
        NotePanel* panel = note().panel();
        const QRect screen = panel->screen()->availableGeometry();
        const QPoint fallback(screen.right() + 1 - 300 - 20, screen.top() + 20);
        QCOMPARE(panel->pos(), used ? QPoint(100, 80) : fallback);
        // A move by the user is written once it ends, and used at the next showing.
        panel->move(140, 120);
        QTRY_COMPARE(h->store.value("notePos").toString(), QStringLiteral("{140, 120}"));
        note().hideNoteAction();
        panel->place(QPoint(0, 0));
        app()->toggleNoteAction();
        QCOMPARE(panel->pos(), QPoint(140, 120));
    }

    // Offscreen there is no tray: the panel's header offers the tray menu with every command
    // (test_app checks which).
    void withoutTrayThePanelOffersTheMenu() {
        app()->applicationDidFinishLaunching();
        NotePanel* panel = note().panel();
        QVERIFY(panel->menuButton()->isVisible());
        QVERIFY(panel->title()->geometry().right() < panel->menuButton()->geometry().left());
        QVERIFY(panel->menuButton()->geometry().right() < panel->pinButton()->geometry().left());
        panel->menuButton()->click();
        QMenu* menu = app()->statusItem().menu();
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menuItems(menu, MenuEntry::Kind::Command).size(), 5);
        menu->hide();
    }

    // The card shows the picture through the dimming (a row across it is not one colour, which the
    // vertical gradient alone would give), and a black shadow falls from it, stronger below than
    // above since it is moved downwards.
    void backgroundShowsPictureAndShadow() {
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

    // A blur spreads a shape's darkness without adding any or moving it: its middle keeps the
    // fill's opacity, nothing far outside, and at any distance the darkness just outside and
    // just inside a straight edge add up to the fill's.
    void shadowIsAnEvenBlur_data() {
        QTest::addColumn<double>("ratio");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("2x") << 2.0;
    }
    void shadowIsAnEvenBlur() {
        QFETCH(double, ratio);
        QPainterPath square;
        square.addRect(QRectF(50, 40, 100, 120)); // moved 10 down: its left edge at x 50, top at y 50
        const QImage shadow = shadowImage(QSize(200, 200), ratio, square, QPointF(0, 10), 16, 0.42);
        const auto alpha = [&](int x, int y) { return int(shadow.constScanLine(y)[x]); };
        const int fill = int(0.42 * 255), edge = int(50 * ratio), middle = int(110 * ratio);
        QVERIFY(std::abs(alpha(middle - int(10 * ratio), middle) - fill) <= 1);
        QCOMPARE(alpha(middle, int(195 * ratio)), 0);
        QCOMPARE(alpha(int(5 * ratio), middle), 0);
        for (int d = 1; d < int(20 * ratio); ++d) {
            const int across = alpha(edge + d - 1, middle) + alpha(edge - d, middle);
            const int down = alpha(middle, edge + d - 1) + alpha(middle, edge - d);
            // Each of the six passes rounds down, so a pair may come out a little lighter.
            const auto even = [&](int sum) { return sum <= fill && sum >= fill - 6; };
            QVERIFY2(even(across) && even(down),
                     qPrintable(QStringLiteral("%1 px from the edge: %2 across, %3 down").arg(d).arg(across).arg(down)));
        }
    }

    // A change the relay has not taken for a minute puts the gold dot in the panel's title;
    // it goes once the outbox is empty.
    void unsentDot() {
        h->feed = feedJson();
        AppDelegate* delegate = &h->app();
        delegate->applicationDidFinishLaunching();
        const auto taken = std::exchange(h->server.handler, [&](const TestHttpServer::Request& r) {
            return TestHttpServer::Answer{r.method == "GET" ? 200 : 503, h->feed};
        });
        const auto goldPixels = [&] {
            QCoreApplication::processEvents();
            const QImage title = delegate->note().panel()->title()->grab().toImage();
            qsizetype gold = 0;
            for (int y = 0; y < title.height(); ++y)
                for (int x = 0; x < title.width(); ++x)
                    gold += title.pixel(x, y) == C_VL_GOLD.rgb();
            return gold;
        };
        delegate->listActions().toggle(QStringLiteral("a"), false);
        QTRY_VERIFY(h->server.waitForRequests(2)); // the first fetch and the post
        QCOMPARE(goldPixels(), 0);
        h->clock.advance(std::chrono::seconds(61));
        QTRY_VERIFY(goldPixels() > 0);
        h->server.handler = taken;
        delegate->refresh();
        QTRY_VERIFY(delegate->feedSync().outbox().outbox().isEmpty());
        QTRY_COMPARE(goldPixels(), 0);
    }

private:
    void show(const QByteArray& feed = feedJson());
    // Made on first use, so that a test can store settings first.
    AppDelegate* app() { return &h->app(); }
    NoteController& note() { return app()->note(); }
    NoteRow* row(const QString& label) { return h->row(label); }

    std::optional<AppHarness> h;
};

void TestNote::show(const QByteArray& feed) {
    app()->listStore().applyFeed(*decodePayload(feed).payload);
    app()->showNote();
    QVERIFY(note().panel() && note().panel()->isVisible());
}

QTEST_MAIN(TestNote)
#include "test_note.moc"
