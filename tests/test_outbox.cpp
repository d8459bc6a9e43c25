// The outbox as plain code: a file and a clock in, messages out.
#include "disk/Outbox.h"
#include "model/InboxMessage.h"
#include "tests/support/ManualClock.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray done(const QString& id, qint64 ts = 1765000000) {
    return inbox::serialize(inbox::toggle(QStringLiteral("mine"), id, true, ts));
}

QByteArray add(const QString& text) {
    return inbox::serialize(inbox::add(QStringLiteral("mine"), text, 1765000000));
}

QList<QByteArray> bodiesOf(const Outbox& outbox) {
    QList<QByteArray> bodies;
    for (const Outbox::Entry& entry : outbox.entries())
        bodies.append(entry.body);
    return bodies;
}

} // namespace

class TestOutbox : public QObject {
    Q_OBJECT

private slots:
    // A message written straight from its fields is byte for byte what Qt's writer makes of it,
    // escapes and all.
    void writtenAsQtWritesIt_data() {
        using inbox::Action;
        QTest::addColumn<inbox::Message>("message");
        const QString odd = QStringLiteral("a\"b\\c\td\n\x01\x1f/é中😀\uFEFF") + QChar(0xD800) + u'x';
        QTest::newRow("done") << inbox::Message{"mine", Action::Done, 1765000000, "t1", {}, {}};
        QTest::newRow("undone") << inbox::Message{"hers", Action::Undone, -3, "t\"1", {}, {}};
        QTest::newRow("edit, every escape") << inbox::Message{"mine", Action::Edit, 7, odd, odd, {}};
        QTest::newRow("add") << inbox::Message{"mine", Action::Add, 0, {}, QStringLiteral("新任务"), {}};
        QTest::newRow("reorder") << inbox::Message{"mine", Action::Reorder, 9, {}, {}, {{"a", "工作"}, {odd, odd}}};
        QTest::newRow("empty reorder") << inbox::Message{"hers", Action::Reorder, 9, {}, {}, {}};
    }
    void writtenAsQtWritesIt() {
        QFETCH(inbox::Message, message);
        QCOMPARE(inbox::serialize(message), inbox::serialize(inbox::toJson(message)));
    }

    void init();
    void keepsMessagesUntilTaken();
    void readsEveryForm_data();
    void readsEveryForm();
    void damagedLines_data();
    void damagedLines();
    void unsureAddHoldsLaterMessages_data();
    void unsureAddHoldsLaterMessages();
    void anAddBeingPostedAtACrashIsUnsure();

private:
    QString path() const { return m_dir->filePath(QStringLiteral("data/outbox.jsonl")); }
    std::unique_ptr<Outbox> reopened();

    std::unique_ptr<QTemporaryDir> m_dir;
    ManualClock m_clock;
};

void TestOutbox::init() {
    m_dir = std::make_unique<QTemporaryDir>();
}

std::unique_ptr<Outbox> TestOutbox::reopened() {
    auto outbox = std::make_unique<Outbox>(m_clock);
    QString error;
    if (!outbox->open(path(), &error))
        qWarning("%s", qPrintable(error));
    return outbox;
}

// Messages come back from the file in the order made, with their bytes (and so their ts), the
// time they were made and what an add needs; one taken is gone for good, and an empty outbox
// leaves an empty file.
void TestOutbox::keepsMessagesUntilTaken() {
    auto outbox = reopened();
    QString error;
    const qint64 first = outbox->append(done(QStringLiteral("a"), 1700000000), {}, {}, &error);
    m_clock.advance(std::chrono::seconds(90));
    const qint64 second = outbox->append(add(QStringLiteral("买菜 \"新\"")), QStringLiteral("pending-1"),
                                         {QStringLiteral("t9")}, &error);
    const qint64 third = outbox->append(done(QStringLiteral("b")), {}, {}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(outbox->olderThan(60000), 1);

    auto again = reopened();
    QCOMPARE(bodiesOf(*again), bodiesOf(*outbox));
    QCOMPARE(again->entries()[0].message.ts, 1700000000);
    QCOMPARE(again->entries()[1].pendingId, QStringLiteral("pending-1"));
    QCOMPARE(again->entries()[1].beside, QStringList{QStringLiteral("t9")});
    QCOMPARE(again->entries()[1].message.text, QStringLiteral("买菜 \"新\""));
    QCOMPARE(again->olderThan(60000), 1);

    QVERIFY(again->take(second, &error));
    again = reopened();
    QCOMPARE(again->entries().size(), 2);
    QCOMPARE(again->entries().last().seq, third);
    QVERIFY(again->take(first, &error) && again->take(third, &error));
    QCOMPARE(QFileInfo(path()).size(), 0);
    QVERIFY(reopened()->isEmpty());
    // Numbers are not given out twice within a run, also after the outbox emptied.
    QVERIFY(again->append(done(QStringLiteral("c")), {}, {}, &error) > third);
}

void TestOutbox::readsEveryForm_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("pending");
    const auto order = [](const QString& cat) {
        return inbox::serialize(inbox::reorder(QStringLiteral("hers"), {{QStringLiteral("a"), cat}, {QStringLiteral("b"), {}}}, -5));
    };
    QTest::newRow("a tick") << done(QStringLiteral("任务-1")) << QString();
    QTest::newRow("an untick") << inbox::serialize(inbox::toggle(QStringLiteral("hers"), {}, false, 0)) << QString();
    QTest::newRow("an edit") << inbox::serialize(inbox::edit(QStringLiteral("mine"), QStringLiteral("b"), QStringLiteral("新 文字"), 1)) << QString();
    QTest::newRow("an add") << add(QStringLiteral("买菜")) << QStringLiteral("pending-1");
    QTest::newRow("an add, a quote in its text") << add(QStringLiteral("买 \"菜\"")) << QStringLiteral("pending-\\");
    QTest::newRow("an add that starts with U+FEFF") << add(QStringLiteral("\uFEFF买")) << QStringLiteral("pending-1");
    QTest::newRow("an order") << order(QStringLiteral("工作")) << QString();
    QTest::newRow("an order, a line break in a section") << order(QStringLiteral("a\nb")) << QString();
    QTest::newRow("a tick with members of other forms")
        << QByteArray(R"({"action":"done","id":"a","list":"mine","order":[{"cat":"c","id":"d"}],"text":"t","ts":7})") << QString();
    QTest::newRow("unknown members, spaces, an order item with more")
        << QByteArray(R"({ "action":"reorder","list":"mine","ts":7,"order":[{"id":"a","cat":"c","x":1}],"new":[1]})") << QString();
}

// Whatever its form, a message comes back from the file exactly as it was read when made,
// with its add's row and the keys beside it.
void TestOutbox::readsEveryForm() {
    QFETCH(QByteArray, body);
    QFETCH(QString, pending);
    const QStringList beside = pending.isEmpty() ? QStringList() : QStringList{QStringLiteral("k1"), QStringLiteral("k2")};
    QString error;
    reopened()->append(body, pending, beside, &error);
    auto outbox = reopened();
    QCOMPARE(outbox->skippedLines(), 0);
    QCOMPARE(outbox->entries().size(), 1);
    const Outbox::Entry& entry = outbox->entries().first();
    QCOMPARE(entry.body, body);
    QVERIFY(inbox::parse(body).message.has_value());
    QCOMPARE(entry.message, *inbox::parse(body).message);
    QCOMPARE(entry.pendingId, pending);
    QCOMPARE(entry.beside, beside);
    QCOMPARE(entry.madeMs, m_clock.msecsSinceEpoch());
}

void TestOutbox::damagedLines_data() {
    QTest::addColumn<QByteArray>("damage");
    QTest::addColumn<int>("at"); // the damage goes before this line of three messages
    QTest::newRow("cut short at the end") << QByteArray(R"({"at":1,"seq":9,"msg":{"li)") << 3;
    QTest::newRow("not JSON") << QByteArray("\x01garbage\n") << 1;
    QTest::newRow("a message that does not read")
        << QByteArray(R"({"at":1,"seq":7,"msg":{"list":"x","action":"done","ts":1}})" "\n") << 2;
    QTest::newRow("an empty line") << QByteArray("\n") << 0;
    QTest::newRow("a record of nothing") << QByteArray(R"({"gone":99})" "\n") << 2;
    // Lines almost in the plain form the outbox writes.
    const auto line = [](const char* message) {
        return QByteArray(R"({"at":1,"seq":7,"msg":)") + message + "}\n";
    };
    QTest::newRow("a fraction for ts") << line(R"({"action":"done","id":"x","list":"mine","ts":1.5})") << 1;
    QTest::newRow("an edit without its text") << line(R"({"action":"edit","id":"x","list":"mine","ts":1})") << 2;
    QTest::newRow("an add of no text") << line(R"({"action":"add","list":"mine","text":"","ts":1})") << 2;
    QTest::newRow("an order item without its section")
        << line(R"({"action":"reorder","list":"mine","order":[{"id":"x"}],"ts":1})") << 1;
    QTest::newRow("a list of no one") << line(R"({"action":"done","id":"x","list":"his","ts":1})") << 1;
    QTest::newRow("not UTF-8") << line("{\"action\":\"done\",\"id\":\"\xFF\",\"list\":\"mine\",\"ts\":1}") << 1;
    QTest::newRow("a surrogate in UTF-8") << line("{\"action\":\"done\",\"id\":\"\xED\xA0\x80\",\"list\":\"mine\",\"ts\":1}") << 1;
    QTest::newRow("no seq") << QByteArray(R"({"at":1,"msg":{"action":"done","id":"x","list":"mine","ts":1}})" "\n") << 1;
}

// A damaged line is skipped and the rest kept; the file is then written anew without it, and
// appends after it land on a line of their own.
void TestOutbox::damagedLines() {
    QFETCH(QByteArray, damage);
    QFETCH(int, at);
    QList<QByteArray> bodies;
    {
        auto outbox = reopened();
        QString error;
        for (const QString& id : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})
            outbox->append(done(id), {}, {}, &error);
        bodies = bodiesOf(*outbox);
    }
    QFile file(path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    lines.insert(at, damage.endsWith('\n') ? damage.chopped(1) : damage);
    QByteArray text = lines.join('\n');
    if (!damage.endsWith('\n'))
        text.chop(1); // the cut line is the last, without its line break
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();

    auto outbox = reopened();
    QCOMPARE(bodiesOf(*outbox), bodies);
    QCOMPARE(outbox->skippedLines(), damage.startsWith(R"({"gone")") ? 0 : 1);
    QString error;
    outbox->append(done(QStringLiteral("d")), {}, {}, &error);
    auto again = reopened();
    QCOMPARE(again->skippedLines(), 0);
    QCOMPARE(again->entries().size(), 4);
}

void TestOutbox::unsureAddHoldsLaterMessages_data() {
    QTest::addColumn<int>("shownAt"); // the fetch that shows the add; 0: none
    QTest::newRow("shown by the second fetch") << 2;
    QTest::newRow("shown by none of three") << 0;
    QTest::newRow("shown only by a fourth") << 4;
}

// An add whose answer never came holds the queue: nothing later overtakes it. The three
// fetches from the failure on decide: shown, it leaves; not shown, it is sent again. Fetches
// started before the failure do not count.
void TestOutbox::unsureAddHoldsLaterMessages() {
    QFETCH(int, shownAt);
    Outbox outbox(m_clock);
    QString error;
    const qint64 tick = outbox.append(done(QStringLiteral("a")), {}, {}, &error);
    const qint64 added = outbox.append(add(QStringLiteral("x")), QStringLiteral("pending-1"), {}, &error);
    outbox.append(done(QStringLiteral("b")), {}, {}, &error);
    QCOMPARE(outbox.next()->seq, tick);
    QVERIFY(outbox.take(tick, &error));
    QCOMPARE(outbox.next()->seq, added);

    const quint64 failedBefore = 10;
    outbox.markUnsure(added, failedBefore);
    QCOMPARE(outbox.next(), nullptr);
    QList<qint64> shown;
    int asked = 0;
    const auto fetch = [&](quint64 n) {
        return outbox.fetched(n, [&](const Outbox::Entry& entry) {
            ++asked;
            return entry.seq == added && int(n - failedBefore + 1) == shownAt;
        });
    };
    QVERIFY(fetch(failedBefore - 1).isEmpty());
    QCOMPARE(asked, 0);
    for (quint64 n = failedBefore; n < failedBefore + 3 && shown.isEmpty(); ++n) {
        QCOMPARE(outbox.next(), nullptr);
        shown = fetch(n);
    }
    if (shownAt > 0 && shownAt <= 3) {
        QCOMPARE(shown, QList<qint64>{added});
        QCOMPARE(asked, shownAt);
    } else {
        QVERIFY(shown.isEmpty());
        QCOMPARE(outbox.next()->seq, added);
    }
}

// A crash while an add was being posted: the next run cannot know whether it arrived.
void TestOutbox::anAddBeingPostedAtACrashIsUnsure() {
    QString error;
    {
        auto outbox = reopened();
        const qint64 tick = outbox->append(done(QStringLiteral("a")), {}, {}, &error);
        const qint64 added = outbox->append(add(QStringLiteral("x")), QStringLiteral("pending-1"), {}, &error);
        QVERIFY(outbox->posting(tick, &error) && outbox->posting(added, &error));
        QVERIFY(outbox->take(tick, &error));
    }
    auto outbox = reopened();
    QCOMPARE(outbox->entries().size(), 1);
    QVERIFY(outbox->entries().first().unsure);
    QCOMPARE(outbox->next(), nullptr);
    // Written anew, the mark stays.
    QVERIFY(reopened()->entries().first().unsure);
}

QTEST_GUILESS_MAIN(TestOutbox)
#include "test_outbox.moc"
