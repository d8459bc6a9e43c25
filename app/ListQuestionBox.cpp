#include "app/ListQuestionBox.h"

#include "app/AlertBox.h"
#include "model/ListStore.h"

#include <QMessageBox>
#include <QPushButton>

QString ListQuestionBox::askWhichList() {
    QMessageBox box;
    setUpAlert(box, QStringLiteral("显示哪份 To-do？"),
               QStringLiteral("之后点最上面那一行就能随时切换。"));
    // Same role for both keeps them in this order on every platform.
    QPushButton* mine = box.addButton(QStringLiteral("阿蓁的 To-do"), QMessageBox::ActionRole);
    box.addButton(QStringLiteral("晴川子的 To-do"), QMessageBox::ActionRole);
    box.setDefaultButton(mine);
    execInFront(box);
    return box.clickedButton() == mine ? ListStore::kMine : ListStore::kHers;
}
