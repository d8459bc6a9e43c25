#pragma once

#include "update/ApplyScript.h"

#include <QString>
#include <functional>

// The application folder an update replaces: the .app bundle on macOS
// (X.app/Contents/MacOS/velloa), the portable folder Velloa.app on Linux (Velloa.app/velloa).
struct InstallLocation {
    // Empty when the running app cannot be replaced in place: not inside such a folder, under
    // /usr (a package install, updated by the package manager), or the folder or the folder
    // that holds it not writable (the swap renames the folder).
    QString bundlePath;

    bool replaceable() const { return !bundlePath.isEmpty(); }

    // `appDir` is the folder of the running executable; `writable` says whether a folder can
    // be written to.
    static InstallLocation locate(const QString& appDir, UpdatePlatform platform,
                                  const std::function<bool(const QString&)>& writable);
    // The running app, from QCoreApplication::applicationDirPath().
    static InstallLocation ofRunningApp();
};

// True when `folder` holds what the platform needs to start the app: an executable
// velloa on Linux, Contents/MacOS on macOS. A release folder without it would leave the user
// with an app that does not start, so it is never installed.
bool isApplicationFolder(const QString& folder, UpdatePlatform platform);
