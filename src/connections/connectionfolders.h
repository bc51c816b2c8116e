#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QUuid>

#include "connections/connection.h"

// The profiles found in the two profile folders.
struct LoadedConnections
{
    // The valid profiles, in the order their files were listed.
    QList<Connection> connections;
    // Each profile's uid mapped to the full, cleaned path of its file.
    QMap<QUuid, QString> files;
};

// Loads every "*.kcf2" profile file of the global folder, then of the user
// folder, in the order the file system lists them. Files that cannot be read
// or are not valid profiles are skipped without a message, and so is a profile
// whose uid was already seen: a global profile wins over a user profile with
// the same uid. An empty folder path stands for no folder and is not scanned.
LoadedConnections loadConnectionFolders(const QString &globalFolder, const QString &userFolder);

// The cleaned path of the file that holds the profile `uid` in `folder`:
// "<folder>/{uid}.kcf2". Empty when `folder` is empty (no such folder), which
// saveConnection() refuses, so nothing is ever written to the current directory.
QString connectionFilePath(const QString &folder, const QUuid &uid);
