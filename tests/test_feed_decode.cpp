#include "tests/support/Fixtures.h"
#include "model/Payload.h"
#include "model/RowJson.h"
#include "tests/odd_members.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

Q_DECLARE_METATYPE(Payload)

class TestFeedDecode : public QObject {
    Q_OBJECT

private slots:
    void refused_data();
    void refused();
    void accepted_data();
    void accepted();
    void writesStringsAsQtDoes_data();
    void writesStringsAsQtDoes();
    void jsonTestSuite_data();
    void jsonTestSuite();
};

// Syntax faults are the parser's to word: only that the feed is refused as a text is checked
// ("body: …"). Where the text is JSON, the reason is ours and checked whole. The odd members'
// rows come first; the feeds they accept hold the one task "a".
void TestFeedDecode::refused_data() {
    odd::addRows();
    const QString notJson = QStringLiteral("body: …");
    const QByteArray row = "{\"kind\":\"item\",\"text\":\"a\"}";

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

void TestFeedDecode::refused() {
    QFETCH(QByteArray, body);
    QFETCH(QString, reason);
    const DecodeResult result = decodePayload(body);
    if (reason.isEmpty()) {
        QVERIFY2(result.payload, qPrintable(result.error));
        QCOMPARE(result.payload->mine_rows, QList<Row>{task({}, "a")});
    } else {
        QVERIFY2(!result.payload && odd::matches(result.error, reason), qPrintable(result.error));
    }
}

void TestFeedDecode::accepted_data() {
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

// Each row, written out by the tools' row writer and read back, loses nothing.
void TestFeedDecode::accepted() {
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

void TestFeedDecode::writesStringsAsQtDoes_data() {
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
void TestFeedDecode::writesStringsAsQtDoes() {
    QFETCH(QString, text);
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    QCOMPARE(jsonString(text), array.mid(1, array.size() - 2));
}

void TestFeedDecode::jsonTestSuite_data() {
    QTest::addColumn<QString>("path");
    const QDir dir(QStringLiteral(VELLOA_TESTDATA_DIR "/JSONTestSuite/test_parsing"));
    const QStringList files = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    QVERIFY2(files.size() > 300, "JSONTestSuite not found next to the repository");
    for (const QString& name : files)
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

void TestFeedDecode::jsonTestSuite() {
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

QTEST_APPLESS_MAIN(TestFeedDecode)
#include "test_feed_decode.moc"
