#pragma once

#include <QLocale>

class QCoreApplication;

// Installs the client's own translation (built into the program) and Qt's
// (qtbase_*.qm of the Qt installation) for `locale` into `app`. The locale's
// UI languages are tried in order (LANGUAGE, then LC_ALL, LC_MESSAGES, LANG);
// the source texts stay when none matches. Returns the number installed.
int installTranslations(QCoreApplication *app, const QLocale &locale = QLocale());
