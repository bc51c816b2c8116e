#include "sessions/bookmark.h"

#include "sessions/servermethods.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

Bookmark Bookmark::fromJson(const QJsonObject &object)
{
    Bookmark bookmark;
    bookmark.id = jsonString(object, QStringLiteral("id"));
    bookmark.name = jsonString(object, QStringLiteral("name"));
    bookmark.command = jsonString(object, QStringLiteral("command"));
    bookmark.geometry = jsonString(object, QStringLiteral("geometry"));
    return bookmark;
}

bool Bookmark::operator==(const Bookmark &other) const
{
    return id == other.id && name == other.name && command == other.command
        && geometry == other.geometry;
}

QList<Bookmark> readBookmarkList(const QJsonValue &value)
{
    QList<Bookmark> bookmarks;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &element : array) {
        const Bookmark bookmark = Bookmark::fromJson(element.toObject());
        if (!bookmark.id.isEmpty())
            bookmarks.append(bookmark);
    }
    return bookmarks;
}

QJsonObject bookmarkEditParams(const Bookmark &bookmark)
{
    return bookmarkEditParams(bookmark.id, bookmark.name, bookmark.command, bookmark.geometry);
}
