// The apply script: its text, shell quoting that survives hostile paths, ShellCheck, and the
// Linux script run for real with /bin/bash in a scratch folder, waiting on a sleeping child
// that stands in for the app.
#include "update/ApplyScript.h"
#include "tests/test_update_support.h"

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

} // namespace

class TestUpdateScript : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void macScript();
    void refusals();
    void shellCheck_data();
    void shellCheck();
    void swap_data();
    void swap();

private:
    QByteArray script(UpdatePlatform platform) const;
    void startScript(QProcess& bash, const QString& extraPath = {});

    std::unique_ptr<QTemporaryDir> scratch;
    QProcess sleeper; // the "running app" the script waits for
    QString root, target, work, newApp, marker;
};

void TestUpdateScript::init() {
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

void TestUpdateScript::cleanup() {
    sleeper.kill();
    sleeper.waitForFinished();
    scratch.reset();
}

QByteArray TestUpdateScript::script(UpdatePlatform platform) const {
    return applyScript(platform, {sleeper.processId(), target, newApp, work}).value_or("");
}

void TestUpdateScript::startScript(QProcess& bash, const QString& extraPath) {
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

// The Linux script runs for real below. The macOS one is the same script with ditto for the
// copy and, instead of starting the executable, the download's quarantine cleared and the
// bundle opened.
void TestUpdateScript::macScript() {
    const ApplyPaths paths{4242, "/Applications/Velloa.app", "/tmp/w/New.app", "/tmp/w"};
    QByteArray mac = applyScript(UpdatePlatform::MacOS, paths).value_or("");
    QCOMPARE(mac.count("ditto \"$NEW\" \"$TARGET\""), 1);
    mac.replace("ditto ", "cp -a ");
    mac.replace("xattr -dr com.apple.quarantine \"$TARGET\" 2>/dev/null\nopen \"$TARGET\"\n",
                "setsid \"$TARGET/velloa\" </dev/null >/dev/null 2>&1 &\n");
    QCOMPARE(mac, applyScript(UpdatePlatform::Linux, paths).value_or(""));
}

void TestUpdateScript::refusals() {
    for (const ApplyPaths& paths : {ApplyPaths{0, "/a/Velloa.app", "/w/Velloa.app", "/w"},
                                    ApplyPaths{-1, "/a/Velloa.app", "/w/Velloa.app", "/w"},
                                    ApplyPaths{7, "Velloa.app", "/w/Velloa.app", "/w"},
                                    ApplyPaths{7, "/a/Velloa.app", "/w/Velloa.app", "w"}})
        QVERIFY(applyScript(UpdatePlatform::Linux, paths) == std::nullopt);
}

void TestUpdateScript::shellCheck_data() {
    QTest::addColumn<bool>("hostile");
    QTest::newRow("plain paths") << false;
    QTest::newRow("hostile paths") << true;
}

void TestUpdateScript::shellCheck() {
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

void TestUpdateScript::swap_data() {
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
void TestUpdateScript::swap() {
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

QTEST_GUILESS_MAIN(TestUpdateScript)
#include "test_update_script.moc"
