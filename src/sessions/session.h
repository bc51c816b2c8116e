#pragma once

#include <QDateTime>
#include <QString>

class QJsonObject;

// One session on the server, as listed by "Nuvek.list".
struct Session
{
    QString id;
    QString windowMode;
    QString geometry;
    QString name;
    QString command;
    int clients = 0; // 0: nobody is connected
    QDateTime started;
    QDateTime lastConnect;
    QDateTime lastDisconnect;

    // Members of another JSON type than expected keep their defaults; dates that do
    // not match "yyyy-MM-ddThh:mm:ss" (local time) stay null.
    static Session fromJson(const QJsonObject &object);

    // The name, or the command when the session has no name.
    QString displayName() const { return sessionDisplayName(name, command); }
    static QString sessionDisplayName(const QString &name, const QString &command)
    {
        return name.isEmpty() ? command : name;
    }

    bool operator==(const Session &other) const;
    bool operator!=(const Session &other) const { return !(*this == other); }
};
