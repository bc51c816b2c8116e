#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

class JsonRpcHandler;
class QMessageBox;

// The methods of the server's command program, the params each one takes and the
// typed reading of reply members. A member that is missing or of another JSON type
// reads as the default: an empty string, 0, false, an empty array or object.

namespace ServerMethod {
constexpr char Version[] = "Nuvek.version";
constexpr char List[] = "Nuvek.list";
constexpr char Params[] = "Nuvek.params";
constexpr char Start[] = "Nuvek.start";
constexpr char Connect[] = "Nuvek.connect";
constexpr char Disconnect[] = "Nuvek.disconnect";
constexpr char Terminate[] = "Nuvek.terminate";
constexpr char Log[] = "Nuvek.log";
constexpr char Bookmark[] = "Nuvek.bookmark";
} // namespace ServerMethod

// The geometry a session is started with when none was given.
constexpr char DefaultSessionGeometry[] = "1024x768";

// Typed member reading.
QString jsonString(const QJsonObject &object, const QString &key);
int jsonInt(const QJsonObject &object, const QString &key); // truncated; 0 when out of range
bool jsonBool(const QJsonObject &object, const QString &key);
QJsonArray jsonArray(const QJsonObject &object, const QString &key);
QJsonObject jsonObject(const QJsonObject &object, const QString &key);

// "Nuvek.params": renames a session.
QJsonObject renameParams(const QString &sessionId, const QString &name);
// "Nuvek.start": an empty geometry becomes the default, an empty name is left out.
QJsonObject startParams(const QString &sessionId, const QString &command,
                        const QString &geometry, const QString &name);
// "Nuvek.connect", "Nuvek.disconnect", "Nuvek.terminate".
QJsonObject sessionParams(const QString &sessionId);
// "Nuvek.log": the "id" and "log" members of a start error, copied unchanged.
QJsonObject logParams(const QJsonObject &startError);
// "Nuvek.bookmark". An edit without an id adds a new bookmark.
QJsonObject bookmarkListParams();
QJsonObject bookmarkEditParams(const QString &id, const QString &name, const QString &command,
                               const QString &geometry);
QJsonObject bookmarkDeleteParams(const QString &id);

// What a successful "Nuvek.connect" or "Nuvek.start" reply says about reaching the
// session.
struct ConnectReply
{
    quint16 port = 0; // the low 16 bits of the reply's number
    QString password;
    QString geometry;
    QString windowMode;

    bool isRootless() const { return windowMode == QLatin1String("rootless"); }
    static ConnectReply fromResult(const QJsonObject &result);
};

// The server's explanation in an error member: its string "message", else empty.
QString serverErrorMessage(const QJsonValue &error);

// Whether a start error names a start-up log to fetch (it has both "id" and "log").
bool startErrorHasLog(const QJsonValue &error);

// The usual handling of a reply: true when `result` has the expected type. Otherwise,
// when `error` is an object, the error box with `failure` and the server's message
// is shown; any other reply is dropped silently.
bool checkReply(const QJsonValue &result, const QJsonValue &error, QJsonValue::Type expected,
                const QString &failure);

// Handles a failed "Nuvek.start" (`failure` is the already translated sentence).
// When the error names a log and the link still exists, the log is fetched first and
// the box, with the log as its details, is shown when that reply arrives; otherwise
// the box is shown at once. Nothing is shown for an error that is not an object.
void reportStartFailure(JsonRpcHandler *handler, const QJsonValue &error, const QString &failure);
