#pragma once
// The window program in the desktop's language: its own translation and Qt's, with the string
// table and the menus of res/ routed through them.
#include <QStringList>

// The desktop's languages, the most wanted first, as Qt reads them from LANGUAGE, LC_ALL,
// LC_MESSAGES and LANG.
QStringList DesktopLanguages();

// Installs the program's translation for the first of the languages it has one for, and with it
// Qt's own translation of that language (its dialogs and standard buttons). English, or no
// translation for any of them, leaves every text the English source and gives false. A second
// call replaces what the first installed.
bool LoadTranslations(const QStringList& languages);
