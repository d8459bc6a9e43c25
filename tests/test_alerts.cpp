// The app's message boxes, the launch question and the updater's: one look (the app's name as
// the title, its own picture as the icon), texts in place, buttons in their order, and what
// each answer means.
#include "support/Assets.h"
#include "app/ListQuestionBox.h"
#include "support/Theme.h"
#include "app/UpdateAlerts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

// What a box showed: its title, text, informative text and buttons left to right as laid
// out (what the user sees), and its icon.
struct Seen {
    QStringList shown;
    QImage icon;
};

enum Key { kEscape = -1, kReturn = -2 };

// Answers the next modal box with `answer` (a button index, or a Key) once it shows, noting
// what it showed.
void answerNextBox(int answer, Seen* seen) {
    QTimer::singleShot(0, [answer, seen] {
        QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        seen->shown = QStringList{box->windowTitle(), box->text(), box->informativeText()};
        seen->icon = box->iconPixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        QList<QAbstractButton*> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
            return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
        });
        for (QAbstractButton* button : buttons)
            seen->shown << button->text();
        if (answer < 0)
            QTest::keyClick(box, answer == kEscape ? Qt::Key_Escape : Qt::Key_Return);
        else
            buttons[answer]->click();
    });
}

// Runs one of the app's boxes; what the answer meant.
using Ask = std::function<QString()>;

} // namespace

class TestAlerts : public QObject {
    Q_OBJECT

private slots:
    void boxes_data();
    void boxes();
};

void TestAlerts::boxes_data() {
    QTest::addColumn<Ask>("ask");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("meant");
    QTest::addColumn<QStringList>("shown");
    const Ask list = [] { return ListQuestionBox().askWhichList(); };
    const Ask offer = [] {
        return UpdateAlerts().promptUpdate("维洛清单有新版本 v2.14 啦", "当前 v2.13。") ? "update" : "later";
    };
    const Ask notice = [] {
        UpdateAlerts().alert("更新失败", "网络问题\n可以手动装：https://h/v.zip");
        return QString();
    };
    const QStringList listShown{"维洛清单", "显示哪份 To-do？", "之后点最上面那一行就能随时切换。",
                                "阿蓁的 To-do", "晴川子的 To-do"};
    const QStringList offerShown{"维洛清单", "维洛清单有新版本 v2.14 啦", "当前 v2.13。", "马上更新", "以后再说"};
    QTest::newRow("list: 阿蓁的 To-do") << list << 0 << "mine" << listShown;
    QTest::newRow("list: 晴川子的 To-do") << list << 1 << "hers" << listShown;
    QTest::newRow("list: Return, the default") << list << int(kReturn) << "mine" << listShown;
    QTest::newRow("offer: 马上更新") << offer << 0 << "update" << offerShown;
    QTest::newRow("offer: 以后再说") << offer << 1 << "later" << offerShown;
    QTest::newRow("offer: Escape") << offer << int(kEscape) << "later" << offerShown;
    QTest::newRow("notice: Escape") << notice << int(kEscape) << QString()
                                    << QStringList{"维洛清单", "更新失败", "网络问题\n可以手动装：https://h/v.zip", "好"};
}

// Every box has the app's look (its name as the title, the 36-pixel artwork as the icon, not
// a themed one), its texts and buttons in their order, and each answer means what it says.
void TestAlerts::boxes() {
    QFETCH(Ask, ask);
    QFETCH(int, answer);
    QFETCH(QString, meant);
    QFETCH(QStringList, shown);
    Seen seen;
    answerNextBox(answer, &seen);
    QCOMPARE(ask(), meant);
    QCOMPARE(seen.shown, shown);
    QVERIFY(seen.icon == decodeBase64Image(ICON_B64()).value().convertToFormat(QImage::Format_ARGB32));
}

QTEST_MAIN(TestAlerts)
#include "test_alerts.moc"
