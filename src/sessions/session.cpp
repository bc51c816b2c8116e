#include "sessions/session.h"

#include "sessions/servermethods.h"

#include <QJsonObject>

static QDateTime parseDateTime(const QJsonObject &object, const QString &key)
{
    const QString text = jsonString(object, key);
    if (text.isEmpty())
        return QDateTime();
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddThh:mm:ss"));
}

Session Session::fromJson(const QJsonObject &object)
{
    Session session;
    session.id = jsonString(object, QStringLiteral("id"));
    session.windowMode = jsonString(object, QStringLiteral("windowMode"));
    session.geometry = jsonString(object, QStringLiteral("geometry"));
    session.name = jsonString(jsonObject(object, QStringLiteral("params")), QStringLiteral("name"));
    session.command = jsonString(object, QStringLiteral("command"));
    session.clients = jsonInt(object, QStringLiteral("clients"));
    session.started = parseDateTime(object, QStringLiteral("started"));
    session.lastConnect = parseDateTime(object, QStringLiteral("lastConnect"));
    session.lastDisconnect = parseDateTime(object, QStringLiteral("lastDisconnect"));
    return session;
}

bool Session::operator==(const Session &other) const
{
    return id == other.id && windowMode == other.windowMode && geometry == other.geometry
        && name == other.name && command == other.command && clients == other.clients
        && started == other.started && lastConnect == other.lastConnect
        && lastDisconnect == other.lastDisconnect;
}
