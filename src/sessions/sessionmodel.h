#pragma once

#include "sessions/pendingcalls.h"
#include "sessions/session.h"

#include <QAbstractTableModel>
#include <QList>

class JsonRpcHandler;
class QTimer;

// The sessions of one server, polled with "Nuvek.list" and merged into the rows one
// row at a time (never a reset), in ascending order of id. Column 0 shows and edits
// the display name (an edit renames the session on the server), columns 2-4 the
// dates; columns 1 and 5 are left to the view's buttons.
class SessionModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { NameColumn = 0, StartedColumn = 2, LastConnectColumn = 3,
                  LastDisconnectColumn = 4, ColumnCount = 6 };
    // The sort key: the display name, or the date-time itself.
    static constexpr int SortRole = Qt::UserRole + 1;
    static constexpr int UpdateInterval = 5000;

    // `handler` is not owned; without it (or once it is gone) nothing is polled.
    SessionModel(JsonRpcHandler *handler, QObject *parent = nullptr);
    ~SessionModel() override;

    // The record of a row, or an empty record for a row out of range.
    Session session(int row) const;
    QList<Session> sessions() const { return m_sessions; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // Text of a date-time cell: weekday and time within the last week, else the full date.
    static QString formatDateTime(const QDateTime &dateTime);

signals:
    // After each merged "Nuvek.list" reply.
    void sessionsUpdated();

public slots:
    // Starts polling (once; later calls do nothing) and polls at once.
    void startUpdating();
    // Drops an unanswered poll, polls now and a full interval later again.
    void forceUpdate();

private slots:
    void on_UpdateTimer_timeout();

private:
    void update();
    void setSessions(QList<Session> sessions);
    void onListReply(const QJsonValue &result);
    void cancelPendingCalls();

    QList<Session> m_sessions;
    PendingCalls m_pendingCalls; // holds the guarded link too
    QTimer *m_updateTimer;
};
