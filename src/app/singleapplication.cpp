#include "app/singleapplication.h"

#include "link/netstring.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>

#include <memory>
#include <unistd.h>

namespace {

// The running copy answers each complete message with this byte.
const char AckByte = '\x06';

// A peer that connects and then sends nothing is dropped after this time.
const int IncomingTimeoutMs = 10000;

// Delay between attempts to reach a copy that holds the lock but does not
// listen yet (it was started a moment before us).
const int ConnectRetryMs = 50;

QString runtimeFolder()
{
    const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir())
        return QDir::cleanPath(runtime);
    return QDir::tempPath();
}

// "<id letters>-<uid>-<hash of id>": readable, per user, and safe as a file name
// whatever the id holds.
QString baseName(const QString &id)
{
    QString readable;
    for (const QChar c : id) {
        if (readable.size() >= 24)
            break;
        if (c.isLetterOrNumber() && c.unicode() < 128)
            readable += c;
    }
    const QByteArray hash =
        QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QStringLiteral("%1-%2-%3").arg(readable).arg(geteuid()).arg(QString::fromLatin1(hash));
}

int remainingMs(const QDeadlineTimer &deadline)
{
    return int(qMax<qint64>(0, deadline.remainingTime()));
}

} // namespace

QString SingleApplication::lockFilePath(const QString &id)
{
    return runtimeFolder() + QLatin1Char('/') + baseName(id) + QStringLiteral(".lock");
}

QString SingleApplication::serverName(const QString &id)
{
    return runtimeFolder() + QLatin1Char('/') + baseName(id) + QStringLiteral(".sock");
}

SingleApplication::SingleApplication(const QString &id, int &argc, char **argv)
    : QApplication(argc, argv), m_id(id)
{
    m_lock = new QLockFile(lockFilePath(id));
    // The lock is held for the whole run, so it must never expire by age; it is
    // stale only when the process that wrote it is gone (after a crash).
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        startServer();
        return;
    }
    if (m_lock->error() == QLockFile::LockFailedError) {
        m_running = true;
        return;
    }
    // The folder is not usable: run unguarded rather than not at all.
    qWarning("SingleApplication: cannot create the lock file %s",
             qPrintable(lockFilePath(id)));
}

SingleApplication::~SingleApplication()
{
    if (m_server)
        m_server->close();
    delete m_server;
    delete m_lock;
}

void SingleApplication::startServer()
{
    const QString name = serverName(m_id);
    // We hold the lock, so a socket left behind belongs to a copy that crashed.
    QLocalServer::removeServer(name);
    m_server = new QLocalServer;
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleApplication::acceptConnections);
    if (!m_server->listen(name)) {
        qWarning("SingleApplication: cannot listen on %s: %s", qPrintable(name),
                 qPrintable(m_server->errorString()));
    }
}

void SingleApplication::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        auto reader = std::make_shared<NetStringReader>(socket, "SingleApplication");
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(IncomingTimeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        auto take = [this, socket, reader] {
            QByteArray payload;
            if (reader->readSingleFrame(payload)) {
                socket->write(&AckByte, 1);
                socket->disconnectFromServer();
                emit messageReceived(QString::fromUtf8(payload));
            } else if (reader->state() == NetStringReader::Failed) {
                socket->deleteLater();
            }
        };
        connect(socket, &QLocalSocket::readyRead, socket, take);
        if (socket->bytesAvailable() > 0)
            take();
    }
}

bool SingleApplication::sendMessage(const QString &message, int timeoutMs)
{
    if (!m_running)
        return false;
    const QDeadlineTimer deadline(qMax(0, timeoutMs));
    const QString name = serverName(m_id);
    std::unique_ptr<QLocalSocket> socket;
    for (;;) {
        socket.reset(new QLocalSocket);
        socket->connectToServer(name);
        if (socket->waitForConnected(remainingMs(deadline)))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(qMin<qint64>(ConnectRetryMs, remainingMs(deadline)));
    }
    socket->write(encodeNetString(message));
    while (socket->bytesToWrite() > 0) {
        if (!socket->waitForBytesWritten(remainingMs(deadline)))
            return false;
    }
    while (socket->bytesAvailable() < 1) {
        if (!socket->waitForReadyRead(remainingMs(deadline)))
            return false;
    }
    char ack = 0;
    return socket->getChar(&ack) && ack == AckByte;
}
