#include "windows/rdpviewermodel.h"

#include <QStringList>

#include <algorithm>

namespace {

bool sameViewer(const RdpViewer &a, const RdpViewer &b)
{
    return a.name == b.name && a.owner == b.owner && a.controller == b.controller;
}

} // namespace

RdpViewerModel::RdpViewerModel(QObject *parent) : QAbstractTableModel(parent) {}

int RdpViewerModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : viewers.size();
}

int RdpViewerModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

Qt::ItemFlags RdpViewerModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && index.row() < viewers.size())
        result |= Qt::ItemIsDragEnabled;
    return result;
}

QString RdpViewerModel::displayText(const RdpViewer &viewer) const
{
    QStringList tags;
    if (viewer.id == clientId)
        tags << tr("me");
    if (viewer.owner)
        tags << tr("owner");
    if (viewer.controller)
        tags << tr("controller");
    if (tags.isEmpty())
        return viewer.name;
    return QStringLiteral("%1 (%2)").arg(viewer.name, tags.join(QLatin1Char(',')));
}

QVariant RdpViewerModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() != 0 || index.row() < 0 || index.row() >= viewers.size())
        return QVariant();
    const RdpViewer &viewer = viewers.at(index.row());
    if (role == Qt::DisplayRole)
        return displayText(viewer);
    if (role == NameRole)
        return viewer.name;
    return QVariant();
}

QVariant RdpViewerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return tr("Viewer");
    return QVariant();
}

void RdpViewerModel::setViewers(QList<RdpViewer> list)
{
    std::stable_sort(list.begin(), list.end(),
                     [](const RdpViewer &a, const RdpViewer &b) { return a.id < b.id; });
    // The server sends each id once; should it repeat one, the first entry counts.
    list.erase(std::unique(list.begin(), list.end(),
                           [](const RdpViewer &a, const RdpViewer &b) { return a.id == b.id; }),
               list.end());

    // Both lists are sorted by id: walk them side by side.
    int row = 0;
    for (const RdpViewer &viewer : qAsConst(list)) {
        while (row < viewers.size() && viewers.at(row).id < viewer.id) {
            beginRemoveRows(QModelIndex(), row, row);
            viewers.removeAt(row);
            endRemoveRows();
        }
        if (row < viewers.size() && viewers.at(row).id == viewer.id) {
            if (!sameViewer(viewers.at(row), viewer)) {
                viewers[row] = viewer;
                emit dataChanged(index(row, 0), index(row, 0));
            }
        } else {
            beginInsertRows(QModelIndex(), row, row);
            viewers.insert(row, viewer);
            endInsertRows();
        }
        ++row;
    }
    if (row < viewers.size()) {
        beginRemoveRows(QModelIndex(), row, viewers.size() - 1);
        viewers.erase(viewers.begin() + row, viewers.end());
        endRemoveRows();
    }
    emit viewersUpdated();
}

void RdpViewerModel::setClientId(quint32 id)
{
    const quint32 previous = clientId;
    clientId = id;
    for (int row = 0; row < viewers.size(); ++row) {
        const quint32 viewerId = viewers.at(row).id;
        if (viewerId == id || viewerId == previous)
            emit dataChanged(index(row, 0), index(row, 0));
    }
}

RdpViewer RdpViewerModel::viewerAt(int row) const
{
    if (row < 0 || row >= viewers.size()) {
        RdpViewer invalid;
        invalid.id = InvalidId;
        return invalid;
    }
    return viewers.at(row);
}
