#include "rdp/rdpconnectsockets.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <sys/socket.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Inodes of this process's TCP sockets; those whose peer port is peerPort when it is not 0.
QSet<quint64> tcpSocketInodes(quint16 peerPort)
{
    QSet<quint64> inodes;
    for (const char *table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        QFile file{QString::fromLatin1(table)};
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // the heading
        while (!file.atEnd()) {
            // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid
            // timeout inode ...
            const QList<QByteArray> fields = file.readLine().simplified().split(' ');
            if (fields.size() < 10)
                continue;
            const QByteArray &remote = fields.at(2);
            bool ok = false;
            const uint port = remote.mid(remote.lastIndexOf(':') + 1).toUInt(&ok, 16);
            if (!ok || (peerPort != 0 && port != peerPort))
                continue;
            const quint64 inode = fields.at(9).toULongLong(&ok);
            if (ok && inode != 0)
                inodes.insert(inode);
        }
    }
    return inodes;
}

// This process's descriptors that refer to sockets, by socket inode.
QHash<quint64, int> socketDescriptors()
{
    QHash<quint64, int> descriptors;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(name));
        if (!target.contains(QLatin1String("socket:[")))
            continue;
        const int start = target.indexOf(QLatin1Char('[')) + 1;
        bool ok = false;
        const quint64 inode = target.mid(start, target.indexOf(QLatin1Char(']')) - start).toULongLong(&ok);
        const int fd = name.toInt();
        if (ok)
            descriptors.insert(inode, fd);
    }
    return descriptors;
}

} // namespace

RdpConnectSockets::RdpConnectSockets(quint16 peerPort)
    : peerPort(peerPort), before(tcpSocketInodes(0))
{
}

int RdpConnectSockets::shutdown() const
{
    if (peerPort == 0)
        return 0;
    QSet<quint64> targets = tcpSocketInodes(peerPort);
    targets.subtract(before);
    if (targets.isEmpty())
        return 0;
    int count = 0;
    const QHash<quint64, int> descriptors = socketDescriptors();
    for (auto it = descriptors.cbegin(); it != descriptors.cend(); ++it) {
        if (!targets.contains(it.key()))
            continue;
        // Our own reference first: from now on the socket cannot change under the number.
        const int copy = ::fcntl(it.value(), F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            continue;
        struct stat info;
        if (::fstat(copy, &info) == 0 && S_ISSOCK(info.st_mode) && quint64(info.st_ino) == it.key()) {
            ::shutdown(copy, SHUT_RDWR);
            ++count;
        }
        ::close(copy);
    }
    return count;
}
