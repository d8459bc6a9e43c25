#include "AppDelegate.h"
#include "Constants.h"
#include "MenuStyle.h"
#include "StatusMenu.h"
#include "TestHttpServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray feedJson() {
    return R"({"updated":"12-06 08:30","mine_title":"Mine","mine":"","mine_rows":[
        {"kind":"header","text":"S"},
        {"kind":"item","id":"a","text":"T & J\tx","cat":"S"},
        {"kind":"item","id":"b","text":"b","cat":"S","done":true,"doneAt":"2026-12-06"}],
        "hers_title":"Hers","hers":"","hers_rows":[]})";
}

QAction* findAction(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void launchSequence();
    void menuWidgets();
    void failedRefreshReplacesTheList();
    void tickThroughMenu();
    void tickPendingSendsNothing();
    void trayIconAndFallback();
    void settings_data();
    void settings();

private:
    std::unique_ptr<AppDelegate> makeDelegate();

    QTemporaryDir dir;
    std::unique_ptr<QSettings> store;
    std::unique_ptr<TestHttpServer> server;
    QList<qint64> scheduled;
};

void TestApp::init() {
    store = std::make_unique<QSettings>(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    store->clear();
    server = std::make_unique<TestHttpServer>();
    QVERIFY(server->listen());
    server->handler = [](const TestHttpServer::Request& r) {
        return r.method == "GET" ? TestHttpServer::Answer{200, feedJson()} : TestHttpServer::Answer{200, "{}"};
    };
    scheduled.clear();
}

void TestApp::cleanup() {
    server.reset();
    store.reset();
}

std::unique_ptr<AppDelegate> TestApp::makeDelegate() {
    Endpoints e;
    e.DATA_URL = server->url(QStringLiteral("/data.json"));
    e.NTFY_TOPIC = QStringLiteral("velloa-test-topic-000000000000");
    e.NTFY_URL = server->url(QStringLiteral("/")) + e.NTFY_TOPIC;
    auto delegate = std::make_unique<AppDelegate>(*store, e);
    delegate->state.currentDate = [] { return QDate(2026, 12, 6); };
    delegate->sync.scheduler = [this](FeedSync::Delay delay, std::function<void()>) { scheduled << delay.count(); };
    return delegate;
}

void TestApp::launchSequence() {
    auto delegate = makeDelegate();
    QSignalSpy shown(delegate.get(), &AppDelegate::noteShowRequested);
    QStringList dialog;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        dialog << box->text() << box->informativeText();
        for (QAbstractButton* b : box->buttons())
            dialog << b->text();
        box->buttons().last()->click();
    });
    delegate->applicationDidFinishLaunching();

    QCOMPARE(dialog, (QStringList{"显示哪份 To-do？", "之后点最上面那一行就能随时切换。", "阿蓁的 To-do", "晴川子的 To-do"}));
    QCOMPARE(delegate->state.choice, ListState::kHers);
    QVERIFY(delegate->statusItem);
    QVERIFY(!delegate->statusItem->icon().isNull());
    QVERIFY(delegate->menu);
    // No feed yet: the fallback title with nothing after it, and the all-done line.
    QCOMPARE(delegate->menu->actions().first()->text(), QStringLiteral("晴川子的 To-do"));
    QCOMPARE(delegate->menu->actions()[3]->text(), QStringLiteral("（今天没有待办，全清啦 🎉）"));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(delegate->timer.interval(), 30000);
    QVERIFY(delegate->timer.isActive() && !delegate->timer.isSingleShot());
    QCOMPARE(delegate->updateTimer.interval(), 21600000);
    QVERIFY(delegate->updateTimer.isActive());
    QCOMPARE(scheduled, QList<qint64>{4000});

    QVERIFY(server->waitForRequests(1));
    QCOMPARE(server->requests[0].path, QByteArray("/data.json"));
    QTRY_COMPARE(delegate->menu->actions().first()->text(), QStringLiteral("Hers\u300012-06 08:30"));
}

void TestApp::menuWidgets() {
    auto delegate = makeDelegate();
    delegate->state.payload = decodePayload(feedJson()).payload;
    delegate->state.pendingAdd[ListState::kMine] = {
        Row{"item", QString(40, QChar(0x5B57)), QStringLiteral("pending-1"), false, {}, {}}};
    delegate->state.collapsedCats.insert(QStringLiteral("S")); // the menu still lists it
    delegate->rebuildMenu();
    QMenu* menu = delegate->menu;
    const QList<QAction*> actions = menu->actions();
    QStringList texts;
    for (QAction* a : actions)
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(texts.mid(0, 3), (QStringList{"Mine\u300012-06 08:30", "维洛清单 v2.13", "-"}));
    // "&" is doubled so QMenu shows it instead of reading a mnemonic; the tab stays.
    QCOMPARE(texts[4], QStringLiteral("T && J\tx"));
    QCOMPARE(texts.mid(texts.size() - 6), (QStringList{"-", "便签（悬浮窗）", "刷新", "检查更新…", "-", "退出"}));

    QStringList keys;
    for (const char* command : {"便签（悬浮窗）", "刷新", "检查更新…", "退出"})
        keys << findAction(menu, command)->shortcut().toString();
    QCOMPARE(keys, (QStringList{"Ctrl+N", "Ctrl+R", "", "Ctrl+Q"}));
    QVERIFY(!actions[1]->isEnabled() && !actions[3]->isEnabled());
    QVERIFY(actions[4]->isEnabled());
    QCOMPARE(taskItemTag(actions[5]), 1);
    QVERIFY(actions[5]->font().strikeOut());
    QVERIFY(!actions[4]->font().strikeOut());

    QMenu* switcher = actions[0]->menu();
    QVERIFY(switcher);
    QCOMPARE(switcher->actions().size(), 2);
    QVERIFY(switcher->actions()[0]->isChecked() && !switcher->actions()[1]->isChecked());

    // The 40-character pending task is wrapped onto several lines, and the style makes the
    // item tall enough for all of them.
    QAction* longTask = actions[7];
    QVERIFY2(longTask->text().count(QLatin1Char('\n')) >= 2, qPrintable(longTask->text()));
    menu->adjustSize();
    const int lines = int(longTask->text().count(QLatin1Char('\n'))) + 1;
    QVERIFY(menu->actionGeometry(longTask).height() >= lines * menu->actionGeometry(actions[5]).height() * 3 / 4);
    for (const QString& line : longTask->text().split(QLatin1Char('\n')))
        QVERIFY(QFontMetricsF(longTask->font()).horizontalAdvance(line) <= MENU_TEXT_W);
}

void TestApp::failedRefreshReplacesTheList() {
    auto delegate = makeDelegate();
    delegate->state.payload = decodePayload(feedJson()).payload;
    delegate->sync.lastError = QStringLiteral("Connection refused");
    delegate->rebuildMenu();
    const QList<QAction*> actions = delegate->menu->actions();
    QCOMPARE(actions[3]->text(), QStringLiteral("⚠️ Connection refused"));
    QVERIFY(actions[4]->isSeparator() && !actions[3]->isEnabled());
    QCOMPARE(actions.size(), 10);
}

void TestApp::tickThroughMenu() {
    auto delegate = makeDelegate();
    QSignalSpy noteRebuilt(delegate.get(), &AppDelegate::noteRefreshRequested);
    delegate->state.payload = decodePayload(feedJson()).payload;
    delegate->rebuildMenu();
    QPointer<QMenu> before = delegate->menu.data();
    QAction* done = before->actions()[5];
    done->trigger();

    QCOMPARE(delegate->state.localDone.value(QStringLiteral("b"), true), false);
    QVERIFY(delegate->menu != before);
    QCOMPARE(taskItemTag(delegate->menu->actions()[5]), 0);
    QCOMPARE(noteRebuilt.size(), 1);
    QVERIFY(server->waitForRequests(1));
    const QJsonObject message = QJsonDocument::fromJson(server->requests[0].body).object();
    QCOMPARE(message.value("action").toString(), QStringLiteral("undone"));
    QCOMPARE(message.value("id").toString(), QStringLiteral("b"));
    QCOMPARE(message.value("list").toString(), QStringLiteral("mine"));

    // Ticking the rebuilt menu flips it back.
    delegate->menu->actions()[5]->trigger();
    QCOMPARE(delegate->state.localDone.value(QStringLiteral("b")), true);
    QVERIFY(server->waitForRequests(2));
    QCOMPARE(QJsonDocument::fromJson(server->requests[1].body).object().value("action").toString(), QStringLiteral("done"));
}

void TestApp::tickPendingSendsNothing() {
    auto delegate = makeDelegate();
    delegate->state.pendingAdd[ListState::kMine] = {Row{"item", "new", QStringLiteral("pending-1"), false, {}, {}}};
    delegate->state.pendingAdd[ListState::kHers] = {Row{"item", "no id", std::nullopt, false, {}, {}}};
    delegate->rebuildMenu();
    delegate->menu->actions()[4]->trigger();
    QCOMPARE(delegate->state.localDone.value(QStringLiteral("pending-1")), true);
    QCOMPARE(taskItemTag(delegate->menu->actions()[4]), 1);
    delegate->useHers();
    delegate->menu->actions()[4]->trigger(); // a task without an id: nothing at all
    QVERIFY(!delegate->state.localDone.contains(QString()));
    QTest::qWait(300);
    QVERIFY(server->requests.isEmpty());
}

void TestApp::trayIconAndFallback() {
    // 36 device pixels at ratio 2: 18 x 18 points, for the artwork and the emoji stand-in.
    const QImage artwork = trayIcon(ICON_B64()).pixmap(QSize(18, 18), 2.0).toImage();
    const QImage fallback = trayIcon("%%% not base64").pixmap(QSize(18, 18), 2.0).toImage();
    QCOMPARE(artwork.size(), QSize(36, 36));
    QCOMPARE(fallback.size(), QSize(36, 36));
    QImage blank(fallback.size(), fallback.format());
    blank.fill(Qt::transparent);
    QVERIFY2(fallback != blank && fallback != artwork, "the emoji is drawn instead");
}

void TestApp::settings_data() {
    QTest::addColumn<QVariant>("pinned");
    QTest::addColumn<QVariant>("height");
    QTest::addColumn<QVariant>("pos");
    QTest::addColumn<bool>("expectPinned");
    QTest::addColumn<double>("expectHeight");
    QTest::addColumn<QString>("expectPos");

    const QVariant absent;
    QTest::newRow("nothing stored") << absent << absent << absent << false << 480.0 << QString();
    QTest::newRow("typed values") << QVariant(true) << QVariant(360.0) << QVariant("100,200") << true << 360.0 << "100,200";
    QTest::newRow("below the minimum") << QVariant(false) << QVariant(250.0) << absent << false << 480.0 << QString();
    QTest::newRow("strings as INI returns them") << QVariant("true") << QVariant("512.5") << absent << true << 512.5 << QString();
    QTest::newRow("corrupt values read as absent") << QVariant("abc") << QVariant("abc") << QVariant(42) << false << 480.0 << QString();
}

void TestApp::settings() {
    QFETCH(QVariant, pinned);
    QFETCH(QVariant, height);
    QFETCH(QVariant, pos);
    QFETCH(bool, expectPinned);
    QFETCH(double, expectHeight);
    QFETCH(QString, expectPos);

    for (const auto& [key, value] : {std::pair{"notePinned", pinned}, {"noteH", height}, {"notePos", pos}}) {
        if (value.isValid())
            store->setValue(QLatin1String(key), value);
    }
    const Settings s(*store);
    QCOMPARE(s.notePinned(), expectPinned);
    QCOMPARE(s.noteHeight(), expectHeight);
    QCOMPARE(s.notePos().value_or(QString()), expectPos);
    QCOMPARE(makeDelegate()->notePinned, expectPinned);
}

QTEST_MAIN(TestApp)
#include "test_app.moc"
