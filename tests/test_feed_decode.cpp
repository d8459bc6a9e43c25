#include "Payload.h"

#include <QDir>
#include <QtTest>

Q_DECLARE_METATYPE(Row)

namespace {

// The seven required members with empty values; `extra` is spliced in before the closing brace
// and `rows` becomes mine_rows.
QByteArray feed(const QByteArray& rows = "[]", const QByteArray& extra = {}) {
    return "{\"updated\":\"u\",\"mine_title\":\"M\",\"mine\":\"x\",\"mine_rows\":" + rows +
           ",\"hers_title\":\"H\",\"hers\":\"y\",\"hers_rows\":[]" + extra + "}";
}

// The minimal feed with one piece of its text replaced.
QByteArray feedWith(const char* from, const char* to) {
    return feed().replace(from, to);
}

} // namespace

class TestFeedDecode : public QObject {
    Q_OBJECT

private slots:
    void rejected_data();
    void rejected();
    void acceptedRow_data();
    void acceptedRow();
    void wholeFeedFields();
    void duplicateMembersLastWins();
    void jsonTestSuite_data();
    void jsonTestSuite();
};

void TestFeedDecode::rejected_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reason");

    const QString kStructure = QStringLiteral("body: The JSON document has an improper structure: "
                                              "missing or superfluous commas, braces, missing keys, etc.");
    const QString kUtf8 = QStringLiteral("body: The input is not valid UTF-8");
    const QString kControl = QStringLiteral("body: Within strings, some characters must be escaped, "
                                            "we found unescaped characters");
    const QString kNumber = QStringLiteral("body: Problem while parsing a number");

    QTest::newRow("empty body") << QByteArray() << "body: Empty: no JSON found";
    QTest::newRow("top-level array") << QByteArray("[]") << "body: expected object at top level, got array";
    QTest::newRow("trailing garbage") << feed() + "x" << kStructure;
    QTest::newRow("invalid UTF-8 lead byte") << feed("[]", ",\"z\":\"\xff\"") << kUtf8;
    QTest::newRow("overlong slash") << feed("[]", ",\"z\":\"\xc0\xaf\"") << kUtf8;
    QTest::newRow("UTF-8 encoded surrogate") << feed("[]", ",\"z\":\"\xed\xa0\x80\"") << kUtf8;
    QTest::newRow("raw tab in string") << feed("[{\"kind\":\"item\",\"text\":\"a\tb\"}]") << kControl;
    // Numbers are read as 64-bit integers or doubles; one that fits neither cannot be
    // represented, so the feed is refused even where the member is not one we read.
    QTest::newRow("number beyond double range") << feed("[]", ",\"n\":1e400") << kNumber;
    QTest::newRow("missing mine") << feedWith("\"mine\":\"x\",", "") << "mine: missing";
    QTest::newRow("null mine") << feedWith("\"mine\":\"x\"", "\"mine\":null") << "mine: expected string, got null";
    QTest::newRow("title as array") << feedWith("\"H\"", "[]") << "hers_title: expected string, got array";
    QTest::newRow("rows null") << feedWith("\"hers_rows\":[]", "\"hers_rows\":null") << "hers_rows: expected array, got null";
    QTest::newRow("row not object") << feed("[{\"kind\":\"header\",\"text\":\"A\"},\"x\"]") << "mine_rows[1]: expected object, got string";
    QTest::newRow("row without kind") << feed("[{\"text\":\"a\"}]") << "mine_rows[0].kind: missing";
    QTest::newRow("done as number") << feed("[{\"kind\":\"item\",\"text\":\"a\"},{\"kind\":\"item\",\"text\":\"b\"},{\"kind\":\"item\",\"text\":\"c\"},{\"kind\":\"item\",\"text\":\"d\",\"done\":1}]") << "mine_rows[3].done: expected boolean, got number";
    QTest::newRow("id as number") << feed("[{\"kind\":\"item\",\"text\":\"a\",\"id\":12}]") << "mine_rows[0].id: expected string, got number";
    QTest::newRow("bad row in hers") << feedWith("\"hers_rows\":[]", "\"hers_rows\":[{\"kind\":1,\"text\":\"a\"}]") << "hers_rows[0].kind: expected string, got number";
}

void TestFeedDecode::rejected() {
    QFETCH(QByteArray, body);
    QFETCH(QString, reason);
    const DecodeResult result = decodePayload(body);
    QVERIFY(!result.payload);
    QCOMPARE(result.error, reason);
}

void TestFeedDecode::acceptedRow_data() {
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<Row>("expected");

    const std::optional<QString> none;
    QTest::newRow("minimal item") << QByteArray("{\"kind\":\"item\",\"text\":\"a\"}")
                                  << Row{"item", "a", none, std::nullopt, none, none};
    QTest::newRow("nulls read as absent") << QByteArray("{\"kind\":\"item\",\"text\":\"a\",\"id\":null,\"done\":null,\"doneAt\":null,\"cat\":null}")
                                          << Row{"item", "a", none, std::nullopt, none, none};
    QTest::newRow("unknown kind kept") << QByteArray("{\"kind\":\"note\",\"text\":\"n\"}")
                                       << Row{"note", "n", none, std::nullopt, none, none};
    QTest::newRow("snake case done_at ignored") << QByteArray("{\"kind\":\"item\",\"text\":\"a\",\"done_at\":\"2026-01-02\"}")
                                                << Row{"item", "a", none, std::nullopt, none, none};
    QTest::newRow("unlisted members of any type") << QByteArray("{\"kind\":\"item\",\"x\":[1,{\"y\":null}],\"text\":\"a\",\"n\":-1.5e300,\"big\":18446744073709551615,\"Done\":3}")
                                                  << Row{"item", "a", none, std::nullopt, none, none};
    QTest::newRow("strings taken as they are") << QByteArray("{\"kind\":\" item\",\"text\":\"  A\\tb \\n\",\"id\":\"ID\"}")
                                               << Row{" item", "  A\tb \n", "ID", std::nullopt, none, none};
}

void TestFeedDecode::acceptedRow() {
    QFETCH(QByteArray, row);
    QFETCH(Row, expected);
    const DecodeResult result = decodePayload(feed("[" + row + "]"));
    QVERIFY2(result.payload, qPrintable(result.error));
    QCOMPARE(result.payload->mine_rows.size(), 1);
    QCOMPARE(result.payload->mine_rows[0], expected);
    QVERIFY(result.error.isEmpty());
}

// A leading byte order mark, members in any order, an unlisted object and trailing white
// space; empty strings are kept as they are.
void TestFeedDecode::wholeFeedFields() {
    const DecodeResult result = decodePayload(
        "\xef\xbb\xbf {\"hers_rows\":[{\"kind\":\"item\",\"text\":\"h\"}],\"extra\":{\"deep\":[true]},"
        "\"updated\":\"12-06 08:30\",\"mine_title\":\"\",\"mine\":\"\",\"hers_title\":\"Hers\","
        "\"hers\":\"whatever\",\"mine_rows\":[]}\r\n\t ");
    QVERIFY2(result.payload, qPrintable(result.error));
    const Row h{"item", "h", std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    QCOMPARE(*result.payload, (Payload{"12-06 08:30", "", "", {}, "Hers", "whatever", {h}}));
}

void TestFeedDecode::duplicateMembersLastWins() {
    // The parser keeps the last of equal member names, at both levels; the first value is
    // not type-checked because it no longer exists after parsing.
    const DecodeResult result = decodePayload(
        feed("[{\"kind\":\"item\",\"text\":\"first\",\"done\":1,\"text\":\"second\",\"done\":true}]",
             ",\"mine_title\":\"again\""));
    QVERIFY2(result.payload, qPrintable(result.error));
    QCOMPARE(result.payload->mine_title, "again");
    QCOMPARE(result.payload->mine_rows[0].text, "second");
    QCOMPARE(result.payload->mine_rows[0].done, std::optional<bool>(true));
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
    const QByteArray body = feed("[]", ",\"unlisted\":" + file.readAll());
    const DecodeResult result = decodePayload(body);
    const QString name = QFileInfo(path).fileName();
    if (name.startsWith(QLatin1String("y_")))
        QVERIFY2(result.payload, qPrintable(result.error));
    else if (name.startsWith(QLatin1String("n_")))
        QVERIFY(!result.payload && !result.error.isEmpty());
    else
        QVERIFY(result.payload.has_value() != !result.error.isEmpty());
}

QTEST_APPLESS_MAIN(TestFeedDecode)
#include "test_feed_decode.moc"
