#pragma once

#include "connections/connection.h"

#include <QMap>
#include <QModelIndex>
#include <QString>
#include <QUuid>
#include <QWidget>

class ConnectionModel;
class QAction;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

// The main window: the list of connection profiles with adding, editing and removing,
// the About dialog and the documentation, and a registry of the windows opened from
// here so that each profile has at most one editor and one Sessions window.
class ConnectionListWidget : public QWidget
{
    Q_OBJECT

public:
    ConnectionListWidget(const QString &userFolder, const QString &globalFolder,
                         QWidget *parent = nullptr, bool globalDataDirWritable = false);

    // Registry key of a window opened for a profile: "<uid>-<purpose>", with purpose
    // "editing" for its editor and "SessionListWidget" for its Sessions window.
    static QString windowKey(const QUuid &uid, const QString &purpose);

    // Registers a window under its object name, unless that name is taken already.
    void registerWindow(QWidget *window);
    // Brings the window registered under `key` forward; false when there is none.
    bool raiseWindow(const QString &key);

    void loadConnections();
    void addConnection(const Connection &connection, bool global);
    void editConnection(const Connection &connection);
    void removeConnection(const Connection &connection);

    // Opens the link to the server of a profile.
    void openConnection(const Connection &connection);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_AboutAction_triggered();
    void on_DocumentationAction_triggered();
    void on_AddConnectionButton_clicked();
    void on_JoinSessionButton_clicked();
    void on_EditConnectionButton_clicked();
    void on_RemoveConnectionButton_clicked();
    void on_ConnectionListView_activated(const QModelIndex &index);
    void removeWidget(QObject *window);

private:
    void buildForm();
    void createRowButtons();
    // Places or hides the row buttons over the selected row. Connected by hand to the
    // view's selection model (the view has no such signal of its own), so it is not
    // declared a slot: connecting slots by name would look for it on the view.
    void on_ConnectionListView_selectionChanged();
    // Re-sorts the view after a change and fits rows and columns to their contents.
    void resortView();
    // Makes the profile's row current and scrolls to it.
    void showRow(const QModelIndex &sourceIndex);
    // The profile of the first selected row; an invalid profile when none is selected.
    Connection selectedConnection() const;
    // A profile from the machine-wide folder when that folder cannot be written to.
    bool isReadOnly(const Connection &connection) const;

    QString m_userFolder;
    QString m_globalFolder;
    bool m_globalWritable = false;

    QPushButton *m_joinSessionButton = nullptr;
    QPushButton *m_addConnectionButton = nullptr;
    QTableView *m_connectionListView = nullptr;
    QPushButton *m_settingsButton = nullptr;
    QAction *m_aboutAction = nullptr;
    QAction *m_documentationAction = nullptr;

    ConnectionModel *m_model = nullptr;
    QSortFilterProxyModel *m_proxy = nullptr;
    QMap<QUuid, QString> m_files;
    QPushButton *m_editRowButton = nullptr;
    QPushButton *m_removeRowButton = nullptr;
    QMap<QString, QWidget *> m_windows;
};
