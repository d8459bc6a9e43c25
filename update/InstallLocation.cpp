#include "update/InstallLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

InstallLocation InstallLocation::locate(const QString& appDir, UpdatePlatform platform,
                                        const std::function<bool(const QString&)>& writable) {
    const QString dir = QDir::cleanPath(appDir);
    QString bundle;
    if (platform == UpdatePlatform::MacOS) {
        // X.app/Contents/MacOS
        const QString contents = QFileInfo(dir).path();
        if (QFileInfo(dir).fileName() == QLatin1String("MacOS") &&
            QFileInfo(contents).fileName() == QLatin1String("Contents") &&
            QFileInfo(contents).path().endsWith(QLatin1String(".app")))
            bundle = QFileInfo(contents).path();
    } else if (QFileInfo(dir).fileName() == QLatin1String("Velloa.app")) {
        bundle = dir;
    }
    if (bundle.isEmpty() || !QDir::isAbsolutePath(bundle) ||
        bundle.startsWith(QLatin1String("/usr/")))
        return {};
    const QString parent = QFileInfo(bundle).path();
    if (parent == bundle || !writable(bundle) || !writable(parent))
        return {};
    return {bundle};
}

InstallLocation InstallLocation::ofRunningApp() {
    const QString dir = QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath();
    return locate(dir, kHostPlatform,
                  [](const QString& path) { return QFileInfo(path).isWritable(); });
}

bool isApplicationFolder(const QString& folder, UpdatePlatform platform) {
    const QFileInfo info(folder);
    if (!info.isDir() || info.isSymLink())
        return false;
    if (platform == UpdatePlatform::MacOS)
        return QFileInfo(folder + QStringLiteral("/Contents/MacOS")).isDir();
    const QFileInfo executable(folder + u'/' + kLinuxExecutable);
    return executable.isFile() && !executable.isSymLink() && executable.isExecutable();
}
