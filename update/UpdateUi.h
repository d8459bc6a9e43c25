#pragma once

#include <QString>

// What the updater asks of the user. The app implements it with modal message boxes; tests
// with a recorder. Both calls return only once the user has answered.
class UpdateUi {
public:
    virtual ~UpdateUi() = default;

    // The offer: `title` as the message text, `text` as the informative text, the buttons
    // "马上更新" and "以后再说" in this order. True when the user chose "马上更新".
    virtual bool promptUpdate(const QString& title, const QString& text) = 0;
    // A notice with the single button "好".
    virtual void alert(const QString& title, const QString& text) = 0;
};
