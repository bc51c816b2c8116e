#include "sessionstore.h"

#include "app/cookie.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int DefaultWidth = 1024;
constexpr int DefaultHeight = 768;
constexpr int FirstDisplay = 200;
constexpr int LastDisplay = 999;
constexpr int XvfbStartMs = 15000;
constexpr int RdpStartMs = 15000;
constexpr int CommandGraceMs = 400;
constexpr qint64 LogTailBytes = 16000;
constexpr int KeptFailedStarts = 20;

const QStringList LogNames{QStringLiteral("xvfb"), QStringLiteral("rdp"), QStringLiteral("command")};

QString tr(const char *text) { return QCoreApplication::translate("SessionStore", text); }

QString now() { return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")); }

qint64 monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepMs(int ms)
{
    timespec ts{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) < 0 && errno == EINTR) {
    }
}

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
         QJsonObject{{QStringLiteral("xvfb"), xvfb.toJson()},
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
    s.xvfb = ProcessRef::fromJson(processes.value(QStringLiteral("xvfb")).toObject());
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

SessionStore::SessionStore(const QString &dataDir, const QString &authLibrary)
    : m_dataDir(dataDir), m_authLibrary(authLibrary)
{
}

SessionStore::~SessionStore()
{
    delete m_lock;
}

bool SessionStore::isValidId(const QString &id)
{
    // Ids name folders: nothing that could step out of ours.
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
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
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})[xX](\\d{1,5})$"));
    const QRegularExpressionMatch match = pattern.match(value);
    if (!match.hasMatch())
        return false;
    width = match.captured(1).toInt();
    height = match.captured(2).toInt();
    return width >= 64 && height >= 64 && width <= 8192 && height <= 8192;
}

QString SessionStore::sessionDir(const QString &id) const { return m_dataDir + QStringLiteral("/sessions/") + id; }

QString SessionStore::failedDir(const QString &id) const { return m_dataDir + QStringLiteral("/failed/") + id; }

bool SessionStore::lock()
{
    if (m_lockDepth > 0) {
        ++m_lockDepth;
        return true;
    }
    if (!makePrivateDir(m_dataDir))
        return false;
    if (!m_lock) {
        m_lock = new QLockFile(m_dataDir + QStringLiteral("/state.lock"));
        // Only a dead owner makes the lock stale: a start may take a while.
        m_lock->setStaleLockTime(0);
    }
    if (!m_lock->tryLock(60000))
        return false;
    m_lockDepth = 1;
    return true;
}

void SessionStore::unlock()
{
    if (m_lockDepth > 0 && --m_lockDepth == 0)
        m_lock->unlock();
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
    terminateGroups({session.rdp, session.session, session.xvfb}, 3000);
    if (session.display >= 0) {
        // A display server killed hard leaves its lock behind.
        const QString lockFile = QStringLiteral("/tmp/.X%1-lock").arg(session.display);
        QFile file(lockFile);
        if (file.open(QIODevice::ReadOnly)) {
            const qint64 owner = file.readAll().trimmed().toLongLong();
            file.close();
            if (owner == session.xvfb.pid && !session.xvfb.isAlive()) {
                QFile::remove(lockFile);
                QFile::remove(QStringLiteral("/tmp/.X11-unix/X%1").arg(session.display));
            }
        }
    }
    const QString dir = sessionDir(session.id);
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
    QDir failed(m_dataDir + QStringLiteral("/failed"));
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
    if (!session.xvfb.isAlive() || !session.session.groupAlive()) {
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

QList<ServerSession> SessionStore::list()
{
    QList<ServerSession> sessions;
    const bool locked = lock();
    const QStringList ids = QDir(m_dataDir + QStringLiteral("/sessions")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &id : ids) {
        ServerSession session;
        if (!isValidId(id) || !load(id, session))
            continue;
        if (!locked) {
            // Someone holds the lock for long: report without cleaning up.
            if (session.state == QLatin1String("running") && session.xvfb.isAlive())
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
                             "XDG_SESSION_ID", "NUVEK_RDP_AUTH_FILE", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(session.display));
    env.insert(QStringLiteral("XAUTHORITY"), sessionDir(session.id) + QStringLiteral("/Xauthority"));
    return env.toStringList();
}

bool SessionStore::startXvfb(ServerSession &session, int width, int height, SessionFailure &failure)
{
    const QString xvfb = findProgram(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty()) {
        failure.message = tr("The virtual display server Xvfb is not installed.");
        return false;
    }
    QList<int> taken;
    const QStringList ids = QDir(m_dataDir + QStringLiteral("/sessions")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
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
        request.arguments = QStringList{xvfb, QStringLiteral(":%1").arg(display),
                                        QStringLiteral("-screen"), QStringLiteral("0"),
                                        QStringLiteral("%1x%2x24").arg(width).arg(height),
                                        QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                        // A reset when the last client leaves would also
                                        // throw out the RDP server connecting next.
                                        QStringLiteral("-noreset"),
                                        QStringLiteral("-auth"), dir + QStringLiteral("/Xauthority"),
                                        QStringLiteral("-displayfd"), QStringLiteral("3")};
        session.display = display;
        request.environment = baseEnvironment(session);
        request.workingDirectory = QStringLiteral("/");
        request.logPath = logPath(dir, QStringLiteral("xvfb"));
        request.passFd = ready[1];
        QString error;
        session.xvfb = spawnDetached(request, error);
        ::close(ready[1]);
        if (session.xvfb.isNull()) {
            ::close(ready[0]);
            failure.message = tr("Cannot start the virtual display: %1").arg(error);
            failure.log = QStringLiteral("xvfb");
            return false;
        }
        save(session);
        // The display server writes its number here once it accepts clients;
        // the pipe closes without it when the server gives up.
        QByteArray answer;
        const qint64 deadline = monotonicMs() + XvfbStartMs;
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
        if (answer.contains('\n') && session.xvfb.isAlive())
            return true;
        terminateGroups({session.xvfb}, 1000);
        const QByteArray log = readTail(request.logPath, LogTailBytes);
        if (log.contains("already active") || log.contains("server already running")
            || log.contains("Cannot establish any listening sockets")) {
            continue; // another display server won the race for this number
        }
        failure.message = tr("The virtual display did not start.");
        failure.log = QStringLiteral("xvfb");
        return false;
    }
    failure.message = tr("No free display number was found.");
    failure.log = QStringLiteral("xvfb");
    return false;
}

bool SessionStore::startRdp(ServerSession &session, SessionFailure &failure)
{
    const QString shadow = findProgram(QStringLiteral("freerdp-shadow-cli"));
    if (shadow.isEmpty()) {
        failure.message = tr("The RDP server freerdp-shadow-cli is not installed.");
        return false;
    }
    if (m_authLibrary.isEmpty()) {
        failure.message = tr("The RDP login library libnuvek2_rdpauth.so was not found beside the program.");
        return false;
    }
    const QString dir = sessionDir(session.id);
    const QString authFile = dir + QStringLiteral("/rdp-password");
    if (!writePrivateFile(authFile, session.password.toUtf8())) {
        failure.message = tr("Cannot write the session's files.");
        return false;
    }
    QStringList env = baseEnvironment(session);
    env.erase(std::remove_if(env.begin(), env.end(),
                             [](const QString &e) {
                                 return e.startsWith(QLatin1String("LD_PRELOAD="))
                                     || e.startsWith(QLatin1String("XDG_CONFIG_HOME="))
                                     || e.startsWith(QLatin1String("WLOG_LEVEL="));
                             }),
              env.end());
    // The library stands in for the system's login check of the RDP server, so
    // the session's own password opens it; the certificate stays with the session.
    env << QStringLiteral("LD_PRELOAD=") + m_authLibrary
        << QStringLiteral("NUVEK_RDP_AUTH_FILE=") + authFile
        << QStringLiteral("XDG_CONFIG_HOME=") + dir + QStringLiteral("/rdp-config")
        << QStringLiteral("WLOG_LEVEL=WARN");

    const bool keepPort = session.port != 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!keepPort || attempt > 0)
            session.port = findFreeLocalPort();
        if (session.port == 0) {
            failure.message = tr("No free port was found for the RDP server.");
            return false;
        }
        SpawnRequest request;
        request.arguments = QStringList{shadow, QStringLiteral("/bind-address:127.0.0.1"),
                                        QStringLiteral("/port:%1").arg(session.port),
                                        QStringLiteral("/sec:rdp"), QStringLiteral("+auth")};
        request.environment = env;
        request.workingDirectory = dir;
        request.logPath = logPath(dir, QStringLiteral("rdp"));
        QString error;
        session.rdp = spawnDetached(request, error);
        if (session.rdp.isNull()) {
            failure.message = tr("Cannot start the RDP server: %1").arg(error);
            failure.log = QStringLiteral("rdp");
            return false;
        }
        save(session);
        const qint64 deadline = monotonicMs() + RdpStartMs;
        while (monotonicMs() < deadline && session.rdp.isAlive() && !isListeningOn(session.rdp, session.port))
            sleepMs(50);
        if (isListeningOn(session.rdp, session.port))
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
    // The RDP server shows whole desktops only: a single-application request
    // gets a desktop of the default size.
    session.windowMode = QStringLiteral("desktop");
    session.started = now();
    session.state = QStringLiteral("starting");
    if (!generateCookie(session.password, error) || !save(session)) {
        failure.message = tr("Cannot write the session's files.");
        QDir(dir).removeRecursively();
        return false;
    }

    if (!startXvfb(session, width, height, failure)) {
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
        // The shadow server cannot drop single viewers: a fresh one on the same
        // port drops them all while the display and its programs stay.
        terminateGroups({session.rdp}, 2000);
        if (session.clients > 0) {
            session.clients = 0;
            session.lastDisconnect = now();
        }
        const bool ok = startRdp(session, failure);
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
            contents = QString::fromUtf8(readTail(path, LogTailBytes));
            return true;
        }
    }
    failure.message = tr("There is no such log.");
    return false;
}
