#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The platform whose tools the apply script uses and whose application folder layout the
// updater expects.
enum class UpdatePlatform { MacOS, Linux };

#ifdef Q_OS_MACOS
inline constexpr UpdatePlatform kHostPlatform = UpdatePlatform::MacOS;
#else
inline constexpr UpdatePlatform kHostPlatform = UpdatePlatform::Linux;
#endif

// The name of the executable inside a Linux application folder (Velloa.app/velloa).
inline const QString kLinuxExecutable = QStringLiteral("velloa");

struct ApplyPaths {
    qint64 pid = 0; // the running app, which the script waits for
    QString target; // the application folder being replaced
    QString newApp; // the unpacked new application folder
    QString work;   // the work folder, removed at the end
};

// `text` between single quotes, each ' written as '\'' : inside single quotes the shell takes
// every byte literally, so no ", $, `, \ or line break in a path can run anything.
QByteArray shellQuote(const QByteArray& text);

// The apply script: wait until `pid` has exited, move the old application aside, copy the
// new one into its place (putting the old one back if the copy fails, also half-way), remove
// the old one, start the new one, remove the work folder. macOS copies with ditto, clears the
// quarantine attribute and opens the bundle; Linux copies with cp -a and starts the
// executable in a session of its own. Nothing when a path is not absolute or the pid is not
// positive (kill -0 with 0 or less would wait on a whole process group).
std::optional<QByteArray> applyScript(UpdatePlatform platform, const ApplyPaths& paths);
