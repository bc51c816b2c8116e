#include "link/jsonrpchandler.h"

#include "app/cookie.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QList>

JsonRpcHandler::JsonRpcHandler(QIODevice *device, QObject *parent)
    : QObject(parent), m_device(device), m_reader(device, "JsonRpcHandler")
{
    if (device)
        connect(device, &QIODevice::readyRead, this, &JsonRpcHandler::on_Device_readyRead);
}

// Pending callbacks go with the map, none of them is called.
JsonRpcHandler::~JsonRpcHandler() = default;

QString JsonRpcHandler::call(const QString &method, const QJsonObject &params,
                             const JsonRpcCallback &callback)
{
    QString id;
    QString error;
    generateCookie(id, error); // a failure leaves the id empty

    // QJsonObject keeps its keys sorted, so the compact text lists id, jsonrpc,
    // method, params, and the members of params in the same order.
    QJsonObject request;
    request.insert(QStringLiteral("jsonrpc"), QStringLiteral("2.0"));
    request.insert(QStringLiteral("id"), id);
    request.insert(QStringLiteral("method"), method);
    request.insert(QStringLiteral("params"), params);
    const QString text =
        QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact));
    // A closed link (the handler closes it itself when the stream breaks) takes nothing.
    if (m_device && m_device->isWritable())
        m_device->write(encodeNetString(text));

    m_pendingCalls.insert(id, callback);
    return id;
}

void JsonRpcHandler::cancel(const QString &id)
{
    m_pendingCalls.remove(id);
}

bool JsonRpcHandler::isOk() const
{
    return m_reader.state() != NetStringReader::Failed;
}

QString JsonRpcHandler::errorString() const
{
    return m_reader.errorString();
}

// Parses one payload. A payload that is not a JSON object breaks the stream.
bool JsonRpcHandler::takeMessage(const QByteArray &payload, QList<QJsonObject> &replies)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        m_reader.fail(tr("Got invalid JSON"));
        return false;
    }
    replies.append(document.object());
    return true;
}

void JsonRpcHandler::on_Device_readyRead()
{
    // Frames are taken first and the callbacks run afterwards, one after the other in
    // the order the replies came. A callback may close the link or destroy this
    // handler; the reader is then no longer touched.
    QList<QJsonObject> replies;
    m_reader.readStream(
        [this, &replies](const QByteArray &payload) { return takeMessage(payload, replies); });

    const QPointer<JsonRpcHandler> self(this);
    for (const QJsonObject &reply : qAsConst(replies)) {
        handleReply(reply);
        if (!self)
            return;
    }
}

void JsonRpcHandler::handleReply(const QJsonObject &reply)
{
    if (reply.value(QStringLiteral("jsonrpc")).toString() != QLatin1String("2.0"))
        return;
    const QJsonValue idValue = reply.value(QStringLiteral("id"));
    if (!idValue.isString())
        return; // notifications and requests from the server
    const QString id = idValue.toString();

    // The entry goes before the callback runs, so the callback may call again.
    const JsonRpcCallback callback = m_pendingCalls.take(id);
    if (callback)
        callback(id, reply.value(QStringLiteral("result")), reply.value(QStringLiteral("error")));
}
