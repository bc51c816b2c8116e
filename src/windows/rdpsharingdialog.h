#pragma once

#include "rdp/rdpviewer.h"

#include <QDialog>
#include <QList>
#include <QModelIndex>
#include <QString>

class QAction;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class RdpViewerModel;
struct RdpContext;

// The sharing controls of a session: sharing on and off, the sharing key (by e-mail or
// through the clipboard) and the list of viewers, with buttons on the selected row that give
// that viewer control or remove them. Everything the buttons do is a request to the server
// over the sharing channel; the dialog changes only when the server reports the new state.
class RdpSharingDialog : public QDialog
{
    Q_OBJECT

public:
    // sshHost and sshPort: where a viewer's SSH link must go.
    RdpSharingDialog(RdpContext *context, const QString &sshHost, quint16 sshPort,
                     QWidget *parent = nullptr);

    // This client's sharing id as the server reported it (0: the session's owner).
    void setClientId(quint32 id);
    // The server's sharing state and its viewers.
    void setServerStatus(bool sharingOn, const QList<RdpViewer> &viewers);

    // The key of the current sharing; empty while sharing is off.
    QString sharingKey() const { return key; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void on_ClipboardAction_triggered();
    void on_EmailAction_triggered();
    void on_GiveControlButton_clicked();
    void on_KickViewerButton_clicked();
    void on_SharingButton_clicked();
    void on_ViewerListModel_viewersUpdated();
    void on_ViewerListView_activated(const QModelIndex &index);

private:
    void buildForm();
    void createActionButtons();
    // Connected by hand (the view has no such signals of its own); not slots, so that
    // connecting by name does not look for them.
    void on_ViewerListView_selectionChanged();
    void on_ViewerListView_sortIndicatorChanged();
    void updateActionButtons();
    // The viewer of the selected row; one with the invalid id when there is none.
    RdpViewer selectedViewer() const;
    QModelIndex selectedIndex() const;

    RdpContext *context;
    QString sshHost;
    quint16 sshPort;

    QPushButton *shareKeyButton = nullptr;
    QPushButton *sharingButton = nullptr;
    QTableView *viewerListView = nullptr;
    QAction *emailAction = nullptr;
    QAction *clipboardAction = nullptr;

    RdpViewerModel *viewerModel;
    QSortFilterProxyModel *proxyModel;
    QPushButton *giveControlButton = nullptr;
    QPushButton *kickViewerButton = nullptr;

    QString key;
    quint32 clientId = 0xFFFFFFFF;
    bool sharingOn = false;
    bool hasControl = false;
};
