#pragma once

#include <QSet>
#include <QtGlobal>

// The TCP sockets a connect step opens, found without looking into FreeRDP: its transport is
// made and freed on the worker thread, so the GUI thread must not read it while the step
// runs. The process's sockets are read from /proc instead.
//
// Made just before the connect step starts, it remembers the sockets that exist already;
// shutdown() shuts down every later one whose peer port is the one the step connects to,
// so that a read blocked on it returns at once. Each socket is held by a duplicate of its
// descriptor while it is shut down: a descriptor the worker closes meanwhile, and the number
// reused, is recognised by its inode and left alone.
class RdpConnectSockets
{
public:
    explicit RdpConnectSockets(quint16 peerPort);

    // Returns how many sockets were shut down.
    int shutdown() const;

private:
    quint16 peerPort;
    QSet<quint64> before;
};
