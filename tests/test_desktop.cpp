#include "app/Autostart.h"
#include "app/SessionPlatform.h"
#include "app/SingleInstance.h"

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

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

private slots:
    void autostartRoundTrip_data();
    void autostartRoundTrip();
    void secondLaunchHandsOverAlsoAfterACrash();
    void qtPlatform_data();
    void qtPlatform();
};

// Every byte a path may hold that a desktop entry or a plist gives a meaning to, and a line
// break. The entry quotes the path (escaping " ` $ \), doubles %, then writes it with the
// string escapes (doubling each backslash again); the plist escapes it as XML text.
void TestDesktop::autostartRoundTrip_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QByteArray>("existing"); // a file there before, if not null
    QTest::addColumn<bool>("enabled");        // what that file says
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("programLine");
    const QString hostile =
        QStringLiteral(R"(/home/u/My Apps/it's "odd" $HOME `x` 100% a\b & <c>/velloa)");
    const QString entryLine =
        R"(Exec="/home/u/My Apps/it's \\"odd\\" \\$HOME \\`x\\` 100%% a\\\\b & <c>/velloa")";
    const QString plistLine =
        R"(<string>/home/u/My Apps/it's &quot;odd&quot; $HOME `x` 100% a\b &amp; &lt;c&gt;/velloa</string>)";
    const auto row = [&](const char* name, Kind kind, const QByteArray& existing, bool enabled) {
        QTest::newRow(name) << kind << existing << enabled << hostile
                            << (kind == Kind::XdgAutostart ? entryLine : plistLine);
    };
    row("autostart entry", Kind::XdgAutostart, {}, false);
    QTest::newRow("autostart entry, line break")
        << Kind::XdgAutostart << QByteArray() << false << "/a\nb"
        << R"(Exec="/a\nb")";
    row("LaunchAgent", Kind::LaunchAgent, {}, false);
    // The desktop's own settings may have turned it off. (GNOME's switch is test_app's.)
    row("Hidden", Kind::XdgAutostart, "[Desktop Entry]\nHidden = true\n", false);
    row("another group's Hidden", Kind::XdgAutostart,
        "[Desktop Entry]\nExec=v\n[Desktop Action x]\nHidden=true\n", true);
    row("LaunchAgent Disabled", Kind::LaunchAgent,
        "<dict>\n<key>Disabled</key>\n  <true/>\n</dict>", false);
}

// The state is what the file says. On writes a file the desktop accepts, over any there, in a
// folder made on the way; off removes it; both can be asked twice.
void TestDesktop::autostartRoundTrip() {
    QFETCH(Kind, kind);
    QFETCH(QByteArray, existing);
    QFETCH(bool, enabled);
    QFETCH(QString, program);
    QFETCH(QString, programLine);
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("config/autostart"));
    const Autostart autostart(kind, folder, program);
    QCOMPARE(autostart.filePath(),
             folder +
                 (kind == Kind::XdgAutostart ? "/velloa.desktop" : "/org.velloa.Velloa.plist"));
    QVERIFY(existing.isNull() ||
            (QDir().mkpath(folder) && writeText(autostart.filePath(), existing)));
    QCOMPARE(autostart.isEnabled(), enabled);
    QVERIFY(autostart.setEnabled(true) && autostart.setEnabled(true) && autostart.isEnabled());
    QFile file(autostart.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(text.contains(programLine + u'\n'), qPrintable(text));
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
    QCOMPARE(later.exitCode(), 0); // a signal's number is never 0
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
