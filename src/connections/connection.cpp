#include "connections/connection.h"

#include <QAbstractMessageHandler>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlSchema>
#include <QXmlSchemaValidator>

namespace {

const QString RootTag = QStringLiteral("SshConnection");
const QString UidTag = QStringLiteral("Uid");
const QString NameTag = QStringLiteral("Name");
const QString HostTag = QStringLiteral("Host");
const QString PortTag = QStringLiteral("Port");
const QString UserTag = QStringLiteral("User");
const QString SciTag = QStringLiteral("Sci");
const QString FipsTag = QStringLiteral("Fips");

const quint16 DefaultPort = 22;

// Schema and validator report problems here; a bad profile file is skipped
// quietly, so nothing is printed.
class SilentMessageHandler : public QAbstractMessageHandler
{
protected:
    void handleMessage(QtMsgType, const QString &, const QUrl &, const QSourceLocation &) override {}
};

bool isXmlChar(uint c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF)
        || (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Characters XML cannot carry (control characters, U+FFFE, U+FFFF) would make
// the written file unreadable, and the profile would vanish on the next load.
QString xmlText(const QString &text)
{
    QString result;
    result.reserve(text.size());
    const QVector<uint> codePoints = text.toUcs4();
    for (uint c : codePoints) {
        if (isXmlChar(c))
            result += QString::fromUcs4(&c, 1);
    }
    return result;
}

void appendElement(QDomDocument &document, QDomElement &parent, const QString &tag, const QString &text)
{
    QDomElement element = document.createElement(tag);
    element.appendChild(document.createTextNode(xmlText(text)));
    parent.appendChild(element);
}

} // namespace

QDomDocument Connection::toXml() const
{
    QDomDocument document;
    QDomElement root = document.createElement(RootTag);
    document.appendChild(root);

    if (!m_uid.isNull())
        appendElement(document, root, UidTag, m_uid.toString());
    if (!m_name.isEmpty())
        appendElement(document, root, NameTag, m_name);
    if (!m_host.isEmpty())
        appendElement(document, root, HostTag, m_host);
    if (m_port != DefaultPort)
        appendElement(document, root, PortTag, QString::number(m_port));
    if (!m_user.isEmpty())
        appendElement(document, root, UserTag, m_user);
    if (!m_sci.isEmpty())
        appendElement(document, root, SciTag, m_sci);
    if (m_fips)
        appendElement(document, root, FipsTag, QStringLiteral("true"));
    return document;
}

Connection Connection::fromXml(const QDomDocument &document)
{
    Connection connection;
    const QDomElement root = document.documentElement();
    if (root.tagName() != RootTag)
        return connection;

    // Only the first element of each name counts; a missing one keeps the default.
    QDomElement element = root.firstChildElement(UidTag);
    if (!element.isNull())
        connection.m_uid = QUuid(element.text());
    element = root.firstChildElement(NameTag);
    if (!element.isNull())
        connection.m_name = element.text();
    element = root.firstChildElement(HostTag);
    if (!element.isNull())
        connection.m_host = element.text();
    element = root.firstChildElement(PortTag);
    if (!element.isNull()) {
        bool ok = false;
        const quint16 port = element.text().toUShort(&ok);
        connection.m_port = ok ? port : 0;
    }
    element = root.firstChildElement(UserTag);
    if (!element.isNull())
        connection.m_user = element.text();
    element = root.firstChildElement(SciTag);
    if (!element.isNull())
        connection.m_sci = element.text();
    element = root.firstChildElement(FipsTag);
    if (!element.isNull())
        connection.m_fips = element.text().toLower() == QLatin1String("true");
    return connection;
}

Connection loadConnection(const QString &filePath)
{
    // The schema lives in the core library's resources; make sure they are registered.
    static const bool resourcesReady = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(resourcesReady);

    SilentMessageHandler messages;
    QXmlSchema schema;
    schema.setMessageHandler(&messages);
    if (!schema.load(QUrl(QStringLiteral("qrc:/schemas/resources/Connection.schema"))))
        return Connection();

    QFile file(filePath);
    if (filePath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return Connection();

    QXmlSchemaValidator validator(schema);
    validator.setMessageHandler(&messages);
    if (!validator.validate(&file, QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath())))
        return Connection();

    // Through QXmlStreamReader: the default reader turns character references
    // beyond U+FFFF into U+0000.
    if (!file.seek(0))
        return Connection();
    QXmlStreamReader reader(&file);
    QDomDocument document;
    if (!document.setContent(&reader, false))
        return Connection();
    return Connection::fromXml(document);
}

bool saveConnection(const QString &filePath, const Connection &connection, QString &error)
{
    if (filePath.isEmpty()) {
        error = QCoreApplication::translate("Connection", "No file name is known for the connection.");
        return false;
    }

    // A missing folder is created here; if that fails, opening the file says why.
    QDir().mkpath(QFileInfo(filePath).absolutePath());

    // The new content goes to a temporary file that replaces the old one only
    // when it is complete, so a failed save leaves the previous file intact.
    // Unbuffered, so a short write (full disk) shows here: a buffered save file
    // would still commit the truncated content when its final flush fails.
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = file.errorString();
        return false;
    }
    const QByteArray bytes = connection.toXml().toByteArray(1);
    for (qint64 written = 0; written < bytes.size();) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            error = file.errorString();
            file.cancelWriting();
            return false;
        }
        written += count;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

bool removeConnectionFile(const QString &filePath, QString &error)
{
    if (filePath.isEmpty()) {
        error = QCoreApplication::translate("Connection", "No file name is known for the connection.");
        return false;
    }
    QFile file(filePath);
    if (!file.remove()) {
        error = file.errorString();
        return false;
    }
    return true;
}
