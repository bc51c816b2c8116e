#pragma once

#include <QDomDocument>
#include <QString>
#include <QUuid>

// One saved SSH connection profile. A value type: valid when its uid is set.
class Connection
{
public:
    QUuid uid() const { return m_uid; }
    void setUid(const QUuid &uid) { m_uid = uid; }
    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    QString host() const { return m_host; }
    void setHost(const QString &host) { m_host = host; }
    quint16 port() const { return m_port; }
    void setPort(quint16 port) { m_port = port; }
    QString user() const { return m_user; }
    void setUser(const QString &user) { m_user = user; }
    QString sci() const { return m_sci; }
    void setSci(const QString &sci) { m_sci = sci; }
    bool fips() const { return m_fips; }
    void setFips(bool fips) { m_fips = fips; }

    bool isValid() const { return !m_uid.isNull(); }

    QDomDocument toXml() const;
    static Connection fromXml(const QDomDocument &document);

private:
    QUuid m_uid;
    QString m_name;
    QString m_host;
    quint16 m_port = 22;
    QString m_user;
    QString m_sci;
    bool m_fips = false;
};

// Reads and validates one profile file; an invalid Connection on any failure.
Connection loadConnection(const QString &filePath);
// Writes one profile file atomically: on failure the old file is left as it was.
bool saveConnection(const QString &filePath, const Connection &connection, QString &error);
bool removeConnectionFile(const QString &filePath, QString &error);
