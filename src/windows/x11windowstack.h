#pragma once

#include <QObject>
#include <QVector>

class QSocketNotifier;

// The stacking of the top-level windows on the X display, as an EWMH window manager keeps it,
// and the means to restack them. Windows are named by their client window ids (a top-level
// QWidget's winId()). Without an X display (or without a window manager that keeps the
// stacking list) the stacking is empty and restacking does nothing.
class X11WindowStack : public QObject
{
    Q_OBJECT

public:
    explicit X11WindowStack(QObject *parent = nullptr);
    ~X11WindowStack() override;

    bool isAvailable() const { return display != nullptr; }

    // The managed client windows from bottom to top (_NET_CLIENT_LIST_STACKING).
    QVector<quint32> stacking() const;
    // Whether the window manager keeps the window above ordinary ones (_NET_WM_STATE_ABOVE).
    bool staysOnTop(quint32 window) const;
    // Puts window directly above or below sibling; with no sibling (0) at the top or bottom
    // of its layer (_NET_RESTACK_WINDOW).
    void restack(quint32 window, quint32 sibling, bool above);
    // Gives window the focus as a pager would, which window managers do without weighing
    // it against the user's last input (_NET_ACTIVE_WINDOW).
    void activate(quint32 window);
    // Makes window belong to owner (WM_TRANSIENT_FOR), which window managers keep it above;
    // owner 0 takes that back.
    void setTransientFor(quint32 window, quint32 owner);

signals:
    // The stacking list changed: before and after, bottom to top.
    void stackingChanged(const QVector<quint32> &before, const QVector<quint32> &after);

private:
    void readEvents();
    void sendToWindowManager(unsigned long type, quint32 window, long first, long second);
    void readEventsLater() const;

    struct _XDisplay *display = nullptr;
    unsigned long root = 0;
    unsigned long stackingAtom = 0;
    unsigned long restackAtom = 0;
    unsigned long activeAtom = 0;
    unsigned long stateAtom = 0;
    unsigned long aboveAtom = 0;
    QSocketNotifier *notifier = nullptr;
    QVector<quint32> last;
};
