#include "tests/odd_members.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runTool(const QStringList& args, const QByteArray& input = {}) {
    QProcess process;
    process.start(QStringLiteral(VELLOA_FEED_TOOL), args);
    if (!process.waitForStarted())
        return {};
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

const QString kSample = QStringLiteral(VELLOA_SOURCE_DIR "/resources/sample/feed.json");

QStringList rowTexts(const QString& json) {
    QStringList texts;
    for (const QJsonValue& row : QJsonDocument::fromJson(json.toUtf8())["rows"].toArray())
        texts << row["text"].toString();
    return texts;
}

} // namespace

class TestFeedTool : public QObject {
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void checkOddMembers_data();
    void checkOddMembers();
    void viewJson();
    void viewOverlayAndCollapse();
    void usageErrors_data();
    void usageErrors();

private:
    QTemporaryDir dir;
    QString write(const QString& name, const QByteArray& bytes);
};

QString TestFeedTool::write(const QString& name, const QByteArray& bytes) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file");
    return file.fileName();
}

void TestFeedTool::check_data() {
    QTest::addColumn<QByteArray>("feed");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");

    QFile sample(kSample);
    QVERIFY(sample.open(QIODevice::ReadOnly));
    QTest::newRow("sample") << sample.readAll() << 0 << "ok: 12 rows (mine 8, hers 4)";
    QTest::newRow("not JSON") << QByteArray("<html>404</html>") << 1 << "body: …";
}

void TestFeedTool::check() {
    QFETCH(QByteArray, feed);
    QFETCH(int, exitCode);
    QFETCH(QString, line);
    // Once from a file and once from standard input: both paths must agree.
    for (const QStringList& args : {QStringList{"check", write("check.json", feed)}, QStringList{"check", "-"}}) {
        const Run run = runTool(args, feed);
        QCOMPARE(run.exitCode, exitCode);
        const QString& text = exitCode == 0 ? run.out : run.err;
        QVERIFY2(text.endsWith(u'\n') && odd::matches(text.chopped(1), line), qPrintable(text));
        QCOMPARE(text.count(u'\n'), 1);
        QVERIFY((exitCode == 0 ? run.err : run.out).isEmpty());
    }
}

// The tool decodes with the app's own decoder: the same feeds pass and fail for the same reason.
void TestFeedTool::checkOddMembers_data() {
    odd::addRows();
}

void TestFeedTool::checkOddMembers() {
    QFETCH(QByteArray, body);
    QFETCH(QString, reason);
    const Run run = runTool({"check", write("odd.json", body)});
    if (reason.isEmpty()) {
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QStringLiteral("ok: 1 rows (mine 1, hers 0)\n"));
    } else {
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.endsWith(u'\n') && odd::matches(run.err.chopped(1), reason), qPrintable(run.err));
    }
}

void TestFeedTool::viewJson() {
    const Run run = runTool({"view", kSample, "--list", "mine", "--today", "2026-12-06"});
    QCOMPARE(run.exitCode, 0);
    const QJsonObject top = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QCOMPARE(top.value("title").toString(), QStringLiteral("阿蓁的 To-do"));
    QCOMPARE(top.value("labels").toArray(), (QJsonArray{"工作", "生活", "其他"}));
    const QJsonArray rows = top.value("rows").toArray();
    QCOMPARE(rowTexts(run.out),
             (QStringList{"工作", "整理周报", "回复邮件 & 约会议", "生活", "买牛奶和面包",
                          "给妈妈打电话", "其他", "读完《小王子》"}));
    // Members appear only when present: a header has kind, text and cat.
    QCOMPARE(rows[0].toObject(), (QJsonObject{{"kind", "header"}, {"text", "工作"}, {"cat", "工作"}}));
    QCOMPARE(rows[2].toObject(), (QJsonObject{{"kind", "item"}, {"text", "回复邮件 & 约会议"}, {"id", "m2"},
                                              {"done", true}, {"doneAt", "2026-12-06"}, {"cat", "工作"}}));
    QCOMPARE(rows[4].toObject(), (QJsonObject{{"kind", "item"}, {"text", "买牛奶和面包"}, {"id", "m4"},
                                              {"done", false}, {"cat", "生活"}}));
    QVERIFY(run.out.startsWith(QLatin1String("{\"title\": ")));
}

void TestFeedTool::viewOverlayAndCollapse() {
    const QString overlay = write("overlay.json", R"({
        "localDone": {"m1": true, "m2": false},
        "localText": {"m4": "买豆浆"},
        "pendingAdd": {"mine": [{"kind": "item", "text": "新任务", "id": "pending-1", "done": false}],
                       "hers": [{"kind": "item", "text": "别的单子"}]},
        "orderOverride": {"mine": [{"id": "m4", "sec": "工作"}, {"id": "m1", "sec": "生活"}]}})");
    const Run run = runTool({"view", kSample, "--list", "mine", "--today", "2026-12-06", "--overlay",
                             overlay, "--collapsed", "其他", "--menu"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("工作\n[ ] 买豆浆\n[ ] 回复邮件 & 约会议\n生活\n[x] 整理周报\n"
                                     "[ ] 给妈妈打电话\n其他\n[ ] 读完《小王子》\n[ ] 新任务\n"));

    const Run collapsed = runTool({"view", kSample, "--list", "mine", "--today", "2026-12-06",
                                   "--overlay", overlay, "--collapsed", "其他", "--collapsed", "工作"});
    QCOMPARE(collapsed.exitCode, 0);
    QCOMPARE(rowTexts(collapsed.out),
             (QStringList{"工作", "生活", "整理周报", "给妈妈打电话", "其他"}));
}

void TestFeedTool::usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("overlay");
    QTest::addColumn<QString>("message");

    QTest::newRow("no command") << QStringList{} << QByteArray() << "expected a command and one FILE";
    QTest::newRow("missing file") << QStringList{"check", "/nonexistent/feed.json"} << QByteArray() << "cannot read feed";
    QTest::newRow("bad list") << QStringList{"view", kSample, "--list", "ours", "--today", "2026-12-06"} << QByteArray() << "--list must be";
    QTest::newRow("view without list") << QStringList{"view", kSample, "--today", "2026-12-06"} << QByteArray() << "view needs --list";
    QTest::newRow("overlay not JSON") << QStringList{} << QByteArray("{nope") << "overlay: ";
    QTest::newRow("overlay done not bool") << QStringList{} << QByteArray(R"({"localDone":{"m1":1}})") << "overlay: localDone.m1: expected boolean";
    QTest::newRow("overlay bad row") << QStringList{} << QByteArray(R"({"pendingAdd":{"mine":[{"text":"x"}]}})") << "overlay: pendingAdd.mine[0].kind: missing";
}

void TestFeedTool::usageErrors() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, overlay);
    QFETCH(QString, message);
    if (!overlay.isNull())
        args = {"view", kSample, "--list", "mine", "--today", "2026-12-06", "--overlay", write("bad.json", overlay)};
    const Run run = runTool(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith(QStringLiteral("velloa-feed: ") + message), qPrintable(run.err));
    QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
}

QTEST_GUILESS_MAIN(TestFeedTool)
#include "test_feed_tool.moc"
