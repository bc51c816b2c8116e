#pragma once

#include "rdp/rdppendinganswer.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

#include <freerdp/freerdp.h>

class QTimer;
class RdpRailSessionMenu;
class RdpRailWidget;
class X11WindowStack;
struct RdpContext;

// One RemoteApp window order (create or update) as plain values.
struct RdpRailWindowOrder
{
    quint32 windowId = 0;
    quint32 fieldFlags = 0;
    quint32 ownerWindowId = 0;
    quint32 style = 0;
    quint32 extendedStyle = 0;
    quint32 showState = 0;
    qint32 offsetX = 0;
    qint32 offsetY = 0;
    quint32 width = 0;
    quint32 height = 0;
    QString title;

    static RdpRailWindowOrder from(const WINDOW_ORDER_INFO *info, const WINDOW_STATE_ORDER *state);
};

// The monitored-desktop order: the active window and the stacking, topmost window first.
struct RdpRailDesktopOrder
{
    quint32 fieldFlags = 0;
    quint32 activeWindowId = 0;
    QVector<quint32> windowIds;
};

// The rootless windows of one session: turns the server's window orders into RdpRailWidgets
// (context->railWindows), keeps their stacking as the server orders it (context->railZOrder)
// and reports local stacking changes back. It also holds the session's menu. Lives on the GUI
// thread from the start of the connection to its end; deleting it deletes every window.
class RdpRailSession : public QObject
{
    Q_OBJECT

public:
    RdpRailSession(RdpContext *context, const QString &title, QObject *parent = nullptr);
    ~RdpRailSession() override;

    // Installs the window-order callbacks and the RemoteApp handshake of a session whose
    // RemoteApp channel just connected (any thread).
    static void installCallbacks(RdpContext *context);

    QList<RdpRailWidget *> windows() const;
    RdpRailSessionMenu *menu() const { return sessionMenu; }
    void setSettingsEnabled(bool enabled);

    // The window the server takes for the active one: as it said, or as we told it last.
    // Activating that window locally is no news for the server.
    bool isServerActive(quint32 windowId) const { return serverActiveKnown && serverActive == windowId; }
    void setServerActive(quint32 windowId)
    {
        serverActive = windowId;
        serverActiveKnown = true;
    }
    // We told the server to activate the window: until it reports so (or for a while), what
    // it reports as active comes from before.
    void activatedLocally(quint32 windowId)
    {
        setServerActive(windowId);
        pendingActivation.sent(windowId);
    }

    void handleWindowOrder(const RdpRailWindowOrder &order);
    void handleWindowDelete(quint32 windowId);
    void handleMonitoredDesktop(const RdpRailDesktopOrder &order);

    // The zoom changed: the server learns the monitors and every window's place in its pixels.
    void handleScaleChanged();

    // Restacks the windows as context->railZOrder says (first on top).
    void applyZOrder();

public slots:
    // The local stacking changed (native window ids, bottom to top): windows of ours that
    // went up are reported to the server, unless we restacked them ourselves.
    void handleStackingChange(const QVector<quint32> &before, const QVector<quint32> &after);

private:
    RdpRailWidget *createWindow(const RdpRailWindowOrder &order);
    void applyShowState(RdpRailWidget *window, quint32 showState);
    void applyTitleAndOwner(RdpRailWidget *window, const RdpRailWindowOrder &order);
    bool stackingFollowsZOrder(const QVector<quint32> &stacking) const;
    RdpRailWidget *windowOf(quint32 nativeId) const;
    void endRestacking();
    void insistOnServerActivation();

    RdpContext *context;
    RdpRailSessionMenu *sessionMenu;
    X11WindowStack *stack;
    QTimer *restackTimer; // gives up waiting for the window manager to restack
    quint32 serverActive = 0;
    bool serverActiveKnown = false;
    RdpPendingAnswer<quint32> pendingActivation;
};
