#pragma once

#include <QList>
#include <QString>

class QJsonObject;
class QJsonValue;

// One bookmark, history entry or suggestion kept by the server: a named command
// line with the window geometry to start it with ("rootless" for a
// single-application session).
struct Bookmark
{
    QString id;
    QString name;
    QString command;
    QString geometry;

    // Takes each member only when it is a JSON string.
    static Bookmark fromJson(const QJsonObject &object);

    bool operator==(const Bookmark &other) const;
    bool operator!=(const Bookmark &other) const { return !(*this == other); }
};

// The records of a JSON array of bookmark objects, without those whose id is
// empty; anything but an array gives an empty list.
QList<Bookmark> readBookmarkList(const QJsonValue &value);

// "Nuvek.bookmark" parameters that store `bookmark`: with its id they change that
// entry, without one they add a new bookmark.
QJsonObject bookmarkEditParams(const Bookmark &bookmark);
