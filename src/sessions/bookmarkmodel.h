#pragma once

#include "sessions/bookmark.h"
#include "sessions/pendingcalls.h"

#include <QAbstractTableModel>
#include <QJsonValue>
#include <QList>
#include <QString>

class JsonRpcHandler;
class QTimer;

// Table of one of the server's bookmark lists (suggestions, bookmarks or history),
// polled every five seconds while it is shown. Bookmarks can be edited in place;
// every change goes to the server, whose answer replaces the list.
class BookmarkModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Kind { Suggestions = 0, Bookmarks = 1, History = 2 };
    enum Column { NameColumn = 0, CommandColumn = 1, GeometryColumn = 2, ButtonColumn = 3 };
    static constexpr int SortRole = Qt::UserRole + 1;
    static constexpr int UpdateInterval = 5000;

    BookmarkModel(JsonRpcHandler *handler, int kind, QObject *parent = nullptr);

    int kind() const { return m_kind; }
    // The reply member this model shows: "suggestions", "bookmarks" or "history".
    QString listName() const;

    // An empty record for a row out of range.
    Bookmark entryAt(int row) const;

    // Brings the rows in line with `bookmarks` (any order; sorted by id here),
    // reporting only what changed, then emits bookmarksUpdated().
    void mergeEntries(QList<Bookmark> bookmarks);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    void bookmarksUpdated();

public slots:
    void startUpdating();
    void forceUpdate();

private slots:
    void on_UpdateTimer_timeout();

private:
    void requestList();
    void send(const QJsonObject &params);
    void handleReply(const QJsonValue &result);

    int m_kind;
    QList<Bookmark> m_entries;
    // Holds the link through a guarded pointer.
    PendingCalls m_pendingCalls;
    QTimer *m_updateTimer;
};
