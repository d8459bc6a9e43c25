#include "app/AppDelegate.h"

#include "support/Theme.h"
#include "generated/Version.h"

#include <QCoreApplication>

using namespace std::chrono_literals;

AppDelegate::AppDelegate(QSettings& store, Endpoints endpoints, Clock& clock,
                         const QString& outboxPath, QObject* parent)
    : QObject(parent), m_clock(clock), m_sync(m_store, m_network, clock), m_actions(m_store, m_sync),
      m_settings(store), m_endpoints(std::move(endpoints)), m_note(m_store, m_actions, m_settings, m_clock) {
    m_sync.dataUrl = m_endpoints.DATA_URL;
    m_sync.inboxUrl = m_endpoints.NTFY_URL;
    // Before the first fetch: the changes still waiting show as before the quit.
    if (!outboxPath.isEmpty()) {
        QString error;
        if (!m_sync.openOutbox(outboxPath, &error))
            qWarning("velloa: %s", qPrintable(error));
    }
    m_sync.outbox().watchNetwork();
    connect(&m_sync, &FeedSync::feedApplied, this, &AppDelegate::stateChanged);
    connect(&m_sync, &FeedSync::refreshFailed, this, &AppDelegate::stateChanged);
    connect(&m_actions, &ListActions::changed, this, &AppDelegate::stateChanged);
    connect(&m_sync.outbox(), &OutboxSender::noticeChanged, this, &AppDelegate::stateChanged);
    connect(&m_menu, &MenuController::refreshRequested, this, &AppDelegate::refreshAction);
    connect(&m_menu, &MenuController::updateCheckRequested, this, &AppDelegate::checkUpdateAction);
    connect(&m_menu, &MenuController::noteToggleRequested, this, &AppDelegate::toggleNoteAction);
    connect(&m_menu, &MenuController::autostartToggleRequested, this,
            &AppDelegate::toggleAutostartAction);
    connect(&m_menu, &MenuController::quitRequested, this, &AppDelegate::quit);
    // The desktop's settings may have turned start-at-login off: the menu reads it as it opens.
    connect(&m_statusItem, &StatusItem::aboutToOpen, this, &AppDelegate::rebuildMenu);
    // Where no tray exists the panel is the way in: it offers the tray's menu.
    connect(&m_statusItem, &StatusItem::trayShown, this, [this](bool shown) { m_note.setMenuButtonVisible(!shown); });
    m_updater.updateUrl = m_endpoints.UPDATE_URL;
    connect(this, &AppDelegate::updateCheckRequested, &m_updater, &Updater::checkForUpdate);
    // The apply script waits for this process to end before it swaps the application.
    connect(&m_updater, &Updater::quitRequested, this, &AppDelegate::quit);
    connect(&m_note, &NoteController::menuRequested, &m_menu, &MenuController::popup);
}

void AppDelegate::applicationDidFinishLaunching() {
    m_statusItem.create(trayIcon(ICON_B64()));
    rebuildMenu();
    chooseList();
    rebuildMenu();
    refresh();
    showNote();
    m_clock.every(30s, this, [this] { refresh(); });
    m_clock.schedule(4s, this, [this] { checkForUpdate(false); });
    m_clock.every(21600s, this, [this] { checkForUpdate(false); });
}

void AppDelegate::chooseList() {
    m_actions.chooseList(m_listQuestion->askWhichList());
}

void AppDelegate::stateChanged() {
    const Shown now{m_store.revision(), m_sync.lastError(), m_sync.outbox().overdue(),
                    m_sync.outbox().refused()};
    if (now == m_shown)
        return;
    m_shown = now;
    rebuildMenu();
    m_note.setUnsent(now.overdue > 0);
    m_note.stateChanged();
}

void AppDelegate::rebuildMenu() {
    m_statusItem.setEntries(
        buildMenuEntries(m_store, m_sync.lastError(), APP_VERSION, m_autostart.isEnabled(),
                         {m_sync.outbox().overdue(), m_sync.outbox().refused()}));
}

void AppDelegate::toggleItem(QAction* sender) {
    m_menu.toggleItem(sender);
}

void AppDelegate::useMine() {
    m_menu.useMine();
}

void AppDelegate::useHers() {
    m_menu.useHers();
}

void AppDelegate::refreshAction() {
    refresh();
}

void AppDelegate::refresh() {
    m_sync.refresh();
}

void AppDelegate::scheduleQuickRefresh() {
    m_sync.scheduleQuickRefresh();
}

void AppDelegate::quit() {
    QCoreApplication::quit();
}

void AppDelegate::checkForUpdate(bool manual) {
    emit updateCheckRequested(manual);
}

void AppDelegate::checkUpdateAction() {
    checkForUpdate(true);
}

void AppDelegate::toggleAutostartAction() {
    // A write that fails changes nothing: the menu shows what the file says.
    m_autostart.setEnabled(!m_autostart.isEnabled());
    rebuildMenu();
}

void AppDelegate::toggleNoteAction() {
    m_note.toggleNote();
}

void AppDelegate::showNote() {
    m_note.showNote();
}

void AppDelegate::refreshNote() {
    m_note.refreshNote();
}

#include "moc_AppDelegate.cpp"
