#include "sciserver.h"

#include "replylimits.h"

#include "link/netstring.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

// JSON-RPC 2.0 error codes.
constexpr int InvalidRequest = -32600;
constexpr int MethodNotFound = -32601;
constexpr int InvalidParams = -32602;
constexpr int ServerError = -32000;

QString tr(const char *text) { return QCoreApplication::translate("SciServer", text); }

QJsonObject makeError(int code, const QString &message)
{
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
}

// A string member; a missing one reads as empty, one of another type fails.
bool stringParam(const QJsonObject &params, const char *key, QString &value, QJsonObject &error,
                 bool required = true)
{
    const QJsonValue v = params.value(QLatin1String(key));
    if (v.isString()) {
        value = v.toString();
        return true;
    }
    if (v.isUndefined() && !required) {
        value.clear();
        return true;
    }
    error = makeError(InvalidParams, tr("The parameter \"%1\" must be a string.").arg(QLatin1String(key)));
    return false;
}

int skipSpace(const QByteArray &j, int i)
{
    while (i < j.size() && (j[i] == ' ' || j[i] == '\t' || j[i] == '\n' || j[i] == '\r'))
        ++i;
    return i;
}

int skipString(const QByteArray &j, int i)
{
    for (++i; i < j.size(); ++i) {
        if (j[i] == '\\')
            ++i;
        else if (j[i] == '"')
            return i + 1;
    }
    return j.size();
}

int skipValue(const QByteArray &j, int i)
{
    if (i < j.size() && j[i] == '"')
        return skipString(j, i);
    int depth = 0;
    while (i < j.size()) {
        const char c = j[i];
        if (c == '"') {
            i = skipString(j, i);
            continue;
        }
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (depth == 0)
                return i;
            --depth;
        } else if (depth == 0 && (c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
            return i;
        }
        ++i;
        if (depth == 0 && (c == '}' || c == ']'))
            return i;
    }
    return i;
}

// The text of the member `key` of the JSON object `json` (already known to
// parse) exactly as the peer wrote it; the last one when it repeats.
QByteArray memberText(const QByteArray &json, const QString &key)
{
    QByteArray found;
    int i = skipSpace(json, 0);
    if (i >= json.size() || json[i] != '{')
        return found;
    i = skipSpace(json, i + 1);
    while (i < json.size() && json[i] == '"') {
        const int keyStart = i;
        i = skipString(json, i);
        const QByteArray keyText = json.mid(keyStart, i - keyStart);
        i = skipSpace(json, i);
        if (i >= json.size() || json[i] != ':')
            break;
        i = skipSpace(json, i + 1);
        const int valueStart = i;
        i = skipValue(json, i);
        const QJsonArray decoded = QJsonDocument::fromJson("[" + keyText + "]").array();
        if (decoded.at(0).toString() == key)
            found = json.mid(valueStart, i - valueStart);
        i = skipSpace(json, i);
        if (i >= json.size() || json[i] != ',')
            break;
        i = skipSpace(json, i + 1);
    }
    return found;
}

bool sessionError(const SessionFailure &failure, QJsonObject &error, const QString &id)
{
    error = makeError(ServerError, failure.message);
    if (!failure.log.isEmpty()) {
        error.insert(QStringLiteral("id"), id);
        error.insert(QStringLiteral("log"), failure.log);
    }
    return false;
}

} // namespace

SciServer::SciServer(const QString &dataDir, const QString &rdpProgram)
    : m_sessions(dataDir, rdpProgram), m_bookmarks(dataDir)
{
}

QByteArray SciServer::encodeReply(const QJsonObject &reply, const QByteArray &idText)
{
    auto envelope = [](const QByteArray &id, const char *member, const QJsonValue &value) {
        const QByteArray body = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                                                : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
        return "{\"jsonrpc\":\"2.0\",\"id\":" + id + ",\"" + member + "\":" + body + '}';
    };
    // The id goes back exactly as it came (a number may not fit a double);
    // one that was not valid goes back as null.
    const QJsonValue id = reply.value(QStringLiteral("id"));
    QByteArray idJson = "null";
    if (!id.isNull()) {
        idJson = QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact).mid(1);
        idJson.chop(1);
        const QJsonValue echoed = QJsonDocument::fromJson("[" + idText + "]").array().at(0);
        if (echoed.type() == id.type()
            && (id.isString() ? echoed.toString() == id.toString() : echoed.toDouble() == id.toDouble()))
            idJson = idText;
    }
    QByteArray json = reply.contains(QStringLiteral("result"))
        ? envelope(idJson, "result", reply.value(QStringLiteral("result")))
        : envelope(idJson, "error", reply.value(QStringLiteral("error")));
    if (json.size() > MaxReplyBytes) {
        // The client drops a link whose frame is too long: say so instead,
        // without the id when that alone is too long.
        const QJsonObject error = makeError(ServerError, tr("The reply is too large."));
        json = envelope(idJson, "error", error);
        if (json.size() > MaxReplyBytes)
            json = envelope("null", "error", error);
    }
    return encodeNetString(QString::fromUtf8(json));
}

int SciServer::run(int inFd, int outFd)
{
    if (!writeAll(outFd, NetStringStartMarker.constData(), size_t(NetStringStartMarker.size())))
        return 1;
    NetStringReader reader(nullptr, "SciServer");
    char chunk[NetStringReadChunk];
    for (;;) {
        const ssize_t n = ::read(inFd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return 1;
        if (n == 0)
            return reader.buffer().isEmpty() ? 0 : 1;
        reader.buffer().append(chunk, int(n));
        QByteArray payload;
        for (;;) {
            const NetStringReader::Take take = reader.takeNetString(payload);
            if (take == NetStringReader::Take::NeedMore)
                break;
            if (take == NetStringReader::Take::Failure) {
                std::fprintf(stderr, "nuvek2_sci: %s\n", qPrintable(reader.errorString()));
                return 1;
            }
            QJsonParseError parseError;
            const QJsonDocument doc = QJsonDocument::fromJson(payload, &parseError);
            if (!doc.isObject()) {
                std::fprintf(stderr, "nuvek2_sci: %s\n", qPrintable(tr("Got invalid JSON")));
                return 1;
            }
            const QJsonObject reply = handleRequest(doc.object());
            if (reply.isEmpty())
                continue;
            const QByteArray frame = encodeReply(reply, memberText(payload, QStringLiteral("id")));
            if (!writeAll(outFd, frame.constData(), size_t(frame.size())))
                return 1;
        }
    }
}

QJsonObject SciServer::handleRequest(const QJsonObject &request)
{
    QJsonValue id = request.value(QStringLiteral("id"));
    const bool notification = id.isUndefined();
    QJsonValue result;
    QJsonObject error;
    const QJsonValue method = request.value(QStringLiteral("method"));
    const QJsonValue params = request.value(QStringLiteral("params"));
    bool ok = false;
    if (request.value(QStringLiteral("jsonrpc")).toString() != QLatin1String("2.0") || !method.isString()
        || !(params.isObject() || params.isUndefined())
        || !(id.isString() || id.isDouble() || id.isNull() || id.isUndefined())) {
        error = makeError(InvalidRequest, tr("Invalid request"));
        if (!(id.isString() || id.isDouble()))
            id = QJsonValue::Null;
    } else {
        using Handler = bool (SciServer::*)(const Params &, QJsonValue &, QJsonObject &);
        static const QList<QPair<QString, Handler>> methods{
            {QStringLiteral("Nuvek.version"), &SciServer::version},
            {QStringLiteral("Nuvek.list"), &SciServer::list},
            {QStringLiteral("Nuvek.params"), &SciServer::setParams},
            {QStringLiteral("Nuvek.start"), &SciServer::start},
            {QStringLiteral("Nuvek.connect"), &SciServer::connectSession},
            {QStringLiteral("Nuvek.disconnect"), &SciServer::disconnectSession},
            {QStringLiteral("Nuvek.terminate"), &SciServer::terminate},
            {QStringLiteral("Nuvek.log"), &SciServer::log},
            {QStringLiteral("Nuvek.bookmark"), &SciServer::bookmark},
        };
        Handler handler = nullptr;
        for (const auto &entry : methods) {
            if (entry.first == method.toString())
                handler = entry.second;
        }
        if (!handler)
            error = makeError(MethodNotFound, tr("Unknown method \"%1\"").arg(method.toString()));
        else
            ok = (this->*handler)(params.toObject(), result, error);
    }
    if (notification)
        return QJsonObject();
    QJsonObject reply{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("id"), id}};
    if (ok)
        reply.insert(QStringLiteral("result"), result);
    else
        reply.insert(QStringLiteral("error"), error);
    return reply;
}

bool SciServer::version(const Params &, QJsonValue &result, QJsonObject &)
{
    result = QJsonObject{{QStringLiteral("version"), QCoreApplication::applicationVersion()}};
    return true;
}

bool SciServer::list(const Params &, QJsonValue &result, QJsonObject &)
{
    QJsonArray sessions;
    const QList<ServerSession> all = m_sessions.list();
    int bytes = 2;
    for (const ServerSession &session : all)
        bytes += ReplyLimits::jsonBytes(session.toListJson()) + 1;
    for (ServerSession session : all) {
        // Starts and renames keep the list within one reply; records of older
        // versions may not, then their long texts are cut short.
        if (bytes > ReplyLimits::SessionListBytes) {
            session.command.truncate(64);
            session.name.truncate(64);
        }
        sessions.append(session.toListJson());
    }
    while (ReplyLimits::jsonBytes(sessions) > ReplyLimits::SessionListBytes)
        sessions.removeLast();
    result = sessions;
    return true;
}

bool SciServer::setParams(const Params &params, QJsonValue &result, QJsonObject &error)
{
    QString id, name;
    if (!stringParam(params, "id", id, error) || !stringParam(params, "name", name, error))
        return false;
    if (ReplyLimits::fieldTooLong(name)) {
        error = makeError(InvalidParams, tr("The name is too long."));
        return false;
    }
    SessionFailure failure;
    if (!m_sessions.rename(id, name, failure))
        return sessionError(failure, error, id);
    result = QJsonObject();
    return true;
}

bool SciServer::start(const Params &params, QJsonValue &result, QJsonObject &error)
{
    QString id, command, geometry, name;
    if (!stringParam(params, "id", id, error) || !stringParam(params, "command", command, error)
        || !stringParam(params, "geometry", geometry, error, false)
        || !stringParam(params, "name", name, error, false))
        return false;
    if (ReplyLimits::fieldTooLong(command) || ReplyLimits::fieldTooLong(name) || ReplyLimits::fieldTooLong(geometry)) {
        error = makeError(InvalidParams, tr("The command or the name is too long."));
        return false;
    }
    ServerSession session;
    SessionFailure failure;
    if (!m_sessions.start(id, command, geometry, name, session, failure))
        return sessionError(failure, error, id);
    m_bookmarks.addHistory(name, command, geometry.isEmpty() ? session.geometry : geometry);
    result = session.toConnectJson();
    return true;
}

bool SciServer::connectSession(const Params &params, QJsonValue &result, QJsonObject &error)
{
    QString id;
    if (!stringParam(params, "id", id, error))
        return false;
    ServerSession session;
    SessionFailure failure;
    if (!m_sessions.connectInfo(id, session, failure))
        return sessionError(failure, error, id);
    result = session.toConnectJson();
    return true;
}

bool SciServer::disconnectSession(const Params &params, QJsonValue &result, QJsonObject &error)
{
    return sessionAction(params, result, error, &SessionStore::disconnect);
}

bool SciServer::terminate(const Params &params, QJsonValue &result, QJsonObject &error)
{
    return sessionAction(params, result, error, &SessionStore::terminate);
}

bool SciServer::sessionAction(const Params &params, QJsonValue &result, QJsonObject &error,
                              bool (SessionStore::*action)(const QString &, SessionFailure &))
{
    QString id;
    if (!stringParam(params, "id", id, error))
        return false;
    SessionFailure failure;
    if (!(m_sessions.*action)(id, failure))
        return sessionError(failure, error, id);
    result = QJsonObject();
    return true;
}

bool SciServer::log(const Params &params, QJsonValue &result, QJsonObject &error)
{
    QString id, name, contents;
    if (!stringParam(params, "id", id, error) || !stringParam(params, "log", name, error))
        return false;
    SessionFailure failure;
    if (!m_sessions.readLog(id, name, contents, failure)) {
        error = makeError(ServerError, failure.message);
        return false;
    }
    result = QJsonObject{{QStringLiteral("contents"), contents}};
    return true;
}

bool SciServer::bookmark(const Params &params, QJsonValue &result, QJsonObject &error)
{
    QString op;
    if (!stringParam(params, "op", op, error))
        return false;
    QString message;
    if (op == QLatin1String("list")) {
        QJsonArray bookmarks, history;
        m_bookmarks.lists(bookmarks, history);
        result = QJsonObject{{QStringLiteral("suggestions"), m_bookmarks.suggestions()},
                             {QStringLiteral("bookmarks"), bookmarks},
                             {QStringLiteral("history"), history}};
        return true;
    }
    if (op == QLatin1String("edit")) {
        QString id, name, command, geometry;
        if (!stringParam(params, "id", id, error, false) || !stringParam(params, "name", name, error, false)
            || !stringParam(params, "command", command, error) || !stringParam(params, "geometry", geometry, error, false))
            return false;
        if (!m_bookmarks.edit(id, name, command, geometry, message)) {
            error = makeError(ServerError, message);
            return false;
        }
    } else if (op == QLatin1String("delete")) {
        QString id;
        if (!stringParam(params, "id", id, error))
            return false;
        if (!m_bookmarks.remove(id, message)) {
            error = makeError(ServerError, message);
            return false;
        }
    } else {
        error = makeError(InvalidParams, tr("Unknown bookmark operation \"%1\"").arg(op));
        return false;
    }
    QJsonArray bookmarks, history;
    m_bookmarks.lists(bookmarks, history);
    result = QJsonObject{{QStringLiteral("bookmarks"), bookmarks}, {QStringLiteral("history"), history}};
    return true;
}
