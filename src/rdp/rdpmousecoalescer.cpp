#include "rdp/rdpmousecoalescer.h"

#include "rdp/rdpmouse.h"

#include <QTimer>

#include <utility>

RdpMouseCoalescer::RdpMouseCoalescer(Sender send, QObject *parent)
    : QObject(parent), send(std::move(send)), timer(new QTimer(this))
{
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &RdpMouseCoalescer::sendPending);
}

void RdpMouseCoalescer::move(const QPoint &p)
{
    pending = p;
    if (timer->isActive())
        return;
    last = p;
    timer->start(0);
    send(RdpPointerMove, p);
}

void RdpMouseCoalescer::button(quint16 flags, const QPoint &p)
{
    if (p != last)
        flags |= RdpPointerMove;
    last = pending = p;
    timer->start(0);
    send(flags, p);
}

void RdpMouseCoalescer::flush()
{
    if (!timer->isActive())
        return;
    timer->stop();
    sendPending();
}

void RdpMouseCoalescer::sendPending()
{
    // The last position an event brought, not the real cursor's: events may be synthetic,
    // and the cursor may be elsewhere by now.
    if (pending == last)
        return;
    last = pending;
    send(RdpPointerMove, pending);
}
