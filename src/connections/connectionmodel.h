#pragma once

#include "connections/connection.h"

#include <QAbstractTableModel>
#include <QList>

// The loaded connection profiles, one per row in a single column. The rows are kept in
// uid order, so lookups by uid are binary searches; the order the user sees comes from
// a sort proxy over the name role.
class ConnectionModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // The profile's name, the key the view sorts by.
    static constexpr int NameRole = Qt::UserRole + 1;

    explicit ConnectionModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    void setConnections(QList<Connection> list);
    // Inserts a profile with a uid not yet present; an invalid index otherwise.
    QModelIndex addConnection(const Connection &connection);
    // Replaces the profile with the same uid; an invalid index when there is none.
    QModelIndex updateConnection(const Connection &connection);
    void removeConnection(const QUuid &uid);
    // The profile at the index's row, or an invalid profile.
    const Connection &connection(const QModelIndex &index) const;

    static QString labelText(const Connection &connection);
    static QString toolTipText(const Connection &connection);

private:
    // Position of the first record whose uid is not less than `uid`.
    int lowerBound(const QUuid &uid) const;
    // Row of the record with `uid`, or -1.
    int rowOf(const QUuid &uid) const;

    QList<Connection> m_connections;
};
