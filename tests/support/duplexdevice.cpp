#include "support/duplexdevice.h"

#include "link/netstring.h"

#include <QJsonDocument>

#include <cstring>

DuplexDevice::DuplexDevice(QObject *parent) : QIODevice(parent)
{
    open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

qint64 DuplexDevice::bytesAvailable() const
{
    if (!isOpen())
        return 0;
    return m_incoming.size() + QIODevice::bytesAvailable();
}

void DuplexDevice::feed(const QByteArray &bytes)
{
    if (!isOpen())
        return;
    m_incoming += bytes;
    emit readyRead();
}

QByteArray DuplexDevice::takeWritten()
{
    QByteArray bytes;
    bytes.swap(m_written);
    return bytes;
}

qint64 DuplexDevice::readData(char *data, qint64 maxSize)
{
    const int count = int(qMin<qint64>(maxSize, m_incoming.size()));
    std::memcpy(data, m_incoming.constData(), size_t(count));
    m_incoming.remove(0, count);
    return count;
}

qint64 DuplexDevice::writeData(const char *data, qint64 size)
{
    m_written.append(data, int(size));
    return size;
}

void FakeRpcServer::sendMarker()
{
    m_device->feed(NetStringStartMarker);
}

QList<QJsonObject> FakeRpcServer::takeRequests()
{
    m_pending += m_device->takeWritten();
    QList<QJsonObject> requests;
    for (;;) {
        const int colon = m_pending.indexOf(':');
        if (colon <= 0)
            break;
        bool ok = false;
        const int length = m_pending.left(colon).toInt(&ok);
        if (!ok || m_pending.size() < colon + length + 2)
            break;
        requests.append(QJsonDocument::fromJson(m_pending.mid(colon + 1, length)).object());
        m_pending.remove(0, colon + length + 2);
    }
    return requests;
}

void FakeRpcServer::replyResult(const QString &id, const QJsonValue &result)
{
    send(QJsonObject{{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
}

void FakeRpcServer::replyError(const QString &id, const QJsonValue &error)
{
    send(QJsonObject{{"jsonrpc", "2.0"}, {"id", id}, {"error", error}});
}

void FakeRpcServer::send(const QJsonObject &message)
{
    m_device->feed(encodeNetString(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact))));
}
