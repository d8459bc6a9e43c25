#pragma once

#include "app/ListQuestionUi.h"

// The launch question as a modal message box with the app's look, brought to the front.
class ListQuestionBox : public ListQuestionUi {
public:
    QString askWhichList() override;
};
