#include "app/Autostart.h"

#include "generated/Version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

Autostart::Autostart(Kind kind, QString folder, QString program)
    : m_kind(kind), m_folder(std::move(folder)), m_program(std::move(program)) {}

Autostart Autostart::forThisUser() {
    const QString program = QCoreApplication::applicationFilePath();
#ifdef Q_OS_MACOS
    return {Kind::LaunchAgent, QDir::homePath() + QStringLiteral("/Library/LaunchAgents"), program};
#else
    // GenericConfigLocation is $XDG_CONFIG_HOME when it is set, ~/.config otherwise.
    return {Kind::XdgAutostart,
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                QStringLiteral("/autostart"),
            program};
#endif
}

QString Autostart::filePath() const {
    const QString name = m_kind == Kind::LaunchAgent ? APP_BUNDLE_ID + QStringLiteral(".plist")
                                                     : QStringLiteral("velloa.desktop");
    return QDir(m_folder).filePath(name);
}

namespace {

// The desktop entry's own switches: either one turns an autostart file off without
// removing it (GNOME's and other session settings write them).
bool desktopEntrySaysOff(const QString& text) {
    bool inEntry = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inEntry || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if ((key == QLatin1String("Hidden") && value == QLatin1String("true")) ||
            (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false")))
            return true;
    }
    return false;
}

} // namespace

bool Autostart::isEnabled() const {
    QFile file(filePath());
    if (!file.exists())
        return false;
    if (!file.open(QIODevice::ReadOnly))
        return true; // there, and the desktop reads it as best it can
    const QString text = QString::fromUtf8(file.readAll());
    if (m_kind == Kind::LaunchAgent)
        return !text.contains(QRegularExpression(QStringLiteral("<key>Disabled</key>\\s*<true/>")));
    return !desktopEntrySaysOff(text);
}

bool Autostart::setEnabled(bool on) const {
    if (!on)
        return !QFile::exists(filePath()) || QFile::remove(filePath());
    if (!QDir().mkpath(m_folder))
        return false;
    QSaveFile file(filePath());
    const QByteArray text = fileText();
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

QByteArray Autostart::fileText() const {
    if (m_kind == Kind::LaunchAgent) {
        // Only in a graphical login (Aqua), started once at load; launchd does not restart it.
        return QStringLiteral(
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                   "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                   "<plist version=\"1.0\">\n<dict>\n"
                   "    <key>Label</key>\n    <string>%1</string>\n"
                   "    <key>ProgramArguments</key>\n    <array>\n        <string>%2</string>\n"
                   "    </array>\n"
                   "    <key>RunAtLoad</key>\n    <true/>\n"
                   "    <key>LimitLoadToSessionType</key>\n    <string>Aqua</string>\n"
                   "    <key>ProcessType</key>\n    <string>Interactive</string>\n"
                   "</dict>\n</plist>\n")
            .arg(APP_BUNDLE_ID.toHtmlEscaped(), m_program.toHtmlEscaped())
            .toUtf8();
    }
    // X-LXQt-Need-Tray: LXQt starts it once its tray is up (elsewhere the app waits for the
    // tray itself).
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=维洛清单\n"
                          "Comment=登录时启动维洛清单\n"
                          "Exec=%1\n"
                          "Icon=velloa\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n"
                          "X-LXQt-Need-Tray=true\n")
        .arg(desktopExecValue(m_program))
        .toUtf8();
}

QString desktopExecValue(const QString& program) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';
    // The string escapes apply to the value as a whole, after the quoting.
    QString value;
    for (const QChar c : quoted) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}
