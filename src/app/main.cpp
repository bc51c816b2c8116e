#include "app/applicationsetup.h"
#include "app/closehelper.h"
#include "app/commandline.h"
#include "app/datafolders.h"
#include "app/mainwindowhelper.h"
#include "app/singleapplication.h"
#include "app/translations.h"
#include "connections/connectionlistwidget.h"

#include <QIcon>
#include <QSettings>

int main(int argc, char *argv[])
{
    const int infoExit = CommandLine::handleInfoOptions(argc, argv, stdout);
    if (infoExit >= 0)
        return infoExit;

    prepareApplicationSetup();

    const QString applicationName = QStringLiteral("Nuvek");
    const QString instanceId = QStringLiteral("%1 %2").arg(applicationName).arg(2);

    SingleApplication app(instanceId, argc, argv);
    const int argumentsExit = CommandLine::rejectRemaining(argc, argv, stderr);
    if (argumentsExit >= 0)
        return argumentsExit;
    app.setApplicationName(applicationName);
    app.setApplicationVersion(QStringLiteral(NUVEK_VERSION));
    app.setOrganizationName(QStringLiteral("Ostrane Rodorivezozoru"));
    app.setOrganizationDomain(QStringLiteral("ostrane.example"));
    app.setDesktopFileName(QStringLiteral("example.ostrane.nuvek"));
    app.setWindowIcon(QIcon(QStringLiteral(":/images/resources/Nuvek.svg")));
    installTranslations(&app);

    if (app.isRunning()) {
        // Whether the running copy answered makes no difference to us.
        app.sendMessage(QStringLiteral("RAISE"), 5000);
        return 0;
    }

    QSettings::setDefaultFormat(QSettings::IniFormat);
    CloseHelper::instance();

    const QString executableDir = QCoreApplication::applicationDirPath();
    const InstallMode mode = installMode(executableDir);
    const QDir globalData = globalDataDir();
    const ProfileFolders folders = profileFolders(mode, executableDir, userDataDir(), globalData);
    const bool globalWritable = isGlobalDataDirWritable(globalData);

    ConnectionListWidget window(folders.user, folders.global, nullptr, globalWritable);
    window.setWindowTitle(QCoreApplication::translate("main", "Connections"));

    MainWindowHelper helper(&window);
    QObject::connect(&app, &SingleApplication::messageReceived, &helper,
                     &MainWindowHelper::activate);
    helper.activate();
    finishApplicationSetup();

    return app.exec();
}
