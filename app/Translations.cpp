#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool installQtTranslations(const QLocale& locale) {
    // The translator lives as long as the application that uses it.
    auto* translator = new QTranslator(QCoreApplication::instance());
    // Tries the locale's UI languages in order: qtbase_zh_CN, then qtbase_zh, and so on.
    if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}
