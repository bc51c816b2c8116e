#include "sessions/bookmarkmodel.h"

#include "sessions/servermethods.h"

#include <QJsonObject>
#include <QTimer>

#include <algorithm>

namespace {

const QString Rootless = QStringLiteral("rootless");

bool idLess(const Bookmark &a, const Bookmark &b)
{
    return a.id < b.id;
}

} // namespace

BookmarkModel::BookmarkModel(JsonRpcHandler *handler, int kind, QObject *parent)
    : QAbstractTableModel(parent)
    , m_kind(kind)
    , m_pendingCalls(handler)
    , m_updateTimer(new QTimer(this))
{
    m_updateTimer->setObjectName(QStringLiteral("UpdateTimer"));
    m_updateTimer->setInterval(UpdateInterval);
    QMetaObject::connectSlotsByName(this);
}

QString BookmarkModel::listName() const
{
    switch (m_kind) {
    case Suggestions:
        return QStringLiteral("suggestions");
    case Bookmarks:
        return QStringLiteral("bookmarks");
    case History:
        return QStringLiteral("history");
    }
    return QString();
}

Bookmark BookmarkModel::entryAt(int row) const
{
    return row >= 0 && row < m_entries.size() ? m_entries.at(row) : Bookmark();
}

void BookmarkModel::mergeEntries(QList<Bookmark> bookmarks)
{
    std::stable_sort(bookmarks.begin(), bookmarks.end(), idLess);

    int row = 0;
    int next = 0;
    while (row < m_entries.size() || next < bookmarks.size()) {
        const bool haveOld = row < m_entries.size();
        const bool haveNew = next < bookmarks.size();
        if (haveOld && (!haveNew || m_entries.at(row).id < bookmarks.at(next).id)) {
            beginRemoveRows(QModelIndex(), row, row);
            m_entries.removeAt(row);
            endRemoveRows();
        } else if (!haveOld || bookmarks.at(next).id < m_entries.at(row).id) {
            beginInsertRows(QModelIndex(), row, row);
            m_entries.insert(row, bookmarks.at(next));
            endInsertRows();
            ++row;
            ++next;
        } else {
            if (m_entries.at(row) != bookmarks.at(next)) {
                m_entries[row] = bookmarks.at(next);
                emit dataChanged(index(row, 0), index(row, columnCount() - 1));
            }
            ++row;
            ++next;
        }
    }
    emit bookmarksUpdated();
}

int BookmarkModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_entries.size();
}

int BookmarkModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 4;
}

QVariant BookmarkModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != SortRole)
        return QVariant();

    const Bookmark &entry = m_entries.at(index.row());
    switch (index.column()) {
    case NameColumn:
        return entry.name;
    case CommandColumn:
        return entry.command;
    case GeometryColumn:
        if (entry.geometry != Rootless)
            return entry.geometry;
        return role == Qt::EditRole ? QString() : tr("Single Application");
    }
    return QVariant();
}

bool BookmarkModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= m_entries.size() || role != Qt::EditRole)
        return false;

    Bookmark &entry = m_entries[index.row()];
    const QString text = value.toString();
    switch (index.column()) {
    case NameColumn:
        entry.name = text;
        break;
    case CommandColumn:
        entry.command = text;
        break;
    case GeometryColumn:
        entry.geometry = text.isEmpty() ? Rootless : text;
        break;
    default:
        return false;
    }
    const Bookmark edited = entry;
    emit dataChanged(index, index);

    // A list reply still under way predates this edit; the edit's own reply
    // brings the server's list.
    m_pendingCalls.cancelAll();
    send(bookmarkEditParams(edited));
    return true;
}

Qt::ItemFlags BookmarkModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (!index.isValid())
        return result;
    if (index.column() < ButtonColumn)
        result |= Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
    else
        result |= Qt::ItemIsDragEnabled;
    return result;
}

QVariant BookmarkModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case NameColumn:
        return tr("Name");
    case CommandColumn:
        return tr("Command");
    case GeometryColumn:
        return tr("Window Size");
    }
    return QVariant();
}

void BookmarkModel::startUpdating()
{
    if (m_updateTimer->isActive())
        return;
    m_updateTimer->start(UpdateInterval);
    requestList();
}

void BookmarkModel::forceUpdate()
{
    m_pendingCalls.cancelAll();
    m_updateTimer->start(UpdateInterval);
    requestList();
}

void BookmarkModel::on_UpdateTimer_timeout()
{
    // Nothing piles up behind a slow server.
    if (m_pendingCalls.isEmpty())
        requestList();
}

void BookmarkModel::requestList()
{
    send(bookmarkListParams());
}

void BookmarkModel::send(const QJsonObject &params)
{
    m_pendingCalls.call(QLatin1String(ServerMethod::Bookmark), params,
                        [this](const QString &, const QJsonValue &result, const QJsonValue &) {
                            handleReply(result);
                        });
}

void BookmarkModel::handleReply(const QJsonValue &result)
{
    if (!result.isObject())
        return;
    mergeEntries(readBookmarkList(result.toObject().value(listName())));
}
