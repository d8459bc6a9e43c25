#include "AlertBox.h"

#include <QMessageBox>

void setUpAlert(QMessageBox& box, const QString& text, const QString& informative) {
    box.setWindowTitle(QStringLiteral("维洛清单"));
    box.setText(text);
    box.setInformativeText(informative);
}

void execInFront(QMessageBox& box) {
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
}
