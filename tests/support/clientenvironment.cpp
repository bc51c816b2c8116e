#include "support/clientenvironment.h"

#include "support/testsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>

void prepareClientEnvironment(const QString &settingsPath)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Ostrane Rodorivezozoru"));
    QCoreApplication::setApplicationName(QStringLiteral("Nuvek"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsPath);
    qunsetenv("SSH_ASKPASS");
    qputenv("NUVEK_BIN_DIR", QFile::encodeName(nuvekBinDir()));
}
