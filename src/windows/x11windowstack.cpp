#include "windows/x11windowstack.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// A window property of 32-bit items (Xlib hands them over as longs).
QVector<unsigned long> longProperty(Display *display, Window window, Atom property, Atom type)
{
    QVector<unsigned long> values;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 4096, False, type, &actualType, &format,
                           &count, &remaining, &data)
            == Success
        && data && format == 32) {
        const auto *items = reinterpret_cast<const unsigned long *>(data);
        values.reserve(int(count));
        for (unsigned long i = 0; i < count; ++i)
            values.append(items[i]);
    }
    if (data)
        XFree(data);
    return values;
}

// Windows of other programs may be gone by the time we ask about them; Xlib's own handler
// would end the program for that.
int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

} // namespace

X11WindowStack::X11WindowStack(QObject *parent) : QObject(parent)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    const QByteArray name = qgetenv("DISPLAY");
    display = name.isEmpty() ? nullptr : XOpenDisplay(name.constData());
    if (!display)
        return;
    root = DefaultRootWindow(display);
    stackingAtom = XInternAtom(display, "_NET_CLIENT_LIST_STACKING", False);
    restackAtom = XInternAtom(display, "_NET_RESTACK_WINDOW", False);
    activeAtom = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    stateAtom = XInternAtom(display, "_NET_WM_STATE", False);
    aboveAtom = XInternAtom(display, "_NET_WM_STATE_ABOVE", False);
    // Our own connection hears of the stacking changes, whatever Qt listens to.
    XSelectInput(display, root, PropertyChangeMask);
    XFlush(display);
    last = stacking();
    notifier = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &X11WindowStack::readEvents);
}

X11WindowStack::~X11WindowStack()
{
    delete notifier;
    if (display)
        XCloseDisplay(display);
}

QVector<quint32> X11WindowStack::stacking() const
{
    QVector<quint32> windows;
    if (!display)
        return windows;
    for (unsigned long window : longProperty(display, root, stackingAtom, XA_WINDOW))
        windows.append(quint32(window));
    readEventsLater();
    return windows;
}

bool X11WindowStack::staysOnTop(quint32 window) const
{
    if (!display || !window)
        return false;
    int (*previous)(Display *, XErrorEvent *) = XSetErrorHandler(ignoreXError);
    const bool above = longProperty(display, window, stateAtom, XA_ATOM).contains(aboveAtom);
    XSync(display, False);
    XSetErrorHandler(previous);
    readEventsLater();
    return above;
}

void X11WindowStack::restack(quint32 window, quint32 sibling, bool above)
{
    sendToWindowManager(restackAtom, window, long(sibling), above ? Above : Below);
}

void X11WindowStack::activate(quint32 window)
{
    sendToWindowManager(activeAtom, window, CurrentTime, 0);
}

void X11WindowStack::sendToWindowManager(unsigned long type, quint32 window, long first, long second)
{
    if (!display || !window)
        return;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // from a pager: the window manager does as it is told
    event.xclient.data.l[1] = first;
    event.xclient.data.l[2] = second;
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}

void X11WindowStack::setTransientFor(quint32 window, quint32 owner)
{
    if (!display || !window)
        return;
    if (owner)
        XSetTransientForHint(display, window, owner);
    else
        XDeleteProperty(display, window, XA_WM_TRANSIENT_FOR);
    XFlush(display);
}

void X11WindowStack::readEvents()
{
    bool changed = false;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == PropertyNotify && event.xproperty.window == root
            && event.xproperty.atom == stackingAtom)
            changed = true;
    }
    if (!changed)
        return;
    const QVector<quint32> before = last;
    last = stacking();
    if (last != before)
        emit stackingChanged(before, last);
}

// Events that Xlib read while waiting for a reply sit in its queue, where the socket notifier
// does not see them.
void X11WindowStack::readEventsLater() const
{
    if (display && XQLength(display) > 0)
        QMetaObject::invokeMethod(const_cast<X11WindowStack *>(this), &X11WindowStack::readEvents,
                                  Qt::QueuedConnection);
}
