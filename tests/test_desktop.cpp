#include "Autostart.h"
#include "SessionPlatform.h"
#include "SingleInstance.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using Kind = Autostart::Kind;

namespace {

bool writeText(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// A path that needs every kind of escaping a desktop entry and a plist know of.
const QString kHostile = QStringLiteral("/home/u/My Apps/it's \"odd\" $HOME `x` 100% a\\b & <c>/velloa");

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

private slots:
    void autostartRoundTrip_data();
    void autostartRoundTrip();
    void autostartReadsTheFile_data();
    void autostartReadsTheFile();
    void execValue_data();
    void execValue();
    void secondLaunchHandsOverAlsoAfterACrash();
    void qtPlatform_data();
    void qtPlatform();
};

void TestDesktop::autostartRoundTrip_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("programLine");
    QTest::newRow("autostart entry") << Kind::XdgAutostart << "velloa.desktop" << "\nExec=" + desktopExecValue(kHostile) + "\n";
    QTest::newRow("LaunchAgent") << Kind::LaunchAgent << "org.velloa.Velloa.plist" << ">" + kHostile.toHtmlEscaped() + "<";
}

// On writes a file the desktop accepts, in a folder made on the way; off removes it; both
// can be asked twice.
void TestDesktop::autostartRoundTrip() {
    QFETCH(Kind, kind);
    QFETCH(QString, name);
    QFETCH(QString, programLine);
    QTemporaryDir home;
    const Autostart autostart(kind, home.filePath(QStringLiteral("config/autostart")), kHostile);
    QCOMPARE(autostart.filePath(), home.filePath(QStringLiteral("config/autostart/")) + name);
    QVERIFY(!autostart.isEnabled());
    QVERIFY(autostart.setEnabled(true) && autostart.setEnabled(true) && autostart.isEnabled());
    QFile file(autostart.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly) && QString::fromUtf8(file.readAll()).contains(programLine));
    if (kind == Kind::XdgAutostart) {
        QProcess validate; // desktop-file-utils
        validate.start(QStringLiteral("desktop-file-validate"), {autostart.filePath()});
        QVERIFY(validate.waitForFinished(30000));
        QVERIFY2(validate.exitCode() == 0 && validate.readAllStandardOutput().isEmpty(),
                 validate.readAllStandardError().constData());
    }
    QVERIFY(autostart.setEnabled(false) && autostart.setEnabled(false));
    QVERIFY(!QFile::exists(autostart.filePath()) && !autostart.isEnabled());
}

// The state is what the file says, also after the desktop's own settings turned it off; on
// again writes our entry over theirs.
void TestDesktop::autostartReadsTheFile_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("ours") << Kind::XdgAutostart << QByteArray("[Desktop Entry]\nExec=velloa\n") << true;
    QTest::newRow("Hidden") << Kind::XdgAutostart << QByteArray("[Desktop Entry]\nHidden = true\n") << false;
    QTest::newRow("GNOME switch off") << Kind::XdgAutostart
                                      << QByteArray("[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n") << false;
    QTest::newRow("another group's Hidden") << Kind::XdgAutostart
                                            << QByteArray("[Desktop Entry]\nExec=v\n[Desktop Action x]\nHidden=true\n") << true;
    QTest::newRow("LaunchAgent Disabled") << Kind::LaunchAgent
                                          << QByteArray("<dict>\n<key>Disabled</key>\n  <true/>\n</dict>") << false;
}

void TestDesktop::autostartReadsTheFile() {
    QFETCH(Kind, kind);
    QFETCH(QByteArray, text);
    QFETCH(bool, enabled);
    QTemporaryDir folder;
    const Autostart autostart(kind, folder.path(), QStringLiteral("/usr/bin/velloa"));
    QVERIFY(writeText(autostart.filePath(), text));
    QCOMPARE(autostart.isEnabled(), enabled);
    QVERIFY(autostart.setEnabled(true));
    QVERIFY(autostart.isEnabled());
}

void TestDesktop::execValue_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("value");
    QTest::newRow("space") << "/opt/My Apps/velloa" << R"("/opt/My Apps/velloa")";
    // Quoting escapes " ` $ \ with a backslash, then the string escape doubles every backslash.
    QTest::newRow("reserved") << R"(/a"b`c$d\e%f)" << R"("/a\\"b\\`c\\$d\\\\e%%f")";
    QTest::newRow("line break") << "/a\nb" << R"("/a\nb")";
}

void TestDesktop::execValue() {
    QFETCH(QString, program);
    QFETCH(QString, value);
    QCOMPARE(desktopExecValue(program), value);
}

// The real app, twice, in a runtime folder of its own: the first is killed, as in a crash,
// and leaves its lock and socket behind; this process takes them over, and a later launch
// hands over to it and ends with status 0.
void TestDesktop::secondLaunchHandsOverAlsoAfterACrash() {
    QTemporaryDir runtime;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), runtime.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const char* name : {"VELLOA_DATA_URL", "VELLOA_UPDATE_URL", "VELLOA_RELAY_URL"})
        env.insert(QLatin1String(name), QStringLiteral("http://127.0.0.1:9/")); // refused
    const auto launch = [&](QProcess& app) {
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(VELLOA_APP_BIN), {});
        return app.waitForStarted();
    };
    SingleInstance instance(runtime.path());

    QProcess crashed;
    QVERIFY(launch(crashed));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(instance.socketPath()), 30000);
    QVERIFY(!SingleInstance(runtime.path()).claim());
    crashed.kill();
    QVERIFY(crashed.waitForFinished());
    QVERIFY2(QFile::exists(instance.lockPath()), "the crash left its lock");

    QVERIFY(instance.claim());
    QVERIFY2(!SingleInstance(runtime.path()).claim(), "the lock is held now");
    QSignalSpy shown(&instance, &SingleInstance::activationRequested);
    QProcess later;
    QVERIFY(launch(later));
    // This process answers from its event loop, so the wait must keep it running.
    QTRY_COMPARE_WITH_TIMEOUT(later.state(), QProcess::NotRunning, 30000);
    QCOMPARE(later.exitStatus(), QProcess::NormalExit);
    QCOMPARE(later.exitCode(), 0);
    QCOMPARE(shown.size(), 1);
}

void TestDesktop::qtPlatform_data() {
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<QByteArray>("platform"); // empty: leave Qt's choice
    const QByteArray keep;
    QTest::newRow("X11 session") << QStringList{"DISPLAY=:0", "XDG_SESSION_TYPE=x11"} << keep;
    QTest::newRow("Wayland with XWayland") << QStringList{"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0"} << QByteArray("xcb");
    QTest::newRow("session type only") << QStringList{"XDG_SESSION_TYPE=wayland", "DISPLAY=:1"} << QByteArray("xcb");
    QTest::newRow("Wayland without XWayland") << QStringList{"WAYLAND_DISPLAY=wayland-0", "XDG_SESSION_TYPE=wayland"} << keep;
    QTest::newRow("user chose wayland") << QStringList{"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=w", "DISPLAY=:0"} << keep;
    QTest::newRow("empty choice is no choice") << QStringList{"QT_QPA_PLATFORM=", "WAYLAND_DISPLAY=w", "DISPLAY=:0"} << QByteArray("xcb");
    QTest::newRow("empty DISPLAY") << QStringList{"WAYLAND_DISPLAY=w", "DISPLAY="} << keep;
    QTest::newRow("console") << QStringList{} << keep;
}

void TestDesktop::qtPlatform() {
    QFETCH(QStringList, env);
    QFETCH(QByteArray, platform);
    QProcessEnvironment e;
    for (const QString& pair : env)
        e.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    QCOMPARE(preferredQtPlatform(e).value_or(QByteArray()), platform);
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "test_desktop.moc"
