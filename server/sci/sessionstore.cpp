#include "sessionstore.h"

#include "replylimits.h"

#include "app/cookie.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int DefaultWidth = 1024;
constexpr int DefaultHeight = 768;
constexpr int FirstDisplay = 200;
constexpr int LastDisplay = 999;
constexpr int XServerStartMs = 15000;
constexpr int RdpStartMs = 15000;
constexpr int CommandGraceMs = 400;
constexpr qint64 LogTailBytes = 16000;
constexpr int KeptFailedStarts = 20;

const QStringList LogNames{QStringLiteral("xserver"), QStringLiteral("rdp"), QStringLiteral("command")};

QString tr(const char *text) { return QCoreApplication::translate("SessionStore", text); }

QString now() { return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")); }

QString logPath(const QString &dir, const QString &log) { return dir + QLatin1Char('/') + log + QStringLiteral(".log"); }

bool makePrivateDir(const QString &path)
{
    if (!QDir().mkpath(path))
        return false;
    return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool writePrivateFile(const QString &path, const QByteArray &contents)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(contents);
    return file.commit();
}

QRegularExpression anchored(const char *pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(pattern)));
}

QString findProgram(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    return path;
}

} // namespace

QJsonObject ServerSession::toJson() const
{
    return QJsonObject{
        {QStringLiteral("id"), id},
        {QStringLiteral("command"), command},
        {QStringLiteral("params"), QJsonObject{{QStringLiteral("name"), name}}},
        {QStringLiteral("requestedGeometry"), requestedGeometry},
        {QStringLiteral("geometry"), geometry},
        {QStringLiteral("windowMode"), windowMode},
        {QStringLiteral("started"), started},
        {QStringLiteral("lastConnect"), lastConnect},
        {QStringLiteral("lastDisconnect"), lastDisconnect},
        {QStringLiteral("clients"), clients},
        {QStringLiteral("display"), display},
        {QStringLiteral("port"), int(port)},
        {QStringLiteral("password"), password},
        {QStringLiteral("state"), state},
        {QStringLiteral("processes"),
         QJsonObject{{QStringLiteral("xserver"), xserver.toJson()},
                     {QStringLiteral("rdp"), rdp.toJson()},
                     {QStringLiteral("session"), session.toJson()}}},
    };
}

ServerSession ServerSession::fromJson(const QJsonObject &o)
{
    ServerSession s;
    s.id = o.value(QStringLiteral("id")).toString();
    s.command = o.value(QStringLiteral("command")).toString();
    s.name = o.value(QStringLiteral("params")).toObject().value(QStringLiteral("name")).toString();
    s.requestedGeometry = o.value(QStringLiteral("requestedGeometry")).toString();
    s.geometry = o.value(QStringLiteral("geometry")).toString();
    s.windowMode = o.value(QStringLiteral("windowMode")).toString();
    s.started = o.value(QStringLiteral("started")).toString();
    s.lastConnect = o.value(QStringLiteral("lastConnect")).toString();
    s.lastDisconnect = o.value(QStringLiteral("lastDisconnect")).toString();
    s.clients = o.value(QStringLiteral("clients")).toInt();
    s.display = o.value(QStringLiteral("display")).toInt(-1);
    s.port = quint16(o.value(QStringLiteral("port")).toInt());
    s.password = o.value(QStringLiteral("password")).toString();
    s.state = o.value(QStringLiteral("state")).toString();
    const QJsonObject processes = o.value(QStringLiteral("processes")).toObject();
    // Records of older versions name the display server "xvfb".
    s.xserver = ProcessRef::fromJson(
        processes.value(processes.contains(QStringLiteral("xserver")) ? QStringLiteral("xserver") : QStringLiteral("xvfb"))
            .toObject());
    s.rdp = ProcessRef::fromJson(processes.value(QStringLiteral("rdp")).toObject());
    s.session = ProcessRef::fromJson(processes.value(QStringLiteral("session")).toObject());
    return s;
}

QJsonObject ServerSession::toListJson() const
{
    return QJsonObject{
        {QStringLiteral("id"), id},
        {QStringLiteral("windowMode"), windowMode},
        {QStringLiteral("geometry"), geometry},
        {QStringLiteral("params"), QJsonObject{{QStringLiteral("name"), name}}},
        {QStringLiteral("command"), command},
        {QStringLiteral("clients"), clients},
        {QStringLiteral("started"), started},
        {QStringLiteral("lastConnect"), lastConnect},
        {QStringLiteral("lastDisconnect"), lastDisconnect},
    };
}

QJsonObject ServerSession::toConnectJson() const
{
    return QJsonObject{
        {QStringLiteral("port"), int(port)},
        {QStringLiteral("password"), password},
        {QStringLiteral("geometry"), geometry},
        {QStringLiteral("windowMode"), windowMode},
    };
}

SessionStore::SessionStore(const QString &dataDir, const QString &rdpProgram)
    : m_dataDir(dataDir),
      m_hostDir(dataDir + QStringLiteral("/sessions/") + LockFile::hostName()),
      m_failedDir(dataDir + QStringLiteral("/failed/") + LockFile::hostName()),
      m_rdpProgram(rdpProgram),
      m_lock(m_hostDir + QStringLiteral("/state.lock"))
{
}

bool SessionStore::isValidId(const QString &id)
{
    // Ids name folders: nothing that could step out of ours.
    static const QRegularExpression pattern = anchored("[A-Za-z0-9_-]{1,64}");
    return pattern.match(id).hasMatch();
}

bool SessionStore::parseGeometry(const QString &text, int &width, int &height)
{
    QString value = text;
    value.remove(QLatin1Char(' '));
    if (value.isEmpty() || value == QLatin1String("rootless")) {
        width = DefaultWidth;
        height = DefaultHeight;
        return true;
    }
    static const QRegularExpression pattern = anchored("(\\d{1,5})[xX](\\d{1,5})");
    const QRegularExpressionMatch match = pattern.match(value);
    if (!match.hasMatch())
        return false;
    width = match.captured(1).toInt();
    height = match.captured(2).toInt();
    return width >= 64 && height >= 64 && width <= 8192 && height <= 8192;
}

QString SessionStore::sessionDir(const QString &id) const { return m_hostDir + QLatin1Char('/') + id; }

QString SessionStore::failedDir(const QString &id) const { return m_failedDir + QLatin1Char('/') + id; }

bool SessionStore::lock()
{
    if (m_lockDepth > 0) {
        ++m_lockDepth;
        return true;
    }
    if (!makePrivateDir(m_dataDir) || !makePrivateDir(m_hostDir))
        return false;
    // A start may take a while: only a holder that is gone makes it stale.
    if (!m_lock.tryLock(60000))
        return false;
    m_lockDepth = 1;
    return true;
}

void SessionStore::unlock()
{
    if (m_lockDepth > 0 && --m_lockDepth == 0) {
        m_lock.unlock();
        QDir().rmdir(m_hostDir); // only when no session is left: a host leaves nothing behind
    }
}

bool SessionStore::load(const QString &id, ServerSession &session) const
{
    QFile file(sessionDir(id) + QStringLiteral("/session.json"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isObject())
        return false;
    session = ServerSession::fromJson(doc.object());
    return session.id == id;
}

bool SessionStore::save(const ServerSession &session) const
{
    return writePrivateFile(sessionDir(session.id) + QStringLiteral("/session.json"),
                            QJsonDocument(session.toJson()).toJson());
}

void SessionStore::destroy(const ServerSession &session, bool keepLogs)
{
    terminateGroups({session.rdp, session.session, session.xserver}, 3000);
    if (session.display >= 0) {
        // A display server killed hard leaves its lock behind.
        const QString lockFile = QStringLiteral("/tmp/.X%1-lock").arg(session.display);
        QFile file(lockFile);
        if (file.open(QIODevice::ReadOnly)) {
            const qint64 owner = file.readAll().trimmed().toLongLong();
            file.close();
            if (owner == session.xserver.pid && !session.xserver.isAlive()) {
                QFile::remove(lockFile);
                QFile::remove(QStringLiteral("/tmp/.X11-unix/X%1").arg(session.display));
            }
        }
    }
    const QString dir = sessionDir(session.id);
    const QString oldPath = m_dataDir + QStringLiteral("/sessions/") + session.id;
    if (QFileInfo(oldPath).isSymLink())
        QFile::remove(oldPath); // left by adoptOlderSessions()
    if (keepLogs) {
        const QString target = failedDir(session.id);
        QDir(target).removeRecursively();
        makePrivateDir(target);
        for (const QString &log : LogNames)
            QFile::rename(logPath(dir, log), logPath(target, log));
        pruneFailedLogs();
    }
    QDir(dir).removeRecursively();
}

void SessionStore::pruneFailedLogs()
{
    QDir failed(m_failedDir);
    const QFileInfoList entries = failed.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Time);
    for (int i = KeptFailedStarts; i < entries.size(); ++i)
        QDir(entries[i].absoluteFilePath()).removeRecursively();
}

bool SessionStore::checkAlive(ServerSession &session)
{
    if (session.state != QLatin1String("running")) {
        // A start that never finished: its program is gone (we hold the lock).
        destroy(session, false);
        return false;
    }
    if (!session.xserver.isAlive() || !session.session.groupAlive()) {
        destroy(session, false);
        return false;
    }
    const int clients = session.rdp.isAlive() ? countConnections(session.port) : 0;
    if (clients != session.clients) {
        if (clients > session.clients)
            session.lastConnect = now();
        else
            session.lastDisconnect = now();
        session.clients = clients;
        save(session);
    }
    return true;
}

void SessionStore::adoptOlderSessions()
{
    // Older versions kept the sessions of every host in <data>/sessions/<id>.
    // Those whose display runs here are ours; the rest may be another host's.
    const QString shared = m_dataDir + QStringLiteral("/sessions");
    const QStringList ids = QDir(shared).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &id : ids) {
        QFile file(shared + QLatin1Char('/') + id + QStringLiteral("/session.json"));
        if (!isValidId(id) || !file.open(QIODevice::ReadOnly))
            continue;
        const ServerSession session = ServerSession::fromJson(QJsonDocument::fromJson(file.readAll()).object());
        // Its programs keep the old paths (XAUTHORITY): a link leads there.
        const QString old = shared + QLatin1Char('/') + id;
        if (session.id == id && session.xserver.isAlive() && !QFileInfo::exists(sessionDir(id))
            && QDir().rename(old, sessionDir(id)))
            QFile::link(LockFile::hostName() + QLatin1Char('/') + id, old);
    }
}

QList<ServerSession> SessionStore::list()
{
    QList<ServerSession> sessions;
    const bool locked = lock();
    if (locked)
        adoptOlderSessions();
    const QStringList ids = QDir(m_hostDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &id : ids) {
        ServerSession session;
        if (!isValidId(id) || !load(id, session))
            continue;
        if (!locked) {
            // Someone holds the lock for long: report without cleaning up.
            if (session.state == QLatin1String("running") && session.xserver.isAlive())
                sessions.append(session);
            continue;
        }
        if (checkAlive(session))
            sessions.append(session);
    }
    if (locked)
        unlock();
    return sessions;
}

QStringList SessionStore::baseEnvironment(const ServerSession &session) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The link's own variables mean nothing to a session that outlives it.
    for (const char *name : {"SSH_CLIENT", "SSH_CONNECTION", "SSH_TTY", "SSH_AUTH_SOCK", "SSH_ORIGINAL_COMMAND",
                             "XDG_SESSION_ID", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(session.display));
    env.insert(QStringLiteral("XAUTHORITY"), sessionDir(session.id) + QStringLiteral("/Xauthority"));
    return env.toStringList();
}

bool SessionStore::startXServer(ServerSession &session, int width, int height, SessionFailure &failure)
{
    // Xvnc without any network port: a virtual display that can change its
    // size at run time (RandR), which the RDP server asks of it.
    const QString xvnc = findProgram(QStringLiteral("Xvnc"));
    if (xvnc.isEmpty()) {
        failure.message = tr("The virtual display server Xvnc is not installed.");
        return false;
    }
    QList<int> taken;
    const QStringList ids = QDir(m_hostDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &id : ids) {
        ServerSession other;
        if (id != session.id && load(id, other))
            taken.append(other.display);
    }
    const QString dir = sessionDir(session.id);
    int attempts = 0;
    for (int display = FirstDisplay; display <= LastDisplay && attempts < 10; ++display) {
        if (taken.contains(display) || QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(display))
            || QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)))
            continue;
        ++attempts;
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) < 0) {
            failure.message = tr("Cannot start the virtual display.");
            return false;
        }
        SpawnRequest request;
        request.arguments = QStringList{xvnc, QStringLiteral(":%1").arg(display),
                                        QStringLiteral("-geometry"), QStringLiteral("%1x%2").arg(width).arg(height),
                                        QStringLiteral("-depth"), QStringLiteral("24"),
                                        QStringLiteral("-rfbport"), QStringLiteral("-1"),
                                        QStringLiteral("-SecurityTypes"), QStringLiteral("None"),
                                        QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                        // A reset when the last client leaves would also
                                        // throw out the RDP server connecting next.
                                        QStringLiteral("-noreset"),
                                        QStringLiteral("-auth"), dir + QStringLiteral("/Xauthority"),
                                        QStringLiteral("-displayfd"), QStringLiteral("3")};
        session.display = display;
        request.environment = baseEnvironment(session);
        request.workingDirectory = QStringLiteral("/");
        request.logPath = logPath(dir, QStringLiteral("xserver"));
        request.passFd = ready[1];
        QString error;
        session.xserver = spawnDetached(request, error);
        ::close(ready[1]);
        if (session.xserver.isNull()) {
            ::close(ready[0]);
            failure.message = tr("Cannot start the virtual display: %1").arg(error);
            failure.log = QStringLiteral("xserver");
            return false;
        }
        save(session);
        // The display server writes its number here once it accepts clients;
        // the pipe closes without it when the server gives up.
        QByteArray answer;
        const qint64 deadline = monotonicMs() + XServerStartMs;
        while (!answer.contains('\n')) {
            const qint64 left = deadline - monotonicMs();
            if (left <= 0)
                break;
            pollfd pfd{ready[0], POLLIN, 0};
            const int n = ::poll(&pfd, 1, int(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            char buffer[64];
            const ssize_t got = ::read(ready[0], buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            answer.append(buffer, int(got));
        }
        ::close(ready[0]);
        if (answer.contains('\n') && session.xserver.isAlive())
            return true;
        terminateGroups({session.xserver}, 1000);
        const QByteArray log = readTail(request.logPath, LogTailBytes);
        if (log.contains("already active") || log.contains("server already running")
            || log.contains("Cannot establish any listening sockets")) {
            continue; // another display server won the race for this number
        }
        failure.message = tr("The virtual display did not start.");
        failure.log = QStringLiteral("xserver");
        return false;
    }
    failure.message = tr("No free display number was found.");
    failure.log = QStringLiteral("xserver");
    return false;
}

bool SessionStore::startRdp(ServerSession &session, SessionFailure &failure)
{
    if (m_rdpProgram.isEmpty()) {
        failure.message = tr("The session's RDP server nuvek2_rdp was not found.");
        return false;
    }
    const QString dir = sessionDir(session.id);
    const QString passwordFile = dir + QStringLiteral("/rdp-password");
    if (!writePrivateFile(passwordFile, session.password.toUtf8())) {
        failure.message = tr("Cannot write the session's files.");
        return false;
    }
    const QString log = logPath(dir, QStringLiteral("rdp"));
    const bool keepPort = session.port != 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!keepPort || attempt > 0)
            session.port = findFreeLocalPort();
        if (session.port == 0) {
            failure.message = tr("No free port was found for the RDP server.");
            return false;
        }
        SpawnRequest request;
        request.arguments = QStringList{m_rdpProgram, QStringLiteral("--display"), QStringLiteral(":%1").arg(session.display),
                                        QStringLiteral("--port"), QString::number(session.port),
                                        QStringLiteral("--password-file"), passwordFile};
        if (session.windowMode == QLatin1String("rootless"))
            request.arguments << QStringLiteral("--rootless");
        request.environment = baseEnvironment(session);
        request.workingDirectory = dir;
        request.logPath = log;
        // It says when it accepts connections; only what it writes from now on counts.
        const qint64 logStart = QFileInfo(log).size();
        const QByteArray ready = QStringLiteral("nuvek2_rdp: listening on 127.0.0.1:%1\n").arg(session.port).toLatin1();
        QString error;
        session.rdp = spawnDetached(request, error);
        if (session.rdp.isNull()) {
            failure.message = tr("Cannot start the RDP server: %1").arg(error);
            failure.log = QStringLiteral("rdp");
            return false;
        }
        save(session);
        const qint64 deadline = monotonicMs() + RdpStartMs;
        bool listening = false;
        while (!listening && monotonicMs() < deadline && session.rdp.isAlive()) {
            QFile file(log);
            listening = file.open(QIODevice::ReadOnly) && file.seek(logStart) && file.readAll().contains(ready);
            if (!listening)
                sleepMs(50);
        }
        if (listening && session.rdp.isAlive())
            return true;
        const bool died = !session.rdp.isAlive();
        terminateGroups({session.rdp}, 1000);
        if (!died)
            break; // alive but never listening: no retry will help
        // Most likely someone took the port between our probe and its start.
    }
    failure.message = tr("The RDP server did not start.");
    failure.log = QStringLiteral("rdp");
    return false;
}

bool SessionStore::listHasRoomFor(const ServerSession &session) const
{
    int bytes = ReplyLimits::jsonBytes(session.toListJson());
    const QStringList ids = QDir(m_hostDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &id : ids) {
        ServerSession other;
        if (id != session.id && load(id, other))
            bytes += ReplyLimits::jsonBytes(other.toListJson()) + 1;
    }
    return bytes + 2 <= ReplyLimits::SessionListBytes;
}

bool SessionStore::start(const QString &id, const QString &command, const QString &geometry, const QString &name,
                         ServerSession &result, SessionFailure &failure)
{
    int width = 0, height = 0;
    if (!isValidId(id)) {
        failure.message = tr("The session id is not valid.");
        return false;
    }
    if (command.trimmed().isEmpty()) {
        failure.message = tr("The command is empty.");
        return false;
    }
    if (!parseGeometry(geometry, width, height)) {
        failure.message = tr("The window size \"%1\" is not valid.").arg(geometry);
        return false;
    }
    if (!lock()) {
        failure.message = tr("The session list is locked by another program.");
        return false;
    }
    const LockGuard guard(this);

    const QString dir = sessionDir(id);
    if (QFileInfo::exists(dir)) {
        failure.message = tr("A session with this id exists already.");
        return false;
    }
    QDir(failedDir(id)).removeRecursively();
    QString error;
    QByteArray xcookie;
    if (!makePrivateDir(dir) || !generateRandomBytes(16, xcookie, error)
        || !writeXauthority(dir + QStringLiteral("/Xauthority"), xcookie, error)) {
        failure.message = tr("Cannot write the session's files.");
        QDir(dir).removeRecursively();
        return false;
    }

    ServerSession session;
    session.id = id;
    session.command = command;
    session.name = name;
    session.requestedGeometry = geometry;
    session.geometry = QStringLiteral("%1x%2").arg(width).arg(height);
    // A single-application request gets a screen of the default size whose
    // windows the client shows one by one.
    const bool rootless = QString(geometry).remove(QLatin1Char(' ')) == QLatin1String("rootless");
    session.windowMode = rootless ? QStringLiteral("rootless") : QStringLiteral("desktop");
    session.started = now();
    session.state = QStringLiteral("starting");
    if (!listHasRoomFor(session)) {
        failure.message = tr("There is no room for another session: end one, or use shorter commands and names.");
        QDir(dir).removeRecursively();
        return false;
    }
    if (!generateCookie(session.password, error) || !save(session)) {
        failure.message = tr("Cannot write the session's files.");
        QDir(dir).removeRecursively();
        return false;
    }

    if (!startXServer(session, width, height, failure)) {
        destroy(session, !failure.log.isEmpty());
        return false;
    }

    SpawnRequest request;
    request.arguments = QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"), command};
    request.environment = baseEnvironment(session);
    request.workingDirectory = QDir::homePath();
    request.logPath = logPath(dir, QStringLiteral("command"));
    const qint64 commandStarted = monotonicMs();
    session.session = spawnDetached(request, error);
    if (session.session.isNull()) {
        failure.message = tr("Cannot run the command: %1").arg(error);
        failure.log = QStringLiteral("command");
        destroy(session, true);
        return false;
    }
    save(session);

    if (!startRdp(session, failure)) {
        destroy(session, !failure.log.isEmpty());
        return false;
    }
    // A command that cannot run at all (not found, bad syntax) ends at once.
    const qint64 waited = monotonicMs() - commandStarted;
    if (waited < CommandGraceMs)
        sleepMs(int(CommandGraceMs - waited));
    if (!session.session.groupAlive()) {
        failure.message = tr("The command ended right after it started.");
        failure.log = QStringLiteral("command");
        destroy(session, true);
        return false;
    }
    session.state = QStringLiteral("running");
    if (!save(session)) {
        failure.message = tr("Cannot write the session's files.");
        destroy(session, false);
        return false;
    }
    result = session;
    return true;
}

bool SessionStore::withSession(const QString &id, bool mustRun, SessionFailure &failure,
                               const std::function<bool(ServerSession &)> &action)
{
    ServerSession session;
    if (!isValidId(id) || !lock()) {
        failure.message = tr("The session does not exist.");
        return false;
    }
    const LockGuard guard(this);
    if (!load(id, session) || (mustRun && !checkAlive(session))) {
        failure.message = tr("The session does not exist.");
        return false;
    }
    return action(session);
}

bool SessionStore::connectInfo(const QString &id, ServerSession &result, SessionFailure &failure)
{
    return withSession(id, true, failure, [&](ServerSession &session) {
        if (!isListeningOn(session.rdp, session.port)) {
            // The RDP server went away on its own: bring it back on its port.
            terminateGroups({session.rdp}, 1000);
            const bool ok = startRdp(session, failure);
            save(session);
            if (!ok)
                return false;
        }
        result = session;
        return true;
    });
}

bool SessionStore::disconnect(const QString &id, SessionFailure &failure)
{
    return withSession(id, true, failure, [&](ServerSession &session) {
        // The RDP server drops all its viewers on this signal; the display and
        // its programs stay. One that went away is brought back instead.
        bool ok = signalProcess(session.rdp, SIGUSR1);
        if (!ok) {
            terminateGroups({session.rdp}, 1000);
            ok = startRdp(session, failure);
        }
        if (session.clients > 0) {
            session.clients = 0;
            session.lastDisconnect = now();
        }
        save(session);
        return ok;
    });
}

bool SessionStore::terminate(const QString &id, SessionFailure &failure)
{
    return withSession(id, false, failure, [&](ServerSession &session) {
        destroy(session, false);
        return true;
    });
}

bool SessionStore::rename(const QString &id, const QString &name, SessionFailure &failure)
{
    return withSession(id, false, failure, [&](ServerSession &session) {
        session.name = name;
        if (!listHasRoomFor(session)) {
            failure.message = tr("The name is too long for the session list.");
            return false;
        }
        if (save(session))
            return true;
        failure.message = tr("Cannot write the session's files.");
        return false;
    });
}

bool SessionStore::readLog(const QString &id, const QString &log, QString &contents, SessionFailure &failure)
{
    if (!isValidId(id) || !LogNames.contains(log)) {
        failure.message = tr("There is no such log.");
        return false;
    }
    for (const QString &dir : {sessionDir(id), failedDir(id)}) {
        const QString path = logPath(dir, log);
        if (QFileInfo::exists(path)) {
            const QByteArray tail = readTail(path, LogTailBytes);
            // All of it, NUL bytes included; bytes that need escapes may make
            // it too long for one reply, then its oldest part goes.
            contents = QString::fromUtf8(tail.constData(), tail.size());
            while (ReplyLimits::jsonBytes(contents) > ReplyLimits::LogBytes)
                contents.remove(0, contents.size() / 4 + 1);
            return true;
        }
    }
    failure.message = tr("There is no such log.");
    return false;
}
