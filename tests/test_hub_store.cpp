// The hub's storage in-process: the journal's crash rules and the store's replay.
#include "FeedJson.h"
#include "FeedStore.h"
#include "InboxMessage.h"
#include "Journal.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray addMessage(const QString& text) {
    return inbox::serialize(inbox::add(QStringLiteral("mine"), text, 1));
}

int countText(const Payload& feed, const QString& text) {
    int n = 0;
    for (const Row& row : feed.mine_rows)
        n += row.text == text ? 1 : 0;
    return n;
}

} // namespace

class TestHubStore : public QObject {
    Q_OBJECT

private slots:
    void journalCutsATornTail_data();
    void journalCutsATornTail();
    void journalRefusesDamageBeforeWholeLines();
    void journalNumbersNeverRepeat();
    void storeReplaysOnlyWhatTheFeedLacks();
    void storeRefusesAJournalWithoutFeed();
    void storeKeepsASecondHubOut();
};

void TestHubStore::journalCutsATornTail_data() {
    QTest::addColumn<QByteArray>("tail");
    const QByteArray third = Journal::lineFor(3, addMessage("c"));
    QTest::newRow("half a line") << third.left(third.size() / 2);
    QTest::newRow("whole line, bad check") << QByteArray(third).replace("\"c\"", "\"d\"");
    QTest::newRow("zeros from an extended file") << QByteArray(40, '\0');
    QTest::newRow("garbage line then half a line") << "junk\n" + third.left(10);
}

void TestHubStore::journalCutsATornTail() {
    QFETCH(QByteArray, tail);
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.log");
    const QByteArray good =
        Journal::lineFor(1, addMessage("a")) + Journal::lineFor(2, addMessage("b"));
    writeAll(path, good + tail);

    Journal journal;
    QString error;
    QVERIFY2(journal.open(path, 0, &error), qPrintable(error));
    QCOMPARE(journal.entries().size(), 2);
    QCOMPARE(readAll(path), good);
    // The next entry follows a whole line, so the file reads back whole.
    QCOMPARE(journal.append(addMessage("c"), &error), std::optional<qint64>(3));
    Journal again;
    QVERIFY2(again.open(path, 0, &error), qPrintable(error));
    QCOMPARE(again.entries().size(), 3);
    QCOMPARE(again.entries().last(), (Journal::Entry{3, addMessage("c")}));
}

void TestHubStore::journalRefusesDamageBeforeWholeLines() {
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.log");
    const QByteArray text = Journal::lineFor(1, addMessage("a")) + "1 0000000000000000 {}\n" +
                            Journal::lineFor(3, addMessage("c"));
    writeAll(path, text);
    Journal journal;
    QString error;
    QVERIFY(!journal.open(path, 0, &error));
    QVERIFY2(error.contains("line 2"), qPrintable(error));
    QCOMPARE(readAll(path), text);
}

void TestHubStore::journalNumbersNeverRepeat() {
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.log");
    QString error;
    Journal journal;
    QVERIFY(journal.open(path, 10, &error));
    QCOMPARE(journal.append("{\"n\":1}", &error), std::optional<qint64>(11));
    QCOMPARE(journal.append("{\"n\":2}", &error), std::optional<qint64>(12));
    QVERIFY(!journal.append("two\nlines", &error));
    QVERIFY(journal.dropThrough(11, &error));
    QCOMPARE(journal.entries(), (QList<Journal::Entry>{{12, "{\"n\":2}"}}));
    QCOMPARE(journal.append("{\"n\":3}", &error), std::optional<qint64>(13));
    QVERIFY(journal.dropThrough(13, &error));
    QCOMPARE(readAll(path), QByteArray());
    // An empty journal remembers nothing: the floor (the feed's number) carries the count.
    Journal reopened;
    QVERIFY(reopened.open(path, 13, &error));
    QCOMPARE(reopened.append("{\"n\":4}", &error), std::optional<qint64>(14));
}

// As after a crash between the journal append and the feed write: the feed includes
// entries 1 and 2, the journal holds 1 to 4.
void TestHubStore::storeReplaysOnlyWhatTheFeedLacks() {
    QTemporaryDir dir;
    Payload feed = demoFeed(QDateTime::currentDateTime());
    feed.mine_rows.append(Row{"item", "one", "x1", false, std::nullopt, std::nullopt});
    feed.mine_rows.append(Row{"item", "two", "x2", false, std::nullopt, std::nullopt});
    writeAll(dir.filePath("data.json"), serializeFeed(feed, 2));
    QByteArray journalText;
    const QStringList texts = {"one", "two", "three", "four"};
    for (int i = 0; i < texts.size(); ++i)
        journalText += Journal::lineFor(i + 1, addMessage(texts[i]));
    writeAll(dir.filePath("journal.log"), journalText);

    for (int start = 0; start < 2; ++start) {
        FeedStore store;
        QString error;
        QVERIFY2(store.open(dir.path(), &error), qPrintable(error));
        for (const QString& text : texts)
            QCOMPARE(countText(store.feed(), text), 1);
        QCOMPARE(readAll(dir.filePath("data.json")), store.feedText());
        QString seqError;
        QCOMPARE(readAppliedSeq(store.feedText(), &seqError), std::optional<qint64>(4));
    }
}

void TestHubStore::storeRefusesAJournalWithoutFeed() {
    QTemporaryDir dir;
    const QByteArray journal = Journal::lineFor(1, addMessage("a"));
    writeAll(dir.filePath("journal.log"), journal);
    FeedStore store;
    QString error;
    QVERIFY(!store.open(dir.path(), &error));
    QVERIFY2(error.contains("data.json is missing"), qPrintable(error));
    QVERIFY(!QFile::exists(dir.filePath("data.json")));
    QCOMPARE(readAll(dir.filePath("journal.log")), journal);
}

void TestHubStore::storeKeepsASecondHubOut() {
    QTemporaryDir dir;
    FeedStore first;
    QString error;
    QVERIFY2(first.open(dir.path(), &error), qPrintable(error));
    FeedStore second;
    QVERIFY(!second.open(dir.path(), &error));
    QVERIFY2(error.contains("another velloa-hub"), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestHubStore)
#include "test_hub_store.moc"
