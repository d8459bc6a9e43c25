#pragma once

#include "app/Autostart.h"
#include "model/Clock.h"
#include "app/Endpoints.h"
#include "sync/FeedSync.h"
#include "model/ListActions.h"
#include "app/ListQuestionBox.h"
#include "model/ListStore.h"
#include "menu/MenuController.h"
#include "note/NoteController.h"
#include "support/Settings.h"
#include "menu/StatusItem.h"
#include "app/UpdateAlerts.h"
#include "update/Updater.h"

#include <QNetworkAccessManager>
#include <QObject>

class QAction;
class QSettings;

// The composition root: creates the parts (list state, feed client, write path, tray), wires
// them together and keeps the entry points the platform and the views call, each a thin
// forward to the part that does the work.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // `outboxPath`: the file that keeps undelivered inbox messages across runs (none: they
    // are kept in memory only).
    AppDelegate(QSettings& store, Endpoints endpoints, Clock& clock = Clock::system(),
                const QString& outboxPath = {}, QObject* parent = nullptr);

    void applicationDidFinishLaunching();
    void chooseList();

    void rebuildMenu();
    void toggleItem(QAction* sender);
    void useMine();
    void useHers();
    void refreshAction();
    void quit();
    void checkForUpdate(bool manual);
    void checkUpdateAction();
    void toggleAutostartAction();
    void toggleNoteAction();
    void showNote();
    void refreshNote();
    void refresh();
    void scheduleQuickRefresh();

    ListStore& listStore() { return m_store; }
    FeedSync& feedSync() { return m_sync; }
    ListActions& listActions() { return m_actions; }
    StatusItem& statusItem() { return m_statusItem; }
    MenuController& menuController() { return m_menu; }
    NoteController& note() { return m_note; }
    Updater& updater() { return m_updater; }
    Settings& settings() { return m_settings; }
    // Where "开机启动" writes; tests point it at a folder of their own.
    Autostart& autostart() { return m_autostart; }
    // Who answers the launch question; tests answer it with a recorder.
    void setListQuestion(ListQuestionUi& question) { m_listQuestion = &question; }
    const Endpoints& endpoints() const { return m_endpoints; }
    bool notePinned() const { return m_note.notePinned(); }

signals:
    // Every update check, silent (timers) or manual (the menu); the updater takes it.
    void updateCheckRequested(bool manual);

private:
    // Every change of what the lists show, from the user or from a refresh, reaches both views.
    void stateChanged();

    // What the views last showed; a refresh that changes none of it leaves them alone.
    struct Shown {
        quint64 revision = 0;
        std::optional<QString> error;
        qsizetype overdue = 0;
        qsizetype refused = 0;
        bool operator==(const Shown&) const = default;
    };
    std::optional<Shown> m_shown;

    Clock& m_clock;
    // The process's one network manager, declared before the feed client that uses it.
    QNetworkAccessManager m_network;
    UpdateAlerts m_updateAlerts;
    ListQuestionBox m_listBox;
    ListQuestionUi* m_listQuestion = &m_listBox;
    Updater m_updater{m_network, m_updateAlerts};
    ListStore m_store{m_clock};
    FeedSync m_sync;
    ListActions m_actions;
    Settings m_settings;
    const Endpoints m_endpoints;
    StatusItem m_statusItem;
    MenuController m_menu{m_statusItem, m_actions};
    NoteController m_note;
    Autostart m_autostart = Autostart::forThisUser();
};
