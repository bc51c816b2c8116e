#pragma once

#include "sessions/pendingcalls.h"

#include <QJsonValue>
#include <QModelIndex>
#include <QString>
#include <QWidget>

class JsonRpcHandler;
class QMessageBox;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class SessionModel;
class SshDevice;
struct ConnectReply;
struct Session;

// The Sessions window of one server: lists the sessions running there, starts new
// ones, connects to, disconnects, renames and terminates them, and shows the SSH log
// and the bookmarks of the link. Nothing is sent until startUpdating(), which the
// creator runs once the link has authenticated.
class SessionListWidget : public QWidget
{
    Q_OBJECT

public:
    // `handler` is owned by the link; the window holds it through a guarded pointer.
    explicit SessionListWidget(JsonRpcHandler *handler, QWidget *parent = nullptr);
    ~SessionListWidget() override;

    // Tells the user how a session connection ended: nothing for the codes 0 and 1,
    // an error box for any other. Returns the box, or null when none is shown.
    static QMessageBox *reportRdpFinished(int exitCode);

signals:
    // The server program has answered its first call (whatever the answer).
    void gotVersion();

public slots:
    // Asks for the server's version (once) and starts polling the session list.
    void startUpdating();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_BookmarkButton_clicked();
    void on_ConnectSessionButton_clicked();
    void on_DisconnectSessionButton_clicked();
    void on_EditSessionButton_clicked();
    void on_LogButton_clicked();
    void on_NewSessionButton_clicked();
    void on_TerminateSessionButton_clicked();
    void on_SessionListModel_sessionsUpdated();
    void on_SessionListView_activated(const QModelIndex &index);

private:
    // Wired by hand to the view's selection model and header, which carry signals of
    // these names (so these are not slots connected by name).
    void on_SessionListView_selectionChanged();
    void on_SessionListView_sortIndicatorChanged();

    void setupUi();
    QPushButton *addRowButton(const char *objectName, const char *icon, const char *property);
    void setHeaderResizeModes();

    // The source row of the first selected index, or -1 when nothing is selected.
    int selectedRow() const;

    void connectSession(const QString &id, const QString &title);
    void disconnectSession(const QString &id);
    void terminateSession(const QString &id);
    void startSession(const QString &command, const QString &geometry, const QString &name);
    // Turns a successful "Nuvek.connect" or "Nuvek.start" reply into a session viewer.
    void openSession(const QJsonValue &result, const QString &sessionId, const QString &title);
    // Where the display engine plugs in: it opens the session through the link's
    // SOCKS forward with what the server handed out.
    void startRdpInstance(SshDevice *device, const ConnectReply &reply, const QString &sessionId,
                          const QString &title);
    void updateActionButtons();

    void onConnectReply(const QJsonValue &result, const QJsonValue &error, const QString &sessionId,
                        const QString &title);
    void onStartReply(const QJsonValue &result, const QJsonValue &error, const QString &sessionId,
                      const QString &title);
    void onChangeReply(const QJsonValue &result, const QJsonValue &error, const QString &failure);

    // Holds the guarded link; what is still unanswered is cancelled on destruction.
    PendingCalls m_pendingCalls;
    bool m_versionAsked = false;

    QPushButton *m_bookmarkButton = nullptr;
    QPushButton *m_logButton = nullptr;
    QPushButton *m_newSessionButton = nullptr;
    QTableView *m_sessionListView = nullptr;

    SessionModel *m_model = nullptr;
    QSortFilterProxyModel *m_proxy = nullptr;
    QPushButton *m_connectButton = nullptr;
    QPushButton *m_disconnectButton = nullptr;
    QPushButton *m_editButton = nullptr;
    QPushButton *m_terminateButton = nullptr;
};
