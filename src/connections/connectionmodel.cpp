#include "connections/connectionmodel.h"

#include <algorithm>

namespace {

bool uidLess(const Connection &a, const Connection &b)
{
    return a.uid() < b.uid();
}

} // namespace

ConnectionModel::ConnectionModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int ConnectionModel::rowCount(const QModelIndex &) const
{
    return m_connections.size();
}

int ConnectionModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant ConnectionModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() != 0 || index.row() < 0
        || index.row() >= m_connections.size())
        return QVariant();

    const Connection &connection = m_connections.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return labelText(connection);
    case Qt::ToolTipRole:
        return toolTipText(connection);
    case NameRole:
        return connection.name();
    default:
        return QVariant();
    }
}

Qt::ItemFlags ConnectionModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && index.row() >= 0 && index.row() < m_connections.size())
        result |= Qt::ItemIsDragEnabled;
    return result;
}

void ConnectionModel::setConnections(QList<Connection> list)
{
    std::stable_sort(list.begin(), list.end(), uidLess);
    // One record per uid, or the lookups by uid would miss rows.
    list.erase(std::unique(list.begin(), list.end(),
                           [](const Connection &a, const Connection &b) { return a.uid() == b.uid(); }),
               list.end());
    beginResetModel();
    m_connections = list;
    endResetModel();
}

QModelIndex ConnectionModel::addConnection(const Connection &connection)
{
    const int row = lowerBound(connection.uid());
    if (row < m_connections.size() && m_connections.at(row).uid() == connection.uid())
        return QModelIndex();

    beginInsertRows(QModelIndex(), row, row);
    m_connections.insert(row, connection);
    endInsertRows();
    return index(row, 0);
}

QModelIndex ConnectionModel::updateConnection(const Connection &connection)
{
    const int row = rowOf(connection.uid());
    if (row < 0)
        return QModelIndex();

    m_connections[row] = connection;
    const QModelIndex cell = index(row, 0);
    emit dataChanged(cell, cell);
    return cell;
}

void ConnectionModel::removeConnection(const QUuid &uid)
{
    const int row = rowOf(uid);
    if (row < 0)
        return;

    beginRemoveRows(QModelIndex(), row, row);
    m_connections.removeAt(row);
    endRemoveRows();
}

const Connection &ConnectionModel::connection(const QModelIndex &index) const
{
    static const Connection none;
    const int row = index.row();
    if (row < 0 || row >= m_connections.size())
        return none;
    return m_connections.at(row);
}

QString ConnectionModel::labelText(const Connection &connection)
{
    // The name is markup on purpose: users may format their profile names.
    QStringList lines;
    if (!connection.name().isEmpty())
        lines << QStringLiteral("<b><big>%1</big></b>").arg(connection.name());
    else
        lines << QStringLiteral("<b><big>NO_NAME</big></b>");

    if (!connection.host().isEmpty()) {
        if (connection.port() != 22)
            lines << QStringLiteral("%1:%2").arg(connection.host(), QString::number(connection.port()));
        else
            lines << connection.host();
    }
    return lines.join(QStringLiteral("<br/>"));
}

QString ConnectionModel::toolTipText(const Connection &connection)
{
    QStringList lines;
    lines << tr("Uid: %1").arg(connection.uid().toString());
    if (!connection.name().isEmpty())
        lines << tr("Name: %1").arg(connection.name());
    if (!connection.host().isEmpty())
        lines << tr("Host: %1").arg(connection.host());
    if (connection.port() != 22)
        lines << tr("Port: %1").arg(connection.port());
    if (!connection.user().isEmpty())
        lines << tr("User: %1").arg(connection.user());
    if (!connection.sci().isEmpty())
        lines << tr("Sci: %1").arg(connection.sci());
    if (connection.fips())
        lines << tr("FIPS mode enabled");
    return lines.join(QLatin1Char('\n'));
}

int ConnectionModel::lowerBound(const QUuid &uid) const
{
    const auto it = std::lower_bound(m_connections.cbegin(), m_connections.cend(), uid,
                                     [](const Connection &c, const QUuid &u) { return c.uid() < u; });
    return int(it - m_connections.cbegin());
}

int ConnectionModel::rowOf(const QUuid &uid) const
{
    const int row = lowerBound(uid);
    if (row < m_connections.size() && m_connections.at(row).uid() == uid)
        return row;
    return -1;
}
