// The note panel's arithmetic and content, without a window.
#include "tests/support/Fixtures.h"
#include "note/NoteContent.h"
#include "note/NoteDrag.h"
#include "note/NoteKeys.h"
#include "note/NoteLayout.h"
#include "support/Theme.h"

#include <QtTest>

namespace {
// The rows shown, from `first` up to `last`, when the viewport shows `viewport` from `offset` on,
// widened by `margin` each way.
struct Visible {
    QList<double> heights;
    double offset, viewport, margin;
    qsizetype first, last;
};
// Header H (56 high, gap 7), tasks a b c (40, gap 6), header H2, task d alone in its section:
// centres 28, 83, 129, 175, 229, 284.
const QList<drag::Slot> kSlots{{56, 7, true}, {40, 6, false}, {40, 6, false}, {40, 6, false},
                               {56, 7, true},  {40, 6, false}};
struct NotePosCase { QString text; bool valid; QPointF point; };
struct FieldTextRectCase { QRectF base; double natural; QRectF expected; };
struct ContentCase {
    QString rows; // as rowsFrom reads them
    QStringList overlay;
    QStringList shown; // "H:label|count|collapsed" or "T:text|done|height"
};
struct DragInsertionCase { int dragged; double centre; int index; };
struct KeyboardStepCase {
    int from, step;
    int to; // -1: does not move
};
struct ListKeysCase { int key, modifiers; bool onHeader; int command; };
} // namespace

class TestNoteLayout : public QObject {
    Q_OBJECT

private slots:
    void stacking() {
        const Stacked none = stackRows({}, {}, 348);
        QVERIFY(none.tops.isEmpty());
        QCOMPARE(none.height, 348.0);
        const Stacked two = stackRows({56, 34}, {7, 6}, 50);
        QCOMPARE(two.tops, (QList<double>{0, 63}));
        QCOMPARE(two.height, 103.0); // the last gap counts too
    }

    // Rows 56 (gap 7), 40, 40, 80, 40 high (gaps 6): tops 0, 63, 109, 155, 241, bottoms 56, 103,
    // 149, 235, 281.
    void visibleRows_data() {
        QTest::addColumn<Visible>("v");
        const QList<double> rows{56, 40, 40, 80, 40};
        QTest::newRow("no rows") << Visible{{}, 0, 300, 0, 0, 0};
        QTest::newRow("all fit") << Visible{rows, 0, 300, 0, 0, 5};
        QTest::newRow("partial rows at both edges") << Visible{rows, 100, 60, 0, 1, 4};
        QTest::newRow("edges only touched: not shown") << Visible{rows, 103, 52, 0, 2, 3};
        QTest::newRow("in the gap between two rows") << Visible{rows, 104, 4, 0, 2, 2};
        QTest::newRow("margin reaches a row each way") << Visible{rows, 110, 40, 8, 1, 4};
        QTest::newRow("inside one tall row") << Visible{rows, 170, 20, 0, 3, 4};
        QTest::newRow("viewport above everything") << Visible{rows, -200, 100, 0, 0, 0};
        QTest::newRow("viewport below everything") << Visible{rows, 400, 100, 0, 5, 5};
        QTest::newRow("margin reaches up from below") << Visible{rows, 300, 100, 20, 4, 5};
    }

    void visibleRows() {
        QFETCH(Visible, v);
        QList<double> gaps(v.heights.size(), 6);
        if (!gaps.isEmpty())
            gaps[0] = 7;
        const Stacked stacked = stackRows(v.heights, gaps, 0);
        const RowRange range = ::visibleRows(stacked.tops, v.heights, v.offset, v.viewport, v.margin);
        QCOMPARE(range.first, v.first);
        QCOMPARE(range.last, v.last);
        // The bisection agrees with asking every row.
        for (qsizetype i = 0; i < v.heights.size(); ++i) {
            QCOMPARE(meetsBand(stacked.tops[i], v.heights[i], v.offset - v.margin,
                               v.offset + v.viewport + v.margin),
                     i >= v.first && i < v.last);
        }
    }

    void notePos_data() {
        QTest::addColumn<NotePosCase>("c");
        QTest::newRow("negative, written form") << NotePosCase{formatNotePos(QPointF(120, -40.5)), true, QPointF(120, -40.5)};
        QTest::newRow("spaces") << NotePosCase{" { 1e2 ,3 } ", true, QPointF(100, 3)};
        QTest::newRow("no braces") << NotePosCase{"12, 34", false, QPointF()};
        QTest::newRow("one number") << NotePosCase{"{12}", false, QPointF()};
        QTest::newRow("words") << NotePosCase{"{left, top}", false, QPointF()};
        QTest::newRow("empty") << NotePosCase{"", false, QPointF()};
    }

    void notePos() {
        QFETCH(NotePosCase, c);
        QCOMPARE(parseNotePos(c.text), c.valid ? std::optional(c.point) : std::nullopt);
    }

    void fieldTextRect_data() {
        QTest::addColumn<FieldTextRectCase>("c");
        QTest::newRow("centred on its height") << FieldTextRectCase{QRectF(3, 4, 222, 28), 17.0, QRectF(13, 9.5, 202, 17)};
        QTest::newRow("narrow keeps 10") << FieldTextRectCase{QRectF(0, 0, 25, 28), 17.0, QRectF(10, 0 + 5.5, 10, 17)};
        QTest::newRow("no natural height") << FieldTextRectCase{QRectF(0, 0, 222, 28), 0.0, QRectF(10, 0, 202, 28)};
        QTest::newRow("taller than the box") << FieldTextRectCase{QRectF(0, 0, 222, 28), 28.0, QRectF(10, 0, 202, 28)};
    }

    void fieldTextRect() {
        QFETCH(FieldTextRectCase, c);
        QCOMPARE(vCenterTextRect(c.base, c.natural), c.expected);
    }

    // However high a row is and however far it is lifted, its parts keep apart: a task's text
    // starts right of its checkbox and ends before the pencil, which ends before the handle zone
    // and never takes its presses; a text taller than the row sits on its bottom edge; a header's
    // title sits on its count line, its chevron right of both, pointing down when expanded and right
    // when collapsed; a header too low for its emblem draws none.
    void rowPartsKeepApart_data() {
        QTest::addColumn<double>("h");
        QTest::addColumn<double>("pad");
        for (const double h : {26.0, 40.0, 56.0, 90.0})
            for (const double pad : {0.0, 12.0})
                QTest::addRow("%g high, lifted %g", h, pad) << h << pad;
    }

    void rowPartsKeepApart() {
        using namespace rowgeom;
        QFETCH(double, h);
        QFETCH(double, pad);
        const double w = NOTE_LIST_W, boxRadius = 8.5;
        const QRectF text = taskTextRect(w, h, pad, 17), pencil = editButton(w, h);
        QVERIFY(text.left() >= checkboxCentre(w, h, pad).x() + boxRadius);
        QVERIFY(text.right() <= pencil.left() && !inHandleZone(w, pencil.right()));
        QVERIFY(taskCard(w, h, pad).contains(QRectF(checkboxCentre(w, h, pad), QSizeF(1, 1))));
        QCOMPARE(taskTextRect(w, h, pad, h + 20).y(), 0.0);
        QCOMPARE(emblemBox(w, h).has_value(), h > 26);
        const QRectF title = headerTitleRect(w, h, 20, 14), sub = headerSubRect(w, h, 20, 14);
        QVERIFY(sub.bottom() <= title.top() && title.left() == sub.left());
        const QList<QPointF> down = chevron(w, h, false), right = chevron(w, h, true);
        for (const QPointF& p : down + right)
            QVERIFY(p.x() > title.right() && p.x() < w && p.y() > 0 && p.y() < h);
        // y grows upwards: the tip of a chevron pointing down is its lowest point.
        QVERIFY(down[1].y() < down[0].y() && down[1].y() < down[2].y());
        QVERIFY(right[1].x() > right[0].x() && right[1].x() > right[2].x());
    }

    void content_data() {
        QTest::addColumn<ContentCase>("c");
        QTest::newRow("local tick counts at once") << ContentCase{
            "#🛒 购物 ✨,a=牛奶@🛒 购物 ✨,b=面包@🛒 购物 ✨", QStringList{"done:a"},
            QStringList{"H:购物|2 项 · 已完成 1|", "T:牛奶|done|34", "T:面包||34"}};
        QTest::newRow("collapsed keeps its count") << ContentCase{
            "#A,a*=x@A,b=y@A", QStringList{"collapse:A"}, QStringList{"H:A|2 项 · 已完成 1|collapsed"}};
        QTest::newRow("其他 counts only items labelled so") << ContentCase{
            "a=no label,b=unknown@Z", QStringList{"pending:pending-1=new"},
            QStringList{"H:其他|1 项 · 已完成 0|", "T:no label||34", "T:unknown||34", "T:new||34"}};
        QTest::newRow("tall text") << ContentCase{"a=tall", QStringList{}, QStringList{"H:其他|0 项 · 已完成 0|", "T:tall||49"}};
    }

    void content() {
        QFETCH(ContentCase, c);
        // 16 measured gives 16 + 14, raised to 34; 35 gives 35 + 14.
        const NoteContent content = buildNoteContent(stateWith(rowsFrom(c.rows), c.overlay),
                                                     [](const QString& t) { return t == "tall" ? 35.0 : 16.0; });
        QStringList out;
        for (const NoteRowData& r : content.rows) {
            out << (r.isHeader ? QStringLiteral("H:%1|%2|%3").arg(r.label, r.subText, r.collapsed ? "collapsed" : "")
                               : QStringLiteral("T:%1|%2|%3").arg(r.label, r.isDone ? "done" : "").arg(r.rowH));
        }
        QCOMPARE(out, c.shown);
        QCOMPARE(content.title, QStringLiteral("Mine"));
        QCOMPARE(content.updated, std::optional<QString>("u"));
    }

    // A row keeps its place until its centre passes a neighbour's centre, whichever way, and never
    // rises above the first header.
    void dragInsertion_data() {
        QTest::addColumn<DragInsertionCase>("c");
        const double third = 40.0 / 3;
        const struct {
            const char* name;
            int row;
            double centre;
        } rows[] = {{"first", 1, 83}, {"middle", 2, 129}, {"above a header", 3, 175}, {"alone in its section", 5, 284}};
        for (const auto& r : rows) {
            QTest::addRow("%s: pressed, not moved", r.name) << DragInsertionCase{r.row, r.centre, r.row};
            QTest::addRow("%s: a third of a row up", r.name) << DragInsertionCase{r.row, r.centre - third, r.row};
            QTest::addRow("%s: a third of a row down", r.name) << DragInsertionCase{r.row, r.centre + third, r.row};
        }
        QTest::newRow("first: just past the next one's centre") << DragInsertionCase{1, 129.1, 2};
        QTest::newRow("first: up past the header stays under it") << DragInsertionCase{1, 5.0, 1};
        QTest::newRow("middle: just past the one above") << DragInsertionCase{2, 82.9, 1};
        QTest::newRow("middle: just past the one below") << DragInsertionCase{2, 175.1, 3};
        QTest::newRow("middle: past two at once") << DragInsertionCase{2, 229.5, 4};
        // Reaching a centre is not passing it, both ways.
        QTest::newRow("middle: exactly on the centre above") << DragInsertionCase{2, 83.0, 2};
        QTest::newRow("middle: exactly on the centre below") << DragInsertionCase{2, 175.0, 2};
        QTest::newRow("above a header: past it, into the next section") << DragInsertionCase{3, 229.1, 4};
        QTest::newRow("alone: up past its header, into the section above") << DragInsertionCase{5, 228.9, 4};
        QTest::newRow("alone: below everything stays last") << DragInsertionCase{5, 500.0, 5};
    }

    void dragInsertion() {
        QFETCH(DragInsertionCase, c);
        QCOMPARE(drag::insertionIndex(kSlots, c.dragged, c.centre), qsizetype(c.index));
        // Once moved, the way back is as long: resting where it crossed over changes nothing.
        if (c.index != c.dragged) {
            QList<drag::Slot> moved = kSlots;
            moved.move(c.dragged, c.index);
            QCOMPARE(drag::insertionIndex(moved, c.index, c.centre), qsizetype(c.index));
        }
    }

    // On the same rows the keyboard moves a task one place, across a header into its section, never above the
    // first header nor past either end; headers stay.
    void keyboardStep_data() {
        QTest::addColumn<KeyboardStepCase>("c");
        QTest::newRow("first task up") << KeyboardStepCase{1, -1, -1};
        QTest::newRow("first task down") << KeyboardStepCase{1, 1, 2};
        QTest::newRow("down across a header") << KeyboardStepCase{3, 1, 4};
        QTest::newRow("up across a header") << KeyboardStepCase{5, -1, 4};
        QTest::newRow("last down") << KeyboardStepCase{5, 1, -1};
        QTest::newRow("a header") << KeyboardStepCase{4, 1, -1};
    }

    void keyboardStep() {
        QFETCH(KeyboardStepCase, c);
        QCOMPARE(drag::steppedIndex(kSlots, c.from, c.step).value_or(-1), qsizetype(c.to));
    }

    // The keys test_note_input presses in the panel are left to it: here the rest of the map.
    void listKeys_data() {
        QTest::addColumn<ListKeysCase>("c");
        using C = listkeys::Command;
        QTest::newRow("keypad down") << ListKeysCase{int(Qt::Key_Down), int(Qt::KeypadModifier), true, int(C::Next)};
        QTest::newRow("F2 on a header") << ListKeysCase{int(Qt::Key_F2), 0, true, int(C::None)};
        QTest::newRow("alt+up on a header") << ListKeysCase{int(Qt::Key_Up), int(Qt::AltModifier), true, int(C::None)};
        QTest::newRow("ctrl+up") << ListKeysCase{int(Qt::Key_Up), int(Qt::ControlModifier), false, int(C::None)};
        QTest::newRow("shift+tab") << ListKeysCase{int(Qt::Key_Backtab), int(Qt::ShiftModifier), false, int(C::Leave)};
    }

    void listKeys() {
        QFETCH(ListKeysCase, c);
        QCOMPARE(int(listkeys::commandFor(c.key, Qt::KeyboardModifiers(c.modifiers), c.onHeader)), c.command);
    }

    // The visible part of the document runs from 100 to 400.
    void dragScrollSpeed_data() {
        QTest::addColumn<double>("py");
        QTest::addColumn<double>("speed");
        QTest::newRow("10 below the top") << 110.0 << -5.6;
        QTest::newRow("6 below the top: the limit") << 106.0 << -7.0;
        QTest::newRow("above the top") << 40.0 << -7.0;
        QTest::newRow("at the edge of the zone") << 126.0 << 0.0;
        QTest::newRow("middle") << 250.0 << 0.0;
        QTest::newRow("10 above the bottom") << 390.0 << 5.6;
        QTest::newRow("below the bottom") << 460.0 << 7.0;
    }

    void dragScrollSpeed() {
        QFETCH(double, py);
        QFETCH(double, speed);
        QVERIFY(qFuzzyCompare(drag::scrollSpeed(py, 100, 400) + 10, speed + 10));
    }

    void dragSteps() {
        // Scrolling stays within the document, and does not happen when it fits.
        QCOMPARE(drag::scrolledTop(3, -7, 1000, 300), 0.0);
        QCOMPARE(drag::scrolledTop(695, 7, 1000, 300), 700.0);
        QCOMPARE(drag::scrolledTop(0, 7, 250, 300), 0.0);
        // Glide 30 % of the way, snap when closer than 0.4.
        QCOMPARE(drag::glide(0, 10), 3.0);
        QCOMPARE(drag::glide(9.7, 10), 10.0);
        // Motion follows the time passed: two ticks' worth glides as far as two ticks, a stall
        // catches up by six ticks at the most, time going backwards moves nothing.
        QCOMPARE(drag::glide(drag::glide(0, 10), 10), drag::glide(0, 10, 2));
        QCOMPARE(drag::lifted(0, 12, 2.5), 6.0);
        QCOMPARE(drag::ticksFor(50), 3.0);
        QCOMPARE(drag::ticksFor(5000), drag::kMaxCatchUpTicks);
        QCOMPARE(drag::ticksFor(-20), 0.0);
        // A screen lower than the panel's minimum still leaves it the minimum (the grip's other
        // limits are test_note's).
        QCOMPARE(resizedHeight(480, 0, 250), NOTE_MIN_H);
        // Regrouped section by section in label order; unknown sections last.
        const QList<drag::Entry> grouped =
            drag::regroup({{"1", "B"}, {"2", "X"}, {"3", "A"}, {"4", "B"}}, {"A", "B"});
        QStringList ids;
        for (const drag::Entry& e : grouped)
            ids << e.id;
        QCOMPARE(ids, (QStringList{"3", "1", "4", "2"}));
    }
};

QTEST_APPLESS_MAIN(TestNoteLayout)
#include "test_note_layout.moc"
