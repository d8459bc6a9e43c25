#pragma once

#include "app/AppDelegate.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TestHttpServer.h"

#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>

class NoteRow;
class QMenu;

// Answers the launch question without a window, with `answer`, after running `onAsk` (where a
// test looks at the app as the question is asked).
struct ListQuestionRecorder : ListQuestionUi {
    QString askWhichList() override {
        if (onAsk)
            onAsk();
        return answer;
    }

    QString answer = ListStore::kMine;
    std::function<void()> onAsk;
};

// The app as the widget tests drive it: its settings in a temporary folder, a loopback server
// as feed host and relay (every GET answered with `feed`, every POST with "{}"), and a clock
// moved by hand; the launch question is answered by `question`. The controller is made on
// first use, so a test can store settings first.
class AppHarness {
public:
    AppHarness();

    QTemporaryDir dir;
    QSettings store;
    TestHttpServer server;
    ManualClock clock;
    QByteArray feed;
    ListQuestionRecorder question;

    AppDelegate& app();
    // The tray menu once the rebuilds asked for so far have run.
    QMenu* menu();
    // The panel's row showing `label`, if any: its index, and its widget when it has one.
    qsizetype rowIndex(const QString& label);
    NoteRow* row(const QString& label);
    QList<QJsonObject> posted(const QString& action) const;
    // Posts a probe and waits until it arrived: a message wrongly sent before it would most
    // likely be there too (posts may overtake each other, so expected ones are waited for).
    void flushPosts();

private:
    std::unique_ptr<AppDelegate> m_app;
};

QList<QAction*> menuItems(QMenu* menu, MenuEntry::Kind kind);
