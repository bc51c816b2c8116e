#include "connections/connectionfolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

LoadedConnections loadConnectionFolders(const QString &globalFolder, const QString &userFolder)
{
    QStringList paths;
    for (const QString &folder : {globalFolder, userFolder}) {
        if (folder.isEmpty())
            continue;
        const QFileInfoList entries = QDir(folder).entryInfoList(
            {QStringLiteral("*.kcf2")}, QDir::Files, QDir::Unsorted);
        for (const QFileInfo &entry : entries)
            paths.append(QDir::cleanPath(entry.absoluteFilePath()));
    }

    LoadedConnections loaded;
    for (const QString &path : qAsConst(paths)) {
        const Connection connection = loadConnection(path);
        if (!connection.isValid() || loaded.files.contains(connection.uid()))
            continue;
        loaded.connections.append(connection);
        loaded.files.insert(connection.uid(), path);
    }
    return loaded;
}

QString connectionFilePath(const QString &folder, const QUuid &uid)
{
    if (folder.isEmpty())
        return QString();
    return QDir::cleanPath(folder + QLatin1Char('/') + QStringLiteral("%1.kcf2").arg(uid.toString()));
}
