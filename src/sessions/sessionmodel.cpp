#include "sessions/sessionmodel.h"

#include "link/jsonrpchandler.h"
#include "sessions/servermethods.h"

#include <QJsonArray>
#include <QTimer>

#include <algorithm>

SessionModel::SessionModel(JsonRpcHandler *handler, QObject *parent)
    : QAbstractTableModel(parent), m_pendingCalls(handler), m_updateTimer(new QTimer(this))
{
    m_updateTimer->setObjectName(QStringLiteral("UpdateTimer"));
    m_updateTimer->setInterval(UpdateInterval);
    connect(m_updateTimer, &QTimer::timeout, this, &SessionModel::on_UpdateTimer_timeout);
}

SessionModel::~SessionModel()
{
    cancelPendingCalls();
}

Session SessionModel::session(int row) const
{
    return m_sessions.value(row);
}

// A flat table: only the root has rows and columns.
int SessionModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_sessions.size();
}

int SessionModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString SessionModel::formatDateTime(const QDateTime &dateTime)
{
    if (dateTime.isNull())
        return QString();
    if (QDateTime::currentDateTime().addDays(-7) < dateTime)
        return dateTime.toString(QStringLiteral("ddd h:mm AP"));
    return dateTime.toString(QStringLiteral("MMM d yyyy h:mm AP"));
}

QVariant SessionModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_sessions.size()
        || index.column() > LastDisconnectColumn)
        return QVariant();
    const Session &session = m_sessions.at(index.row());

    if (index.column() == NameColumn) {
        if (role == Qt::DisplayRole || role == Qt::EditRole || role == SortRole)
            return session.displayName();
        return QVariant();
    }

    QDateTime dateTime;
    switch (index.column()) {
    case StartedColumn: dateTime = session.started; break;
    case LastConnectColumn: dateTime = session.lastConnect; break;
    case LastDisconnectColumn: dateTime = session.lastDisconnect; break;
    default: return QVariant();
    }
    if (role == Qt::DisplayRole)
        return formatDateTime(dateTime);
    if (role == SortRole)
        return dateTime;
    return QVariant();
}

bool SessionModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_sessions.size()
        || index.column() != NameColumn || role != Qt::EditRole)
        return false;

    Session &session = m_sessions[index.row()];
    session.name = value.toString();
    const QString id = session.id;
    const QString name = session.name;
    emit dataChanged(index, index);

    // The rename goes out before the next poll, and the poll under way might still
    // show the old name.
    cancelPendingCalls();
    m_pendingCalls.call(QString::fromLatin1(ServerMethod::Params), renameParams(id, name));
    update();
    return true;
}

QVariant SessionModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case NameColumn: return tr("Name");
    case StartedColumn: return tr("Started");
    case LastConnectColumn: return tr("Last Connect");
    case LastDisconnectColumn: return tr("Last Disconnect");
    default: return QVariant();
    }
}

Qt::ItemFlags SessionModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.row() >= 0 && index.row() < m_sessions.size()) {
        flags |= Qt::ItemIsDragEnabled;
        if (index.column() == NameColumn)
            flags |= Qt::ItemIsEditable;
    }
    return flags;
}

void SessionModel::startUpdating()
{
    if (m_updateTimer->isActive())
        return;
    m_updateTimer->start(UpdateInterval);
    update();
}

void SessionModel::forceUpdate()
{
    cancelPendingCalls();
    m_updateTimer->start(UpdateInterval);
    update();
}

void SessionModel::on_UpdateTimer_timeout()
{
    // Never more than one poll (or an unanswered rename) at a time.
    if (m_pendingCalls.isEmpty())
        update();
}

void SessionModel::update()
{
    m_pendingCalls.call(QString::fromLatin1(ServerMethod::List), QJsonObject(),
                        [this](const QString &, const QJsonValue &result, const QJsonValue &) {
                            onListReply(result);
                        });
}

void SessionModel::cancelPendingCalls()
{
    m_pendingCalls.cancelAll();
}

void SessionModel::onListReply(const QJsonValue &result)
{
    if (!result.isArray())
        return;
    QList<Session> sessions;
    const QJsonArray array = result.toArray();
    for (const QJsonValue &element : array) {
        Session session = Session::fromJson(element.toObject());
        if (!session.id.isEmpty())
            sessions.append(session);
    }
    setSessions(sessions);
}

// Walks the old rows and the sorted new list side by side, removing, inserting and
// changing single rows, so unchanged rows keep their selection and persistent indexes.
void SessionModel::setSessions(QList<Session> sessions)
{
    std::stable_sort(sessions.begin(), sessions.end(),
                     [](const Session &a, const Session &b) { return a.id < b.id; });

    int row = 0;
    int next = 0; // first record of the new list not yet placed
    while (next < sessions.size()) {
        if (row >= m_sessions.size()) {
            const int count = sessions.size() - next;
            beginInsertRows(QModelIndex(), row, row + count - 1);
            for (int i = next; i < sessions.size(); ++i)
                m_sessions.append(sessions.at(i));
            endInsertRows();
            row = m_sessions.size();
            break;
        }
        const Session &incoming = sessions.at(next);
        Session &current = m_sessions[row];
        if (current.id < incoming.id) {
            beginRemoveRows(QModelIndex(), row, row);
            m_sessions.removeAt(row);
            endRemoveRows();
        } else if (incoming.id < current.id) {
            beginInsertRows(QModelIndex(), row, row);
            m_sessions.insert(row, incoming);
            endInsertRows();
            ++row;
            ++next;
        } else {
            if (current != incoming) {
                current = incoming;
                emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
            }
            ++row;
            ++next;
        }
    }
    if (row < m_sessions.size()) {
        beginRemoveRows(QModelIndex(), row, m_sessions.size() - 1);
        m_sessions.erase(m_sessions.begin() + row, m_sessions.end());
        endRemoveRows();
    }
    emit sessionsUpdated();
}
