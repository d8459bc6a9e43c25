#include "app/AlertBox.h"

#include "menu/StatusItem.h"
#include "support/Theme.h"

#include <QMessageBox>

void setUpAlert(QMessageBox& box, const QString& text, const QString& informative) {
    box.setWindowTitle(QStringLiteral("维洛清单"));
    // The app's own picture, as a native alert shows; a themed icon would also send Qt
    // searching every icon theme on disk, a fifth of the work before the first window.
    box.setIconPixmap(trayIcon(ICON_B64()).pixmap(QSize(36, 36), 1.0));
    box.setText(text);
    box.setInformativeText(informative);
}

void execInFront(QMessageBox& box) {
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
}
