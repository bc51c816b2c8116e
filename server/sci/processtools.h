#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstddef>

// One process of a session, recognised by its id, its start time and the boot
// it runs in, so that a recycled process id (also after a restart of the host)
// is never taken for the process we started.
struct ProcessRef
{
    qint64 pid = 0;
    quint64 startTime = 0; // clock ticks after boot, from /proc/<pid>/stat
    QString bootId;        // empty in records of older versions: not checked

    bool isNull() const { return pid <= 0; }
    // Running (a zombie counts as ended).
    bool isAlive() const;
    // Some process of its process group is still running.
    bool groupAlive() const;
    // The running processes of its group and session that started after it:
    // the leader itself while it runs, else what is left of its group. Never a
    // stranger that merely got a recycled number.
    QList<qint64> groupMembers() const;

    QJsonObject toJson() const;
    static ProcessRef fromJson(const QJsonObject &object);
    static ProcessRef of(qint64 pid);
};

// How a detached process is started.
struct SpawnRequest
{
    QStringList arguments;         // the program first
    QStringList environment;       // complete, "NAME=value"
    QString workingDirectory;
    QString logPath;               // standard output and error, appended
    int passFd = -1;               // handed to the program as descriptor 3
};

// Starts a process that outlives this program: its own session and process
// group, standard input from /dev/null, output to the log, no other descriptor
// of ours, default signal handling, and not our child (so no zombie is left
// here). Returns the process, or a null reference with `error` set.
ProcessRef spawnDetached(const SpawnRequest &request, QString &error);

// Sends `signal` to the process only when it is still the one we started.
bool signalProcess(const ProcessRef &process, int signal);

// The identity of the running system ("" when unknown): changes with each boot.
QString currentBootId();

// SIGTERM to the process group of each process, then SIGKILL to what is left
// after `graceMs`.
void terminateGroups(const QList<ProcessRef> &processes, int graceMs);

// A TCP port on 127.0.0.1 that nobody listens on right now.
quint16 findFreeLocalPort();

// True when `process` holds a listening TCP socket on 127.0.0.1:`port`.
bool isListeningOn(const ProcessRef &process, quint16 port);

// Established TCP connections whose local end is 127.0.0.1:`port`.
int countConnections(quint16 port);

// Writes an X authority file with one wildcard MIT-MAGIC-COOKIE-1 entry.
bool writeXauthority(const QString &path, const QByteArray &cookie, QString &error);

// Writes all bytes to a descriptor, going on after interruptions; false on an
// error. Safe between fork() and exec().
bool writeAll(int fd, const void *data, size_t size);

// Milliseconds on the monotonic clock, and a sleep that goes on after interruptions.
qint64 monotonicMs();
void sleepMs(int ms);

// Reads up to `maxBytes` from the end of a file.
QByteArray readTail(const QString &path, qint64 maxBytes);
