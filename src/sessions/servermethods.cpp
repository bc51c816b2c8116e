#include "sessions/servermethods.h"

#include "app/errorbox.h"
#include "link/jsonrpchandler.h"

#include <limits>

QString jsonString(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

int jsonInt(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    // Also false for NaN; a cast of such values would be undefined.
    if (!(number > double(std::numeric_limits<int>::min()) - 1
          && number < double(std::numeric_limits<int>::max()) + 1))
        return 0;
    return int(number);
}

bool jsonBool(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isBool() && value.toBool();
}

QJsonArray jsonArray(const QJsonObject &object, const QString &key)
{
    return object.value(key).toArray();
}

QJsonObject jsonObject(const QJsonObject &object, const QString &key)
{
    return object.value(key).toObject();
}

QJsonObject renameParams(const QString &sessionId, const QString &name)
{
    return QJsonObject{{QStringLiteral("id"), sessionId}, {QStringLiteral("name"), name}};
}

QJsonObject startParams(const QString &sessionId, const QString &command,
                        const QString &geometry, const QString &name)
{
    QJsonObject params{
        {QStringLiteral("id"), sessionId},
        {QStringLiteral("command"), command},
        {QStringLiteral("geometry"),
         geometry.isEmpty() ? QString::fromLatin1(DefaultSessionGeometry) : geometry}};
    if (!name.isEmpty())
        params.insert(QStringLiteral("name"), name);
    return params;
}

QJsonObject sessionParams(const QString &sessionId)
{
    return QJsonObject{{QStringLiteral("id"), sessionId}};
}

QJsonObject logParams(const QJsonObject &startError)
{
    return QJsonObject{{QStringLiteral("id"), startError.value(QStringLiteral("id"))},
                       {QStringLiteral("log"), startError.value(QStringLiteral("log"))}};
}

QJsonObject bookmarkListParams()
{
    return QJsonObject{{QStringLiteral("op"), QStringLiteral("list")}};
}

QJsonObject bookmarkEditParams(const QString &id, const QString &name, const QString &command,
                               const QString &geometry)
{
    QJsonObject params{{QStringLiteral("op"), QStringLiteral("edit")},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("command"), command},
                       {QStringLiteral("geometry"), geometry}};
    if (!id.isEmpty())
        params.insert(QStringLiteral("id"), id);
    return params;
}

QJsonObject bookmarkDeleteParams(const QString &id)
{
    return QJsonObject{{QStringLiteral("op"), QStringLiteral("delete")}, {QStringLiteral("id"), id}};
}

ConnectReply ConnectReply::fromResult(const QJsonObject &result)
{
    ConnectReply reply;
    reply.port = quint16(jsonInt(result, QStringLiteral("port")) & 0xFFFF);
    reply.password = jsonString(result, QStringLiteral("password"));
    reply.geometry = jsonString(result, QStringLiteral("geometry"));
    reply.windowMode = jsonString(result, QStringLiteral("windowMode"));
    return reply;
}

QString serverErrorMessage(const QJsonValue &error)
{
    return jsonString(error.toObject(), QStringLiteral("message"));
}

bool startErrorHasLog(const QJsonValue &error)
{
    const QJsonObject object = error.toObject();
    return error.isObject() && object.contains(QStringLiteral("id"))
        && object.contains(QStringLiteral("log"));
}

bool checkReply(const QJsonValue &result, const QJsonValue &error, QJsonValue::Type expected,
                const QString &failure)
{
    if (result.type() == expected)
        return true;
    if (error.isObject())
        showErrorBox(failure, serverErrorMessage(error));
    return false;
}

void reportStartFailure(JsonRpcHandler *handler, const QJsonValue &error, const QString &failure)
{
    if (!error.isObject())
        return;
    const QString message = serverErrorMessage(error);
    if (!handler || !startErrorHasLog(error)) {
        showErrorBox(failure, message);
        return;
    }
    // Not one of the caller's pending calls: the box appears even when the window that
    // started the session has closed in the meantime.
    handler->call(QString::fromLatin1(ServerMethod::Log), logParams(error.toObject()),
                  [failure, message](const QString &, const QJsonValue &result, const QJsonValue &) {
                      QString details;
                      if (result.isObject())
                          details = jsonString(result.toObject(), QStringLiteral("contents"));
                      showErrorBox(failure, message, details);
                  });
}
