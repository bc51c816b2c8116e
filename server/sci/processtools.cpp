#include "processtools.h"

#include <QDir>
#include <QFile>
#include <QJsonValue>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// Fields of /proc/<pid>/stat after the command name: state, ppid, pgrp, ...
struct ProcStat
{
    char state = 0;
    qint64 pgrp = 0;
    qint64 sid = 0;
    quint64 startTime = 0;
};

bool readProcStat(qint64 pid, ProcStat &stat)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    // The command name may hold blanks and parentheses: the fields follow the last ')'.
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // fields[0] is field 3 (state); field 5 is pgrp, field 22 the start time.
    if (fields.size() < 20 || fields[0].isEmpty())
        return false;
    stat.state = fields[0][0];
    stat.pgrp = fields[2].toLongLong();
    stat.sid = fields[3].toLongLong();
    stat.startTime = fields[19].toULongLong();
    return true;
}

bool isRunningState(char state) { return state != 'Z' && state != 'X' && state != 'x'; }

// Moves all `size` bytes with read() or write(), going on after interruptions;
// false on an error or the end of the input. Safe between fork() and exec().
template <typename Transfer>
bool transferAll(Transfer transfer, int fd, char *p, size_t size)
{
    while (size > 0) {
        const ssize_t n = transfer(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool readAll(int fd, void *data, size_t size)
{
    return transferAll(::read, fd, static_cast<char *>(data), size);
}

void closeFrom(int lowest)
{
#ifdef SYS_close_range
    if (syscall(SYS_close_range, unsigned(lowest), ~0U, 0U) == 0)
        return;
#endif
    long max = sysconf(_SC_OPEN_MAX);
    if (max < 0 || max > 65536)
        max = 65536;
    for (int fd = lowest; fd < max; ++fd)
        ::close(fd);
}

struct TcpEntry
{
    bool loopback = false; // local address 127.0.0.1 (also IPv4-mapped)
    quint16 localPort = 0;
    int state = 0;
    quint64 inode = 0;
};

// An address word as /proc/net/tcp{,6} print it: network order read as a host integer.
QByteArray printedWord(quint32 hostOrder)
{
    return QByteArray::number(htonl(hostOrder), 16).rightJustified(8, '0').toUpper();
}

QList<TcpEntry> readTcpTable()
{
    const QByteArray loopback = printedWord(INADDR_LOOPBACK);
    const QByteArray mappedLoopback = "0000000000000000" + printedWord(0xffff) + loopback;
    QList<TcpEntry> entries;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // header
        while (!file.atEnd()) {
            const QList<QByteArray> fields = file.readLine().simplified().split(' ');
            if (fields.size() < 10)
                continue;
            const QList<QByteArray> local = fields[1].split(':');
            if (local.size() != 2)
                continue;
            TcpEntry entry;
            entry.loopback = local[0].toUpper() == loopback || local[0].toUpper() == mappedLoopback;
            entry.localPort = quint16(local[1].toUInt(nullptr, 16));
            entry.state = fields[3].toInt(nullptr, 16);
            entry.inode = fields[9].toULongLong();
            entries.append(entry);
        }
    }
    return entries;
}

constexpr int TcpEstablished = 0x01;
constexpr int TcpListen = 0x0A;

} // namespace

bool writeAll(int fd, const void *data, size_t size)
{
    auto write = [](int f, const char *p, size_t n) { return ::write(f, p, n); };
    return transferAll(write, fd, static_cast<char *>(const_cast<void *>(data)), size);
}

QString currentBootId()
{
    static const QString id = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QString();
    }();
    return id;
}

bool ProcessRef::isAlive() const
{
    if (pid <= 0 || (!bootId.isEmpty() && bootId != currentBootId()))
        return false;
    ProcStat stat;
    return readProcStat(pid, stat) && isRunningState(stat.state) && stat.startTime == startTime;
}

QList<qint64> ProcessRef::groupMembers() const
{
    if (isAlive())
        return {pid};
    QList<qint64> members;
    if (pid <= 0 || (!bootId.isEmpty() && bootId != currentBootId()))
        return members;
    // The leader is gone; its group lives on while any member runs. Members
    // share its session too and cannot be older than the leader that made them.
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 other = entry.toLongLong(&ok);
        ProcStat stat;
        if (ok && readProcStat(other, stat) && stat.pgrp == pid && stat.sid == pid && stat.startTime >= startTime
            && isRunningState(stat.state))
            members.append(other);
    }
    return members;
}

bool ProcessRef::groupAlive() const
{
    return !groupMembers().isEmpty();
}

bool signalProcess(const ProcessRef &process, int signal)
{
    return process.isAlive() && ::kill(pid_t(process.pid), signal) == 0;
}

QJsonObject ProcessRef::toJson() const
{
    return QJsonObject{{QStringLiteral("pid"), double(pid)},
                       {QStringLiteral("startTime"), QString::number(startTime)},
                       {QStringLiteral("bootId"), bootId}};
}

ProcessRef ProcessRef::fromJson(const QJsonObject &object)
{
    ProcessRef ref;
    ref.pid = qint64(object.value(QStringLiteral("pid")).toDouble());
    ref.startTime = object.value(QStringLiteral("startTime")).toString().toULongLong();
    ref.bootId = object.value(QStringLiteral("bootId")).toString();
    return ref;
}

ProcessRef ProcessRef::of(qint64 pid)
{
    ProcessRef ref;
    ProcStat stat;
    if (pid > 0 && readProcStat(pid, stat)) {
        ref.pid = pid;
        ref.startTime = stat.startTime;
        ref.bootId = currentBootId();
    }
    return ref;
}

ProcessRef spawnDetached(const SpawnRequest &request, QString &error)
{
    if (request.arguments.isEmpty()) {
        error = QStringLiteral("no program");
        return {};
    }
    // Everything the child needs is prepared before fork(): after it only
    // async-signal-safe calls are made.
    std::vector<QByteArray> argStore, envStore;
    for (const QString &a : request.arguments)
        argStore.push_back(a.toLocal8Bit());
    for (const QString &e : request.environment)
        envStore.push_back(e.toLocal8Bit());
    std::vector<char *> argv, envp;
    for (QByteArray &a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (QByteArray &e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const QByteArray logPath = QFile::encodeName(request.logPath);
    const QByteArray workDir = QFile::encodeName(request.workingDirectory);

    const int logFd = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (logFd < 0) {
        error = QStringLiteral("cannot open %1: %2").arg(request.logPath, QString::fromLocal8Bit(strerror(errno)));
        return {};
    }
    // `report` carries the program's process id from the middle process,
    // `status` the errno of a failed exec() from the program's process.
    int report[2], status[2];
    if (pipe2(report, O_CLOEXEC) < 0) {
        error = QString::fromLocal8Bit(strerror(errno));
        ::close(logFd);
        return {};
    }
    if (pipe2(status, O_CLOEXEC) < 0) {
        error = QString::fromLocal8Bit(strerror(errno));
        ::close(logFd);
        ::close(report[0]);
        ::close(report[1]);
        return {};
    }

    const pid_t middle = fork();
    if (middle < 0) {
        error = QString::fromLocal8Bit(strerror(errno));
        ::close(logFd);
        ::close(report[0]);
        ::close(report[1]);
        ::close(status[0]);
        ::close(status[1]);
        return {};
    }
    if (middle == 0) {
        // The middle process only forks and leaves, so the program is adopted
        // by init and never becomes our zombie.
        const pid_t child = fork();
        if (child != 0) {
            const qint64 value = child;
            (void)writeAll(report[1], &value, sizeof value);
            _exit(child < 0 ? 1 : 0);
        }
        setsid();
        sigset_t all;
        sigemptyset(&all);
        sigprocmask(SIG_SETMASK, &all, nullptr);
        for (int sig = 1; sig < NSIG; ++sig)
            signal(sig, SIG_DFL);
        const int nullFd = ::open("/dev/null", O_RDONLY);
        if (nullFd < 0 || dup2(nullFd, 0) < 0 || dup2(logFd, 1) < 0 || dup2(logFd, 2) < 0)
            _exit(127);
        // The report pipe stays open (close-on-exec) to tell about a failed exec().
        const int errFd = fcntl(status[1], F_DUPFD_CLOEXEC, 1000);
        int lowest = 3;
        if (request.passFd >= 0) {
            if (dup2(request.passFd, 3) < 0 || fcntl(3, F_SETFD, 0) < 0)
                _exit(127);
            lowest = 4;
        }
        if (errFd < 0 || dup3(errFd, lowest, O_CLOEXEC) < 0)
            _exit(127);
        closeFrom(lowest + 1);
        if (!workDir.isEmpty() && chdir(workDir.constData()) < 0) {
            // Stay where we are; the program may not care.
        }
        execve(argv[0], argv.data(), envp.data());
        const qint64 failure = -qint64(errno);
        (void)writeAll(lowest, &failure, sizeof failure);
        _exit(127);
    }

    ::close(report[1]);
    ::close(status[1]);
    ::close(logFd);
    int middleStatus = 0;
    while (waitpid(middle, &middleStatus, 0) < 0 && errno == EINTR) {
    }
    qint64 child = 0;
    const bool gotPid = readAll(report[0], &child, sizeof child);
    ::close(report[0]);
    qint64 failure = 0;
    const bool execFailed = gotPid && readAll(status[0], &failure, sizeof failure) && failure < 0;
    ::close(status[0]);
    if (!gotPid || child <= 0) {
        error = QStringLiteral("fork failed");
        return {};
    }
    if (execFailed) {
        error = QStringLiteral("cannot run %1: %2")
                    .arg(request.arguments.first(), QString::fromLocal8Bit(strerror(int(-failure))));
        return {};
    }
    ProcessRef ref = ProcessRef::of(child);
    if (ref.isNull()) {
        // Already gone again: keep the id so the caller sees a dead process.
        ref.pid = child;
        ref.startTime = ~quint64(0);
    }
    return ref;
}

void terminateGroups(const QList<ProcessRef> &processes, int graceMs)
{
    // A live leader is signalled through its group; otherwise each member
    // found for it, so a recycled process id never draws a signal.
    auto signalAll = [](const QList<ProcessRef> &refs, int signal) {
        QList<ProcessRef> live;
        for (const ProcessRef &p : refs) {
            if (p.isAlive()) {
                ::kill(pid_t(-p.pid), signal);
                live.append(p);
                continue;
            }
            const QList<qint64> members = p.groupMembers();
            for (qint64 member : members)
                ::kill(pid_t(member), signal);
            if (!members.isEmpty())
                live.append(p);
        }
        return live;
    };
    auto waitGone = [](QList<ProcessRef> &live, int ms) {
        for (int waited = 0; !live.isEmpty() && waited < ms; waited += 50) {
            sleepMs(50);
            for (int i = live.size() - 1; i >= 0; --i) {
                if (!live[i].groupAlive())
                    live.removeAt(i);
            }
        }
    };
    QList<ProcessRef> live = signalAll(processes, SIGTERM);
    waitGone(live, graceMs);
    live = signalAll(live, SIGKILL);
    waitGone(live, 2000);
}

quint16 findFreeLocalPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    quint16 port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool isListeningOn(const ProcessRef &process, quint16 port)
{
    if (!process.isAlive())
        return false;
    QList<quint64> inodes;
    for (const TcpEntry &entry : readTcpTable()) {
        if (entry.state == TcpListen && entry.localPort == port && entry.loopback)
            inodes.append(entry.inode);
    }
    if (inodes.isEmpty())
        return false;
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(process.pid);
    const QStringList fds = QDir(fdDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &fd : fds) {
        const QString target = QFile::symLinkTarget(fdDir + QLatin1Char('/') + fd);
        for (quint64 inode : inodes) {
            if (target.endsWith(QStringLiteral("socket:[%1]").arg(inode)))
                return true;
        }
    }
    return false;
}

int countConnections(quint16 port)
{
    int count = 0;
    for (const TcpEntry &entry : readTcpTable()) {
        if (entry.state == TcpEstablished && entry.localPort == port && entry.loopback)
            ++count;
    }
    return count;
}

bool writeXauthority(const QString &path, const QByteArray &cookie, QString &error)
{
    auto field = [](const QByteArray &bytes) {
        QByteArray out;
        out.append(char((bytes.size() >> 8) & 0xff));
        out.append(char(bytes.size() & 0xff));
        out.append(bytes);
        return out;
    };
    QByteArray entry;
    entry.append(char(0xff)); // FamilyWild: any host, any display
    entry.append(char(0xff));
    entry += field(QByteArray());
    entry += field(QByteArray());
    entry += field(QByteArrayLiteral("MIT-MAGIC-COOKIE-1"));
    entry += field(cookie);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(entry);
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

QByteArray readTail(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const qint64 size = file.size();
    if (size > maxBytes)
        file.seek(size - maxBytes);
    return file.read(maxBytes);
}

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
