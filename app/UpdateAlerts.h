#pragma once

#include "update/UpdateUi.h"

class QWidget;

// The updater's questions as modal message boxes, brought to the front: the offer with
// "马上更新" and "以后再说" in this order, notices with "好".
class UpdateAlerts : public UpdateUi {
public:
    bool promptUpdate(const QString& title, const QString& text) override;
    void alert(const QString& title, const QString& text) override;
};
