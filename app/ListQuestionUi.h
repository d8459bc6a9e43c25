#pragma once

#include <QString>

// The question asked at every launch: which list to show. The app asks it with a message box;
// tests answer it with a recorder. The call returns only once the user has answered.
class ListQuestionUi {
public:
    virtual ~ListQuestionUi() = default;

    // "显示哪份 To-do？" with the buttons "阿蓁的 To-do" (the default) and "晴川子的 To-do", in
    // this order. Returns the list to show: "mine" for the first button, "hers" for any other
    // ending.
    virtual QString askWhichList() = 0;
};
