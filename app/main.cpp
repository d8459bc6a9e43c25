#include "AppDelegate.h"
#include "Assets.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>

int main(int argc, char* argv[]) {
    const Endpoints endpoints = Endpoints::fromEnvironment();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Velloa"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloa"));
    QApplication::setApplicationDisplayName(QStringLiteral("维洛清单"));
    // A tray app: closing a dialog or the note panel must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    registerBundledFonts();

    QSettings store;
    AppDelegate delegate(store, endpoints);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}
