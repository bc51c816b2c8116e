#include "app/datafolders.h"

#include <QFileInfo>

#include <pwd.h>
#include <unistd.h>

namespace {

const char OrganisationFolder[] = "Ostrane Rodorivezozoru";
const char ApplicationFolder[] = "Nuvek";
const char ProfilesFolder[] = "Connections";

// Relative entries in the XDG variables are invalid and are ignored.
QString absoluteOrEmpty(const QString &path)
{
    return QDir::isAbsolutePath(path) ? path : QString();
}

QString homeFolder(const QProcessEnvironment &environment)
{
    const QString home = absoluteOrEmpty(environment.value(QStringLiteral("HOME")));
    if (!home.isEmpty())
        return home;
    if (const passwd *entry = getpwuid(geteuid())) {
        if (entry->pw_dir)
            return absoluteOrEmpty(QString::fromLocal8Bit(entry->pw_dir));
    }
    return QString();
}

QDir applicationFolderIn(const QString &base)
{
    if (base.isEmpty())
        return QDir(QString());
    return QDir(QDir::cleanPath(base + QLatin1Char('/') + QLatin1String(OrganisationFolder)
                                + QLatin1Char('/') + QLatin1String(ApplicationFolder)));
}

bool markerExists(const QDir &folder, const char *name)
{
    return QFileInfo::exists(folder.filePath(QLatin1String(name)));
}

} // namespace

InstallMode installMode(const QString &executableDir)
{
    const QDir folder(executableDir);
    if (markerExists(folder, "localinstall"))
        return LocalInstall;
    if (markerExists(folder, "flashinstall"))
        return FlashInstall;
    return StandardInstall;
}

QDir userDataDir(const QProcessEnvironment &environment)
{
    QString base = absoluteOrEmpty(environment.value(QStringLiteral("XDG_DATA_HOME")));
    if (base.isEmpty()) {
        const QString home = homeFolder(environment);
        if (!home.isEmpty())
            base = home + QStringLiteral("/.local/share");
    }
    return applicationFolderIn(base);
}

QDir globalDataDir(const QProcessEnvironment &environment)
{
    QString base;
    const QStringList entries = environment.value(QStringLiteral("XDG_CONFIG_DIRS"))
                                    .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (!entries.isEmpty())
        base = absoluteOrEmpty(entries.first());
    if (base.isEmpty())
        base = QStringLiteral("/etc/xdg");
    return applicationFolderIn(base);
}

ProfileFolders profileFolders(InstallMode mode, const QString &executableDir,
                              const QDir &userData, const QDir &globalData)
{
    const QString profiles = QLatin1String(ProfilesFolder);
    ProfileFolders folders;
    if (mode & FlashInstall) {
        folders.user = QDir(executableDir).filePath(profiles);
    } else {
        folders.user = userData.filePath(profiles);
    }
    if (!(mode & (LocalInstall | FlashInstall)))
        folders.global = globalData.filePath(profiles);
    return folders;
}

bool isGlobalDataDirWritable(const QDir &globalData)
{
    if (globalData.path().isEmpty() || globalData.path() == QLatin1String("."))
        return false;
    const QFileInfo info(globalData.path());
    return info.isDir() && info.isWritable();
}
