#ifndef NUVEK_RDP_RDPCONTEXT_H
#define NUVEK_RDP_RDPCONTEXT_H

// The session context: FreeRDP's client context followed by our own members.
//
// FreeRDP allocates this record itself (zero-filled, with the size given in
// the client entry points) and frees it with freerdp_client_context_free, so
// it stays a plain struct: no constructors, no members that need them. The
// containers of the rootless windows are therefore pointers, made and freed
// by RdpInstance.
//
// The name: FreeRDP already owns the struct tag `rdp_context` (its own
// rdpContext), so ours is `RdpContext`. From an rdpContext* handed to a
// FreeRDP callback, RdpContext::from() gives the whole record.
//
// Every window of one session shares one RdpContext. All members are used
// on the GUI thread only (the pre- and post-connect callbacks run on the
// worker thread while the GUI side does not touch the context yet).

#include <freerdp/freerdp.h>
#include <freerdp/client.h>
#include <freerdp/client/cliprdr.h>
#include <freerdp/client/rail.h>

#include <QMap>
#include <QList>

class QRegion;

class RdpInstance;
class RdpMainWidget;
class RdpSharingDialog;
class RdpOptionsDialog;
class RdpRailWidget;
class RdpRailSession;

// Interfaces of our own channel clients (defined with the channel clients;
// the pointers stay null while a channel is not loaded or not connected).
struct OxdeskClientContext;
struct OxrailClientContext;
struct OxshareClientContext;
struct OxcfgClientContext;

struct RdpContext
{
    rdpClientContext common;                 // FreeRDP's part; must stay first

    CliprdrClientContext *cliprdrClient;     // clipboard channel, null until connected
    RailClientContext *railClient;           // RemoteApp channel
    OxdeskClientContext *oxdeskClient;       // desktop size channel
    OxrailClientContext *oxrailClient;       // rootless window control channel
    OxshareClientContext *oxshareClient;     // sharing channel
    OxcfgClientContext *oxcfgClient;         // encoding options channel
    // FreeRDP's servers accept every channel a client asks for, whether they serve it or not,
    // and some drop the connection when the client writes on one they did not open: nothing
    // is written on oxdesk before the server has spoken on it.
    bool oxdeskHeard;
    bool oxshareGuest;                       // the server gave us a viewer id other than 0
    bool resizeModeWanted;                   // turn resize mode on once oxdesk is heard

    RdpInstance *instance;                   // the owner (not FreeRDP's freerdp*)
    RdpMainWidget *mainWidget;               // desktop window; null in rootless mode
    RdpSharingDialog *sharingDialog;         // null without the sharing channel
    RdpOptionsDialog *optionsDialog;

    QMap<quint32, RdpRailWidget *> *railWindows;  // rootless windows by window id
    QList<RdpRailWidget *> *railZOrder;
    int railZOrderBusy;

    double localToRemoteScale;               // zoom: remote pixels per local pixel
    double remoteToLocalScale;               // zoom: local pixels per remote pixel

    int frameInProgress;                     // 1 between frame-begin and frame-end
    QRegion *pendingRegion;                  // remote area changed during the frame

    RdpRailWidget *railFocusWindow;          // rootless window that took the focus last
    RdpRailSession *railSession;             // the rootless windows' orders; null in desktop mode
    rdpPointer *lastPointer;                 // last shape the server set, until it is freed

    // FreeRDP's views of the same record.
    rdpContext *rdp() { return &common.context; }
    const rdpContext *rdp() const { return &common.context; }
    freerdp *freerdpInstance() const { return common.context.instance; }
    rdpSettings *settings() const { return common.context.settings; }
    rdpInput *input() const { return common.context.input; }
    rdpGdi *gdi() const { return common.context.gdi; }

    static RdpContext *from(rdpContext *context)
    {
        return reinterpret_cast<RdpContext *>(context);
    }
};

#endif // NUVEK_RDP_RDPCONTEXT_H
