#include "connections/connection.h"

#include <QAbstractMessageHandler>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlSchema>
#include <QXmlSchemaValidator>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A profile is a few hundred bytes; anything much larger is no profile, and parsing and
// validating it could take long (the cost grows faster than the size).
const qint64 MaxProfileSize = 16 * 1024;

// Validation needs nothing beyond the schema it is given: whatever a document asks to be
// fetched (a schema location hint, say) is refused.
class RefusingNetworkAccess : public QNetworkAccessManager
{
protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request,
                                 QIODevice *data) override
    {
        QNetworkRequest refused(request);
        refused.setUrl(QUrl(QStringLiteral("refused:")));
        return QNetworkAccessManager::createRequest(operation, refused, data);
    }
};

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

namespace {

// The content of a regular file of at most MaxProfileSize bytes; a null array otherwise.
// A FIFO or device in the profile folders is never waited for.
QByteArray readProfileFile(const QString &filePath)
{
    if (filePath.isEmpty())
        return QByteArray();
    const int fd = ::open(QFile::encodeName(filePath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaxProfileSize) {
        ::close(fd);
        return QByteArray();
    }
    // The file may grow meanwhile: one byte more than allowed tells.
    QByteArray bytes(int(MaxProfileSize) + 1, Qt::Uninitialized);
    int total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + total, size_t(bytes.size() - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += int(n);
    }
    ::close(fd);
    if (total > MaxProfileSize)
        return QByteArray();
    bytes.truncate(total);
    return bytes;
}

// Well-formed and without a document type declaration (profiles have none, and its
// entities are a way to blow a small file up).
bool isPlainXml(const QByteArray &bytes)
{
    QXmlStreamReader reader(bytes);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::DTD)
            return false;
    }
    return !reader.hasError();
}

// Schema location hints tell a validator where to fetch schemas from: a profile has no say
// in that, its schema is built in.
void removeSchemaHints(QDomElement element)
{
    const QDomNamedNodeMap attributes = element.attributes();
    QStringList hints;
    for (int i = 0; i < attributes.count(); ++i) {
        const QString name = attributes.item(i).nodeName();
        const int colon = name.indexOf(QLatin1Char(':'));
        const QString local = name.mid(colon + 1);
        if (colon > 0 && (local == QLatin1String("schemaLocation")
                          || local == QLatin1String("noNamespaceSchemaLocation")))
            hints << name;
    }
    for (const QString &name : qAsConst(hints))
        element.removeAttribute(name);
    for (QDomElement child = element.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement())
        removeSchemaHints(child);
}

} // namespace

Connection loadConnection(const QString &filePath)
{
    // The schema lives in the core library's resources; make sure they are registered.
    static const bool resourcesReady = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(resourcesReady);

    const QByteArray bytes = readProfileFile(filePath);
    if (bytes.isNull() || !isPlainXml(bytes))
        return Connection();
    // Through QXmlStreamReader: the default reader turns character references
    // beyond U+FFFF into U+0000.
    QDomDocument document;
    QXmlStreamReader reader(bytes);
    if (!document.setContent(&reader, false))
        return Connection();
    removeSchemaHints(document.documentElement());

    QFile schemaFile(QStringLiteral(":/schemas/resources/Connection.schema"));
    if (!schemaFile.open(QIODevice::ReadOnly))
        return Connection();
    SilentMessageHandler messages;
    RefusingNetworkAccess network;
    QXmlSchema schema;
    schema.setMessageHandler(&messages);
    schema.setNetworkAccessManager(&network);
    if (!schema.load(schemaFile.readAll()))
        return Connection();

    QXmlSchemaValidator validator(schema);
    validator.setMessageHandler(&messages);
    validator.setNetworkAccessManager(&network);
    if (!validator.validate(document.toByteArray(),
                            QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath())))
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
