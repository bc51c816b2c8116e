#pragma once

#include <QObject>
#include <QPoint>

#include <functional>

class QTimer;

// Sends a window's pointer events to the server, at most one move per pass of the event loop:
// the first move of a burst goes at once, the position of the last one when the event loop
// comes round again. Positions are remote coordinates.
class RdpMouseCoalescer : public QObject
{
    Q_OBJECT

public:
    using Sender = std::function<void(quint16 flags, const QPoint &p)>;

    RdpMouseCoalescer(Sender send, QObject *parent);

    void move(const QPoint &p);
    // A button event (its button and down flags); carries a move when the position changed.
    void button(quint16 flags, const QPoint &p);
    // Sends a move that is still held back (the window loses the focus).
    void flush();

private:
    void sendPending();

    Sender send;
    QTimer *timer;
    QPoint last;    // last position sent
    QPoint pending; // last position an event brought
};
