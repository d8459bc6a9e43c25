#include "UpdateAlerts.h"

#include "UpdateTexts.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

// A tray app has no window of its own in front: the box raises and activates itself.
void runInFront(QMessageBox& box) {
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
}

} // namespace

bool UpdateAlerts::promptUpdate(const QString& title, const QString& text) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("维洛清单"));
    box.setIcon(QMessageBox::Information);
    box.setText(title);
    box.setInformativeText(text);
    // One role for both keeps them in this order on every platform.
    QPushButton* accept = box.addButton(update_text::kAcceptButton, QMessageBox::ActionRole);
    QPushButton* later = box.addButton(update_text::kLaterButton, QMessageBox::ActionRole);
    box.setDefaultButton(accept);
    box.setEscapeButton(later);
    runInFront(box);
    return box.clickedButton() == accept;
}

void UpdateAlerts::alert(const QString& title, const QString& text) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("维洛清单"));
    box.setIcon(QMessageBox::Information);
    box.setText(title);
    box.setInformativeText(text);
    QPushButton* ok = box.addButton(update_text::kOkButton, QMessageBox::AcceptRole);
    box.setEscapeButton(ok);
    runInFront(box);
}
