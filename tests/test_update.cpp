// The updater's pure rules (version comparison, the manifest decoder, where the running app
// lives, which downloads are allowed, which archive entries are safe) and the apply script: its
// text, shell quoting that survives hostile paths, ShellCheck, and the Linux script run for
// real with /bin/bash in a scratch folder, waiting on a sleeping child that stands in for the app.
#include "tests/test_update_support.h"
#include "update/ApplyScript.h"
#include "update/InstallLocation.h"
#include "update/Unpacker.h"
#include "update/UpdateInfo.h"
#include "update/UpdateTexts.h"
#include "update/Updater.h"
#include "update/VersionCompare.h"

#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

namespace {

// Every byte the shell could read as code, and a line break.
const QString kHostile =
    QStringLiteral("it's \"odd\" $(touch pwned) `touch pwned2` back\\slash $HOME\nnext");

// Makes a folder impossible to change, also for root; undone when it goes out of scope.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& path) : m_path(path) {
        if (::geteuid() != 0)
            m_done = QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        else
            m_done = QProcess::execute(QStringLiteral("chattr"), {"+i", path}) == 0;
    }
    ~ReadOnlyFolder() {
        if (!m_done)
            return;
        if (::geteuid() != 0)
            QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        else
            QProcess::execute(QStringLiteral("chattr"), {"-i", m_path});
    }
    bool done() const { return m_done; }

private:
    QString m_path;
    bool m_done = false;
};

struct VersionsCase {
    QString a, b;
    int order; // 1: a is newer, -1: b is newer, 0: neither
};
struct LocationCase {
    QString appDir; int platform;
    QString readOnly; // a folder that cannot be written, if any
    QString bundle; // empty: cannot be replaced
};
struct DownloadPolicyCase { QString archive, manifest; bool allowed; };
struct EntriesCase { QByteArray path; int kind; QByteArray target; bool safe; };
struct ManifestCase {
    QByteArray json; bool readable;
    QString notes; // null: none
    QByteArray sha256;
};
} // namespace

class TestUpdate : public QObject {
    Q_OBJECT
private slots:
    void versions_data() {
        QTest::addColumn<VersionsCase>("c");
        QTest::newRow("2.9 < 2.10: numbers, not text") << VersionsCase{"2.10", "2.9", 1};
        QTest::newRow("2.13 = 2.13.0") << VersionsCase{"2.13", "2.13.0", 0};
        QTest::newRow("2.13.1 > 2.13") << VersionsCase{"2.13.1", "2.13", 1};
        QTest::newRow("leading zeros") << VersionsCase{"2.013", "2.13", 0};
        QTest::newRow("empty pieces dropped") << VersionsCase{".2..13.", "2.13", 0};
        QTest::newRow("empty is older") << VersionsCase{"", "2.13", -1};
        QTest::newRow("3.0beta is 3.0") << VersionsCase{"3.0beta", "2.13", 1};
        QTest::newRow("14beta is 0") << VersionsCase{"2.14beta", "2.13", -1};
        QTest::newRow("v2 is 0") << VersionsCase{"v2.14", "1", -1};
        QTest::newRow("plus sign") << VersionsCase{"2.+14", "2.13", 1};
        QTest::newRow("minus sign") << VersionsCase{"2.-1", "2.0", -1};
        QTest::newRow("sign alone is 0") << VersionsCase{"2.-", "2.0", 0};
        QTest::newRow("two signs are 0") << VersionsCase{"2.+-5", "2.0", 0};
        QTest::newRow("space is not a digit") << VersionsCase{"2. 14", "2.0", 0};
        QTest::newRow("non-ASCII digit is 0") << VersionsCase{QString::fromUtf8("2.１４"), "2.0", 0};
        QTest::newRow("largest 64-bit") << VersionsCase{"9223372036854775807", "9223372036854775806", 1};
        QTest::newRow("overflow is 0") << VersionsCase{"9223372036854775808", "1", -1};
        QTest::newRow("smallest 64-bit") << VersionsCase{"-9223372036854775808", "-9223372036854775807", -1};
        QTest::newRow("negative overflow is 0") << VersionsCase{"-9223372036854775809", "-1", 1};
        QTest::newRow("first difference decides") << VersionsCase{"3.0.0", "2.99.99", 1};
    }

    void versions() {
        QFETCH(VersionsCase, c);
        QCOMPARE(isNewer(c.a, c.b), c.order > 0);
        QCOMPARE(isNewer(c.b, c.a), c.order < 0);
    }

    void manifest_data();

    void manifest() {
        QFETCH(ManifestCase, c);
        const std::optional<UpdateInfo> info = decodeUpdateInfo(c.json);
        QCOMPARE(info.has_value(), c.readable);
        if (!info)
            return;
        QCOMPARE(info->version, QStringLiteral("2.14"));
        QCOMPARE(info->notes.has_value(), !c.notes.isNull());
        QCOMPARE(info->notes.value_or(QString()), c.notes);
        QCOMPARE(info->sha256, c.sha256);
    }

    void location_data() {
        QTest::addColumn<LocationCase>("c");
        const auto row = [](const char* name, const QString& dir, const QString& readOnly,
                            const QString& bundle, UpdatePlatform platform = UpdatePlatform::Linux) {
            QTest::newRow(name) << LocationCase{dir, int(platform), readOnly, bundle};
        };
        row("portable folder", "/home/u/apps/Velloa.app/", "", "/home/u/apps/Velloa.app");
        row("not a Velloa.app folder", "/home/u/build/app", "", "");
        row("other .app name", "/home/u/Other.app", "", "");
        row("package install under /usr", "/usr/lib/Velloa.app", "", "");
        row("folder read-only", "/opt/Velloa.app", "/opt/Velloa.app", "");
        row("parent read-only: cannot rename", "/opt/Velloa.app", "/opt", "");
        row("macOS layout on Linux", "/home/u/Velloa.app/Contents/MacOS", "", "");
        row("macOS bundle", "/Users/u/V 2.app/Contents/MacOS", "", "/Users/u/V 2.app",
            UpdatePlatform::MacOS);
        row("macOS, bare executable", "/Users/u/build", "", "", UpdatePlatform::MacOS);
    }

    void location() {
        QFETCH(LocationCase, c);
        const InstallLocation found = InstallLocation::locate(
            c.appDir, UpdatePlatform(c.platform), [&](const QString& path) { return path != c.readOnly; });
        QCOMPARE(found.bundlePath, c.bundle);
    }

    void downloadPolicy_data() {
        QTest::addColumn<DownloadPolicyCase>("c");
        const auto row = [](const char* name, const char* archive, const char* manifest, bool ok) {
            QTest::newRow(name) << DownloadPolicyCase{archive, manifest, ok};
        };
        row("https, https manifest", "https://cdn.example/v.zip", "https://example/version.json", true);
        row("https, http manifest", "https://cdn.example/v.zip", "http://127.0.0.1/version.json", true);
        row("http, same host over http", "http://127.0.0.1:1/r/v.zip", "http://127.0.0.1:2/v.json",
            true);
        row("http, host case differs", "http://HUB.local/v.zip", "http://hub.local/version.json", true);
        row("http after an https manifest", "http://example/v.zip", "https://example/v.json", false);
        row("http, other host", "http://evil.example/v.zip", "http://127.0.0.1/version.json", false);
        row("http, manifest unknown", "http://127.0.0.1/v.zip", "", false);
        row("ftp", "ftp://127.0.0.1/v.zip", "http://127.0.0.1/version.json", false);
    }

    void downloadPolicy() {
        QFETCH(DownloadPolicyCase, c);
        QCOMPARE(downloadAllowed(QUrl(c.archive), QUrl(c.manifest)), c.allowed);
    }

    void entries_data() {
        using Kind = Unpacker::Kind;
        QTest::addColumn<EntriesCase>("c");
        const auto row = [](const char* name, const char* path, Kind kind, const char* target,
                            bool safe) {
            QTest::newRow(name) << EntriesCase{QByteArray(path), int(kind), QByteArray(target), safe};
        };
        row("file", "Velloa.app/velloa", Kind::File, "", true);
        row("dot pieces", "./Velloa.app//resources/", Kind::Directory, "", true);
        row("absolute", "/etc/passwd", Kind::File, "", false);
        row("dot-dot first", "../x", Kind::File, "", false);
        row("dot-dot that stays inside is refused too", "a/../b", Kind::File, "", false);
        row("nothing but dots", "./", Kind::Directory, "", false);
        row("device or pipe", "fifo", Kind::Other, "", false);
        row("symlink beside", "a/lib.so", Kind::Symlink, "lib.so.1", true);
        row("symlink up to the top", "a/b/l", Kind::Symlink, "../../c", true);
        row("symlink up too far", "a/b/l", Kind::Symlink, "../../../c", false);
        row("symlink at the top, up", "l", Kind::Symlink, "..", false);
        row("symlink absolute", "a/l", Kind::Symlink, "/etc", false);
        // "a/x" could itself be a link to ".", making the second ".." climb one more level.
        row("symlink dot-dot after a name", "a/b/l", Kind::Symlink, "x/../..", false);
        row("symlink empty target", "l", Kind::Symlink, "", false);
        row("hard link to an earlier file", "b", Kind::HardLink, "./a/f", true);
        row("hard link to a file not unpacked", "b", Kind::HardLink, "update.zip", false);
        row("hard link out", "b", Kind::HardLink, "../outside", false);
        row("hard link absolute", "b", Kind::HardLink, "/etc/passwd", false);
    }

    void entries() {
        QFETCH(EntriesCase, c);
        QCOMPARE(Unpacker::entryStaysInside(c.path, Unpacker::Kind(c.kind), c.target, {"a/f"}), c.safe);
    }

private slots:
    void init() {
        scratch = std::make_unique<QTemporaryDir>();
        QVERIFY(scratch->isValid());
        root = scratch->filePath(kHostile);
        target = root + QStringLiteral("/Velloa.app");
        work = root + QStringLiteral("/velloa-update-") + kHostile;
        newApp = work + QStringLiteral("/Velloa.app");
        marker = scratch->filePath(QStringLiteral("started"));
        QVERIFY(writeFile(target + "/velloa", appScript("old"), true));
        QVERIFY(writeFile(target + "/resources/notes.txt", "old resources"));
        QVERIFY(writeFile(newApp + "/velloa", appScript("new"), true));
        QVERIFY(writeFile(newApp + "/resources/notes.txt", "new resources"));
        QVERIFY(writeFile(work + "/update.zip", "zip"));
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        QVERIFY(sleeper.waitForStarted());
    }

    void cleanup() {
        sleeper.kill();
        sleeper.waitForFinished();
        scratch.reset();
    }

    // The Linux script runs for real below. The macOS one is the same script with ditto for the
    // copy and, instead of starting the executable, the download's quarantine cleared and the
    // bundle opened.
    void macScript() {
        const ApplyPaths paths{4242, "/Applications/Velloa.app", "/tmp/w/New.app", "/tmp/w"};
        QByteArray mac = applyScript(UpdatePlatform::MacOS, paths).value_or("");
        QCOMPARE(mac.count("ditto \"$NEW\" \"$TARGET\""), 1);
        mac.replace("ditto ", "cp -a ");
        mac.replace("xattr -dr com.apple.quarantine \"$TARGET\" 2>/dev/null\nopen \"$TARGET\"\n",
                    "setsid \"$TARGET/velloa\" </dev/null >/dev/null 2>&1 &\n");
        QCOMPARE(mac, applyScript(UpdatePlatform::Linux, paths).value_or(""));
    }

    void refusals() {
        for (const ApplyPaths& paths : {ApplyPaths{0, "/a/Velloa.app", "/w/Velloa.app", "/w"},
                                        ApplyPaths{-1, "/a/Velloa.app", "/w/Velloa.app", "/w"},
                                        ApplyPaths{7, "Velloa.app", "/w/Velloa.app", "/w"},
                                        ApplyPaths{7, "/a/Velloa.app", "/w/Velloa.app", "w"}})
            QVERIFY(applyScript(UpdatePlatform::Linux, paths) == std::nullopt);
    }

    void shellCheck_data() {
        QTest::addColumn<bool>("hostile");
        QTest::newRow("plain paths") << false;
        QTest::newRow("hostile paths") << true;
    }

    void shellCheck() {
        QFETCH(bool, hostile);
        const QString shellcheck = QStandardPaths::findExecutable(QStringLiteral("shellcheck"));
        if (shellcheck.isEmpty())
            QSKIP("shellcheck is not installed (tools/deps.sh installs it)");
        const ApplyPaths paths =
            hostile ? ApplyPaths{4242, target, newApp, work}
                    : ApplyPaths{4242, "/home/u/Velloa.app", "/tmp/w/Velloa.app", "/tmp/w"};
        QStringList args{"--shell=bash", "--severity=style", "-"};
        // SC2016 says that "$(...)" inside single quotes does not expand: here that is the point.
        if (hostile)
            args.prepend("--exclude=SC2016");
        for (const UpdatePlatform platform : {UpdatePlatform::Linux, UpdatePlatform::MacOS}) {
            QProcess check;
            check.setProcessChannelMode(QProcess::MergedChannels);
            check.start(shellcheck, args);
            check.write(applyScript(platform, paths).value_or(""));
            check.closeWriteChannel();
            QVERIFY(check.waitForFinished());
            QVERIFY2(check.exitCode() == 0, check.readAll().constData());
        }
    }

    void swap_data() {
        QTest::addColumn<QString>("failure");
        QTest::newRow("swaps") << "";
        QTest::newRow("new folder gone: copy fails") << "missing";
        QTest::newRow("copy fails half-way") << "half";
        QTest::newRow("target's folder read-only: cannot move aside") << "read-only";
    }

    // The script waits for the app to exit, then swaps the folder, starts the new app and removes
    // the work folder; nothing else in the scratch folder changes. However the swap fails, the old
    // version is in place as it was and the new one is not started; the work folder stays for a
    // look.
    void swap() {
        QFETCH(QString, failure);
        QString fakeBin;
        if (failure == "missing") {
            QVERIFY(QDir(newApp).removeRecursively());
        } else if (failure == "half") {
            // A cp that copies one file and then fails, as a full disk would.
            fakeBin = scratch->filePath("bin");
            QVERIFY(writeFile(
                fakeBin + "/cp",
                "#!/bin/bash\nmkdir -p \"${*: -1}\" && echo partial > \"${*: -1}/velloa\"\nexit 1\n",
                true));
        }
        std::unique_ptr<ReadOnlyFolder> readOnly;
        QProcess bash;
        startScript(bash, fakeBin);
        const auto before = folderTree(scratch->path());
        QVERIFY2(!bash.waitForFinished(300), "the script did not wait for the app to exit");
        QCOMPARE(folderTree(scratch->path()), before);
        if (failure == "read-only") {
            readOnly = std::make_unique<ReadOnlyFolder>(root);
            if (!readOnly->done())
                QSKIP("cannot make a folder read-only here (chattr needs ext4 and root)");
        }
        sleeper.kill();
        QVERIFY(sleeper.waitForFinished());
        QVERIFY(bash.waitForFinished(20000));
        QCOMPARE(bash.exitCode(), failure.isEmpty() ? 0 : 1);
        readOnly.reset();
        if (!failure.isEmpty()) {
            QCOMPARE(folderTree(scratch->path()), before);
            return;
        }
        QTRY_VERIFY(QFileInfo(marker).size() > 0);
        const QString prefix = QDir(scratch->path()).relativeFilePath(target);
        const QMap<QString, QByteArray> expected{
            {QDir(scratch->path()).relativeFilePath(root), "dir"},
            {prefix, "dir"},
            {prefix + "/velloa", appScript("new")},
            {prefix + "/resources", "dir"},
            {prefix + "/resources/notes.txt", "new resources"},
            {QStringLiteral("started"), "new " + QFile::encodeName(target) + "/velloa"},
        };
        QCOMPARE(folderTree(scratch->path()), expected);
        QVERIFY(QFileInfo(target + "/velloa").isExecutable());
    }

private:
    QByteArray script(UpdatePlatform platform) const;
    void startScript(QProcess& bash, const QString& extraPath = {});

    std::unique_ptr<QTemporaryDir> scratch;
    QProcess sleeper; // the "running app" the script waits for
    QString root, target, work, newApp, marker;
};

void TestUpdate::manifest_data() {
    QTest::addColumn<ManifestCase>("c");
    const auto whole = [](const char* name, const QByteArray& json, bool readable,
                          const QString& notes = {}, const QByteArray& sha256 = {}) {
        QTest::newRow(name) << ManifestCase{json, readable, notes, sha256};
    };
    const auto row = [&](const char* name, const QByteArray& members, bool readable,
                         const QString& notes = {}, const QByteArray& sha256 = {}) {
        whole(name, "{\"version\":\"2.14\"" + members + '}', readable, notes, sha256);
    };
    const QByteArray hex = QByteArray(63, 'a') + 'F';
    row("version and url", R"(,"url":"https://h/v.zip")", true);
    row("notes, other keys ignored", R"(,"url":"u","notes":"新","extra":[1])", true, "新");
    row("null notes", R"(,"url":"u","notes":null)", true);
    row("sha256, lower-cased", R"(,"url":"u","sha256":")" + hex + '"', true, {},
        QByteArray(63, 'a') + 'f');
    row("null sha256", R"(,"url":"u","sha256":null)", true);
    row("no url", "", false);
    row("null url", R"(,"url":null)", false);
    row("numeric notes", R"(,"url":"u","notes":1)", false);
    row("short sha256", R"(,"url":"u","sha256":"abc")", false);
    row("sha256 not hex", R"(,"url":"u","sha256":")" + QByteArray(64, 'g') + '"', false);
    whole("no version", R"({"url":"u"})", false);
    whole("numeric version", R"({"version":2.14,"url":"u"})", false);
    whole("array", R"([{"version":"2.14","url":"u"}])", false);
    whole("empty body", {}, false);
}

QByteArray TestUpdate::script(UpdatePlatform platform) const {
    return applyScript(platform, {sleeper.processId(), target, newApp, work}).value_or("");
}

void TestUpdate::startScript(QProcess& bash, const QString& extraPath) {
    QSaveFile file(work + "/apply.sh");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(script(UpdatePlatform::Linux));
    QVERIFY(file.commit());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELLOA_TEST_MARKER"), marker);
    if (!extraPath.isEmpty())
        env.insert(QStringLiteral("PATH"), extraPath + u':' + env.value(QStringLiteral("PATH")));
    bash.setProcessEnvironment(env);
    bash.setWorkingDirectory(scratch->path()); // where a smuggled "touch pwned" would land
    bash.start(QStringLiteral("/bin/bash"), {work + "/apply.sh"});
    QVERIFY(bash.waitForStarted());
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "test_update.moc"
