#pragma once

#include <QDir>
#include <QProcessEnvironment>
#include <QString>

// Where the program keeps its data, decided from marker entries beside the
// executable. The values are bit flags.
enum InstallMode {
    StandardInstall = 1,
    LocalInstall = 2,
    FlashInstall = 4,
};

// "localinstall" beside the executable wins over "flashinstall"; a file or a
// folder of that name counts.
InstallMode installMode(const QString &executableDir);

// The user's own data folder: $XDG_DATA_HOME (default ~/.local/share) joined with
// "<organisation>/<application>". A folder with an empty path when no home is known.
QDir userDataDir(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// The machine-wide data folder: the first entry of $XDG_CONFIG_DIRS (default
// /etc/xdg) joined with "<organisation>/<application>".
QDir globalDataDir(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// The folders the Connections window reads its profiles from. `global` is empty
// when the install mode has no global profiles.
struct ProfileFolders
{
    QString user;
    QString global;
};

ProfileFolders profileFolders(InstallMode mode, const QString &executableDir,
                              const QDir &userData, const QDir &globalData);

// True if the global data folder itself exists and the current user may write to it.
bool isGlobalDataDirWritable(const QDir &globalData);
