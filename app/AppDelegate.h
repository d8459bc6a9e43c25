#pragma once

#include "Endpoints.h"
#include "FeedSync.h"
#include "ListState.h"
#include "Settings.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>

class DrawnMenu;
class QIcon;
class QAction;
class QSettings;
class QSystemTrayIcon;

// The tray icon from base64 PNG text, shown at 18 x 18 points; "📋" drawn in its place when
// the text or the picture cannot be decoded.
QIcon trayIcon(const QByteArray& iconBase64);

// The one controller: owns the list state, the feed client, the tray and its menu, the timers
// and the settings, and implements every user action. Views call back into it.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    AppDelegate(QSettings& store, Endpoints endpoints, QObject* parent = nullptr);
    ~AppDelegate() override;

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
    void toggleNoteAction();
    void showNote();
    void refreshNote();

    void refresh() { sync.refresh(); }
    void scheduleQuickRefresh() { sync.scheduleQuickRefresh(); }

private:
    // The process's one network manager, declared first: the feed client below uses it.
    QNetworkAccessManager network;

public:
    ListState state;
    FeedSync sync;
    Settings settings;
    const Endpoints endpoints;
    bool notePinned = false;
    bool updatePrompted = false;
    // The note row being edited or dragged; a refresh leaves the panel alone while either is set.
    QPointer<QObject> editingRow;
    QPointer<QObject> draggingRow;

    QSystemTrayIcon* statusItem = nullptr;
    QPointer<DrawnMenu> menu;
    QTimer timer;
    QTimer updateTimer;

signals:
    // The update subsystem connects here; manual is true when the user asked from the menu.
    void updateCheckRequested(bool manual);
    // The note panel connects here to toggle, show and rebuild itself once it exists.
    void noteToggleRequested();
    void noteShowRequested();
    void noteRefreshRequested();

private:
    void createStatusItem();
    void showStatusItemWhenTrayExists();

    QTimer trayWait;
};
