#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QJsonObject>
#include <QList>

// An in-memory, sequential, two-way device: what the code under test writes is
// collected in written(); what a test feeds with feed() is read back by the code
// under test and announced by readyRead().
class DuplexDevice : public QIODevice
{
    Q_OBJECT

public:
    explicit DuplexDevice(QObject *parent = nullptr);

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

    // Appends bytes for the reader and emits readyRead (only while open).
    void feed(const QByteArray &bytes);

    QByteArray written() const { return m_written; }
    QByteArray takeWritten();

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    QByteArray m_incoming;
    QByteArray m_written;
};

// Plays the server's command program on a DuplexDevice: decodes the requests the
// client wrote and sends framed replies back.
class FakeRpcServer
{
public:
    explicit FakeRpcServer(DuplexDevice *device) : m_device(device) {}

    // The start marker, which must come before the first reply.
    void sendMarker();

    // Decodes every complete frame written since the last call. Frames that are not
    // JSON objects come back as empty objects.
    QList<QJsonObject> takeRequests();

    void replyResult(const QString &id, const QJsonValue &result);
    void replyError(const QString &id, const QJsonValue &error);
    void send(const QJsonObject &message);

private:
    DuplexDevice *m_device;
    QByteArray m_pending;
};
