#pragma once

#include "link/netstring.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QIODevice;

// Receives the reply to one call: its id, then the reply's "result" and "error"
// members (undefined when missing).
using JsonRpcCallback =
    std::function<void(const QString &id, const QJsonValue &result, const QJsonValue &error)>;

// Client side of the JSON-RPC 2.0 conversation with the server's command program:
// requests go out as NetStrings on `device`, replies come back on the same device
// (after the start marker) and are handed to the callback registered with their id.
class JsonRpcHandler : public QObject
{
    Q_OBJECT

public:
    // `device` is not owned; the handler is normally a child of it.
    JsonRpcHandler(QIODevice *device, QObject *parent = nullptr);
    ~JsonRpcHandler() override;

    QIODevice *device() const { return m_device; }

    // Writes one request and returns its id. `callback` may be empty: the reply is
    // then dropped. Requests are written whatever the state of the incoming side.
    QString call(const QString &method, const QJsonObject &params,
                 const JsonRpcCallback &callback = JsonRpcCallback());

    // Forgets a pending call: its callback will never run.
    void cancel(const QString &id);

    // False once the incoming stream broke (bad framing or a reply that is not a
    // JSON object); the device has then been closed.
    bool isOk() const;
    QString errorString() const;

    // Ids of calls still waiting for their reply.
    QStringList pendingIds() const { return m_pendingCalls.keys(); }

private slots:
    void on_Device_readyRead();

private:
    bool takeMessage(const QByteArray &payload, QList<QJsonObject> &replies);
    void handleReply(const QJsonObject &reply);

    QPointer<QIODevice> m_device;
    NetStringReader m_reader;
    QMap<QString, JsonRpcCallback> m_pendingCalls;
};
