#pragma once

#include "lockfile.h"
#include "processtools.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

// One session of the user as kept on disk: the virtual display, the command
// that runs on it and the RDP endpoint that shows it.
struct ServerSession
{
    QString id;
    QString command;
    QString name;
    QString requestedGeometry; // as asked for; "rootless" included
    QString geometry;          // the desktop size really used, e.g. "1024x768"
    QString windowMode;
    QString started;
    QString lastConnect;
    QString lastDisconnect;
    int clients = 0;
    int display = -1;
    quint16 port = 0;
    QString password;
    QString state; // "starting" or "running"
    ProcessRef xserver;
    ProcessRef rdp;
    ProcessRef session;

    QJsonObject toJson() const;
    static ServerSession fromJson(const QJsonObject &object);
    // The members a client reads from "Nuvek.list".
    QJsonObject toListJson() const;
    // The members a client reads from "Nuvek.start" and "Nuvek.connect".
    QJsonObject toConnectJson() const;
};

// What went wrong in a session operation. `log` names a log of the session
// ("xserver", "rdp" or "command") that explains it, or is empty.
struct SessionFailure
{
    QString message;
    QString log;
};

// The sessions of this user on this host: one folder per session under
// <data>/sessions/<host>/<id>/ with its record, its logs and its secrets, so
// hosts that share the home folder never touch each other's sessions. Every
// change runs under one lock file per host, so several links of the same user
// (each its own program) see and change the same sessions.
class SessionStore
{
public:
    // `dataDir`: the user's server data folder; `rdpProgram`: the session's
    // RDP server (may be empty when missing).
    SessionStore(const QString &dataDir, const QString &rdpProgram);

    // All sessions that still run; sessions whose processes ended are cleaned
    // away, and the client counts and connect times are brought up to date.
    QList<ServerSession> list();

    bool start(const QString &id, const QString &command, const QString &geometry, const QString &name,
               ServerSession &session, SessionFailure &failure);
    bool connectInfo(const QString &id, ServerSession &session, SessionFailure &failure);
    bool disconnect(const QString &id, SessionFailure &failure);
    bool terminate(const QString &id, SessionFailure &failure);
    bool rename(const QString &id, const QString &name, SessionFailure &failure);
    // The tail of one log of a session (also of a session whose start failed).
    bool readLog(const QString &id, const QString &log, QString &contents, SessionFailure &failure);

    static bool isValidId(const QString &id);
    // "WxH" with sane bounds; "rootless" and empty give the default desktop.
    static bool parseGeometry(const QString &text, int &width, int &height);

private:
    // Releases a lock taken with lock().
    struct LockGuard
    {
        explicit LockGuard(SessionStore *store) : store(store) {}
        ~LockGuard() { store->unlock(); }
        LockGuard(const LockGuard &) = delete;
        LockGuard &operator=(const LockGuard &) = delete;
        SessionStore *store;
    };

    QString sessionDir(const QString &id) const;
    QString failedDir(const QString &id) const;
    bool lock();
    void unlock();
    // Runs `action` on the session `id` with the lock held; `mustRun` first
    // checks that its processes still run.
    bool withSession(const QString &id, bool mustRun, SessionFailure &failure,
                     const std::function<bool(ServerSession &)> &action);
    bool load(const QString &id, ServerSession &session) const;
    bool save(const ServerSession &session) const;
    // Runs, or ended (false); an ended session is cleaned away (lock held).
    bool checkAlive(ServerSession &session);
    // Moves the running sessions of this host that an older version kept in
    // the folder shared by all hosts into this host's folder (lock held).
    void adoptOlderSessions();
    void destroy(const ServerSession &session, bool keepLogs);
    bool startXServer(ServerSession &session, int width, int height, SessionFailure &failure);
    bool startRdp(ServerSession &session, SessionFailure &failure);
    QStringList baseEnvironment(const ServerSession &session) const;
    void pruneFailedLogs();
    // False when the session list with `session` in it (new or changed) would
    // no longer fit into one reply.
    bool listHasRoomFor(const ServerSession &session) const;

    QString m_dataDir;
    QString m_hostDir;   // <data>/sessions/<host>
    QString m_failedDir; // <data>/failed/<host>
    QString m_rdpProgram;
    LockFile m_lock;
    int m_lockDepth = 0;
};
