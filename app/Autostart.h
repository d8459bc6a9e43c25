#pragma once

#include <QString>

// Starting the app at login, for this user, through the file the desktop reads at login: an
// XDG autostart entry on Linux (AUTOSTART/velloa.desktop), a LaunchAgent on macOS
// (LaunchAgents/ID.plist). Whether it is on is read back from that file every time: a user
// who deletes it, or turns it off in the desktop's own settings, sees that in the menu.
class Autostart {
public:
    enum class Kind { XdgAutostart, LaunchAgent };

    // `folder` holds the file; `program` is the executable started at login.
    Autostart(Kind kind, QString folder, QString program);
    // This user's, for the running executable: $XDG_CONFIG_HOME/autostart (~/.config/autostart)
    // or ~/Library/LaunchAgents.
    static Autostart forThisUser();

    QString filePath() const;
    // The file is there and does not say it is off (Hidden=true or
    // X-GNOME-Autostart-enabled=false in an autostart entry, Disabled in a LaunchAgent).
    bool isEnabled() const;
    // Writes the file (replacing one that was turned off) or removes it; false when that
    // failed, and then isEnabled() still tells the truth.
    bool setEnabled(bool on) const;
    // What the file holds when it is on.
    QByteArray fileText() const;

private:
    Kind m_kind;
    QString m_folder;
    QString m_program;
};

// The Exec value of a desktop entry that runs exactly `program`: quoted, with the characters
// desktop entries reserve escaped, `%` doubled, then written as a desktop-entry string.
QString desktopExecValue(const QString& program);
