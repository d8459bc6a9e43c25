#include "app/Endpoints.h"
#include "sync/FeedSync.h"
#include "tests/support/ManualClock.h"
#include "tests/support/TestHttpServer.h"
#include "app/Translations.h"

#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

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

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void endpoints_data();
    void endpoints();
    void badVariableStopsTheApp();
    void qtErrorTextsInTheUsersLanguage();
};

// Accepted rows give the feed and inbox addresses, refused rows the line main() prints.
void TestStartup::endpoints_data() {
    QTest::addColumn<QStringList>("env");
    QTest::addColumn<QString>("builtInRelay");
    QTest::addColumn<QString>("dataUrl");
    QTest::addColumn<QString>("inboxUrl");
    QTest::addColumn<QString>("error");
    const QString relay = kDefaults.relayUrl;
    const QString data = kDefaults.dataUrl;
    const QString none;

    QTest::newRow("built-in") << QStringList{} << relay << data << relay + kTopic << none;
    QTest::newRow("overridden") << QStringList{"VELLOA_DATA_URL=https://lists.example.org/d.json", "VELLOA_TOPIC=other-topic"}
                                << relay << "https://lists.example.org/d.json" << relay + "other-topic" << none;
    QTest::newRow("relay without its slash") << QStringList{"VELLOA_RELAY_URL=https://relay.example.org"}
                                             << relay << data << "https://relay.example.org/" + kTopic << none;
    QTest::newRow("relay path without its slash") << QStringList{"VELLOA_RELAY_URL=https://relay.example.org/ntfy"}
                                                  << relay << data << "https://relay.example.org/ntfy/" + kTopic << none;
    QTest::newRow("built-in relay without its slash") << QStringList{} << "http://127.0.0.1:47613" << data
                                                      << "http://127.0.0.1:47613/" + kTopic << none;

    QTest::newRow("ftp relay") << QStringList{"VELLOA_RELAY_URL=ftp://relay.example.org/"} << relay << none << none
                               << notHttp("VELLOA_RELAY_URL", "uses ftp");
    QTest::newRow("empty data URL") << QStringList{"VELLOA_DATA_URL="} << relay << none << none
                                    << notHttp("VELLOA_DATA_URL", "is empty");
    QTest::newRow("relative data URL") << QStringList{"VELLOA_DATA_URL=data.json"} << relay << none << none
                                       << notHttp("VELLOA_DATA_URL", "has no scheme");
    QTest::newRow("update URL without host") << QStringList{"VELLOA_UPDATE_URL=http:///version.json"} << relay << none << none
                                             << notHttp("VELLOA_UPDATE_URL", "has no host");
    QTest::newRow("data URL that does not parse") << QStringList{"VELLOA_DATA_URL=https://h/a b"} << relay << none << none
                                                  << notHttp("VELLOA_DATA_URL", "does not parse");
    QTest::newRow("relay with a query") << QStringList{"VELLOA_RELAY_URL=https://relay.example.org/?t="} << relay << none << none
                                        << refused("VELLOA_RELAY_URL", "must not have a query or fragment: the topic is appended to its path");
    QTest::newRow("bad built-in relay") << QStringList{} << "relay.example.org/" << none << none
                                        << notHttp("VELLOA_RELAY_URL", "has no scheme (it is unset, and the built-in default from VELLOA_DEFAULT_RELAY_URL is used)");
    const QString slashes = refused("VELLOA_TOPIC", "must not hold \"/\", \"?\" or \"#\"");
    QTest::newRow("empty topic") << QStringList{"VELLOA_TOPIC="} << relay << none << none << refused("VELLOA_TOPIC", "must not be empty");
    QTest::newRow("topic with /") << QStringList{"VELLOA_TOPIC=secret/x"} << relay << none << none << slashes;
    QTest::newRow("topic with ?") << QStringList{"VELLOA_TOPIC=secret?x"} << relay << none << none << slashes;
    QTest::newRow("topic with #") << QStringList{"VELLOA_TOPIC=secret#x"} << relay << none << none << slashes;
    QTest::newRow("topic with a line feed") << QStringList{"VELLOA_TOPIC=secret\n"} << relay << none << none
                                            << refused("VELLOA_TOPIC", "holds characters a URL path cannot carry");
}

void TestStartup::endpoints() {
    QFETCH(QStringList, env);
    QFETCH(QString, builtInRelay);
    QFETCH(QString, dataUrl);
    QFETCH(QString, inboxUrl);
    QFETCH(QString, error);

    QProcessEnvironment environment;
    for (const QString& pair : env)
        environment.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    Endpoints::Defaults defaults = kDefaults;
    defaults.relayUrl = builtInRelay;
    QString line;
    const std::optional<Endpoints> endpoints = Endpoints::fromEnvironment(environment, defaults, &line);
    QCOMPARE(line, error);
    QCOMPARE(endpoints ? endpoints->DATA_URL : QString(), dataUrl);
    QCOMPARE(endpoints ? endpoints->NTFY_URL : QString(), inboxUrl);
}

// The real binary refuses before it shows anything: one line naming the variable, status 2.
void TestStartup::badVariableStopsTheApp() {
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
void TestStartup::qtErrorTextsInTheUsersLanguage() {
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

QTEST_GUILESS_MAIN(TestStartup)
#include "test_startup.moc"
