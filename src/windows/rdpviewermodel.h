#pragma once

#include "rdp/rdpviewer.h"

#include <QAbstractTableModel>
#include <QList>

// The viewers of a shared session, one row each, kept sorted by id. The row of this client
// is tagged "me", the session's owner "owner" and the viewer in control "controller".
class RdpViewerModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // The role that gives the viewer's name (the sort key of the view).
    static constexpr int NameRole = Qt::UserRole + 1;
    static constexpr quint32 InvalidId = 0xFFFFFFFF;

    explicit RdpViewerModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Merges a new list in: rows of viewers that left are removed, new viewers inserted at
    // their place, changed ones updated; then viewersUpdated().
    void setViewers(QList<RdpViewer> list);
    // This client's sharing id (the "me" tag).
    void setClientId(quint32 id);
    // The viewer of a row; one with id InvalidId for a row that does not exist.
    RdpViewer viewerAt(int row) const;

signals:
    void viewersUpdated();

private:
    QString displayText(const RdpViewer &viewer) const;

    QList<RdpViewer> viewers;
    quint32 clientId = InvalidId;
};
