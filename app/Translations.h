#pragma once

class QLocale;

// Installs Qt's own translations for `locale` on the running application, so that the texts
// Qt makes (the descriptions of network errors the menu shows among them) read in the user's
// language. Looks in Qt's translations folder (Debian: qt6-translations-l10n); a locale without
// translations keeps Qt's English. Returns whether any was installed.
bool installQtTranslations(const QLocale& locale);
