// The update check, download and installation end to end against a real velloa-hub (its
// version.json and releases/) and, for what a hub never does (a time-out, a drip), the loopback
// test server. The user's answers come from a recorder. The wire faults themselves are
// test_transport's; here those two show what the updater makes of a transport failure.
#include "update/ApplyScript.h"
#include "tests/support/TestHttpServer.h"
#include "update/UpdateTexts.h"
#include "update/Updater.h"
#include "tests/hub_process.h"
#include "tests/test_update_support.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
namespace text = update_text;

namespace {

class RecordingUi : public UpdateUi {
public:
    bool promptUpdate(const QString& title, const QString& text) override {
        calls << QStringList{"offer", title, text}.join(u'|');
        return accept;
    }
    void alert(const QString& title, const QString& text) override {
        calls << QStringList{"alert", title, text}.join(u'|');
    }

    QStringList calls;
    bool accept = false;
};

QString alertCall(const QString& title, const QString& body) {
    return QStringList{"alert", title, body}.join(u'|');
}

QByteArray sha256(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

struct CheckCase {
    QString answer; // a manifest for the hub, or how the server fails
    bool manual; QStringList calls;
};
} // namespace

class TestUpdateFlow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(hubData.isValid() && scratch.isValid());
        QVERIFY(QDir().mkpath(hubData.filePath("releases")));
        hub = std::make_unique<HubProcess>(hubData.path());
        QVERIFY2(hub->start(), hub->output().constData());
        bundle = scratch.filePath("apps/Velloa.app");
        tmp = scratch.filePath("tmp");
        QVERIFY(writeFile(scratch.filePath("outside.txt"), "outside"));
    }

    void init() {
        QVERIFY(QDir(bundle).removeRecursively() && QDir(tmp).removeRecursively());
        QVERIFY(writeFile(bundle + "/velloa", appScript("old"), true));
        QVERIFY(writeFile(bundle + "/resources/notes.txt", "old resources"));
        QVERIFY(QDir().mkpath(tmp));
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->listen());
        network = std::make_unique<QNetworkAccessManager>();
        ui = std::make_unique<RecordingUi>();
        updater = std::make_unique<Updater>(*network, *ui);
        updater->updateUrl = hubUrl("/version.json");
        updater->appVersion = QStringLiteral("2.13");
        updater->location.bundlePath = bundle;
        updater->tempDir = tmp;
        updater->pid = 4242;
        updater->shell = QStringLiteral("/bin/true"); // the script is run for real in one test only
        updater->platform = UpdatePlatform::Linux;
    }

    void cleanup() {
        updater.reset();
        network.reset();
        server.reset();
        QFile::remove(hubData.filePath("version.json"));
    }

    // The check's outcomes, silent and manual, for every kind of answer.
    void check_data();

    void check();

    // One offer per run, however many checks follow; declining only closes it.
    void offerOncePerRun();

    void install_data() {
        QTest::addColumn<QString>("release"); // file name in the hub's releases/
        QTest::addColumn<QString>("tweak");   // what else the row changes
        // "" nothing after the offer; "=FOLDER" the install goes ahead with W/FOLDER; otherwise
        // the failure alert, "TITLE|DESCRIPTION" (the description's start).
        QTest::addColumn<QString>("outcome");

        using E = ArchiveEntry;
        const QList<E> app = releaseEntries("new");
        const QList<std::pair<QString, QList<E>>> zips{
            {"good.zip", app},
            {"docs-first.zip", QList{E::file("A-docs/readme", "r"), E::file("README", "hi")} + app},
            {"two-apps.zip", app + releaseEntries("alpha", "Alpha.app")},
            {"dotdot.zip", app + QList{E::file("../../escaped.txt", "x")}},
            {"symlink-out.zip",
             app + QList{E::symlink("Velloa.app/up", "../../.."), E::file("Velloa.app/up/x", "x")}},
            {"bomb.zip", app + QList{E{"Velloa.app/zeros", E::File, {}, {}, 0644, 64 << 20}}},
            {"parts.zip", app + QList{E{"Velloa.app/a", E::File, {}, {}, 0644, 600 << 10},
                                      E{"Velloa.app/b", E::File, {}, {}, 0644, 600 << 10}}},
            {"no-app.zip", QList{E::file("Velloa/velloa", "x", 0755)}},
            {"app-without-executable.zip", QList{E::file("Velloa.app/readme", "x")}},
            {"apply-sh-folder.zip", app + QList{E::dir("apply.sh/")}},
        };
        for (const auto& [name, entries] : zips)
            writeRelease(name, entries);
        writeRelease("hardlink.tar",
                     app + QList{E{"Velloa.app/o", E::HardLink, {}, "../../outside.txt", 0644, 0}},
                     ArchiveFormat::Tar);
        QVERIFY(writeFile(hubData.filePath("releases/empty.zip"), ""));
        const QByteArray good = readFile(hubData.filePath("releases/good.zip"));
        QVERIFY(writeFile(hubData.filePath("releases/truncated.zip"), good.left(good.size() / 2)));

        const QString dl = text::kDownloadFailedTitle + u'|', in = text::kInstallFailedTitle + u'|';
        const QString unzip1 = in + text::unzipError(1), unzip2 = in + text::unzipError(2);
        const auto row = [](const char* name, const QString& release, const QString& tweak,
                            const QString& outcome) {
            QTest::newRow(name) << release << tweak << outcome;
        };
        row("installs", "good.zip", "", "=Velloa.app");
        row("bundle found beside other entries", "docs-first.zip", "", "=Velloa.app");
        row("two .app: the first by name", "two-apps.zip", "", "=Alpha.app");
        row("sha256 matches", "good.zip", "sha256", "=Velloa.app");
        row("sha256 differs", "good.zip", "wrong sha256", in + text::checksumMismatch());
        row("url not a URL: nothing", "good.zip", "bad url", "");
        row("url not http(s)", "good.zip", "ftp://127.0.0.1/v.zip", dl + text::insecureDownload());
        row("download: time-out", "", "time-out", dl + "Operation canceled");
        row("download: past the deadline", "", "drip", dl + "Operation canceled");
        row("download: over the size limit", "good.zip", "tiny download cap",
            dl + text::downloadTooLarge(100));
        row("no such release: hub's 404 page", "missing.zip", "", unzip1);
        row("empty body", "empty.zip", "", unzip1);
        row("truncated zip", "truncated.zip", "", unzip1);
        row("entry with ../", "dotdot.zip", "", unzip1);
        row("symlink leading out", "symlink-out.zip", "", unzip1);
        row("hard link out (tar: not a zip)", "hardlink.tar", "", unzip1);
        row("zip bomb: one entry", "bomb.zip", "tiny unpack cap", unzip1);
        row("zip bomb: parts add up", "parts.zip", "tiny unpack cap", unzip1);
        row("too many entries", "good.zip", "few entries", unzip1);
        row("no .app", "no-app.zip", "", unzip2);
        row(".app without its executable", "app-without-executable.zip", "", unzip2);
        row("apply.sh cannot be written", "apply-sh-folder.zip", "", in + text::cannotWriteScript(""));
        row("bash cannot be started", "good.zip", "no bash",
            in + text::cannotStartScript("/nonexistent/bash"));
    }

    // Accepting the offer downloads, unpacks, writes the script and asks to quit, or ends in one
    // alert; never is anything written outside the temporary folder, and a failed unpacking
    // leaves no link behind.
    void install() {
        QFETCH(QString, release);
        QFETCH(QString, tweak);
        QFETCH(QString, outcome);

        QString url = hubUrl("/releases/" + release);
        QJsonObject manifest{{"version", "2.14"}};
        const QByteArray body = readFile(hubData.filePath("releases/" + release));
        if (tweak.contains("://")) {
            url = tweak;
        } else if (tweak == "time-out" || tweak == "drip") {
            const bool drip = tweak == "drip"; // a byte every 20 ms, under the time-out
            server->defaultAnswer = {200, QByteArray(100, 'P'), "application/zip", drip ? 0 : 60000};
            server->defaultAnswer.dripMs = 20;
            url = server->url("/v.zip");
            updater->downloadTimeout = drip ? 2s : 200ms;
            updater->downloadDeadline = drip ? 300ms : Updater::kDownloadDeadline;
        } else if (tweak == "bad url") {
            url = QStringLiteral("http://127.0.0.1:port/v.zip");
        } else if (tweak.endsWith("sha256")) {
            manifest["sha256"] = QString::fromLatin1(sha256(tweak == "sha256" ? body : body + "x"));
        } else if (tweak == "tiny download cap") {
            updater->maxDownloadBytes = 100;
        } else if (tweak == "tiny unpack cap") {
            updater->unpacker.maxBytes = 1 << 20;
        } else if (tweak == "few entries") {
            updater->unpacker.maxEntries = 3;
        } else if (tweak == "no bash") {
            updater->shell = QStringLiteral("/nonexistent/bash");
        }
        manifest["url"] = url;
        writeManifest(QJsonDocument(manifest).toJson());
        const auto before = outside();
        ui->accept = true;
        QSignalSpy handled(updater.get(), &Updater::checkHandled);
        QSignalSpy failed(updater.get(), &Updater::updateFailed);
        QSignalSpy quit(updater.get(), &Updater::quitRequested);
        updater->checkForUpdate(false);
        QVERIFY(handled.wait(20000));
        if (!outcome.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(failed.size() + quit.size(), 1, 20000);

        QVERIFY(ui->calls.value(0).startsWith("offer|维洛清单有新版本 v2.14 啦|"));
        QCOMPARE(outside(), before);
        const QStringList folders = workFolders();
        QCOMPARE(quit.size(), outcome.startsWith(u'=') ? 1 : 0);
        QCOMPARE(ui->calls.size(), outcome.isEmpty() || outcome.startsWith(u'=') ? 1 : 2);
        if (outcome.isEmpty()) {
            QVERIFY(noRepliesLeft());
            QCOMPARE(folders, QStringList());
        } else if (outcome.startsWith(u'=')) {
            // The download moved into the one work folder, whose script names the chosen folder.
            QCOMPARE(folders.size(), 1);
            QVERIFY(folders[0].contains(
                QRegularExpression("^velloa-update-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")));
            const QString work = tmp + u'/' + folders[0], chosen = work + u'/' + outcome.mid(1);
            QCOMPARE(readFile(work + "/update.zip"), body);
            QCOMPARE(readFile(work + "/apply.sh"),
                     applyScript(UpdatePlatform::Linux, {4242, bundle, chosen, work}).value());
            QCOMPARE(readFile(chosen + "/velloa"), appScript(outcome == "=Alpha.app" ? "alpha" : "new"));
        } else {
            QVERIFY2(ui->calls[1].startsWith("alert|" + outcome), qPrintable(ui->calls[1]));
            QVERIFY(ui->calls[1].endsWith("\n可以手动装：" + url));
            for (const QString& folder : folders) {
                QVERIFY2(folder.startsWith("velloa-update-"), qPrintable(folder));
                QDirIterator it(tmp + u'/' + folder, QDir::AllEntries | QDir::NoDotAndDotDot,
                                QDirIterator::Subdirectories);
                qint64 unpacked = 0;
                while (it.hasNext()) {
                    const QFileInfo entry(it.next());
                    QVERIFY2(!entry.isSymLink(), qPrintable(entry.filePath()));
                    unpacked += entry.fileName() == "update.zip" ? 0 : entry.size();
                }
                // A bomb is stopped at the limit, not after writing it all out.
                QVERIFY(unpacked <= updater->unpacker.maxBytes);
            }
        }
    }

    // Failures that do not come from the archive itself.
    void installRefusals() {
        const UpdateInfo info{
            "2.14", hubUrl("/releases/good.zip"), {}, {}, QUrl(hubUrl("/version.json"))};
        const QString zip = tmp + "/velloa-dl-test.zip";

        // Over http after a manifest that came over https: not even a request.
        UpdateInfo viaHttps = info;
        viaHttps.manifestUrl = QUrl("https://127.0.0.1/version.json");
        updater->downloadAndInstall(viaHttps);
        QVERIFY(noRepliesLeft());
        // The work folder cannot be made: the temporary folder is a file.
        updater->tempDir = scratch.filePath("outside.txt");
        updater->installUpdate(zip, info);
        // The download is gone before it could be moved.
        updater->tempDir = tmp;
        updater->installUpdate(zip, info);
        // The running app moved somewhere it cannot be replaced since the offer.
        updater->location = {};
        updater->installUpdate(zip, info);

        const QString manual = "\n可以手动装：" + info.url;
        QCOMPARE(ui->calls.size(), 4);
        QCOMPARE(ui->calls[0],
                 alertCall(text::kDownloadFailedTitle, text::insecureDownload() + manual));
        QVERIFY(ui->calls[1].startsWith(
            alertCall(text::kInstallFailedTitle,
                      text::cannotCreateFolder(scratch.filePath("outside.txt/velloa-update-")))));
        QVERIFY(ui->calls[2].startsWith(
            alertCall(text::kInstallFailedTitle, text::cannotMoveDownload(""))));
        QCOMPARE(ui->calls[3],
                 alertCall(text::kInstallFailedTitle, text::cannotReplaceHere() + manual));
    }

    // The real thing on Linux: tools/make-release.sh turns a build into a release the hub serves,
    // the user accepts it, and the script waits for the "app" (a sleeping child) to exit, swaps
    // the folder, starts the new executable and cleans up.
    void publishesAndSwaps() {
        const QString build = scratch.filePath("build");
        QVERIFY(writeFile(build + "/app/velloa", appScript("made"), true));
        QVERIFY(writeFile(build + "/generated/Version.h",
                          "inline const QString APP_VERSION = QStringLiteral(\"2.14\");\n"));
        QProcess release;
        release.start("/bin/bash",
                      {VELLOA_SOURCE_DIR "/tools/make-release.sh", "--build", build, "--out",
                       scratch.filePath("build/out"), "--base-url", hubUrl("/releases/"), "--notes",
                       "新\"版\"", "--hub", hubData.path()});
        QVERIFY(release.waitForFinished(60000));
        QVERIFY2(release.exitCode() == 0, release.readAllStandardError().constData());
        const QByteArray line = release.readAllStandardOutput();
        QCOMPARE(line, readFile(hubData.filePath("version.json")));
        const std::optional<UpdateInfo> info = decodeUpdateInfo(line);
        QVERIFY(info);
        QCOMPARE(info->url.section(u'/', 0, -2), hubUrl("/releases"));
        QVERIFY(info->url.section(u'/', -1).startsWith("velloa-2.14-linux-"));
        const QString zip = hubData.filePath("releases/" + info->url.section(u'/', -1));
        QCOMPARE(info->sha256, sha256(readFile(zip)));

        const QString marker = scratch.filePath("started");
        qputenv("VELLOA_TEST_MARKER", QFile::encodeName(marker));
        QProcess app;
        app.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        QVERIFY(app.waitForStarted());
        updater->pid = app.processId();
        updater->shell = QStringLiteral("/bin/bash");
        ui->accept = true;
        QSignalSpy quit(updater.get(), &Updater::quitRequested);
        updater->checkForUpdate(false);
        QVERIFY(quit.wait(20000));
        QCOMPARE(ui->calls.value(0).section(u'|', 2), "新\"版\"\n\n" + text::offerText({}, "2.13"));
        QCOMPARE(readFile(bundle + "/velloa"), appScript("old")); // still waiting for the app
        app.kill();
        QVERIFY(app.waitForFinished());

        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker) && workFolders().isEmpty(), 20000);
        QTRY_COMPARE(readFile(marker), "made " + QFile::encodeName(bundle) + "/velloa");
        QVERIFY(QFileInfo(bundle + "/velloa.sh").isExecutable());
        QVERIFY(QFileInfo(bundle + "/resources").isDir());
        QFile::remove(marker);
        QVERIFY(QFile::remove(zip));
    }

private:
    QString hubUrl(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(hub->port()).arg(path);
    }
    void writeManifest(const QByteArray& json);
    void writeRelease(const QString& name, const QList<ArchiveEntry>& entries,
                      ArchiveFormat format = ArchiveFormat::Zip);
    // Everything in the scratch folder except the temporary folder, where the work folders go.
    QMap<QString, QByteArray> outside() const;
    QStringList workFolders() const;
    bool noRepliesLeft() const {
        const auto replies = network->findChildren<QNetworkReply*>();
        return std::all_of(replies.begin(), replies.end(),
                           [](const QNetworkReply* reply) { return reply->isFinished(); });
    }

    QTemporaryDir hubData;
    QTemporaryDir scratch; // apps/Velloa.app (the "running" app), tmp/, outside.txt
    std::unique_ptr<HubProcess> hub;
    QString bundle, tmp;
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<QNetworkAccessManager> network;
    std::unique_ptr<RecordingUi> ui;
    std::unique_ptr<Updater> updater;
};

void TestUpdateFlow::check_data() {
    QTest::addColumn<CheckCase>("c");

    const QString failed = alertCall(text::kCheckFailedTitle, text::kCheckFailedText);
    const QString upToDate = alertCall(text::kUpToDateTitle, "当前 v2.13，没有更新的版本～");
    const QString offer = "offer|维洛清单有新版本 v2.13.1 啦|当前 v2.13。点「马上更新」会自动下载、"
                          "替换、重启，不用手动下载～";
    const QString byHand =
        alertCall("维洛清单有新版本 v2.13.1 啦", "修了两处\n更快\n\n当前 v2.13，装在这里的维洛清单没法自动替换。\n"
                                                 "可以手动装：http://127.0.0.1/v.zip");
    for (const bool manual : {false, true}) {
        const auto row = [manual](const char* name, const QString& answer, const QString& call) {
            QTest::addRow("%s, %s", name, manual ? "manual" : "silent") << CheckCase{
                answer, manual, (call.isEmpty() ? QStringList() : QStringList{call})};
        };
        const QString failure = manual ? failed : QString();
        row("UPDATE_URL not a URL", "not a URL", {});
        row("time-out", "time-out", failure);
        row("no version.json: hub's 404 page", "", failure);
        row("HTML with status 200", "<html>oops</html>", failure);
        row("over 1 MiB", R"({"version":"9","url":"u","notes":")" + QString(1 << 20, 'x') + "\"}",
            failure);
        row("same version", R"({"version":"2.13","url":"u"})", manual ? upToDate : QString());
        row("newer: the offer (empty notes are none)",
            R"({"version":"2.13.1","url":"http://127.0.0.1/v.zip","notes":""})", offer);
        row("newer, app cannot be replaced: by hand, after the notes", "unreplaceable", byHand);
    }
}

void TestUpdateFlow::check() {
    QFETCH(CheckCase, c);

    QSignalSpy handled(updater.get(), &Updater::checkHandled);
    if (c.answer == "not a URL") {
        updater->updateUrl = QStringLiteral("velloa version");
    } else if (c.answer == "time-out") {
        server->defaultAnswer = {200, "{}", "application/json", 60000};
        updater->updateUrl = server->url("/version.json");
        updater->checkTimeout = 200ms;
    } else if (c.answer == "unreplaceable") {
        updater->location = {};
        writeManifest(R"({"version":"2.13.1","url":"http://127.0.0.1/v.zip","notes":"修了两处\n更快"})");
    } else if (!c.answer.isEmpty()) {
        writeManifest(c.answer.toUtf8());
    }
    updater->checkForUpdate(c.manual);
    if (c.answer == "not a URL")
        QVERIFY(noRepliesLeft());
    else
        QVERIFY(handled.wait(20000));
    QCOMPARE(ui->calls, c.calls);
    QCOMPARE(updater->updatePrompted(), c.calls.value(0).contains("新版本"));
}

void TestUpdateFlow::offerOncePerRun() {
    writeManifest(R"({"version":"3.0beta","url":"http://127.0.0.1/v.zip"})");
    QSignalSpy handled(updater.get(), &Updater::checkHandled);
    for (const bool manual : {false, true, false}) {
        updater->checkForUpdate(manual);
        QVERIFY(handled.wait(20000));
    }
    QCOMPARE(ui->calls.size(), 1);
    QVERIFY(ui->calls[0].startsWith("offer|维洛清单有新版本 v3.0beta 啦|"));
    QVERIFY(noRepliesLeft());
}

void TestUpdateFlow::writeManifest(const QByteArray& json) {
    QVERIFY(writeFile(hubData.filePath("version.json"), json));
}

void TestUpdateFlow::writeRelease(const QString& name, const QList<ArchiveEntry>& entries,
                                  ArchiveFormat format) {
    QVERIFY(writeArchive(hubData.filePath("releases/" + name), entries, format));
}

QMap<QString, QByteArray> TestUpdateFlow::outside() const {
    QMap<QString, QByteArray> all = folderTree(scratch.path());
    all.removeIf([](const auto& entry) { return entry.key().startsWith(QLatin1String("tmp/")); });
    return all;
}

QStringList TestUpdateFlow::workFolders() const {
    return QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

QTEST_GUILESS_MAIN(TestUpdateFlow)
#include "test_update_flow.moc"
