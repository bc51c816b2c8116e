#pragma once

#include <QApplication>
#include <QString>

class QLocalServer;
class QLockFile;

// The application object of a program that runs once per user. The first copy
// started with a given id holds a lock file and listens on a local socket; every
// later copy finds the lock taken, reports isRunning() and can hand the first
// one a text with sendMessage(), which arrives there as messageReceived() on
// the main thread. Lock and socket live in $XDG_RUNTIME_DIR (the temporary
// folder without it) and carry the effective user id in their names.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    SingleApplication(const QString &id, int &argc, char **argv);
    ~SingleApplication() override;

    QString id() const { return m_id; }

    // True when another copy with the same id already runs for this user.
    bool isRunning() const { return m_running; }

    // Sends `message` to the running copy and waits at most `timeoutMs` for it
    // to be taken. Returns false when nothing runs, or it did not answer in time.
    bool sendMessage(const QString &message, int timeoutMs);

    // Where lock and socket of `id` are kept (exposed for tests).
    static QString lockFilePath(const QString &id);
    static QString serverName(const QString &id);

signals:
    void messageReceived(const QString &message);

private slots:
    void acceptConnections();

private:
    void startServer();

    QString m_id;
    QLockFile *m_lock = nullptr;
    QLocalServer *m_server = nullptr;
    bool m_running = false;
};
