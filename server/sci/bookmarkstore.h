#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <functional>

// The user's bookmarks and history of started commands, kept in one JSON file
// (<data>/bookmarks.json), and the suggestions made from what the host has
// installed. Entries are objects with "id", "name", "command" and "geometry".
// What the lists answer always fits into one reply: the history gives way
// (oldest first) to new entries, and a bookmark that would not fit is refused.
class BookmarkStore
{
public:
    explicit BookmarkStore(const QString &dataDir);

    QJsonArray suggestions() const;
    void lists(QJsonArray &bookmarks, QJsonArray &history) const;

    // Changes the bookmark `id`, or adds one when `id` is empty.
    bool edit(const QString &id, const QString &name, const QString &command, const QString &geometry,
              QString &error);
    // Removes the bookmark or history entry `id`.
    bool remove(const QString &id, QString &error);
    // Puts a started command on top of the history (an equal entry moves up).
    void addHistory(const QString &name, const QString &command, const QString &geometry);

    static constexpr int MaxHistory = 30;
    static constexpr int MaxBookmarks = 100;

private:
    enum class Read { Ok, Failed, Damaged };
    Read read(QJsonArray &bookmarks, QJsonArray &history) const;
    // read() for a change under the lock: a file that does not parse is
    // moved aside (and named on standard error), and the lists start empty.
    bool readForChange(QJsonArray &bookmarks, QJsonArray &history) const;
    bool write(const QJsonArray &bookmarks, const QJsonArray &history) const;
    // Under the lock: reads the lists for a change, lets `apply` change them and writes them
    // when it returns true. `error` says what went wrong.
    bool change(QString &error, const std::function<bool(QJsonArray &, QJsonArray &)> &apply) const;

    QString m_dataDir;
};
