#include "app/AppDelegate.h"
#include "support/Assets.h"
#include "app/SessionPlatform.h"
#include "app/SingleInstance.h"
#include "app/Translations.h"

#include <QApplication>
#include <QLocale>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char* argv[]) {
#ifdef __GLIBC__
    // Qt's network thread would otherwise get a malloc arena of its own, whose free pages stay
    // in the process; the one thread that allocates much is ours, so one arena serves all.
    mallopt(M_ARENA_MAX, 1);
    // Blocks of 128 KiB and more (a long list's rows, snapshot, menu entries) always get pages
    // of their own, given back when freed. glibc would otherwise raise this bound to the largest
    // block freed so far and place the next refresh's copies in the heap, which then keeps
    // growing by a few MB over the first refreshes at 10,000 tasks.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
    // Bad endpoints stop the app before it shows anything: a wrong address would lose every
    // message silently. The line names the variable and never the topic.
    QString error;
    const std::optional<Endpoints> endpoints = Endpoints::fromEnvironment(
        QProcessEnvironment::systemEnvironment(), Endpoints::builtIn(), &error);
    if (!endpoints) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 2;
    }
#ifndef Q_OS_MACOS
    // On Wayland the panel could neither place itself nor stay on top: run on XWayland when
    // the session has it and the user has not chosen a platform.
    if (const auto platform = preferredQtPlatform(QProcessEnvironment::systemEnvironment()))
        qputenv("QT_QPA_PLATFORM", *platform);
#endif
    QApplication app(argc, argv);
    // First, so that every text Qt makes from here on (network errors in the menu's warning
    // line) is in the user's language.
    installQtTranslations(QLocale::system());
    QCoreApplication::setOrganizationName(QStringLiteral("Velloa"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloa"));
    QApplication::setApplicationDisplayName(QStringLiteral("维洛清单"));
    // A tray app: closing a dialog or the note panel must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    // One app per user: a later launch shows the running one's panel and ends, before it
    // asks anything or opens a second tray icon.
    SingleInstance instance(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    if (!instance.claim()) {
        if (instance.handOver())
            return 0;
        std::fprintf(stderr, "velloa: another Velloa is running but does not answer\n");
        return 1;
    }
    registerBundledFonts();

    QSettings store;
    // Per user; the single-instance lock above makes this process its one writer.
    const QString outbox =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/outbox.jsonl";
    AppDelegate delegate(store, *endpoints, Clock::system(), outbox);
    QObject::connect(&instance, &SingleInstance::activationRequested, &delegate,
                     &AppDelegate::showNote);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
