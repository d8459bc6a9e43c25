// The updater's message boxes: texts in place, buttons in their order, and which answer
// starts the download.
#include "UpdateAlerts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

struct Seen {
    QString text, informative;
    QStringList buttons;
};

// Answers the next modal box with `answer` (a button index, or -1 for Escape) once it shows,
// noting what it showed.
void answerNextBox(int answer, Seen* seen) {
    QTimer::singleShot(0, [answer, seen] {
        QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        seen->text = box->text();
        seen->informative = box->informativeText();
        // Left to right as laid out, which is what the user sees.
        QList<QAbstractButton*> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
            return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
        });
        for (QAbstractButton* button : buttons)
            seen->buttons << button->text();
        if (answer < 0)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            buttons[answer]->click();
    });
}

} // namespace

class TestUpdateAlerts : public QObject {
    Q_OBJECT

private slots:
    void offer_data();
    void offer();
    void alert();
};

void TestUpdateAlerts::offer_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("马上更新") << 0 << true;
    QTest::newRow("以后再说") << 1 << false;
    QTest::newRow("Escape") << -1 << false;
}

void TestUpdateAlerts::offer() {
    QFETCH(int, answer);
    QFETCH(bool, accepted);
    UpdateAlerts alerts;
    Seen seen;
    answerNextBox(answer, &seen);
    QCOMPARE(alerts.promptUpdate("维洛清单有新版本 v2.14 啦", "当前 v2.13。"), accepted);
    QCOMPARE(seen.text, QStringLiteral("维洛清单有新版本 v2.14 啦"));
    QCOMPARE(seen.informative, QStringLiteral("当前 v2.13。"));
    QCOMPARE(seen.buttons, (QStringList{"马上更新", "以后再说"}));
}

void TestUpdateAlerts::alert() {
    UpdateAlerts alerts;
    Seen seen;
    answerNextBox(-1, &seen);
    alerts.alert("更新失败", "网络问题\n可以手动装：https://h/v.zip");
    QCOMPARE(seen.text, QStringLiteral("更新失败"));
    QCOMPARE(seen.informative, QStringLiteral("网络问题\n可以手动装：https://h/v.zip"));
    QCOMPARE(seen.buttons, QStringList{"好"});
}

QTEST_MAIN(TestUpdateAlerts)
#include "test_update_alerts.moc"
