#include "app/UpdateAlerts.h"

#include "app/AlertBox.h"
#include "update/UpdateTexts.h"

#include <QMessageBox>
#include <QPushButton>

bool UpdateAlerts::promptUpdate(const QString& title, const QString& text) {
    QMessageBox box;
    setUpAlert(box, title, text);
    // One role for both keeps them in this order on every platform.
    QPushButton* accept = box.addButton(update_text::kAcceptButton, QMessageBox::ActionRole);
    QPushButton* later = box.addButton(update_text::kLaterButton, QMessageBox::ActionRole);
    box.setDefaultButton(accept);
    box.setEscapeButton(later);
    execInFront(box);
    return box.clickedButton() == accept;
}

void UpdateAlerts::alert(const QString& title, const QString& text) {
    QMessageBox box;
    setUpAlert(box, title, text);
    QPushButton* ok = box.addButton(update_text::kOkButton, QMessageBox::AcceptRole);
    box.setEscapeButton(ok);
    execInFront(box);
}
