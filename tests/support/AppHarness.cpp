#include "tests/support/AppHarness.h"

#include "menu/MenuStyle.h"
#include "note/NoteRow.h"
#include "menu/StatusMenu.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTest>

AppHarness::AppHarness() : store(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat) {
    if (!server.listen())
        qFatal("the loopback test server cannot listen");
    server.handler = [this](const TestHttpServer::Request& r) {
        return TestHttpServer::Answer{200, r.method == "GET" ? feed : QByteArray("{}")};
    };
}

AppDelegate& AppHarness::app() {
    if (!m_app) {
        Endpoints e;
        e.DATA_URL = server.url(QStringLiteral("/data.json"));
        e.NTFY_TOPIC = QStringLiteral("velloa-test-topic-000000000000");
        e.NTFY_URL = server.url(QStringLiteral("/")) + e.NTFY_TOPIC;
        m_app = std::make_unique<AppDelegate>(store, e, clock);
        m_app->setListQuestion(question);
        // Never the user's own autostart folder.
        m_app->autostart() = Autostart(Autostart::Kind::XdgAutostart, dir.filePath(QStringLiteral("autostart")),
                                       QStringLiteral("/opt/velloa"));
    }
    return *m_app;
}

QMenu* AppHarness::menu() {
    QCoreApplication::processEvents();
    return app().statusItem().menu();
}

qsizetype AppHarness::rowIndex(const QString& label) {
    const NoteController& note = app().note();
    for (qsizetype i = 0; i < note.rows().count(); ++i) {
        if (note.rows().data(i).label == label)
            return i;
    }
    return -1;
}

NoteRow* AppHarness::row(const QString& label) {
    const qsizetype i = rowIndex(label);
    return i < 0 ? nullptr : app().note().rows().view(i);
}

QList<QJsonObject> AppHarness::posted(const QString& action) const {
    QList<QJsonObject> out;
    for (const TestHttpServer::Request& request : server.requests) {
        const QJsonObject message = QJsonDocument::fromJson(request.body).object();
        if (request.method == "POST" && message.value("action").toString() == action)
            out << message;
    }
    return out;
}

void AppHarness::flushPosts() {
    app().feedSync().postInbox(QStringLiteral("probe"), inbox::Action::Done);
    QTRY_VERIFY(!posted("done").isEmpty() && posted("done").last().value("id") == "probe");
}

QList<QAction*> menuItems(QMenu* menu, MenuEntry::Kind kind) {
    QList<QAction*> out;
    for (QAction* action : menu->actions()) {
        if (menuItemKind(action) == kind)
            out << action;
    }
    return out;
}
