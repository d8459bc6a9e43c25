// The app as a desktop citizen, outside the list: the endpoint checks at start-up (also through
// the real binary) and Qt's translations; start at login, one instance (through the real
// binary), the platform; and its message boxes, the launch question and the updater's alerts
// (one look, texts in place, buttons in their order, what each answer means).
#include "app/Autostart.h"
#include "app/Endpoints.h"
#include "app/ListQuestionBox.h"
#include "app/SessionPlatform.h"
#include "app/SingleInstance.h"
#include "app/Translations.h"
#include "app/UpdateAlerts.h"
#include "support/Assets.h"
#include "support/Theme.h"
#include "sync/FeedSync.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TestHttpServer.h"

#include <QApplication>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using Kind = Autostart::Kind;
// Runs one of the app's boxes; what the answer meant.
using Ask = std::function<QString()>;

namespace {

const QString kTopic = QStringLiteral("velloa-secret-topic-0123456789");

const Endpoints::Defaults kDefaults{QStringLiteral("http://127.0.0.1:47613/data.json"),
                                    QStringLiteral("http://127.0.0.1:47613/version.json"),
                                    QStringLiteral("http://127.0.0.1:47613/"), kTopic};

QString refused(const char* variable, const char* rule) {
    return QStringLiteral("velloa: %1 %2").arg(QLatin1String(variable), QString::fromUtf8(rule));
}

QString notHttp(const char* variable, const char* fault) {
    return refused(variable, "must be an absolute http or https URL, but it ") + QLatin1String(fault);
}

// What a box showed: its title, text, informative text and buttons left to right as laid
// out (what the user sees), and its icon.
struct Seen {
    QStringList shown;
    QImage icon;
};

enum Key { kEscape = -1, kReturn = -2 };

// Answers the next modal box with `answer` (a button index, or a Key) once it shows, noting
// what it showed.
void answerNextBox(int answer, Seen* seen) {
    QTimer::singleShot(0, [answer, seen] {
        QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        seen->shown = QStringList{box->windowTitle(), box->text(), box->informativeText()};
        seen->icon = box->iconPixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        QList<QAbstractButton*> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
            return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
        });
        for (QAbstractButton* button : buttons)
            seen->shown << button->text();
        if (answer < 0)
            QTest::keyClick(box, answer == kEscape ? Qt::Key_Escape : Qt::Key_Return);
        else
            buttons[answer]->click();
    });
}
struct EndpointsCase { QStringList env; QString builtInRelay, dataUrl, inboxUrl, error; };
struct BoxesCase { Ask ask; int answer; QString meant; QStringList shown; };
struct AutostartRoundTripCase {
    Kind kind;
    QByteArray existing; // a file there before, if not null
    bool enabled; // what that file says
    QString program, programLine;
};
} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private slots:
    // Accepted rows give the feed and inbox addresses, refused rows the line main() prints.
    void endpoints_data() {
        QTest::addColumn<EndpointsCase>("c");
        const QString relay = kDefaults.relayUrl;
        const QString data = kDefaults.dataUrl;
        const QString none;

        QTest::newRow("built-in") << EndpointsCase{QStringList{}, relay, data, relay + kTopic, none};
        QTest::newRow("overridden") << EndpointsCase{QStringList{"VELLOA_DATA_URL=https://lists.example.org/d.json", "VELLOA_TOPIC=other-topic"},
                                    relay, "https://lists.example.org/d.json", relay + "other-topic", none};
        QTest::newRow("relay without its slash") << EndpointsCase{QStringList{"VELLOA_RELAY_URL=https://relay.example.org"},
                                                 relay, data, "https://relay.example.org/" + kTopic, none};
        QTest::newRow("relay path without its slash") << EndpointsCase{QStringList{"VELLOA_RELAY_URL=https://relay.example.org/ntfy"},
                                                      relay, data, "https://relay.example.org/ntfy/" + kTopic, none};
        QTest::newRow("built-in relay without its slash") << EndpointsCase{QStringList{}, "http://127.0.0.1:47613", data,
                                                          "http://127.0.0.1:47613/" + kTopic, none};

        QTest::newRow("ftp relay") << EndpointsCase{QStringList{"VELLOA_RELAY_URL=ftp://relay.example.org/"}, relay, none, none,
                                   notHttp("VELLOA_RELAY_URL", "uses ftp")};
        QTest::newRow("empty data URL") << EndpointsCase{QStringList{"VELLOA_DATA_URL="}, relay, none, none,
                                        notHttp("VELLOA_DATA_URL", "is empty")};
        QTest::newRow("relative data URL") << EndpointsCase{QStringList{"VELLOA_DATA_URL=data.json"}, relay, none, none,
                                           notHttp("VELLOA_DATA_URL", "has no scheme")};
        QTest::newRow("update URL without host") << EndpointsCase{QStringList{"VELLOA_UPDATE_URL=http:///version.json"}, relay, none, none,
                                                 notHttp("VELLOA_UPDATE_URL", "has no host")};
        QTest::newRow("data URL that does not parse") << EndpointsCase{QStringList{"VELLOA_DATA_URL=https://h/a b"}, relay, none, none,
                                                      notHttp("VELLOA_DATA_URL", "does not parse")};
        QTest::newRow("relay with a query") << EndpointsCase{QStringList{"VELLOA_RELAY_URL=https://relay.example.org/?t="}, relay, none, none,
                                            refused("VELLOA_RELAY_URL", "must not have a query or fragment: the topic is appended to its path")};
        QTest::newRow("bad built-in relay") << EndpointsCase{QStringList{}, "relay.example.org/", none, none,
                                            notHttp("VELLOA_RELAY_URL", "has no scheme (it is unset, and the built-in default from VELLOA_DEFAULT_RELAY_URL is used)")};
        const QString slashes = refused("VELLOA_TOPIC", "must not hold \"/\", \"?\" or \"#\"");
        QTest::newRow("empty topic") << EndpointsCase{QStringList{"VELLOA_TOPIC="}, relay, none, none, refused("VELLOA_TOPIC", "must not be empty")};
        QTest::newRow("topic with /") << EndpointsCase{QStringList{"VELLOA_TOPIC=secret/x"}, relay, none, none, slashes};
        QTest::newRow("topic with ?") << EndpointsCase{QStringList{"VELLOA_TOPIC=secret?x"}, relay, none, none, slashes};
        QTest::newRow("topic with #") << EndpointsCase{QStringList{"VELLOA_TOPIC=secret#x"}, relay, none, none, slashes};
        QTest::newRow("topic with a line feed") << EndpointsCase{QStringList{"VELLOA_TOPIC=secret\n"}, relay, none, none,
                                                refused("VELLOA_TOPIC", "holds characters a URL path cannot carry")};
    }

    void endpoints() {
        QFETCH(EndpointsCase, c);

        QProcessEnvironment environment;
        for (const QString& pair : c.env)
            environment.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        Endpoints::Defaults defaults = kDefaults;
        defaults.relayUrl = c.builtInRelay;
        QString line;
        const std::optional<Endpoints> endpoints = Endpoints::fromEnvironment(environment, defaults, &line);
        QCOMPARE(line, c.error);
        QCOMPARE(endpoints ? endpoints->DATA_URL : QString(), c.dataUrl);
        QCOMPARE(endpoints ? endpoints->NTFY_URL : QString(), c.inboxUrl);
    }

    // The real binary refuses before it shows anything: one line naming the variable, status 2.
    void badVariableStopsTheApp() {
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("VELLOA_TOPIC"), kTopic);
        env.insert(QStringLiteral("VELLOA_RELAY_URL"), QStringLiteral("ftp://relay.example.org/"));
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(VELLOA_APP_BIN), {});
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 2);
        QCOMPARE(QString::fromLocal8Bit(app.readAllStandardError()),
                 notHttp("VELLOA_RELAY_URL", "uses ftp") + u'\n');
        QVERIFY(app.readAllStandardOutput().isEmpty());
    }

    // The menu's warning line shows Qt's description of a network error: on a Chinese desktop, in
    // Chinese.
    void qtErrorTextsInTheUsersLanguage() {
        QVERIFY(installQtTranslations(QLocale(QLocale::Chinese, QLocale::China)));
        QString url;
        {
            TestHttpServer closed;
            QVERIFY(closed.listen());
            url = closed.url(QStringLiteral("/data.json"));
        } // its port refuses connections now
        ListStore state;
        QNetworkAccessManager network;
        ManualClock clock;
        FeedSync sync(state, network, clock);
        sync.dataUrl = url;
        QSignalSpy failed(&sync, &FeedSync::refreshFailed);
        sync.refresh();
        QVERIFY(failed.wait(15000));
        QCOMPARE(failed.value(0).value(0).toString(), QStringLiteral("连接被拒绝"));
    }

private slots:
    // Every byte a path may hold that a desktop entry or a plist gives a meaning to, and a line
    // break. The entry quotes the path (escaping " ` $ \), doubles %, then writes it with the
    // string escapes (doubling each backslash again); the plist escapes it as XML text.
    void autostartRoundTrip_data();

    // The state is what the file says. On writes a file the desktop accepts, over any there, in a
    // folder made on the way; off removes it; both can be asked twice.
    void autostartRoundTrip() {
        QFETCH(AutostartRoundTripCase, c);
        QTemporaryDir home;
        const QString folder = home.filePath(QStringLiteral("config/autostart"));
        const Autostart autostart(c.kind, folder, c.program);
        QCOMPARE(autostart.filePath(),
                 folder +
                     (c.kind == Kind::XdgAutostart ? "/velloa.desktop" : "/org.velloa.Velloa.plist"));
        QVERIFY(c.existing.isNull() ||
                (QDir().mkpath(folder) && writeFile(autostart.filePath(), c.existing)));
        QCOMPARE(autostart.isEnabled(), c.enabled);
        QVERIFY(autostart.setEnabled(true) && autostart.setEnabled(true) && autostart.isEnabled());
        const QString text = QString::fromUtf8(readFile(autostart.filePath()));
        QVERIFY2(text.contains(c.programLine + u'\n'), qPrintable(text));
        if (c.kind == Kind::XdgAutostart) {
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
    void secondLaunchHandsOverAlsoAfterACrash() {
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

    void qtPlatform_data() {
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

    void qtPlatform() {
        QFETCH(QStringList, env);
        QFETCH(QByteArray, platform);
        QProcessEnvironment e;
        for (const QString& pair : env)
            e.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        QCOMPARE(preferredQtPlatform(e).value_or(QByteArray()), platform);
    }

private slots:
    void boxes_data() {
        QTest::addColumn<BoxesCase>("c");
        const Ask list = [] { return ListQuestionBox().askWhichList(); };
        const Ask offer = [] {
            return UpdateAlerts().promptUpdate("维洛清单有新版本 v2.14 啦", "当前 v2.13。") ? "update" : "later";
        };
        const Ask notice = [] {
            UpdateAlerts().alert("更新失败", "网络问题\n可以手动装：https://h/v.zip");
            return QString();
        };
        const QStringList listShown{"维洛清单", "显示哪份 To-do？", "之后点最上面那一行就能随时切换。",
                                    "阿蓁的 To-do", "晴川子的 To-do"};
        const QStringList offerShown{"维洛清单", "维洛清单有新版本 v2.14 啦", "当前 v2.13。", "马上更新", "以后再说"};
        QTest::newRow("list: 阿蓁的 To-do") << BoxesCase{list, 0, "mine", listShown};
        QTest::newRow("list: 晴川子的 To-do") << BoxesCase{list, 1, "hers", listShown};
        QTest::newRow("list: Return, the default") << BoxesCase{list, int(kReturn), "mine", listShown};
        QTest::newRow("offer: 马上更新") << BoxesCase{offer, 0, "update", offerShown};
        QTest::newRow("offer: 以后再说") << BoxesCase{offer, 1, "later", offerShown};
        QTest::newRow("offer: Escape") << BoxesCase{offer, int(kEscape), "later", offerShown};
        QTest::newRow("notice: Escape") << BoxesCase{notice, int(kEscape), QString(),
                                        QStringList{"维洛清单", "更新失败", "网络问题\n可以手动装：https://h/v.zip", "好"}};
    }

    // Every box has the app's look (its name as the title, the 36-pixel artwork as the icon, not
    // a themed one), its texts and buttons in their order, and each answer means what it says.
    void boxes() {
        QFETCH(BoxesCase, c);
        Seen seen;
        answerNextBox(c.answer, &seen);
        QCOMPARE(c.ask(), c.meant);
        QCOMPARE(seen.shown, c.shown);
        QVERIFY(seen.icon == decodeBase64Image(ICON_B64()).value().convertToFormat(QImage::Format_ARGB32));
    }
};

void TestDesktop::autostartRoundTrip_data() {
    QTest::addColumn<AutostartRoundTripCase>("c");
    const QString hostile =
        QStringLiteral(R"(/home/u/My Apps/it's "odd" $HOME `x` 100% a\b & <c>/velloa)");
    const QString entryLine =
        R"(Exec="/home/u/My Apps/it's \\"odd\\" \\$HOME \\`x\\` 100%% a\\\\b & <c>/velloa")";
    const QString plistLine =
        R"(<string>/home/u/My Apps/it's &quot;odd&quot; $HOME `x` 100% a\b &amp; &lt;c&gt;/velloa</string>)";
    const auto row = [&](const char* name, Kind kind, const QByteArray& existing, bool enabled) {
        QTest::newRow(name) << AutostartRoundTripCase{kind, existing, enabled, hostile,
                            (kind == Kind::XdgAutostart ? entryLine : plistLine)};
    };
    row("autostart entry", Kind::XdgAutostart, {}, false);
    QTest::newRow("autostart entry, line break") << AutostartRoundTripCase{
        Kind::XdgAutostart, QByteArray(), false, "/a\nb",
        R"(Exec="/a\nb")"};
    row("LaunchAgent", Kind::LaunchAgent, {}, false);
    // The desktop's own settings may have turned it off. (GNOME's switch is test_app's.)
    row("Hidden", Kind::XdgAutostart, "[Desktop Entry]\nHidden = true\n", false);
    row("another group's Hidden", Kind::XdgAutostart,
        "[Desktop Entry]\nExec=v\n[Desktop Action x]\nHidden=true\n", true);
    row("LaunchAgent Disabled", Kind::LaunchAgent,
        "<dict>\n<key>Disabled</key>\n  <true/>\n</dict>", false);
}

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
