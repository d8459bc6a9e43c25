#pragma once

#include "update/InstallLocation.h"
#include "update/Unpacker.h"
#include "update/UpdateInfo.h"
#include "update/UpdateUi.h"
#include "generated/Version.h"

#include <QCoreApplication>
#include <QDir>
#include <QObject>
#include <chrono>

class QNetworkAccessManager;
namespace net {
struct Result;
}

// The self-updater: reads the version manifest, offers a newer release once per run, downloads
// the release zip, unpacks it safely into a fresh work folder, writes and starts the apply
// script and asks the app to quit so that the script can swap the application folder.
// One instance per process, on the main thread; it talks to the user only through UpdateUi.
class Updater : public QObject {
    Q_OBJECT

public:
    using Delay = std::chrono::milliseconds;

    static constexpr Delay kCheckTimeout{20000};
    static constexpr Delay kDownloadTimeout{180000};
    // However the bytes trickle in, a check ends after this and a download after that.
    static constexpr Delay kCheckDeadline{120000};
    static constexpr Delay kDownloadDeadline{30 * 60 * 1000};
    static constexpr qint64 kMaxManifestBytes = 1024 * 1024;
    static constexpr qint64 kMaxDownloadBytes = qint64(512) * 1024 * 1024;
    static constexpr qint64 kDownloadBufferBytes = 1024 * 1024;

    Updater(QNetworkAccessManager& network, UpdateUi& ui, QObject* parent = nullptr);

    QString updateUrl; // UPDATE_URL
    QString appVersion = APP_VERSION;
    // What is replaced; by default the folder of the running executable, when it can be.
    InstallLocation location = InstallLocation::ofRunningApp();
    qint64 pid = QCoreApplication::applicationPid(); // the script waits for it to exit
    QString tempDir = QDir::tempPath();
    QString shell = QStringLiteral("/bin/bash");
    UpdatePlatform platform = kHostPlatform;
    // Time-outs without any data arriving, as Qt's transfer time-out counts them.
    Delay checkTimeout = kCheckTimeout;
    Delay downloadTimeout = kDownloadTimeout;
    Delay downloadDeadline = kDownloadDeadline; // the download's time in all
    qint64 maxDownloadBytes = kMaxDownloadBytes;
    Unpacker unpacker; // its limits: maxBytes, maxEntries

    // True once an update has been offered in this run; it never turns false again.
    bool updatePrompted() const { return m_updatePrompted; }

    // Starts one manifest request and returns at once. A silent check (manual false) shows
    // only the offer; a manual one also says when nothing is newer or the manifest is
    // unreadable.
    void checkForUpdate(bool manual);
    // Offers `info`; on acceptance downloads and installs it. Where the running app cannot be
    // replaced, the offer says how to update by hand instead.
    void promptUpdate(const UpdateInfo& info);
    // Starts the download of info.url and returns at once; a URL that does not parse is
    // ignored without a word. One that parses but cannot be downloaded from (not http(s), or
    // plain http where it is not allowed) ends in the failure alert.
    void downloadAndInstall(const UpdateInfo& info);
    // Installs the downloaded archive `zip`: ends in quitRequested() or in the failure alert.
    void installUpdate(const QString& zip, const UpdateInfo& info);

signals:
    // An answer to a check has been dealt with (alerts and the offer included).
    void checkHandled();
    // A download or installation ended in its failure alert; the app keeps running.
    void updateFailed();
    // The apply script is running and waits for this process to end: quit now.
    void quitRequested();

private:
    void handleManifest(const net::Result& result, bool manual);
    void fail(const QString& title, const QString& description, const UpdateInfo& info);

    QNetworkAccessManager& m_network;
    UpdateUi& m_ui;
    bool m_updatePrompted = false;
};

// Whether the release archive may be fetched from `archive`: always over https; over plain
// http only when the manifest itself came over plain http from the same host (a local hub),
// so that a manifest read over https can never send the app to an unprotected download.
bool downloadAllowed(const QUrl& archive, const QUrl& manifest);
