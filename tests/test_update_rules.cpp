// The updater's pure rules: version comparison, the manifest decoder, the offer texts, where
// the running app lives, which downloads are allowed and which archive entries are safe.
#include "InstallLocation.h"
#include "Unpacker.h"
#include "UpdateInfo.h"
#include "UpdateTexts.h"
#include "Updater.h"
#include "VersionCompare.h"

#include <QTest>

class TestUpdateRules : public QObject {
    Q_OBJECT

private slots:
    void versions_data();
    void versions();
    void manifest_data();
    void manifest();
    void offerText_data();
    void offerText();
    void location_data();
    void location();
    void downloadPolicy_data();
    void downloadPolicy();
    void entries_data();
    void entries();
};

void TestUpdateRules::versions_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("newer"); // a newer than b
    QTest::addColumn<bool>("older"); // b newer than a

    QTest::newRow("2.9 < 2.10: numbers, not text") << "2.10"
                                                   << "2.9" << true << false;
    QTest::newRow("2.9 < 2.13") << "2.9"
                                << "2.13" << false << true;
    QTest::newRow("2.13 = 2.13.0") << "2.13"
                                   << "2.13.0" << false << false;
    QTest::newRow("2.13.1 > 2.13") << "2.13.1"
                                   << "2.13" << true << false;
    QTest::newRow("leading zeros") << "2.013"
                                   << "2.13" << false << false;
    QTest::newRow("leading zeros, longer") << "02.0014"
                                           << "2.13" << true << false;
    QTest::newRow("empty pieces dropped") << "2..13"
                                          << "2.13" << false << false;
    QTest::newRow("leading and trailing dots") << ".2.13."
                                               << "2.13" << false << false;
    QTest::newRow("empty is 0") << ""
                                << "0.0" << false << false;
    QTest::newRow("empty is older") << ""
                                    << "2.13" << false << true;
    QTest::newRow("3.0beta is 3.0") << "3.0beta"
                                    << "2.13" << true << false;
    QTest::newRow("14beta is 0") << "2.14beta"
                                 << "2.13" << false << true;
    QTest::newRow("v2 is 0") << "v2.14"
                             << "1" << false << true;
    QTest::newRow("plus sign") << "2.+14"
                               << "2.13" << true << false;
    QTest::newRow("minus sign") << "2.-1"
                                << "2.0" << false << true;
    QTest::newRow("sign alone is 0") << "2.-"
                                     << "2.0" << false << false;
    QTest::newRow("two signs are 0") << "2.+-5"
                                     << "2.0" << false << false;
    QTest::newRow("space is not a digit") << "2. 14"
                                          << "2.0" << false << false;
    QTest::newRow("non-ASCII digit is 0") << QString::fromUtf8("2.１４") << "2.0" << false << false;
    QTest::newRow("largest 64-bit") << "9223372036854775807"
                                    << "9223372036854775806" << true << false;
    QTest::newRow("overflow is 0") << "9223372036854775808"
                                   << "1" << false << true;
    QTest::newRow("smallest 64-bit") << "-9223372036854775808"
                                     << "-9223372036854775807" << false << true;
    QTest::newRow("negative overflow is 0") << "-9223372036854775809"
                                            << "-1" << true << false;
    QTest::newRow("first difference decides") << "3.0.0"
                                              << "2.99.99" << true << false;
}

void TestUpdateRules::versions() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, newer);
    QFETCH(bool, older);
    QCOMPARE(isNewer(a, b), newer);
    QCOMPARE(isNewer(b, a), older);
}

void TestUpdateRules::manifest_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("notes"); // null: none
    QTest::addColumn<QByteArray>("sha256");

    const QByteArray hex = QByteArray(63, 'a') + 'F';
    QTest::newRow("version and url") << QByteArray(R"({"version":"2.14","url":"https://h/v.zip"})")
                                     << true << QString() << QByteArray();
    QTest::newRow("notes, other keys ignored")
        << QByteArray(R"({"version":"2.14","url":"u","notes":"新","extra":[1]})") << true
        << QStringLiteral("新") << QByteArray();
    QTest::newRow("null notes") << QByteArray(R"({"version":"2.14","url":"u","notes":null})")
                                << true << QString() << QByteArray();
    QTest::newRow("sha256, lower-cased")
        << QByteArray(R"({"version":"2.14","url":"u","sha256":")" + hex + "\"}") << true
        << QString() << QByteArray(63, 'a') + 'f';
    QTest::newRow("null sha256") << QByteArray(R"({"version":"2.14","url":"u","sha256":null})")
                                 << true << QString() << QByteArray();
    QTest::newRow("no version") << QByteArray(R"({"url":"u"})") << false << QString()
                                << QByteArray();
    QTest::newRow("no url") << QByteArray(R"({"version":"2.14"})") << false << QString()
                            << QByteArray();
    QTest::newRow("numeric version")
        << QByteArray(R"({"version":2.14,"url":"u"})") << false << QString() << QByteArray();
    QTest::newRow("null url") << QByteArray(R"({"version":"2.14","url":null})") << false
                              << QString() << QByteArray();
    QTest::newRow("numeric notes") << QByteArray(R"({"version":"2.14","url":"u","notes":1})")
                                   << false << QString() << QByteArray();
    QTest::newRow("short sha256") << QByteArray(R"({"version":"2.14","url":"u","sha256":"abc"})")
                                  << false << QString() << QByteArray();
    QTest::newRow("sha256 not hex")
        << QByteArray(R"({"version":"2.14","url":"u","sha256":")" + QByteArray(64, 'g') + "\"}")
        << false << QString() << QByteArray();
    QTest::newRow("array") << QByteArray(R"([{"version":"2.14","url":"u"}])") << false << QString()
                           << QByteArray();
    QTest::newRow("HTML error page")
        << QByteArray("<html><body>404</body></html>") << false << QString() << QByteArray();
    QTest::newRow("empty body") << QByteArray() << false << QString() << QByteArray();
}

void TestUpdateRules::manifest() {
    QFETCH(QByteArray, json);
    QFETCH(bool, readable);
    QFETCH(QString, notes);
    QFETCH(QByteArray, sha256);
    const std::optional<UpdateInfo> info = decodeUpdateInfo(json);
    QCOMPARE(info.has_value(), readable);
    if (!info)
        return;
    QCOMPARE(info->version, QStringLiteral("2.14"));
    QCOMPARE(info->notes.has_value(), !notes.isNull());
    QCOMPARE(info->notes.value_or(QString()), notes);
    QCOMPARE(info->sha256, sha256);
}

void TestUpdateRules::offerText_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("manual");

    const QString rest =
        QStringLiteral("当前 v2.13。点「马上更新」会自动下载、替换、重启，不用手动下载～");
    const QString byHand =
        QStringLiteral("当前 v2.13，装在这里的维洛清单没法自动替换。\n可以手动装：https://h/v.zip");
    QTest::newRow("no notes") << QByteArray(R"({"version":"2.14","url":"https://h/v.zip"})") << rest
                              << byHand;
    QTest::newRow("empty notes is no notes")
        << QByteArray(R"({"version":"2.14","url":"https://h/v.zip","notes":""})") << rest << byHand;
    QTest::newRow("notes, then a blank line")
        << QByteArray(R"({"version":"2.14","url":"https://h/v.zip","notes":"修了两处\n更快"})")
        << QStringLiteral("修了两处\n更快\n\n") + rest
        << QStringLiteral("修了两处\n更快\n\n") + byHand;
}

void TestUpdateRules::offerText() {
    QFETCH(QByteArray, json);
    QFETCH(QString, text);
    QFETCH(QString, manual);
    const UpdateInfo info = decodeUpdateInfo(json).value();
    QCOMPARE(update_text::offerTitle(info), QStringLiteral("维洛清单有新版本 v2.14 啦"));
    QCOMPARE(update_text::offerText(info, QStringLiteral("2.13")), text);
    QCOMPARE(update_text::manualOfferText(info, QStringLiteral("2.13")), manual);
}

void TestUpdateRules::location_data() {
    QTest::addColumn<QString>("appDir");
    QTest::addColumn<int>("platform");
    QTest::addColumn<QString>("readOnly"); // a folder that cannot be written, if any
    QTest::addColumn<QString>("bundle");   // empty: cannot be replaced

    const int linux = int(UpdatePlatform::Linux);
    const int mac = int(UpdatePlatform::MacOS);
    QTest::newRow("portable folder") << "/home/u/apps/Velloa.app" << linux << ""
                                     << "/home/u/apps/Velloa.app";
    QTest::newRow("trailing slash") << "/home/u/Velloa.app/" << linux << ""
                                    << "/home/u/Velloa.app";
    QTest::newRow("not a Velloa.app folder") << "/home/u/build/app" << linux << ""
                                             << "";
    QTest::newRow("other .app name") << "/home/u/Other.app" << linux << ""
                                     << "";
    QTest::newRow("package install under /usr") << "/usr/lib/Velloa.app" << linux << ""
                                                << "";
    QTest::newRow("folder read-only") << "/opt/Velloa.app" << linux << "/opt/Velloa.app"
                                      << "";
    QTest::newRow("parent read-only: cannot rename") << "/opt/Velloa.app" << linux << "/opt"
                                                     << "";
    QTest::newRow("macOS bundle") << "/Applications/Velloa.app/Contents/MacOS" << mac << ""
                                  << "/Applications/Velloa.app";
    QTest::newRow("macOS, renamed bundle") << "/Users/u/V 2.app/Contents/MacOS" << mac << ""
                                           << "/Users/u/V 2.app";
    QTest::newRow("macOS, bare executable") << "/Users/u/build" << mac << ""
                                            << "";
    QTest::newRow("macOS layout on Linux") << "/home/u/Velloa.app/Contents/MacOS" << linux << ""
                                           << "";
}

void TestUpdateRules::location() {
    QFETCH(QString, appDir);
    QFETCH(int, platform);
    QFETCH(QString, readOnly);
    QFETCH(QString, bundle);
    const InstallLocation found = InstallLocation::locate(
        appDir, UpdatePlatform(platform), [&](const QString& path) { return path != readOnly; });
    QCOMPARE(found.bundlePath, bundle);
    QCOMPARE(found.replaceable(), !bundle.isEmpty());
}

void TestUpdateRules::downloadPolicy_data() {
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("manifest");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("https, https manifest") << "https://cdn.example/v.zip"
                                           << "https://example/version.json" << true;
    QTest::newRow("https, http manifest") << "https://cdn.example/v.zip"
                                          << "http://127.0.0.1/version.json" << true;
    QTest::newRow("http, same host over http") << "http://127.0.0.1:1/releases/v.zip"
                                               << "http://127.0.0.1:2/version.json" << true;
    QTest::newRow("http, host case differs") << "http://HUB.local/v.zip"
                                             << "http://hub.local/version.json" << true;
    QTest::newRow("http after an https manifest") << "http://example/v.zip"
                                                  << "https://example/version.json" << false;
    QTest::newRow("http, other host") << "http://evil.example/v.zip"
                                      << "http://127.0.0.1/version.json" << false;
    QTest::newRow("http, manifest unknown") << "http://127.0.0.1/v.zip"
                                            << "" << false;
    QTest::newRow("ftp") << "ftp://127.0.0.1/v.zip"
                         << "http://127.0.0.1/version.json" << false;
}

void TestUpdateRules::downloadPolicy() {
    QFETCH(QString, archive);
    QFETCH(QString, manifest);
    QFETCH(bool, allowed);
    QCOMPARE(downloadAllowed(QUrl(archive), QUrl(manifest)), allowed);
}

void TestUpdateRules::entries_data() {
    using Kind = Unpacker::Kind;
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<bool>("safe");

    const int file = int(Kind::File), dir = int(Kind::Directory), sym = int(Kind::Symlink),
              hard = int(Kind::HardLink);
    QTest::newRow("file") << QByteArray("Velloa.app/velloa") << file << QByteArray() << true;
    QTest::newRow("dot pieces") << QByteArray("./Velloa.app//resources/") << dir << QByteArray()
                                << true;
    QTest::newRow("absolute") << QByteArray("/etc/passwd") << file << QByteArray() << false;
    QTest::newRow("dot-dot first") << QByteArray("../x") << file << QByteArray() << false;
    QTest::newRow("dot-dot inside") << QByteArray("a/../../x") << file << QByteArray() << false;
    QTest::newRow("dot-dot that stays inside is refused too")
        << QByteArray("a/../b") << file << QByteArray() << false;
    QTest::newRow("nothing but dots") << QByteArray("./") << dir << QByteArray() << false;
    QTest::newRow("device or pipe")
        << QByteArray("fifo") << int(Kind::Other) << QByteArray() << false;
    QTest::newRow("symlink beside")
        << QByteArray("a/lib.so") << sym << QByteArray("lib.so.1") << true;
    QTest::newRow("symlink up to the top")
        << QByteArray("a/b/l") << sym << QByteArray("../../c") << true;
    QTest::newRow("symlink up too far")
        << QByteArray("a/b/l") << sym << QByteArray("../../../c") << false;
    QTest::newRow("symlink at the top, up") << QByteArray("l") << sym << QByteArray("..") << false;
    QTest::newRow("symlink absolute") << QByteArray("a/l") << sym << QByteArray("/etc") << false;
    // "a/x" could itself be a link to ".", making the second ".." climb one more level.
    QTest::newRow("symlink dot-dot after a name")
        << QByteArray("a/b/l") << sym << QByteArray("x/../..") << false;
    QTest::newRow("symlink empty target") << QByteArray("l") << sym << QByteArray() << false;
    QTest::newRow("hard link to an earlier file")
        << QByteArray("b") << hard << QByteArray("./a/f") << true;
    QTest::newRow("hard link to a file not unpacked")
        << QByteArray("b") << hard << QByteArray("update.zip") << false;
    QTest::newRow("hard link out") << QByteArray("b") << hard << QByteArray("../outside") << false;
    QTest::newRow("hard link absolute")
        << QByteArray("b") << hard << QByteArray("/etc/passwd") << false;
}

void TestUpdateRules::entries() {
    QFETCH(QByteArray, path);
    QFETCH(int, kind);
    QFETCH(QByteArray, target);
    QFETCH(bool, safe);
    QCOMPARE(Unpacker::entryStaysInside(path, Unpacker::Kind(kind), target, {"a/f"}), safe);
}

QTEST_GUILESS_MAIN(TestUpdateRules)
#include "test_update_rules.moc"
