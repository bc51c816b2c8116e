#pragma once

#include "sessions/bookmark.h"
#include "sessions/pendingcalls.h"

#include <QDialog>
#include <QJsonValue>
#include <QList>
#include <QString>

class JsonRpcHandler;
class QAction;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;
class WindowModeWidget;

// Asks what a new session runs: a command line and a desktop size or
// single-application mode. The server's suggestions, bookmarks and history fill
// both in from a menu, and a picked entry left unchanged also names the session.
class StartSessionDialog : public QDialog
{
    Q_OBJECT

public:
    // `handler` may be null: the dialog then works with typing only.
    StartSessionDialog(JsonRpcHandler *handler, QWidget *parent = nullptr);

    // The results, valid once the dialog has been accepted.
    QString sessionCommand() const { return m_sessionCommand; }
    QString sessionGeometry() const { return m_sessionGeometry; }
    QString sessionName() const { return m_sessionName; }

public slots:
    void done(int result) override;

private slots:
    void on_CommandLineEdit_textChanged();

private:
    // Wired to the entry menu when it is made (it does not exist when slots are
    // connected by name, so this is not a slot).
    void on_BookmarkButtonMenu_triggered(QAction *action);
    void handleBookmarkReply(const QJsonValue &result);

    // Holds the link through a guarded pointer; cancels what is left on destruction.
    PendingCalls m_pendingCalls;

    QLineEdit *m_commandLineEdit;
    WindowModeWidget *m_windowModeEdit;
    QDialogButtonBox *m_buttonBox;

    QPushButton *m_suggestionsButton = nullptr;
    QList<Bookmark> m_entries;
    QString m_sessionCommand;
    QString m_sessionGeometry;
    QString m_sessionName;
};
