#ifndef NUVEK_RDP_RAILCHANNEL_H
#define NUVEK_RDP_RAILCHANNEL_H

#include "channels/oxpdu.h"

#include <freerdp/server/shadow.h>

class RailWindows;
class SessionServer;
struct Viewer;

// The rootless side of one viewer: FreeRDP's RemoteApp channel (handshake,
// exec, activation, window commands and moves) and our "oxrail" channel
// (geometry, raise, z-order, activation, monitor layout). Both hand the
// requests to the window tracker.
//
// The window orders go out on the viewer's own thread: a one-byte write on
// the viewer's RemoteApp channel (which no RemoteApp message is) rings a
// bell. The channel manager queues every write and hands the queue to the
// peer's SendChannelData on the viewer's thread, where the session server
// takes the bell out and writes the orders instead.
class RailChannel
{
public:
    // Whether a viewer gets rootless windows: it joined the RemoteApp channel.
    static bool wanted(rdpShadowClient *client);
    // At the capability exchange: RemoteApp on, so that the window
    // capability set is exchanged and the client stays in RemoteApp mode.
    static void enableRemoteApp(rdpShadowClient *client);
    // At connect: the RemoteApp server and the oxrail port.
    static bool open(Viewer &viewer, RailWindows *windows);
    // At the first activation: the server's handshake.
    static void greet(Viewer &viewer);
    // At disconnect, once the viewer is no longer listed.
    static void close(Viewer &viewer);

    static void received(SessionServer &server, Viewer &viewer, OxPduReader &message);
    // Asks the viewer's thread to send what changed.
    static void ring(Viewer &viewer);
};

#endif // NUVEK_RDP_RAILCHANNEL_H
