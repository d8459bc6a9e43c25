#include "AppDelegate.h"
#include "Assets.h"
#include "Translations.h"

#include <QApplication>
#include <QLocale>
#include <QSettings>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[]) {
    // Bad endpoints stop the app before it shows anything: a wrong address would lose every
    // message silently. The line names the variable and never the topic.
    QString error;
    const std::optional<Endpoints> endpoints = Endpoints::fromEnvironment(
        QProcessEnvironment::systemEnvironment(), Endpoints::builtIn(), &error);
    if (!endpoints) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 2;
    }
    QApplication app(argc, argv);
    // First, so that every text Qt makes from here on (network errors in the menu's warning
    // line) is in the user's language.
    installQtTranslations(QLocale::system());
    QCoreApplication::setOrganizationName(QStringLiteral("Velloa"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloa"));
    QApplication::setApplicationDisplayName(QStringLiteral("维洛清单"));
    // A tray app: closing a dialog or the note panel must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    registerBundledFonts();

    QSettings store;
    AppDelegate delegate(store, *endpoints);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
