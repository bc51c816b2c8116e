#ifndef NUVEK_RDP_VIEWER_H
#define NUVEK_RDP_VIEWER_H

#include "channelport.h"
#include "railsnapshot.h"

#include <freerdp/codec/rfx.h>
#include <freerdp/peer.h>
#include <freerdp/server/cliprdr.h>
#include <freerdp/server/rail.h>
#include <freerdp/server/shadow.h>
#include <freerdp/update.h>

#include <atomic>
#include <memory>
#include <string>

class RailWindows;

// What the session keeps for one connected viewer. Made and freed on the
// viewer's own thread; its channel ports are written from other threads
// only while it is listed with the session server.
struct Viewer
{
    rdpShadowClient *client = nullptr;
    std::string user;

    // Sharing: 0 on the owner's connections, a fresh id for each viewer that
    // logged in with the sharing password.
    uint32_t shareId = 0;
    // Activated: it has heard its id and hears every status (the session
    // server's lock guards it).
    bool active = false;
    // Removed by the owner: its client is told so before the connection ends.
    std::atomic<bool> kicked{false};

    ChannelPort desk;
    ChannelPort cfg;
    ChannelPort share;
    CliprdrServerContext *clipboard = nullptr;

    // Rootless sessions, for viewers with RemoteApp: the RemoteApp server,
    // our "oxrail" port and the window tracker.
    ChannelPort rail;
    RailServerContext *remoteApp = nullptr;
    RailWindows *windows = nullptr;
    // Names this connection in the tracker's records (never reused).
    uint64_t railId = 0;
    // The RemoteApp channel, where a one-byte write asks the viewer's
    // thread to send the window orders.
    HANDLE railBell = nullptr;
    // The client's handshake came: it hears the windows from now on.
    std::atomic<bool> railReady{false};
    // A bell is on its way and not taken yet.
    std::atomic<bool> railBellRung{false};
    // What the viewer was told (viewer thread only).
    std::shared_ptr<const RailSnapshot> railSent = std::make_shared<RailSnapshot>();

    // FreeRDP's handlers that ours wrap.
    psPeerActivate activate = nullptr;
    psPeerReceiveChannelData receiveChannelData = nullptr;
    psPeerSendChannelData sendChannelData = nullptr;
    pSurfaceFrameBits surfaceFrameBits = nullptr;
    pSurfaceFrameAcknowledge frameAcknowledge = nullptr;

    // Frames sent and acknowledged (frame ids of this connection).
    std::atomic<uint32_t> sentFrame{0};
    std::atomic<uint32_t> ackedFrame{0};
    // When the last acknowledgement came (or the viewer activated), in ms.
    std::atomic<uint64_t> lastAckTime{0};
    // Compression level the viewer's encoder is set to (viewer thread only).
    int appliedCompression = -1;
    // The RemoteFX context switched to encoding on the viewer's thread.
    RFX_CONTEXT *singleThreaded = nullptr;
    // Frames and their encoded bytes sent so far (viewer thread only).
    uint64_t frames = 0;
    uint64_t frameBytes = 0;
};

#endif // NUVEK_RDP_VIEWER_H
