#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

// What one reply may hold. A client drops the link on a frame longer than
// MaxReplyBytes, so every list the program answers is kept within a budget
// that leaves room for the envelope and the request's id.
namespace ReplyLimits {

constexpr int MaxReplyBytes = 65536;
constexpr int SessionListBytes = 60000;
constexpr int StoredBookmarkBytes = 52000; // bookmarks and history together
constexpr int SuggestionBytes = 8000;
constexpr int LogBytes = 60000;
// A name, command or geometry as it is written in JSON (escapes included).
constexpr int MaxFieldBytes = 2048;

// Bytes of `value` written as compact JSON.
inline int jsonBytes(const QJsonValue &value)
{
    return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact).size() - 2;
}

// A name, command or geometry longer than a list entry may hold.
inline bool fieldTooLong(const QString &value) { return jsonBytes(value) > MaxFieldBytes; }

} // namespace ReplyLimits
