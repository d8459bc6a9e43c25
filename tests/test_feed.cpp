// The feed's decoder and writer, and the velloa-feed tool, which decodes with the app's own
// decoder: the same feeds pass and fail for the same reason.
#include "model/Payload.h"
#include "model/RowJson.h"
#include "tests/support/Fixtures.h"

#include <QDir>
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

// A feed with one task "a" in mine_rows; `rowExtra` goes into that row, `extra` into the top.
QByteArray oddFeed(const QByteArray& rowExtra, const QByteArray& extra = {}) {
    return listFeed("{\"kind\":\"item\",\"text\":\"a\"" + rowExtra + "}", "u", extra);
}

// Nesting `levels` arrays deep, the outermost one included.
QByteArray nested(int levels) {
    return QByteArray(levels, '[') + QByteArray(levels, ']');
}

// A reason ending in "…" matches any text that begins with what comes before it.
bool matches(const QString& got, const QString& reason) {
    return reason.endsWith(u'…') ? got.startsWith(reason.chopped(1)) : got == reason;
}

const QString kSample = QStringLiteral(VELLOA_SOURCE_DIR "/resources/sample/feed.json");

QStringList rowTexts(const QString& json) {
    QStringList texts;
    for (const QJsonValue& row : QJsonDocument::fromJson(json.toUtf8())["rows"].toArray())
        texts << row["text"].toString();
    return texts;
}

struct CheckCase { QByteArray feed; int exitCode; QString line; };
struct UsageErrorsCase { QStringList args; QByteArray overlay; QString message; };
} // namespace

class TestFeed : public QObject {
    Q_OBJECT
private slots:
    // Syntax faults are the parser's to word: only that the feed is refused as a text is checked
    // ("body: …"). Where the text is JSON, the reason is ours and checked whole; an accepted
    // feed holds the one task "a". The JSON test suite covers values at the top level; these are
    // inside rows, or at the limits of the feed's own rules: a member the app does not read may
    // hold any valid JSON, a member it reads keeps its type rules whatever the value.
    void refused_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("reason"); // empty: accepted
        const QString notJson = QStringLiteral("body: …");
        const QByteArray row = "{\"kind\":\"item\",\"text\":\"a\"}";
        const auto feed = oddFeed;
        QTest::newRow("integer below 64 bits in a row") << feed(",\"n\":-9223372036854775809", {}) << QString();
        QTest::newRow("lone surrogate escapes") << feed(",\"s\":\"\\ud800\"", ",\"t\":[\"x\\udc00\\ud800\"]") << QString();
        QTest::newRow("nesting at the limit") << feed({}, ",\"deep\":" + nested(1023)) << QString();
        QTest::newRow("done as 1") << feed(",\"done\":1", {}) << "mine_rows[0].done: expected boolean, got number";
        QTest::newRow("done as 1e400") << feed(",\"done\":1e400", {}) << "mine_rows[0].done: expected boolean, got number";
        QTest::newRow("id as a 67-bit integer") << feed(",\"id\":100000000000000000000", {}) << "mine_rows[0].id: expected string, got number";
        QTest::newRow("updated as a 65-bit integer") << feed({}, {}).replace("\"updated\":\"u\"", "\"updated\":-9223372036854775809")
                                                     << "updated: expected string, got number";
        QTest::newRow("number ending in a point") << feed(",\"x\":[1.]", {}) << notJson;
        QTest::newRow("nesting one level too deep") << feed({}, ",\"deep\":" + nested(1024)) << notJson;

        QTest::newRow("empty body") << QByteArray() << notJson;
        QTest::newRow("top-level array") << QByteArray("[]") << "body: expected object at top level, got array";
        QTest::newRow("trailing garbage") << listFeed() + "x" << notJson;
        QTest::newRow("second object after the first") << listFeed() + "{}" << notJson;
        QTest::newRow("raw tab in a read string") << listFeed("{\"kind\":\"item\",\"text\":\"a\tb\"}") << notJson;
        QTest::newRow("unknown escape in a read string") << listFeed("{\"kind\":\"item\",\"text\":\"a\\qb\"}") << notJson;
        QTest::newRow("misspelled done") << listFeed("{\"kind\":\"item\",\"text\":\"a\",\"done\":ture}") << notJson;
        // All or nothing, and a broken text is reported as such even after a type error.
        QTest::newRow("type error, then a bad number") << listFeed("{\"kind\":\"item\",\"text\":\"a\",\"done\":1}", "u", ",\"z\":-") << notJson;
        QTest::newRow("missing mine") << listFeed().replace("\"mine\":\"\",", "") << "mine: missing";
        QTest::newRow("null mine") << listFeed().replace("\"mine\":\"\"", "\"mine\":null") << "mine: expected string, got null";
        QTest::newRow("title as array") << listFeed().replace("\"Hers\"", "[]") << "hers_title: expected string, got array";
        QTest::newRow("rows null") << listFeed().replace("\"hers_rows\":[]", "\"hers_rows\":null") << "hers_rows: expected array, got null";
        QTest::newRow("row not object") << listFeed("{\"kind\":\"header\",\"text\":\"A\"},\"x\"") << "mine_rows[1]: expected object, got string";
        QTest::newRow("row without kind") << listFeed("{\"text\":\"a\"}") << "mine_rows[0].kind: missing";
        QTest::newRow("done as number in row 3") << listFeed(row + "," + row + "," + row + ",{\"kind\":\"item\",\"text\":\"d\",\"done\":1}") << "mine_rows[3].done: expected boolean, got number";
        QTest::newRow("first bad row named") << listFeed("{\"kind\":\"item\",\"text\":5},{\"text\":\"b\"}") << "mine_rows[0].text: expected string, got number";
        QTest::newRow("bad row in hers") << listFeed().replace("\"hers_rows\":[]", "\"hers_rows\":[{\"kind\":1,\"text\":\"a\"}]") << "hers_rows[0].kind: expected string, got number";
    }

    // The decoder, and the tool on the same bytes.
    void refused() {
        QFETCH(QByteArray, body);
        QFETCH(QString, reason);
        const DecodeResult result = decodePayload(body);
        const Run run = runTool({"check", write("refused.json", body)});
        if (reason.isEmpty()) {
            QVERIFY2(result.payload, qPrintable(result.error));
            QCOMPARE(result.payload->mine_rows, QList<Row>{task({}, "a")});
            QCOMPARE(run.exitCode, 0);
            QCOMPARE(run.out, QStringLiteral("ok: 1 rows (mine 1, hers 0)\n"));
        } else {
            QVERIFY2(!result.payload && matches(result.error, reason), qPrintable(result.error));
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.endsWith(u'\n') && matches(run.err.chopped(1), reason), qPrintable(run.err));
        }
    }

    void accepted_data();

    // Each row, written out by the tools' row writer and read back, loses nothing.
    void accepted() {
        QFETCH(QByteArray, body);
        QFETCH(Payload, expected);
        const DecodeResult result = decodePayload(body);
        QVERIFY2(result.payload && result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(*result.payload, expected);
        for (const Row& row : result.payload->mine_rows + result.payload->hers_rows) {
            QString error;
            QCOMPARE(decodeRowText(rowJson(row), QStringLiteral("row"), &error),
                     std::optional<Row>(row));
        }
    }

    void writesStringsAsQtDoes_data() {
        QTest::addColumn<QString>("text");
        QString controls;
        for (char16_t c = 0; c < 0x20; ++c)
            controls += QChar(c);
        QTest::newRow("empty") << QString();
        QTest::newRow("quote, backslash, slash") << QString(R"(say "a\b/c")");
        QTest::newRow("every control character") << controls + "x";
        QTest::newRow("DEL and C1") << QString(QChar(0x7f)) + QChar(0x80) + QChar(0x9f);
        QTest::newRow("two- and three-byte") << QString(u"é整理周报\u2028\uffff"_qs);
        QTest::newRow("surrogate pair") << QString(u"a\U0001F600b"_qs);
        // No UTF-8 form: written as escapes.
        QTest::newRow("lone high, lone low, reversed pair")
            << QString(QChar(0xd800)) + "x" + QChar(0xdc00) + QChar(0xdc00) + QChar(0xd83d);
        QTest::newRow("high surrogate last") << "x" + QString(QChar(0xd83d));
    }

    // The feed writer escapes by hand for speed: byte for byte what Qt's JSON writer writes.
    void writesStringsAsQtDoes() {
        QFETCH(QString, text);
        const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        QCOMPARE(jsonString(text), array.mid(1, array.size() - 2));
    }

    void jsonTestSuite_data() {
        QTest::addColumn<QString>("path");
        const QDir dir(QStringLiteral(VELLOA_TESTDATA_DIR "/JSONTestSuite/test_parsing"));
        const QStringList files = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
        QVERIFY2(files.size() > 300, "JSONTestSuite not found next to the repository");
        for (const QString& name : files)
            QTest::newRow(qPrintable(name)) << dir.filePath(name);
    }

    void jsonTestSuite() {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // Embedded as the value of a member the decoder does not know, so only the JSON text
        // rules decide: a y_ text must be accepted, an n_ text must fail the whole feed.
        const QByteArray body = listFeed({}, "u", ",\"unlisted\":" + file.readAll());
        const DecodeResult result = decodePayload(body);
        const QString name = QFileInfo(path).fileName();
        if (name.startsWith(QLatin1String("y_")))
            QVERIFY2(result.payload, qPrintable(result.error));
        else if (name.startsWith(QLatin1String("n_")))
            QVERIFY(!result.payload && !result.error.isEmpty());
        else if (name.startsWith(QLatin1String("i_"))) {
            // What parsers may refuse: numbers beyond every machine type, lone surrogate escapes,
            // deep nesting are valid JSON and decode; text that is not UTF-8 does not (nor does a
            // byte order mark inside the document).
            const bool utf8 = QByteArrayView(body).isValidUtf8() && !body.contains("\xef\xbb\xbf");
            QVERIFY2(result.payload.has_value() == utf8, qPrintable(result.error));
        }
    }

    void check_data() {
        QTest::addColumn<CheckCase>("c");

        QTest::newRow("sample") << CheckCase{readFile(kSample), 0, "ok: 12 rows (mine 8, hers 4)"};
        QTest::newRow("not JSON") << CheckCase{QByteArray("<html>404</html>"), 1, "body: …"};
    }

    void check() {
        QFETCH(CheckCase, c);
        // Once from a file and once from standard input: both paths must agree.
        for (const QStringList& args : {QStringList{"check", write("check.json", c.feed)}, QStringList{"check", "-"}}) {
            const Run run = runTool(args, c.feed);
            QCOMPARE(run.exitCode, c.exitCode);
            const QString& text = c.exitCode == 0 ? run.out : run.err;
            QVERIFY2(text.endsWith(u'\n') && matches(text.chopped(1), c.line), qPrintable(text));
            QCOMPARE(text.count(u'\n'), 1);
            QVERIFY((c.exitCode == 0 ? run.err : run.out).isEmpty());
        }
    }

    void viewJson() {
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

    void viewOverlayAndCollapse() {
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

    void usageErrors_data() {
        QTest::addColumn<UsageErrorsCase>("c");

        QTest::newRow("no command") << UsageErrorsCase{QStringList{}, QByteArray(), "expected a command and one FILE"};
        QTest::newRow("missing file") << UsageErrorsCase{QStringList{"check", "/nonexistent/feed.json"}, QByteArray(), "cannot read feed"};
        QTest::newRow("bad list") << UsageErrorsCase{QStringList{"view", kSample, "--list", "ours", "--today", "2026-12-06"}, QByteArray(), "--list must be"};
        QTest::newRow("view without list") << UsageErrorsCase{QStringList{"view", kSample, "--today", "2026-12-06"}, QByteArray(), "view needs --list"};
        QTest::newRow("overlay not JSON") << UsageErrorsCase{QStringList{}, QByteArray("{nope"), "overlay: "};
        QTest::newRow("overlay done not bool") << UsageErrorsCase{QStringList{}, QByteArray(R"({"localDone":{"m1":1}})"), "overlay: localDone.m1: expected boolean"};
        QTest::newRow("overlay bad row") << UsageErrorsCase{QStringList{}, QByteArray(R"({"pendingAdd":{"mine":[{"text":"x"}]}})"), "overlay: pendingAdd.mine[0].kind: missing"};
    }

    void usageErrors() {
        QFETCH(UsageErrorsCase, c);
        if (!c.overlay.isNull())
            c.args = {"view", kSample, "--list", "mine", "--today", "2026-12-06", "--overlay", write("bad.json", c.overlay)};
        const Run run = runTool(c.args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.startsWith(QStringLiteral("velloa-feed: ") + c.message), qPrintable(run.err));
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
    }

private:
    QTemporaryDir dir;
    QString write(const QString& name, const QByteArray& bytes) {
        if (!writeFile(dir.filePath(name), bytes))
            qFatal("cannot write test file");
        return dir.filePath(name);
    }
};

void TestFeed::accepted_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Payload>("expected");
    const auto row = [](const char* name, const QByteArray& json, const Row& expected) {
        QTest::newRow(name) << listFeed(json) << feedOf({expected});
    };
    const std::optional<QString> none;
    row("minimal item", R"({"kind":"item","text":"a"})", task({}, "a"));
    row("nulls read as absent",
        R"({"kind":"item","text":"a","id":null,"done":null,"doneAt":null,"cat":null})",
        task({}, "a"));
    row("unknown kind kept", R"({"kind":"note","text":"n"})",
        Row{"note", "n", none, {}, none, none});
    row("snake case done_at ignored", R"({"kind":"item","text":"a","done_at":"2026-01-02"})",
        task({}, "a"));
    row("unlisted members of any type",
        R"({"kind":"item","x":[1,{"y":null}],"text":"a","n":-1.5e300,"big":18446744073709551615,"Done":3})",
        task({}, "a"));
    row("escaped member names", R"({"\u006bind":"item","te\u0078t":"a","\u0069d":"x"})",
        task("x", "a"));
    // Half a surrogate pair names no character: it reads as U+FFFD; a whole pair is kept.
    row("lone surrogates read as U+FFFD",
        R"({"kind":"item","text":"a\ud800b\udc00\ud83d\ud83d\ude00","cat":"\uDBFF"})",
        Row{"item", u"a\uFFFDb\uFFFD\uFFFD\U0001F600"_qs, none, {}, none, u"\uFFFD"_qs});
    row("strings taken as they are", R"({"kind":" item","text":"  A\tb \n","id":"ID"})",
        Row{" item", "  A\tb \n", "ID", {}, none, none});

    // A leading byte order mark, members in any order, an unlisted object and trailing white
    // space; empty strings are kept as they are.
    const QByteArray bom = "\xef\xbb\xbf";
    QTest::newRow("whole feed")
        << bom + R"( {"hers_rows":[{"kind":"item","text":"h"}],"extra":{"deep":[true]},)"
                 R"("updated":"12-06 08:30","mine_title":"","mine":"","hers_title":"Hers",)"
                 R"("hers":"whatever","mine_rows":[]})"
                 "\r\n\t "
        << Payload{"12-06 08:30", "", "", {}, "Hers", "whatever", {task({}, "h")}};
    // Only the byte order mark that opens the document is skipped; one that opens a string is
    // part of the text, escaped or not, however many there are.
    const QString mark(QChar(0xFEFF));
    const QByteArray marked =
        R"({"kind":"item","text":")" + bom + bom + R"(t","id":")" + bom + R"(\n"})";
    QTest::newRow("byte order marks in strings")
        << bom + R"({"updated":")" + bom +
               R"(u","mine_title":"\ufeff\uFEFFM","mine":"","mine_rows":[)" + marked +
               R"(],"hers_title":")" + bom + R"(","hers":"","hers_rows":[]})"
        << Payload{
               mark + "u", mark + mark + "M", "", {task(mark + "\n", mark + mark + "t")}, mark, "",
               {}};
    // The parser keeps the last of equal member names, at both levels; the first value is not
    // type-checked because it no longer exists after parsing.
    QTest::newRow("duplicate members: the last wins")
        << listFeed(R"({"kind":"item","text":"first","done":1,"text":"second","done":true})", "u",
                    R"(,"mine_title":"again")")
        << Payload{"u", "again", "", {task({}, "second", {}, true)}, "Hers", "", {}};
}

QTEST_GUILESS_MAIN(TestFeed)
#include "test_feed.moc"
