#pragma once

#include "bookmarkstore.h"
#include "replylimits.h"
#include "sessionstore.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// The command program's side of the link: reads JSON-RPC 2.0 requests framed as
// NetStrings from one descriptor and writes the replies to another, after the
// start marker. A broken frame or a payload that is not a JSON object ends the
// link; nothing of the sessions is touched then.
class SciServer
{
public:
    SciServer(const QString &dataDir, const QString &rdpProgram);

    // Runs until the input ends (returns 0) or breaks (returns 1).
    int run(int inFd, int outFd);

    // One request object in, the reply object out; an empty object when the
    // request is a notification and gets no reply.
    QJsonObject handleRequest(const QJsonObject &request);

    // Largest payload a client accepts in one frame.
    static constexpr int MaxReplyBytes = ReplyLimits::MaxReplyBytes;

private:
    using Params = QJsonObject;
    // Each method fills `result`, or `error` (an object with "code" and "message").
    bool version(const Params &params, QJsonValue &result, QJsonObject &error);
    bool list(const Params &params, QJsonValue &result, QJsonObject &error);
    bool setParams(const Params &params, QJsonValue &result, QJsonObject &error);
    bool start(const Params &params, QJsonValue &result, QJsonObject &error);
    bool connectSession(const Params &params, QJsonValue &result, QJsonObject &error);
    bool disconnectSession(const Params &params, QJsonValue &result, QJsonObject &error);
    bool terminate(const Params &params, QJsonValue &result, QJsonObject &error);
    bool log(const Params &params, QJsonValue &result, QJsonObject &error);
    bool bookmark(const Params &params, QJsonValue &result, QJsonObject &error);

    // A method that takes only the session's "id" and answers an empty object.
    bool sessionAction(const Params &params, QJsonValue &result, QJsonObject &error,
                       bool (SessionStore::*action)(const QString &, SessionFailure &));

    // The frame of `reply`; `idText` is the request's id as the peer wrote it.
    QByteArray encodeReply(const QJsonObject &reply, const QByteArray &idText);

    SessionStore m_sessions;
    BookmarkStore m_bookmarks;
};
