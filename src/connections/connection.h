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

    // The profile file's document: root "SshConnection" with the elements Uid,
    // Name, Host, Port, User, Sci and Fips in that order, each only when it
    // differs from its default (Port 22, Fips false, empty texts, null uid).
    QDomDocument toXml() const;
    // The reverse mapping; an invalid Connection when the root element is not
    // "SshConnection". Missing elements keep their defaults.
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

// Reads one profile file after validating it against the profile schema
// (":/schemas/resources/Connection.schema"). Returns an invalid Connection on
// any failure; nothing is printed.
Connection loadConnection(const QString &filePath);
// Writes one profile file, creating missing folders first. The file is replaced
// only once the new content is complete: on failure the old file is left as it
// was, `error` says why and false is returned. An empty path is refused.
bool saveConnection(const QString &filePath, const Connection &connection, QString &error);
// Deletes one profile file; on failure `error` says why and false is returned.
bool removeConnectionFile(const QString &filePath, QString &error);
